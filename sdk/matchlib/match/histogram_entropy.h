// Entropy of a histogram in 1/100 bit, with 1000 x log2(p / 1000)
// approximated piecewise-linearly between fixed per-mille breakpoints.
#pragma once

#include <algorithm>
#include <cstdint>

namespace zyl::matchlib {

inline uint32_t piecewise_entropy(const uint32_t* counts, int n) {
  constexpr int kBreak[15] = {1, 10, 20, 40, 80, 120, 200, 300, 400, 500, 600, 700, 800, 900, 1000};
  constexpr int kLog[15] = {-9966, -6644, -5644, -4644, -3644, -3059, -2322, -1737,
                            -1322, -1000, -737,  -515,  -322,  -153,  0};
  uint64_t total = 0;
  for (int i = 0; i < n; ++i) total += counts[i];
  if (!total) total = 1;
  uint64_t sum = 0;
  for (int i = 0; i < n; ++i) {
    const int64_t p = static_cast<int64_t>(counts[i] * uint64_t{1000} / total);
    int seg = 1;  // the segment (lo, hi] that holds p; p up to 10 uses the first
    while (seg < 14 && p > kBreak[seg]) ++seg;
    const int64_t lo = kBreak[seg - 1], hi = kBreak[seg];
    const int64_t w = (hi - p) * 1000 / (hi - lo);
    const int64_t L = (1000 - w) * kLog[seg] / 1000 + kLog[seg - 1] * w / 1000;
    const int64_t add = (-p * L) / 10000;
    if (add > 0) sum += static_cast<uint64_t>(add);
  }
  return static_cast<uint32_t>(std::min<uint64_t>(sum, 65535));
}

}  // namespace zyl::matchlib
