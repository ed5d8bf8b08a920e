// Window copy shared by the crops, the block fitting and the mask plane.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include "zylscan/matchlib_window.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int img_crop_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width, uint32_t block,
                               uint8_t** out, uint32_t* out_height, uint32_t* out_width,
                               int32_t* row_offset, int32_t* column_offset);
int img_find_white_margins_u8(const uint8_t* src, uint32_t height, uint32_t width,
                              uint32_t* out_height, uint32_t* out_width, uint32_t* top,
                              uint32_t* left);

// Copies the overlap of src (h x w) with the window (wh x ww at row_off,
// col_off in source coordinates) into dst (wh x ww); dst pixels outside
// the overlap are not touched.
template <class T>
void copy_window(const T* src, std::uint32_t h, std::uint32_t w, std::uint32_t wh,
                 std::uint32_t ww, std::int64_t row_off, std::int64_t col_off, T* dst) {
  if (h == wh && w == ww && row_off == 0 && col_off == 0) {
    std::memmove(dst, src, sizeof(T) * static_cast<std::size_t>(std::uint64_t{h} * w));
    return;
  }
  const std::int64_t r0 = std::max<std::int64_t>(row_off, 0);
  const std::int64_t r1 = std::min<std::int64_t>(h, std::int64_t{wh} + row_off);
  const std::int64_t c0 = std::max<std::int64_t>(col_off, 0);
  const std::int64_t c1 = std::min<std::int64_t>(w, std::int64_t{ww} + col_off);
  if (r0 >= r1 || c0 >= c1) return;
  for (std::int64_t r = r0; r < r1; ++r)
    std::memmove(dst + (r - row_off) * std::int64_t{ww} + (c0 - col_off), src + r * w + c0,
                 sizeof(T) * static_cast<std::size_t>(c1 - c0));
}

// copy_window with the checks of the exported copies: an empty source or
// window copies nothing, a null buffer is refused. Instantiated for uint8_t
// and uint16_t.
template <class T>
int copy_window_checked(const T* src, std::uint32_t height, std::uint32_t width,
                        std::uint32_t window_height, std::uint32_t window_width,
                        std::int32_t row_offset, std::int32_t column_offset, T* dst);

// The out_height x out_width window centred on the source (offsets halved
// toward zero), with the same checks. Instantiated for uint8_t and uint16_t.
template <class T>
int copy_centered(const T* src, std::uint32_t height, std::uint32_t width, std::uint32_t out_height,
                  std::uint32_t out_width, T* dst);

}  // namespace zyl::matchlib
