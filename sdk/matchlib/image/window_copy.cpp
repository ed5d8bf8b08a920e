// Window copies and crops, pasting into a filled frame, the padding that a
// block rounding adds, and the content box inside bright margins.
#include "matchlib/image/window_copy.h"

#include <cstdint>
#include <cstring>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_window.h"

using namespace zyl::matchlib;

namespace zyl::matchlib {

template <class T>
int copy_window_checked(const T* src, uint32_t height, uint32_t width, uint32_t window_height,
                        uint32_t window_width, int32_t row_offset, int32_t column_offset, T* dst) {
  if (uint64_t{window_height} * window_width == 0 || uint64_t{height} * width == 0) return ML_OK;
  if (!src || !dst) return ML_BAD_ARGUMENT;
  copy_window<T>(src, height, width, window_height, window_width, row_offset, column_offset, dst);
  return ML_OK;
}

template <class T>
int copy_centered(const T* src, uint32_t height, uint32_t width, uint32_t out_height,
                  uint32_t out_width, T* dst) {
  // Divisions toward zero: a larger window receives the source in its centre.
  const int64_t row_off = (int64_t{height} - out_height) / 2;
  const int64_t col_off = (int64_t{width} - out_width) / 2;
  if (uint64_t{out_height} * out_width == 0 || uint64_t{height} * width == 0) return ML_OK;
  if (!src || !dst) return ML_BAD_ARGUMENT;
  copy_window<T>(src, height, width, out_height, out_width, row_off, col_off, dst);
  return ML_OK;
}

}  // namespace zyl::matchlib

#define ZYL_COPY_WINDOW(suffix, T)                                                                 \
  template int zyl::matchlib::copy_window_checked<T>(const T*, uint32_t, uint32_t, uint32_t,       \
                                                     uint32_t, int32_t, int32_t, T*);              \
  template int zyl::matchlib::copy_centered<T>(const T*, uint32_t, uint32_t, uint32_t, uint32_t,   \
                                               T*);                                                \
  extern "C" ZYL_API int img_copy_window_##suffix(                                                 \
      const T* src, uint32_t height, uint32_t width, uint32_t window_height,                       \
      uint32_t window_width, int32_t row_offset, int32_t column_offset, T* dst) {                  \
    return copy_window_checked<T>(src, height, width, window_height, window_width, row_offset,     \
                                  column_offset, dst);                                             \
  }                                                                                                \
  extern "C" ZYL_API int img_copy_centered_##suffix(const T* src, uint32_t height, uint32_t width, \
                                                    uint32_t out_height, uint32_t out_width,       \
                                                    T* dst) {                                      \
    return copy_centered<T>(src, height, width, out_height, out_width, dst);                       \
  }
ZYL_COPY_WINDOW(u8, uint8_t)
ZYL_COPY_WINDOW(u16, uint16_t)
#undef ZYL_COPY_WINDOW

int zyl::matchlib::img_crop_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width,
                                              uint32_t block, uint8_t** out, uint32_t* out_height,
                                              uint32_t* out_width, int32_t* row_offset,
                                              int32_t* column_offset) {
  if (!src || !out || !out_height || !out_width || !row_offset || !column_offset || block == 0 ||
      std::min(height, width) < block)
    return ML_BAD_ARGUMENT;
  const uint32_t rh = height % block, rw = width % block;
  const uint32_t oh = height - rh, ow = width - rw;
  Scratch<uint8_t> buf(pixel_count(oh, ow));
  if (!buf) {
    *out = nullptr;
    *out_height = *out_width = 0;
    *row_offset = *column_offset = 0;
    return ML_NO_MEMORY;
  }
  copy_window<uint8_t>(src, height, width, oh, ow, rh >> 1, rw >> 1, buf.get());
  *out = buf.release();
  *out_height = oh;
  *out_width = ow;
  *row_offset = static_cast<int32_t>(rh >> 1);
  *column_offset = static_cast<int32_t>(rw >> 1);
  return ML_OK;
}

