// Enlarging an image into a bigger frame (ring-by-ring extension, fill from
// edge maxima) and fitting it to multiples of a block size.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/pixel_rows.h"
#include "matchlib/image/window_copy.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/image/border_extend.h"

namespace zyl::matchlib {
namespace {

// New line of n values (spacing stride) from the line at `line`: pair means
// at the ends, means of three inside. A one-value line is copied.
template <class T>
void line_extend(T* buf, std::uint32_t n, std::size_t line, std::size_t new_line,
                 std::size_t stride) {
  if (n == 0) return;
  const T* p = buf + line;
  T* q = buf + new_line;
  if (n == 1) {
    q[0] = p[0];
    return;
  }
  auto at = [&](std::uint32_t i) { return std::int32_t{p[i * stride]}; };
  q[0] = static_cast<T>((at(0) + at(1)) >> 1);
  for (std::uint32_t i = 1; i + 1 < n; ++i)
    q[i * stride] = static_cast<T>((at(i - 1) + at(i) + at(i + 1)) / 3);
  q[(n - 1) * stride] = static_cast<T>((at(n - 2) + at(n - 1)) >> 1);
}

// The source must lie inside the frame at the given offsets.
bool fits_frame(const void* src, const void* frame, std::uint32_t h, std::uint32_t w,
                std::uint32_t oh, std::uint32_t ow, std::int32_t ro, std::int32_t co) {
  return src && frame && h > 0 && w > 0 && ro >= 0 && co >= 0 && std::uint64_t{h} + ro <= oh &&
         std::uint64_t{w} + co <= ow;
}

template <class T>
void place_in_frame(const T* src, std::uint32_t h, std::uint32_t w, std::uint32_t oh,
                    std::uint32_t ow, std::int32_t ro, std::int32_t co, T* frame) {
  std::memset(frame, 0, sizeof(T) * pixel_count(oh, ow));
  for (std::uint32_t r = 0; r < h; ++r)
    std::memcpy(frame + (std::uint64_t{r} + ro) * ow + co, src + static_cast<std::size_t>(r) * w,
                sizeof(T) * w);
}

// Grows the filled rectangle one ring at a time: each new row or column is
// the line extension of the edge it continues, each new corner copies the
// diagonal pixel inside.
template <class T>
int pad_extend(const T* src, std::uint32_t h, std::uint32_t w, std::uint32_t oh, std::uint32_t ow,
               std::int32_t ro, std::int32_t co, T* frame) {
  if (!fits_frame(src, frame, h, w, oh, ow, ro, co)) return ML_BAD_ARGUMENT;
  place_in_frame(src, h, w, oh, ow, ro, co, frame);
  std::size_t c = static_cast<std::size_t>(ro), d = static_cast<std::size_t>(co);
  std::size_t count = h, len = w;
  const std::size_t stride = ow;
  auto at = [&](std::size_t r, std::size_t x) -> T& { return frame[r * stride + x]; };
  while (c > 0 || d > 0 || c + count < oh || d + len < ow) {
    const bool up = c > 0, left = d > 0, down = c + count < oh, right = d + len < ow;
    if (up) {
      if (left) at(c - 1, d - 1) = at(c, d);
      line_extend(frame, static_cast<std::uint32_t>(len), c * stride + d, (c - 1) * stride + d, 1);
      if (right) at(c - 1, d + len) = at(c, d + len - 1);
    }
    if (left)
      line_extend(frame, static_cast<std::uint32_t>(count), c * stride + d, c * stride + d - 1,
                  stride);
    if (right)
      line_extend(frame, static_cast<std::uint32_t>(count), c * stride + d + len - 1,
                  c * stride + d + len, stride);
    if (down) {
      const std::size_t last = c + count - 1;
      if (left) at(last + 1, d - 1) = at(last, d);
      line_extend(frame, static_cast<std::uint32_t>(len), last * stride + d,
                  (last + 1) * stride + d, 1);
      if (right) at(last + 1, d + len) = at(last, d + len - 1);
    }
    if (up) --c, ++count;
    if (down) ++count;
    if (left) --d, ++len;
    if (right) ++len;
  }
  return ML_OK;
}

void group_max(std::uint8_t* a, std::size_t n, std::size_t g) {
  for (std::size_t s = 0; s < n; s += g) {
    const std::size_t e = std::min(n, s + g);
    std::fill(a + s, a + e, *std::max_element(a + s, a + e));
  }
}

int pad_profile(const std::uint8_t* src, std::uint32_t h, std::uint32_t w, std::uint32_t oh,
                std::uint32_t ow, std::int32_t ro, std::int32_t co, std::uint8_t* frame) {
  // The smoothing kernel takes int sides.
  if (!fits_frame(src, frame, h, w, oh, ow, ro, co) || oh > INT32_MAX || ow > INT32_MAX)
    return ML_BAD_ARGUMENT;
  Scratch<std::uint8_t> top(w, true), bottom(w, true), left(h, true), right(h, true);
  if (!top || !bottom || !left || !right) return ML_NO_MEMORY;
  place_in_frame(src, h, w, oh, ow, ro, co, frame);
  const std::uint32_t kw = std::min(8u, w), kh = std::min(8u, h);
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* row = src + static_cast<std::size_t>(y) * w;
    left[y] = *std::max_element(row, row + kw);
    right[y] = *std::max_element(row + w - kw, row + w);
    if (y < kh)
      for (std::uint32_t x = 0; x < w; ++x) top[x] = std::max(top[x], row[x]);
    if (y >= h - kh)
      for (std::uint32_t x = 0; x < w; ++x) bottom[x] = std::max(bottom[x], row[x]);
  }
  for (auto* p : {&top, &bottom}) group_max(p->get(), w, 8);
  for (auto* p : {&left, &right}) group_max(p->get(), h, 8);
  const std::uint8_t above_left = static_cast<std::uint8_t>((left[0] + top[0]) >> 1);
  const std::uint8_t above_right = static_cast<std::uint8_t>((right[0] + top[w - 1]) >> 1);
  const std::uint8_t below_left = static_cast<std::uint8_t>((left[h - 1] + bottom[0]) >> 1);
  const std::uint8_t below_right = static_cast<std::uint8_t>((right[h - 1] + bottom[w - 1]) >> 1);
  const std::uint32_t r_end = static_cast<std::uint32_t>(ro) + h;
  const std::uint32_t c_end = static_cast<std::uint32_t>(co) + w;
  for (std::uint32_t y = 0; y < oh; ++y) {
    std::uint8_t* row = frame + static_cast<std::size_t>(y) * ow;
    if (y >= static_cast<std::uint32_t>(ro) && y < r_end) {
      const std::uint32_t sy = y - static_cast<std::uint32_t>(ro);
      std::fill(row, row + co, left[sy]);
      std::fill(row + c_end, row + ow, right[sy]);
      continue;
    }
    const bool above = y < static_cast<std::uint32_t>(ro);
    const std::uint8_t* profile = above ? top.get() : bottom.get();
    std::fill(row, row + co, above ? above_left : below_left);
    std::memcpy(row + co, profile, w);
    std::fill(row + c_end, row + ow, above ? above_right : below_right);
  }
  for (int pass = 0; pass < 2; ++pass)
    if (const int st = zyl::matchlib::binomial3x3<std::uint8_t>(frame, int(oh), int(ow), frame);
        st != ML_OK)
      return st;
  // Only the margin and a two-pixel rim of the source stay smoothed.
  for (std::uint32_t y = 2; y + 2 < h && w > 4; ++y)
    std::memcpy(frame + (std::uint64_t{y} + ro) * ow + co + 2,
                src + static_cast<std::size_t>(y) * w + 2, w - 4);
  return ML_OK;
}

// One side's fit to the block: its new length and the offset reported for
// it (positive: start of the kept part; negative: minus the source's place).
struct SideFit {
  std::uint32_t size;
  std::int32_t offset;
  bool padded;
};

SideFit fit_side(std::uint32_t side, std::uint32_t block, bool crop_allowed, bool crop_always) {
  const std::uint32_t r = side % block;
  if (r == 0) return {side, 0, false};
  if (crop_allowed && (r <= (block >> 2) || crop_always))
    return {side - r, static_cast<std::int32_t>(r / 2), false};
  return {side + block - r, -static_cast<std::int32_t>((block - r) / 2), true};
}

int enlarge(const std::uint8_t* src, std::uint32_t h, std::uint32_t w, std::uint32_t oh,
            std::uint32_t ow, std::int32_t ro, std::int32_t co, int mode, std::uint8_t* out) {
  if (mode == 0) return pad_extend<std::uint8_t>(src, h, w, oh, ow, ro, co, out);
  if (mode == 1) return pad_profile(src, h, w, oh, ow, ro, co, out);
  return ML_BAD_ARGUMENT;  // no way to fill the margin
}

int fit_block(const std::uint8_t* src, std::uint32_t h, std::uint32_t w, std::uint32_t block,
              int mode, std::uint8_t** out, std::uint32_t* out_h, std::uint32_t* out_w,
              std::int32_t* row_off, std::int32_t* col_off, bool crop_allowed) {
  if (!src || !out || !out_h || !out_w || !row_off || !col_off || block == 0 ||
      std::min(h, w) < std::uint64_t{3} * block)
    return ML_BAD_ARGUMENT;
  if (!crop_allowed) {
    if (mode == 2) return ML_BAD_ARGUMENT;
    *out = nullptr;  // the padding form always allocates
  }
  const SideFit fr = fit_side(h, block, crop_allowed, mode == 2);
  const SideFit fc = fit_side(w, block, crop_allowed, mode == 2);
  if ((fr.padded || fc.padded) && mode != 0 && mode != 1) return ML_BAD_ARGUMENT;
  Scratch<std::uint8_t> owned;
  std::uint8_t* dst = *out;
  if (!dst) {
    owned = Scratch<std::uint8_t>(pixel_count(fr.size, fc.size));
    if (!owned) return ML_NO_MEMORY;
    dst = owned.get();
  }
  int st = ML_OK;
  if (!fr.padded && !fc.padded) {
    copy_window<std::uint8_t>(src, h, w, fr.size, fc.size, fr.offset, fc.offset, dst);
  } else if (fr.size < h || fc.size < w) {
    // One side cropped, the other padded: cut first, then enlarge the cut.
    const std::uint32_t ch = fr.padded ? h : fr.size, cw = fc.padded ? w : fc.size;
    Scratch<std::uint8_t> cut(pixel_count(ch, cw));
    if (!cut) return ML_NO_MEMORY;
    copy_window<std::uint8_t>(src, h, w, ch, cw, fr.padded ? 0 : fr.offset,
                              fc.padded ? 0 : fc.offset, cut.get());
    st = enlarge(cut.get(), ch, cw, fr.size, fc.size, fr.padded ? -fr.offset : 0,
                 fc.padded ? -fc.offset : 0, mode, dst);
  } else {
    st = enlarge(src, h, w, fr.size, fc.size, -fr.offset, -fc.offset, mode, dst);
  }
  if (st != ML_OK) return st;  // an output allocated here goes with `owned`
  if (owned) *out = owned.release();
  *out_h = fr.size;
  *out_w = fc.size;
  *row_off = fr.offset;
  *col_off = fc.offset;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API void line_extend_u8(uint8_t* buffer, uint32_t n, uint32_t line,
                                       uint32_t new_line) {
  if (buffer) line_extend<uint8_t>(buffer, n, line, new_line, 1);
}
extern "C" ZYL_API void line_extend_u16(uint16_t* buffer, uint32_t n, uint32_t line,
                                        uint32_t new_line) {
  if (buffer) line_extend<uint16_t>(buffer, n, line, new_line, 1);
}
extern "C" ZYL_API void line_extend_strided_u8(uint8_t* buffer, uint32_t n, uint32_t line,
                                               uint32_t new_line, uint32_t stride) {
  if (buffer) line_extend<uint8_t>(buffer, n, line, new_line, stride);
}
extern "C" ZYL_API void line_extend_strided_u16(uint16_t* buffer, uint32_t n, uint32_t line,
                                                uint32_t new_line, uint32_t stride) {
  if (buffer) line_extend<uint16_t>(buffer, n, line, new_line, stride);
}

int zyl::matchlib::img_pad_extend_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                     uint32_t out_height, uint32_t out_width, int32_t row_offset,
                                     int32_t column_offset, uint8_t* frame) {
  return pad_extend<uint8_t>(src, height, width, out_height, out_width, row_offset,
                             column_offset, frame);
}
int zyl::matchlib::img_pad_extend_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                      uint32_t out_height, uint32_t out_width, int32_t row_offset,
                                      int32_t column_offset, uint16_t* frame) {
  return pad_extend<uint16_t>(src, height, width, out_height, out_width, row_offset,
                              column_offset, frame);
}

