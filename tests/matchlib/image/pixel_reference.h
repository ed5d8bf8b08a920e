// Plain references and random inputs shared by the pixel primitive tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace zyl::test {

template <class T>
std::vector<T> random_pixels(std::size_t n, int64_t lo, int64_t hi, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int64_t> d(lo, hi);
  std::vector<T> v(n);
  for (auto& x : v) x = static_cast<T>(d(rng));
  return v;
}

// Median over the given (row, column) offsets clipped to the image: the
// middle value, or for an even count the mean of the two middle values
// formed wide and divided toward zero.
template <class T>
std::vector<T> reference_median(const std::vector<T>& src, int h, int w,
                                const std::vector<std::pair<int, int>>& offsets) {
  std::vector<T> out(src.size());
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      std::vector<int64_t> v;
      for (auto [dr, dc] : offsets) {
        const int y = r + dr, x = c + dc;
        if (y >= 0 && y < h && x >= 0 && x < w) v.push_back(src[y * w + x]);
      }
      std::sort(v.begin(), v.end());
      const std::size_t n = v.size();
      out[r * w + c] = static_cast<T>(n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
    }
  return out;
}

}  // namespace zyl::test
