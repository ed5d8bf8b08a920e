/* Rectification of the large sensor's raw frames: a plane projective
 * transform maps a 1 cm square centred in the output image onto four
 * calibration points measured on the sensor, sampled nearest-neighbour.
 *
 * Matrices are nine doubles m0..m8, row-major; a point (u, v) maps to
 * ((m0 u + m3 v + m6) / (m2 u + m5 v + m8), (m1 u + m4 v + m7) / (m2 u + m5 v + m8)).
 * Quads are eight doubles x0, y0, x1, y1, x2, y2, x3, y3. */
#pragma once

#include "zylscan/zyl_export.h"

/* Size of the scanner's rectification parameter block. */
#define ZYL_RECTIFY_PARAMETERS_SIZE 256

typedef struct RectifyPoint {
  float x;
  float y;
} RectifyPoint;

ZYL_EXTERN_C_BEGIN

/* Rectifies a raw frame (frameWidth x frameHeight, row after row) into output
 * (outputWidth x outputHeight) with the calibration points of the 256-byte
 * parameter block. Output pixels whose source falls outside the frame keep
 * their value. 0; -1 for null or empty arguments, a centre square that does
 * not fit the output, or a calibration that gives no usable transform
 * (coefficients not finite or beyond 32 bits after scaling), in which case
 * output is untouched. */
ZYL_API int FPDEV_ReadFM_ImgRectifyWithInWH_MCU(const unsigned char* frame, int frameWidth, int frameHeight,
                                                unsigned char* output, const unsigned char* parameters,
                                                int outputWidth, int outputHeight);
/* Calibration points 1, 3, 7 and 5 of the block (x and y big-endian 16-bit
 * half pixels at byte 36 + 4k), halved, into points[0..3]. 0; -1 for null. */
ZYL_API int getBigFourPoints(const unsigned char* parameters, RectifyPoint* points);
/* Corners of a 1 cm square centred in a width x height image at the given
 * resolutions (dots per inch, horizontal then vertical): top left, top right,
 * bottom left, bottom right. 0, or -1 when the square does not fit. */
ZYL_API int getSmallFourPoints(int height, int width, int dpiX, int dpiY, RectifyPoint* points);
/* matrix = scale x quadrilateralToQuadrilateral(target -> source). 0; -1 for null. */
ZYL_API int getPerspectiveTransform(double* matrix, float scale, const RectifyPoint* target,
                                    const RectifyPoint* source);
/* The map of quad a onto quad b, normalised so that m8 = 1. */
ZYL_API void quadrilateralToQuadrilateral(double* matrix, const double* a, const double* b);
/* The inverse of squareToQuadrilateral of the quad. */
ZYL_API void quadrilateralToSquare(double* matrix, const double* quad);
/* The map of the unit square onto the quad (x0, y0) .. (x3, y3). */
ZYL_API void squareToQuadrilateral(double* matrix, double x0, double y0, double x1, double y1, double x2,
                                   double y2, double x3, double y3);
/* out = p x q (out may not alias p or q). */
ZYL_API void matrixMultiplication(double* out, const double* p, const double* q);
/* out = the inverse of m; a determinant of exactly 0 counts as 1. */
ZYL_API void matrixInversion(double* out, const double* m);
/* Samples source (sourceRows x sourceColumns) through the matrix into output
 * (outputRows x outputColumns), nearest neighbour, in integer arithmetic on
 * the truncated coefficients. Pixels with a zero denominator or a source
 * outside the image keep their value. 0; -1 for null or empty arguments or
 * coefficients that are not finite 32-bit values (nothing written). */
ZYL_API int convertBigImage2SmallImage(const unsigned char* source, int sourceRows, int sourceColumns,
                                       unsigned char* output, int outputRows, int outputColumns,
                                       const double* matrix);

ZYL_EXTERN_C_END