extern "C" ZYL_API int img_paste_fill(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint8_t* frame, uint32_t frame_height, uint32_t frame_width,
                                      int32_t row, int32_t column, uint8_t fill) {
  // A negative place would write before the frame.
  if (!frame || (!src && height != 0 && width != 0) || row < 0 || column < 0 ||
      frame_height < uint64_t{height} + row || frame_width < uint64_t{width} + column)
    return ML_BAD_ARGUMENT;
  std::memset(frame, fill, pixel_count(frame_height, frame_width));
  for (uint32_t r = 0; r < height && width; ++r)
    std::memcpy(frame + (uint64_t{r} + row) * frame_width + column,
                src + static_cast<std::size_t>(r) * width, width);
  return ML_OK;
}

extern "C" ZYL_API uint32_t img_block_padding_excess(uint32_t height, uint32_t width,
                                                     uint32_t block, uint32_t divisor) {
  if (block == 0 || divisor == 0) return 0;
  const uint64_t e = 8 / divisor;
  const uint64_t area =
      (uint64_t{block} * ((width + e) / block)) * (uint64_t{block} * ((height + e) / block));
  const uint64_t own = uint64_t{height} * width;
  return area > own ? static_cast<uint32_t>(std::min<uint64_t>(area - own, UINT32_MAX)) : 0;
}

int zyl::matchlib::img_find_white_margins_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                             uint32_t* out_height, uint32_t* out_width,
                                             uint32_t* top, uint32_t* left) {
  if (!src || !out_height || !out_width || !top || !left || height == 0 || width == 0)
    return ML_BAD_ARGUMENT;
  Scratch<uint64_t> col_sum(width, true), row_sum(height, true);
  if (!col_sum || !row_sum) return ML_NO_MEMORY;
  for (uint32_t r = 0; r < height; ++r) {
    const uint8_t* row = src + static_cast<std::size_t>(r) * width;
    uint64_t s = 0;
    for (uint32_t c = 0; c < width; ++c) {
      s += row[c];
      col_sum[c] += row[c];
    }
    row_sum[r] = s;
  }
  // Bright lines nearest to the middle bound the content; the middle line
  // itself is not examined.
  auto bounds = [](const uint64_t* sums, uint32_t n, uint64_t limit, uint32_t& lo, uint32_t& hi) {
    const uint32_t mid = n / 2;
    int64_t first = 0;
    for (int64_t i = int64_t{mid} - 1; i >= 0; --i)
      if (sums[i] > limit) {
        first = i;
        break;
      }
    int64_t last = n - 1;
    for (uint32_t i = mid + 1; i < n; ++i)
      if (sums[i] > limit) {
        last = i;
        break;
      }
    lo = static_cast<uint32_t>(std::max<int64_t>(0, first - 16));
    hi = static_cast<uint32_t>(std::min<int64_t>(last + 16, n - 1));
  };
  uint32_t l, r, t, b;
  bounds(col_sum.get(), width, uint64_t{211} * height, l, r);
  bounds(row_sum.get(), height, uint64_t{211} * width, t, b);
  *out_height = b - t + 1;
  *out_width = r - l + 1;
  *top = t;
  *left = l;
  return ML_OK;
}

extern "C" {

ZYL_API int img_crop_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width,
                                       uint32_t block, uint8_t** out, uint32_t* out_height,
                                       uint32_t* out_width, int32_t* row_offset,
                                       int32_t* column_offset) {
  return zyl::matchlib::img_crop_to_block_multiple(src, height, width, block, out, out_height,
                                                   out_width, row_offset, column_offset);
}
ZYL_API int img_find_white_margins_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t* out_height, uint32_t* out_width, uint32_t* top,
                                      uint32_t* left) {
  return zyl::matchlib::img_find_white_margins_u8(src, height, width, out_height, out_width, top,
                                                  left);
}

}  // extern "C"
