// The 1-2-1 binomial smoothing and the 2x2 halving that the resamplers and
// the border extensions share.
#pragma once

#include <cstdint>

namespace zyl::matchlib {

// 1-2-1 by 1-2-1 weighted mean of pixel c of the row mid, with up and down
// the rows above and below (null at the image border); the kernel is
// clipped at the borders and divided by its remaining weight (16 inside,
// 12 on an edge, 9 in a corner), truncated toward zero.
template <class T>
inline T binomial_at(const T* up, const T* mid, const T* down, std::uint32_t w, std::uint32_t c) {
  static_assert(sizeof(T) <= 2, "sums are formed in 32 bits");
  const bool left = c > 0, right = c + 1 < w;
  auto column = [&](std::uint32_t x) {
    std::int32_t s = 2 * std::int32_t{mid[x]};
    if (up) s += up[x];
    if (down) s += down[x];
    return s;
  };
  std::int32_t sum = 2 * column(c);
  if (left) sum += column(c - 1);
  if (right) sum += column(c + 1);
  const std::int32_t weight = (2 + (up ? 1 : 0) + (down ? 1 : 0)) * (2 + left + right);
  return static_cast<T>(sum / weight);
}

// Smooths an 8-bit image with the binomial kernel; dst may be src. 0, or 9
// when the row copies cannot be allocated (dst untouched).
int binomial3x3_u8(const std::uint8_t* src, std::uint32_t h, std::uint32_t w, std::uint8_t* dst);

// Halves an 8-bit image of even sides by 2x2 means (sum >> 2) into
// (h / 2) x (w / 2); 1 and nothing written when a side is odd.
int halve2x2_u8(const std::uint8_t* src, std::uint32_t h, std::uint32_t w, std::uint8_t* dst);

}  // namespace zyl::matchlib
