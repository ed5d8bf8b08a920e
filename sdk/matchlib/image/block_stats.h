// The functions of block stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "zylscan/matchlib_local_stats.h"

namespace zyl::matchlib {

// Count, sum and sum of squares of the usable pixels of a block clipped to
// the image, and the count of its positions inside the image.
struct BlockStats {
  uint64_t inside = 0, n = 0, sum = 0, squares = 0;
  int mean() const { return n ? static_cast<int>((sum + n / 2) / n) : 0; }
  // ((16 Q - S (16 S / n)) / n) >> 4: the variance in sixteenths, shifted
  // back. S (16 S / n) never exceeds 16 Q, so the difference is not negative.
  uint64_t variance() const {
    if (!n) return 0;
    const uint64_t a = 16 * squares, b = sum * ((16 * sum) / n);
    return (a >= b ? (a - b) / n : 0) >> 4;
  }
  // Usable share of the positions inside the image, in 1/256.
  uint64_t coverage() const { return inside ? n * 256 / inside : 0; }
};

// The statistics of one side x side block at (top, left), which may reach
// outside the image; pixels count as usable when `usable` is null or has
// bit 7 set. Inline: the spectral and grid front ends call it per block in
// their hot loops.
inline BlockStats block_stats(const uint8_t* px, const uint8_t* usable, int height, int width, int top,
                              int left, int side) {
  BlockStats b;
  for (int y = std::max(0, top); y < std::min(height, top + side); ++y)
    for (int x = std::max(0, left); x < std::min(width, left + side); ++x) {
      ++b.inside;
      const size_t i = static_cast<size_t>(y) * width + x;
      if (usable && !(usable[i] & 0x80)) continue;
      ++b.n;
      b.sum += px[i];
      b.squares += uint64_t{px[i]} * px[i];
    }
  return b;
}

// Mean of each n x n block of a grid of rows x cols blocks, truncated toward
// zero, into out (a map entry per block, row after row); row_length is the
// image's row stride in pixels. Instantiated for uint8_t, int8_t, uint16_t
// and int16_t.
template <class P>
int block_mean(const P* pixels, int row_length, int n, int rows, int cols, P* out);

// Minimum and maximum of each n x n block into min_map and max_map (either
// may be null); the grid must fit the height x row_length image.
// Instantiated for uint8_t and int8_t.
template <class P>
int block_minmax(const P* pixels, int height, int row_length, int n, int rows, int cols, P* min_map,
                 P* max_map);

// Bodies of exported functions, called directly inside the library.
int img_block_variance_u8(const uint8_t* pixels, int /*height*/, int row_length,
                          const uint8_t* means, int n, int rows, int cols, uint16_t* out);

}  // namespace zyl::matchlib
