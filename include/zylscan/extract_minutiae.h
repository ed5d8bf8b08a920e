/* Minutia detection and selection of the skeleton engine, and the two small
 * bad-area tools of its pipeline.
 *
 * Skeleton images: ridge 0, background 255. D is the direction image: bit 7
 * set marks a bad pixel, bits 0..6 hold the orientation 0..119 or 127 for
 * none. Minutiae live in the minutiae columns of a FeatureRecord; while the
 * selection runs a negative angle marks a rejected minutia, its value naming
 * the rule (see ZYL_MINUTIA_REJECT_*). */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/zyl_export.h"

/* Angle values of rejected minutiae. */
#define ZYL_MINUTIA_NO_DIRECTION (-20)
#define ZYL_MINUTIA_NO_BRANCH (-666)
#define ZYL_MINUTIA_REJECT_CROWDED (-15)
#define ZYL_MINUTIA_REJECT_FACING (-45)
#define ZYL_MINUTIA_REJECT_BORDER (-25)
#define ZYL_MINUTIA_REJECT_CONTRAST (-1)

/* Side of the square grey patch sampled around a minutia by the contrast
 * test. */
#define ZYL_MINUTIA_PATCH 30

ZYL_EXTERN_C_BEGIN

/* Clears the list, then appends every ridge ending (type 0) and bifurcation
 * (type 1) of the skeleton at a good pixel of D, rows 2..height-3 from the
 * top and columns 2..width-3 from the left, with its direction and
 * curvature. Entries beyond 1024 are dropped. Entries whose direction could
 * not be told keep their negative angle. */
ZYL_API void ExtractMinutiae(int32_t width, int32_t height, ByteImage skeleton, ByteImage D,
                             FeatureRecord* list);

/* Orientation change 0..255 of D over the window of radius r around (x, y):
 * the mean folded difference to the centre's orientation, scaled so that 60
 * (a right angle) gives 255. 0 when the centre has no orientation. */
ZYL_API int32_t ComputeCurvature(int32_t width, int32_t height, ByteImage D, int32_t y, int32_t x,
                                 int32_t r);

/* Marks doubtful minutiae by crowding, facing pairs (when pairing is
 * non-zero), nearness to the border or bad area, and poor grey contrast
 * around the minutia in O (when image_test is non-zero and O is given). */
ZYL_API void SelectBadMinutiae(int32_t width, int32_t height, ByteImage O, ByteImage D,
                               FeatureRecord* list, int32_t pairing, int32_t image_test);

/* 3 x 3 mean of a width x height patch, the outer ring repeated from its
 * inner neighbour; the result replaces the patch and scratch is cleared. */
ZYL_API void Putty1FTR1(ByteImage patch, ByteImage scratch, int32_t width, int32_t height);

/* 1 when the n x n patch shows too little row-to-row contrast in one of its
 * halves, else 0. Uses scratch as work space; width, height, D, list and
 * index are accepted for the caller's convenience and not read. scratch must
 * hold n x n pixels. */
ZYL_API int32_t GetFtrQuality(int32_t width, int32_t height, ByteImage D, ByteImage patch,
                              ByteImage scratch, int32_t n, const FeatureRecord* list, int32_t index);

/* Removes every entry with a negative angle, keeping the order of the
 * others, and sets the count. */
ZYL_API void EliminateBadMinutiae(FeatureRecord* list);

/* Grows the good area of D by r pixels: a pixel becomes good when any pixel
 * within its radius-r window is good, else bad; bits 0..6 stay. */
ZYL_API void EnhanceGoodArea(int32_t width, int32_t height, ByteImage D, int32_t r);

/* Sets every pixel of image whose D byte marks a bad pixel to 255. */
ZYL_API void MapBadArea(int32_t width, int32_t height, ByteImage image, ByteImage D);

/* Kept for callers that link it: does nothing and returns 0. */
ZYL_API int32_t WriteImageToDisc(void);

ZYL_EXTERN_C_END