int zyl::matchlib::img_pad_profile_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t out_height, uint32_t out_width, int32_t row_offset,
                                      int32_t column_offset, uint8_t* frame) {
  return pad_profile(src, height, width, out_height, out_width, row_offset, column_offset, frame);
}

int zyl::matchlib::img_fit_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width,
                                             uint32_t block, int32_t mode, uint8_t** out,
                                             uint32_t* out_height, uint32_t* out_width,
                                             int32_t* row_offset, int32_t* column_offset) {
  return fit_block(src, height, width, block, mode, out, out_height, out_width, row_offset,
                   column_offset, true);
}

extern "C" ZYL_API int img_pad_to_block_multiple(const uint8_t* src, uint32_t height,
                                                 uint32_t width, uint32_t block, int32_t mode,
                                                 uint8_t** out, uint32_t* out_height,
                                                 uint32_t* out_width, int32_t* row_offset,
                                                 int32_t* column_offset) {
  return fit_block(src, height, width, block, mode, out, out_height, out_width, row_offset,
                   column_offset, false);
}

extern "C" ZYL_API void bytes_group_max(uint8_t* array, int32_t length, int32_t group) {
  if (!array || length <= 0 || group <= 0) return;
  group_max(array, static_cast<std::size_t>(length), static_cast<std::size_t>(group));
}

