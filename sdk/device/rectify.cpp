// Rectification of the large sensor's raw frames.
#include "zylscan/rectify.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "device/rectify.h"

namespace zyl::device {
namespace {

constexpr int kCalibrationOffset = 36;
constexpr double kTransformScale = 1000000.0;

// Truncates the nine coefficients to ints; false when one is not finite or
// does not fit, which a degenerate calibration yields.
bool TruncateCoefficients(const double* m, std::int64_t* h) {
  for (int i = 0; i < 9; ++i) {
    if (!std::isfinite(m[i]) || m[i] <= static_cast<double>(std::numeric_limits<std::int32_t>::min()) - 1.0 ||
        m[i] >= static_cast<double>(std::numeric_limits<std::int32_t>::max()) + 1.0)
      return false;
    h[i] = static_cast<std::int32_t>(m[i]);
  }
  return true;
}

// The quotient truncated toward zero, plus 1 when twice the remainder (with
// the dividend's sign) exceeds the divisor.
std::int64_t RoundedQuotient(std::int64_t dividend, std::int64_t divisor) {
  std::int64_t q = dividend / divisor;
  std::int64_t r = dividend % divisor;
  return 2 * r > divisor ? q + 1 : q;
}

}  // namespace
}  // namespace zyl::device

namespace zyl::device {

Matrix3 SquareToQuadrilateral(std::span<const double, 8> quad) {
  const double x0 = quad[0], y0 = quad[1], x1 = quad[2], y1 = quad[3], x2 = quad[4], y2 = quad[5], x3 = quad[6],
               y3 = quad[7];
  const double dx3 = x0 - x1 + x2 - x3;
  const double dy3 = y0 - y1 + y2 - y3;
  if (dx3 == 0.0 && dy3 == 0.0) return {x1 - x0, y1 - y0, 0, x2 - x1, y2 - y1, 0, x0, y0, 1};
  const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
  const double den = dx1 * dy2 - dx2 * dy1;
  const double a13 = (dx3 * dy2 - dx2 * dy3) / den;
  const double a23 = (dx1 * dy3 - dx3 * dy1) / den;
  return {x1 - x0 + a13 * x1, y1 - y0 + a13 * y1, a13, x3 - x0 + a23 * x3, y3 - y0 + a23 * y3, a23, x0, y0, 1};
}

Matrix3 Inverse(const Matrix3& m) {
  double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
               m[2] * (m[3] * m[7] - m[4] * m[6]);
  if (det == 0.0) det = 1.0;
  const double adj[9] = {m[4] * m[8] - m[5] * m[7],    -(m[1] * m[8] - m[2] * m[7]), m[1] * m[5] - m[2] * m[4],
                         -(m[3] * m[8] - m[5] * m[6]), m[0] * m[8] - m[2] * m[6],    -(m[0] * m[5] - m[2] * m[3]),
                         m[3] * m[7] - m[4] * m[6],    -(m[0] * m[7] - m[1] * m[6]), m[0] * m[4] - m[1] * m[3]};
  Matrix3 out;
  for (int i = 0; i < 9; ++i) out[i] = adj[i] / det;
  return out;
}

Matrix3 Multiply(const Matrix3& p, const Matrix3& q) {
  Matrix3 out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[r * 3 + c] = p[r * 3] * q[c] + p[r * 3 + 1] * q[3 + c] + p[r * 3 + 2] * q[6 + c];
  return out;
}

Matrix3 QuadrilateralToSquare(std::span<const double, 8> quad) { return Inverse(SquareToQuadrilateral(quad)); }

Matrix3 QuadrilateralToQuadrilateral(std::span<const double, 8> a, std::span<const double, 8> b) {
  Matrix3 m = Multiply(QuadrilateralToSquare(a), SquareToQuadrilateral(b));
  for (int i = 0; i < 8; ++i) m[i] /= m[8];
  m[8] = 1.0;
  return m;
}

Matrix3 PerspectiveTransform(float scale, std::span<const RectifyPoint, 4> target,
                             std::span<const RectifyPoint, 4> source) {
  double a[8], b[8];
  for (int i = 0; i < 4; ++i) {
    a[2 * i] = target[i].x;
    a[2 * i + 1] = target[i].y;
    b[2 * i] = source[i].x;
    b[2 * i + 1] = source[i].y;
  }
  Matrix3 matrix = QuadrilateralToQuadrilateral(a, b);
  for (int i = 0; i < 9; ++i) matrix[i] *= scale;
  return matrix;
}

std::array<RectifyPoint, 4> CalibrationPoints(std::span<const std::uint8_t, ZYL_RECTIFY_PARAMETERS_SIZE> parameters) {
  std::array<RectifyPoint, 4> points;
  zyl::ByteReader r(parameters);
  const int order[4] = {1, 3, 7, 5};
  for (int i = 0; i < 4; ++i) {
    r.seek(kCalibrationOffset + 4 * order[i]);
    points[i].x = static_cast<float>(r.u16()) / 2;
    points[i].y = static_cast<float>(r.u16()) / 2;
  }
  return points;
}

int CentreSquarePoints(int height, int width, int dpiX, int dpiY, std::span<RectifyPoint, 4> points) {
  // Half the side of a 1 cm square at each resolution.
  const float sx = static_cast<float>(dpiX) / 2.54f / 2;
  const float sy = static_cast<float>(dpiY) / 2.54f / 2;
  const float cx = static_cast<float>(width / 2);
  const float cy = static_cast<float>(height / 2);
  if (cx - sx <= 0 || cy - sy <= 0) return -1;
  points[0] = {cx - sx, cy - sy};
  points[1] = {cx + sx, cy - sy};
  points[2] = {cx - sx, cy + sy};
  points[3] = {cx + sx, cy + sy};
  return 0;
}

}  // namespace zyl::device

