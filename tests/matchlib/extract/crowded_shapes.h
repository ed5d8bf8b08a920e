// A plane crowded with small discs, rings and squares that touch and
// overlap: hundreds of outlines, many of them around holes, so the order in
// which a thinning visits its outlines shows in its result.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace zyl::test {

// rows x width bytes, 1 = object pixel, a background frame of 2 pixels.
inline std::vector<std::uint8_t> crowded_shapes(int rows, int width, unsigned seed, int shapes) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(rows) * width, 0);
  std::mt19937 rng(seed);  // raw draws only: the same on every library
  for (int s = 0; s < shapes; ++s) {
    const int r = 1 + static_cast<int>(rng() % 6);
    const int cy = 2 + static_cast<int>(rng() % unsigned(rows - 4));
    const int cx = 2 + static_cast<int>(rng() % unsigned(width - 4));
    const int kind = static_cast<int>(rng() % 3);  // disc, ring, square
    for (int y = cy - r; y <= cy + r; ++y)
      for (int x = cx - r; x <= cx + r; ++x) {
        if (y < 2 || x < 2 || y >= rows - 2 || x >= width - 2) continue;
        const int d2 = (y - cy) * (y - cy) + (x - cx) * (x - cx);
        const bool on = kind == 0   ? d2 <= r * r
                        : kind == 1 ? d2 <= r * r && d2 >= (r - 1) * (r - 1)
                                    : true;
        if (on) px[static_cast<std::size_t>(y) * width + x] = 1;
      }
  }
  return px;
}

// FNV-1a of a byte string, for comparing whole planes with known results.
inline std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::uint8_t b : bytes) {
    h ^= b;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace zyl::test
