// Rectification of the large sensor's raw frame into the output image.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "zylscan/rectify.h"

namespace zyl::device {

// 3 x 3 projective transforms, row by row.
using Matrix3 = std::array<double, 9>;

// The transform of the unit square onto quad (x0, y0 .. x3, y3).
Matrix3 SquareToQuadrilateral(std::span<const double, 8> quad);
// The inverse (a singular matrix is taken as having determinant 1).
Matrix3 Inverse(const Matrix3& m);
Matrix3 Multiply(const Matrix3& p, const Matrix3& q);
Matrix3 QuadrilateralToSquare(std::span<const double, 8> quad);
// The transform of quadrilateral a onto b, normalised to m[8] = 1.
Matrix3 QuadrilateralToQuadrilateral(std::span<const double, 8> a, std::span<const double, 8> b);
// The transform of the target points onto the source points, times scale.
Matrix3 PerspectiveTransform(float scale, std::span<const RectifyPoint, 4> target,
                             std::span<const RectifyPoint, 4> source);
// The four calibration points of the rectification parameters.
std::array<RectifyPoint, 4> CalibrationPoints(std::span<const std::uint8_t, ZYL_RECTIFY_PARAMETERS_SIZE> parameters);
// The corners of a 1 cm square at the image's centre: 0, or -1 when the
// image is too small to hold it.
int CentreSquarePoints(int height, int width, int dpiX, int dpiY, std::span<RectifyPoint, 4> points);
// Resamples source (sourceRows x sourceColumns) into output through the
// projective transform matrix (output position to source position): 0, or
// -1 when the transform is unusable. Both images hold rows x columns bytes.
int WarpImage(std::span<const std::uint8_t> source, int sourceRows, int sourceColumns, std::span<std::uint8_t> output,
              int outputRows, int outputColumns, std::span<const double, 9> matrix);

// Flips the frame (the sensor sees the finger upside down) and maps it
// through the perspective transform the calibration parameters give onto
// an outputWidth x outputHeight image. 0, or -1 when the parameters give no
// usable transform. frameWidth, frameHeight > 0.
int RectifyFrame(std::span<const std::uint8_t> frame, int frameWidth, int frameHeight, std::span<std::uint8_t> output,
                 std::span<const std::uint8_t, ZYL_RECTIFY_PARAMETERS_SIZE> parameters, int outputWidth,
                 int outputHeight);

}  // namespace zyl::device