using namespace zyl::device;

extern "C" {

ZYL_API void squareToQuadrilateral(double* m, double x0, double y0, double x1, double y1, double x2, double y2,
                                   double x3, double y3) {
  const double quad[8] = {x0, y0, x1, y1, x2, y2, x3, y3};
  const Matrix3 s = SquareToQuadrilateral(quad);
  std::copy(s.begin(), s.end(), m);
}

ZYL_API void matrixInversion(double* out, const double* m) {
  Matrix3 in;
  std::copy(m, m + 9, in.begin());
  const Matrix3 r = Inverse(in);
  std::copy(r.begin(), r.end(), out);
}

ZYL_API void matrixMultiplication(double* out, const double* p, const double* q) {
  Matrix3 a, b;
  std::copy(p, p + 9, a.begin());
  std::copy(q, q + 9, b.begin());
  const Matrix3 r = Multiply(a, b);
  std::copy(r.begin(), r.end(), out);
}

ZYL_API void quadrilateralToSquare(double* m, const double* quad) {
  const Matrix3 r = QuadrilateralToSquare(std::span<const double, 8>(quad, 8));
  std::copy(r.begin(), r.end(), m);
}

ZYL_API void quadrilateralToQuadrilateral(double* m, const double* a, const double* b) {
  const Matrix3 r = QuadrilateralToQuadrilateral(std::span<const double, 8>(a, 8), std::span<const double, 8>(b, 8));
  std::copy(r.begin(), r.end(), m);
}

ZYL_API int getPerspectiveTransform(double* matrix, float scale, const RectifyPoint* target,
                                    const RectifyPoint* source) {
  if (!matrix || !target || !source) return -1;
  const Matrix3 r =
      PerspectiveTransform(scale, std::span<const RectifyPoint, 4>(target, 4), std::span<const RectifyPoint, 4>(source, 4));
  std::copy(r.begin(), r.end(), matrix);
  return 0;
}

ZYL_API int getBigFourPoints(const unsigned char* parameters, RectifyPoint* points) {
  if (!parameters || !points) return -1;
  const auto r = CalibrationPoints(std::span<const std::uint8_t, ZYL_RECTIFY_PARAMETERS_SIZE>(
      parameters, ZYL_RECTIFY_PARAMETERS_SIZE));
  std::copy(r.begin(), r.end(), points);
  return 0;
}

ZYL_API int getSmallFourPoints(int height, int width, int dpiX, int dpiY, RectifyPoint* points) {
  if (!points) return -1;
  return CentreSquarePoints(height, width, dpiX, dpiY, std::span<RectifyPoint, 4>(points, 4));
}

ZYL_API int convertBigImage2SmallImage(const unsigned char* source, int sourceRows, int sourceColumns,
                                       unsigned char* output, int outputRows, int outputColumns,
                                       const double* matrix) {
  if (!source || !output || !matrix || sourceRows <= 0 || sourceColumns <= 0 || outputRows <= 0 ||
      outputColumns <= 0)
    return -1;
  return zyl::device::WarpImage(
      {source, static_cast<std::size_t>(sourceRows) * static_cast<std::size_t>(sourceColumns)}, sourceRows,
      sourceColumns, {output, static_cast<std::size_t>(outputRows) * static_cast<std::size_t>(outputColumns)},
      outputRows, outputColumns, std::span<const double, 9>(matrix, 9));
}

}  // extern "C"