extern "C" {

ZYL_API int img_pad_extend_u8(const uint8_t* src, uint32_t height, uint32_t width,
                              uint32_t out_height, uint32_t out_width, int32_t row_offset,
                              int32_t column_offset, uint8_t* frame) {
  return zyl::matchlib::img_pad_extend_u8(src, height, width, out_height, out_width, row_offset,
                                          column_offset, frame);
}
ZYL_API int img_pad_extend_u16(const uint16_t* src, uint32_t height, uint32_t width,
                               uint32_t out_height, uint32_t out_width, int32_t row_offset,
                               int32_t column_offset, uint16_t* frame) {
  return zyl::matchlib::img_pad_extend_u16(src, height, width, out_height, out_width, row_offset,
                                           column_offset, frame);
}
ZYL_API int img_pad_profile_u8(const uint8_t* src, uint32_t height, uint32_t width,
                               uint32_t out_height, uint32_t out_width, int32_t row_offset,
                               int32_t column_offset, uint8_t* frame) {
  return zyl::matchlib::img_pad_profile_u8(src, height, width, out_height, out_width, row_offset,
                                           column_offset, frame);
}
ZYL_API int img_fit_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t block, int32_t mode, uint8_t** out,
                                      uint32_t* out_height, uint32_t* out_width,
                                      int32_t* row_offset, int32_t* column_offset) {
  return zyl::matchlib::img_fit_to_block_multiple(src, height, width, block, mode, out, out_height,
                                                  out_width, row_offset, column_offset);
}

}  // extern "C"
