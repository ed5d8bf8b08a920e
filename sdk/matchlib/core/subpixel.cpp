// Sampling of images at Q14 points: bounds tests, bilinear and nearest
// samples with 8-bit weights, the patch-mask test, and the box of a rotated
// rectangle. Integer arithmetic only; the samplers run per descriptor sample.
#include <algorithm>
#include <cstdint>

#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_sampling.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/subpixel.h"

namespace zyl::matchlib {
namespace {

// Nearest pixel of a Q14 coordinate, halves away from zero.
std::int64_t round_q14(std::int64_t v) { return v > 0 ? (v + 8192) >> 14 : (v - 8192) / 16384; }

// The two grid lines around a coordinate, clamped into 0..size-1, and the
// 8-bit weight of the second, taken from the unclamped coordinate.
struct Axis {
  int i0, i1, f;
};

Axis bilinear_axis(int v, int size) {
  const std::int64_t lv = v;
  int i0 = lv >= 0 ? static_cast<int>(lv >> 14) : 0;
  int i1 = lv >= -16384 ? static_cast<int>((lv + 16384) >> 14) : 0;
  return {std::min(i0, size - 1), std::min(i1, size - 1), (v >> 6) & 255};
}

int nearest_index(int v, int size) {
  const int i = v > 0 ? static_cast<int>((std::int64_t{v} + 8192) >> 14) : 0;
  return std::min(i, size - 1);
}

template <class T>
std::int64_t bilinear_sum(const T* p, int height, int width, int x, int y) {
  const Axis ax = bilinear_axis(x, width);
  const Axis ay = bilinear_axis(y, height);
  auto at = [&](int r, int c) -> std::int64_t { return p[std::int64_t{r} * width + c]; };
  return std::int64_t{256 - ay.f} * ((256 - ax.f) * at(ay.i0, ax.i0) + ax.f * at(ay.i0, ax.i1)) +
         std::int64_t{ay.f} * ((256 - ax.f) * at(ay.i1, ax.i0) + ax.f * at(ay.i1, ax.i1));
}

bool empty_image(const void* p, int height, int width) { return !p || height <= 0 || width <= 0; }

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::subpix_outside(int x, int y, int height, int width) {
  const std::int64_t c = round_q14(x), r = round_q14(y);
  return c < 0 || c >= width || r < 0 || r >= height ? 1 : 0;
}

int zyl::matchlib::subpix_sample_u8(const uint8_t* pixels, int height, int width, int x, int y) {
  if (empty_image(pixels, height, width)) return 0;
  const std::int64_t v = bilinear_sum(pixels, height, width, x, y);
  return v >= 0xFF8001 ? 255 : static_cast<int>((v + 32767) >> 16);
}

int32_t zyl::matchlib::subpix_sample_s32(const int32_t* pixels, int height, int width, int x,
                                         int y) {
  if (empty_image(pixels, height, width)) return 0;
  return static_cast<int32_t>((bilinear_sum(pixels, height, width, x, y) + 32767) / 65536);
}

extern "C" ZYL_API int subpix_sample_nearest_u8(const uint8_t* pixels, int height, int width, int x,
                                                int y) {
  if (empty_image(pixels, height, width)) return 0;
  return pixels[std::int64_t{nearest_index(y, height)} * width + nearest_index(x, width)];
}

extern "C" ZYL_API int32_t subpix_sample_nearest_s32(const int32_t* pixels, int height, int width,
                                                     int x, int y) {
  if (empty_image(pixels, height, width)) return 0;
  return pixels[std::int64_t{nearest_index(y, height)} * width + nearest_index(x, width)];
}

extern "C" ZYL_API int subpix_sample_is_white(const uint8_t* pixels, int height, int width, int x,
                                              int y, int origin) {
  const int px = static_cast<int>(std::int64_t{x} - origin);
  const int py = static_cast<int>(std::int64_t{y} - origin);
  if (zyl::matchlib::subpix_outside(px, py, height, width)) return 0;
  if (!pixels) return 1;
  return zyl::matchlib::subpix_sample_u8(pixels, height, width, px, py) == 255 ? 1 : 0;
}

extern "C" ZYL_API int subpix_in_mask(const uint8_t* mask, int /*unused*/, int side, int x, int y,
                                      int origin) {
  const std::int64_t px = std::int64_t{x} - origin;
  const std::int64_t py = std::int64_t{y} - origin;
  if (px < 0 || (px >> 14) >= side) return 0;
  if (py < 0 || (py >> 14) >= side) return 0;
  if (!mask) return 1;
  return mask[(px >> 14) + std::int64_t{side} * (py >> 14)] == 0xFF ? 1 : 0;
}

void zyl::matchlib::geom_rotated_box(int height, int width, int direction, int* out_height,
                                     int* out_width, int* out_row_offset, int* out_column_offset) {
  const std::int64_t s = zyl::matchlib::fx_sin256_alt(direction),
                     c = zyl::matchlib::fx_cos256_alt(direction);
  const std::int64_t h = height, w = width;
  // Divisions truncate toward zero, as C's do.
  const std::int64_t cols[4] = {0, w * c / 16384, (w * c - h * s) / 16384, -(h * s) / 16384};
  const std::int64_t rows[4] = {0, w * s / 16384, (w * s + h * c) / 16384, h * c / 16384};
  const auto [cmin, cmax] = std::minmax_element(cols, cols + 4);
  const auto [rmin, rmax] = std::minmax_element(rows, rows + 4);
  if (out_width) *out_width = static_cast<int>(*cmax - *cmin + 1);
  if (out_column_offset) *out_column_offset = static_cast<int>(-*cmin);
  if (out_height) *out_height = static_cast<int>(*rmax - *rmin + 1);
  if (out_row_offset) *out_row_offset = static_cast<int>(-*rmin);
}

extern "C" {

ZYL_API int subpix_outside(int x, int y, int height, int width) {
  return zyl::matchlib::subpix_outside(x, y, height, width);
}
ZYL_API int subpix_sample_u8(const uint8_t* pixels, int height, int width, int x, int y) {
  return zyl::matchlib::subpix_sample_u8(pixels, height, width, x, y);
}
ZYL_API int32_t subpix_sample_s32(const int32_t* pixels, int height, int width, int x, int y) {
  return zyl::matchlib::subpix_sample_s32(pixels, height, width, x, y);
}
ZYL_API void geom_rotated_box(int height, int width, int direction, int* out_height, int* out_width,
                              int* out_row_offset, int* out_column_offset) {
  zyl::matchlib::geom_rotated_box(height, width, direction, out_height, out_width, out_row_offset,
                                  out_column_offset);
}

}  // extern "C"
