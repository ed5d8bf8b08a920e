// The framed viewing window: everything outside a centred rectangle of a
// given share of the image area turns white, a two-pixel frame fades into
// it, and the frame is smoothed by the 3x3 median.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_drawing.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/median3x3.h"
#include "matchlib/image/window_frame.h"

using zyl::matchlib::ml_malloc;

int zyl::matchlib::img_window_frame_u8(const uint8_t* src, int height, int width, int percent,
                                       uint8_t* dst) {
  const unsigned p = static_cast<uint8_t>(percent);
  if (p > 100) return ML_BAD_ARGUMENT;
  if (!src || !dst) return ML_BAD_ARGUMENT;
  const long h = static_cast<uint16_t>(height), w = static_cast<uint16_t>(width);
  const std::size_t cells = static_cast<std::size_t>(h) * static_cast<std::size_t>(w);
  if (src != dst) std::memmove(dst, src, cells);
  if (p == 0 || cells == 0) return ML_OK;

  // s / 160 is the square root of the window's share of the area.
  const unsigned long s = zyl::matchlib::fx_isqrt30_round((100u - p) * 256u);
  const long ww = static_cast<long>(static_cast<unsigned long>(w) * s / 160);
  const long wh = static_cast<long>(static_cast<unsigned long>(h) * s / 160);
  const long left = (w - ww) / 2, top = (h - wh) / 2;
  // Margin rectangle: the window and a ring of one pixel around it.
  const long m_top = top - 1, m_bottom = top + wh, m_left = left - 1, m_right = left + ww;
  auto at = [&](long y, long x) -> uint8_t& { return dst[y * w + x]; };
  auto inside = [&](long y, long x) { return y >= 0 && x >= 0 && y < h && x < w; };
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      if (y < m_top || y > m_bottom || x < m_left || x > m_right) at(y, x) = 255;

  auto fade = [&](long y, long x, int quarters) {
    if (!inside(y, x)) return;
    uint8_t& v = at(y, x);
    v = static_cast<uint8_t>(v + (((255 - v) * quarters) >> 2));
  };
  for (long x = left - 1; x <= left + ww; ++x) {
    fade(top - 1, x, 3);
    fade(top + wh, x, 3);
  }
  for (long y = top; y <= top + wh - 1; ++y) {
    fade(y, left - 1, 3);
    fade(y, left + ww, 3);
  }
  for (long x = left + 1; x <= left + ww - 2; ++x) {
    fade(top, x, 1);
    fade(top + wh - 1, x, 1);
  }
  for (long y = top; y <= top + wh - 1; ++y) {
    fade(y, left, 1);
    fade(y, left + ww - 1, 1);
  }

  auto* median = static_cast<uint8_t*>(ml_malloc(cells));
  if (!median) return ML_NO_MEMORY;
  const int st = zyl::matchlib::median3x3<std::uint8_t>(dst, static_cast<uint32_t>(h),
                                                        static_cast<uint32_t>(w), median);
  if (st != ML_OK) {
    std::free(median);
    return st;
  }
  for (long y = m_top; y <= m_bottom; ++y)
    for (long x = m_left; x <= m_right; ++x) {
      if (!inside(y, x)) continue;
      const bool frame_row = y == top - 1 || y == top || y == top + wh - 1 || y == top + wh;
      const bool frame_col = x == left - 1 || x == left || x == left + ww - 1 || x == left + ww;
      if (frame_row || frame_col) at(y, x) = median[y * w + x];
    }
  std::free(median);
  return ML_OK;
}

extern "C" {

ZYL_API int img_window_frame_u8(const uint8_t* src, int height, int width, int percent,
                                uint8_t* dst) {
  return zyl::matchlib::img_window_frame_u8(src, height, width, percent, dst);
}

}  // extern "C"