namespace zyl::device {

// Every output pixel takes the source pixel the transform maps it to;
// pixels mapped outside the source keep their value. 0, or -1 for an empty
// image or a coefficient that does not fit in 32 bits.
int WarpImage(std::span<const std::uint8_t> source, int sourceRows, int sourceColumns, std::span<std::uint8_t> output,
              int outputRows, int outputColumns, std::span<const double, 9> matrix) {
  if (sourceRows <= 0 || sourceColumns <= 0 || outputRows <= 0 || outputColumns <= 0) return -1;
  std::int64_t h[9];
  if (!TruncateCoefficients(matrix.data(), h)) return -1;
  // 64-bit sums: the same values as 32-bit ones wherever those do not
  // overflow, and no overflow for any coefficient that fits in 32 bits.
  for (std::int64_t i = 0; i < outputRows; ++i) {
    for (std::int64_t j = 0; j < outputColumns; ++j) {
      const std::int64_t den = h[8] + h[2] * j + h[5] * i;
      if (den == 0) continue;  // the point maps to infinity: no source pixel
      const std::int64_t k = RoundedQuotient(h[6] + h[0] * j + h[3] * i, den);
      const std::int64_t l = RoundedQuotient(h[7] + h[1] * j + h[4] * i, den);
      if (k >= 0 && k < sourceColumns && l >= 0 && l < sourceRows)
        output[i * outputColumns + j] = source[l * sourceColumns + k];
    }
  }
  return 0;
}

// A failed allocation of the flipped frame gives -1 like an unusable
// transform.
int RectifyFrame(std::span<const std::uint8_t> frame, int frameWidth, int frameHeight, std::span<std::uint8_t> output,
                 std::span<const std::uint8_t, ZYL_RECTIFY_PARAMETERS_SIZE> parameters, int outputWidth,
                 int outputHeight) {
  return GuardedCall(-1, [&] {
    const std::array<RectifyPoint, 4> source = CalibrationPoints(parameters);
    std::array<RectifyPoint, 4> target;
    if (CentreSquarePoints(outputHeight, outputWidth, 500, 500, target) != 0) return -1;
    const Matrix3 h = PerspectiveTransform(static_cast<float>(kTransformScale), target, source);
    std::int64_t check[9];
    if (!TruncateCoefficients(h.data(), check)) return -1;
    // The sensor sees the finger upside down.
    const std::size_t w = static_cast<std::size_t>(frameWidth);
    std::vector<unsigned char> work(w * static_cast<std::size_t>(frameHeight));
    for (int r = 0; r < frameHeight; ++r) {
      const unsigned char* from = frame.data() + static_cast<std::size_t>(frameHeight - 1 - r) * w;
      std::copy(from, from + w, work.begin() + static_cast<long>(static_cast<std::size_t>(r) * w));
    }
    return WarpImage(work, frameHeight, frameWidth, output, outputHeight, outputWidth, h);
  });
}

}  // namespace zyl::device

extern "C" {

ZYL_API int FPDEV_ReadFM_ImgRectifyWithInWH_MCU(const unsigned char* frame, int frameWidth, int frameHeight,
                                                unsigned char* output, const unsigned char* parameters,
                                                int outputWidth, int outputHeight) {
  if (!frame || !output || !parameters || frameWidth <= 0 || frameHeight <= 0) return -1;
  const auto frame_size = static_cast<std::size_t>(frameWidth) * static_cast<std::size_t>(frameHeight);
  // No pixels for a non-positive side.
  const auto output_size = outputWidth > 0 && outputHeight > 0
                               ? static_cast<std::size_t>(outputWidth) * static_cast<std::size_t>(outputHeight)
                               : 0;
  // RectifyFrame keeps a failed allocation inside (-1).
  return zyl::device::RectifyFrame({frame, frame_size}, frameWidth, frameHeight, {output, output_size},
                                   std::span<const std::uint8_t, ZYL_RECTIFY_PARAMETERS_SIZE>(
                                       parameters, ZYL_RECTIFY_PARAMETERS_SIZE),
                                   outputWidth, outputHeight);
}

}  // extern "C"
