// 0/1 image frames, joint smoothing of a complementary pair, closing, and
// packing to and from bits.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "zylscan/matchlib_bilevel.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/filter/bilevel.h"
#include "matchlib/filter/bilevel_morphology.h"

namespace zyl::matchlib {
namespace {

bool bad_frame(int left, int right, int top, int bottom) {
  return left < 0 || right < 0 || top < 0 || bottom < 0;
}

// Sets bits [from, to) of a form-A row.
void set_bits(std::uint8_t* row, int from, int to) {
  for (int p = from; p < to; ++p) row[p / 8] |= static_cast<std::uint8_t>(1u << (p % 8));
}

// One pass of the pair smoothing at (y, x).
void smooth_at(std::uint8_t* first, std::uint8_t* second, const std::uint8_t* quality,
               std::size_t w, int y, int x) {
  const std::size_t i = y * w + x;
  if (quality[i] <= 15) return;
  const std::uint8_t v = first[i];
  const int differ = (first[i - 1] != v) + (first[i + 1] != v) + (first[i - w] != v) +
                     (first[i + w] != v);
  if (differ >= 3) {
    first[i] = static_cast<std::uint8_t>(1 - v);
    second[i] = static_cast<std::uint8_t>(1 - second[i]);
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::bilevel_set_border(uint8_t* image, int height, int width, int left, int right,
                                      int top, int bottom) {
  if (!image || height < 0 || width < 0 || bad_frame(left, right, top, bottom))
    return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width);
  const int l = std::min(left, width), r = std::min(right, width);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image + y * w;
    if (y < top || y >= height - bottom) {
      std::memset(row, 1, w);
      continue;
    }
    std::memset(row, 1, static_cast<std::size_t>(l));
    std::memset(row + (width - r), 1, static_cast<std::size_t>(r));
  }
  return ML_OK;
}

int zyl::matchlib::bilevel_bits_set_border(uint8_t* packed, int rows, int row_bits, int left,
                                           int right, int top, int bottom) {
  if (!packed || rows < 0 || row_bits < 0 || bad_frame(left, right, top, bottom))
    return ML_BAD_ARGUMENT;
  const int bytes = (row_bits + 7) / 8;
  const int l = std::min(left, row_bits), r = std::min(right, row_bits);
  for (int y = 0; y < rows; ++y) {
    uint8_t* row = packed + static_cast<std::size_t>(y) * bytes;
    if (y < top || y >= rows - bottom) {
      set_bits(row, 0, row_bits);
    } else {
      set_bits(row, 0, l);
      set_bits(row, row_bits - r, row_bits);
    }
    set_bits(row, row_bits, bytes * 8);
  }
  return ML_OK;
}

int zyl::matchlib::bilevel_smooth_pair(uint8_t* first, uint8_t* second, const uint8_t* quality,
                                       int height, int width) {
  if (!first || !second || !quality || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  if (height < 3 || width < 3) return ML_OK;
  const std::size_t w = static_cast<std::size_t>(width);
  for (int y = 1; y < height - 1; ++y)
    for (int x = 1; x < width - 1; ++x) smooth_at(first, second, quality, w, y, x);
  for (int y = height - 2; y >= 1; --y)
    for (int x = width - 2; x >= 1; --x) smooth_at(first, second, quality, w, y, x);
  return ML_OK;
}

extern "C" ZYL_API int bilevel_close3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  const int st = zyl::matchlib::bilevel_dilate3x3(src, height, width, dst);
  if (st != ML_OK) return st;
  return zyl::matchlib::bilevel_erode3x3(dst, height, width, dst);
}

extern "C" ZYL_API int bilevel_pack_bits(const uint8_t* image, int height, int width,
                                         uint8_t* packed) {
  if (!image || !packed || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width), stride = (w + 7) / 8;
  std::memset(packed, 0, stride * height);
  for (int y = 0; y < height; ++y)
    for (std::size_t x = 0; x < w; ++x)
      if (image[y * w + x])
        packed[y * stride + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
  return ML_OK;
}

extern "C" ZYL_API int bilevel_unpack_bits(const uint8_t* packed, int height, int width,
                                           uint8_t* image) {
  if (!image || !packed || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width), stride = (w + 7) / 8;
  for (int y = 0; y < height; ++y)
    for (std::size_t x = 0; x < w; ++x)
      image[y * w + x] = (packed[y * stride + x / 8] >> (7 - x % 8)) & 1;
  return ML_OK;
}

extern "C" {

ZYL_API int bilevel_set_border(uint8_t* image, int height, int width, int left, int right, int top,
                               int bottom) {
  return zyl::matchlib::bilevel_set_border(image, height, width, left, right, top, bottom);
}
ZYL_API int bilevel_bits_set_border(uint8_t* packed, int rows, int row_bits, int left, int right,
                                    int top, int bottom) {
  return zyl::matchlib::bilevel_bits_set_border(packed, rows, row_bits, left, right, top, bottom);
}
ZYL_API int bilevel_smooth_pair(uint8_t* first, uint8_t* second, const uint8_t* quality, int height,
                                int width) {
  return zyl::matchlib::bilevel_smooth_pair(first, second, quality, height, width);
}

}  // extern "C"
