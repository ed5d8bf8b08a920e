// Statistics over byte and int arrays: rows, profiles and blocks of the
// image, ridge-map and texture code.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "zylscan/matchlib_array.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/array_stats.h"
#include "matchlib/core/fixed_math.h"

namespace zyl::matchlib {
namespace {

template <class T>
std::span<const T> view(const T* a, int n) {
  return a && n > 0 ? std::span<const T>(a, static_cast<std::size_t>(n)) : std::span<const T>{};
}

// 32-bit sum as the library keeps it; accumulated without overflow and
// wrapped at the end, which is the same for every sum that fits.
template <class T>
std::int64_t sum_of(std::span<const T> a) {
  std::int64_t s = 0;
  for (T v : a) s += v;
  return s;
}

// Rounded mean, halves away from zero.
std::int64_t rounded_mean(std::int64_t sum, std::int64_t n) {
  return sum >= 0 ? (sum + n / 2) / n : (sum - n / 2) / n;
}

template <class T>
int max_of(std::span<const T> a) {
  return a.empty() ? 0 : static_cast<int>(*std::ranges::max_element(a));
}
template <class T>
int min_of(std::span<const T> a) {
  return a.empty() ? 0 : static_cast<int>(*std::ranges::min_element(a));
}

struct ByteMoments {
  std::int64_t mean;
  std::int64_t variance;
};

ByteMoments byte_moments(std::span<const std::uint8_t> a) {
  const std::int64_t n = static_cast<std::int64_t>(a.size());
  const std::int64_t m = (sum_of(a) + n / 2) / n;
  std::int64_t s2 = 0;
  for (std::uint8_t v : a) s2 += (v - m) * (v - m);
  return {m, (s2 + n / 2) / n};
}

// Both circular windows: out[i] = f(in[i], rounded window mean).
template <class F>
int circular_window(const std::uint8_t* in, int n, int r, std::uint8_t* out, F f) {
  if (!in || !out || in == out || r < 0 || r + 1 >= n) return ML_BAD_ARGUMENT;
  auto at = [&](int i) -> int {
    if (i < 0) i += n;
    if (i >= n) i -= n;
    return in[i];
  };
  int sum = 0;
  for (int i = -r - 1; i <= r - 1; ++i) sum += at(i);
  const int width = 2 * r + 1;
  for (int i = 0; i < n; ++i) {
    sum += at(i + r) - at(i - r - 1);
    out[i] = static_cast<std::uint8_t>(f(in[i], (sum + r) / width));
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::array_sum_i32(const int32_t* a, int n) {
  return static_cast<int32_t>(static_cast<uint32_t>(sum_of(view(a, n))));
}

int zyl::matchlib::array_mean_i32(const int32_t* a, int n) {
  const auto s = view(a, n);
  if (s.empty()) return 0;
  const int32_t sum = zyl::matchlib::array_sum_i32(a, n);
  return static_cast<int>(rounded_mean(sum, n));
}

int zyl::matchlib::array_mean_u8(const uint8_t* a, int n) {
  const auto s = view(a, n);
  if (s.empty()) return 0;
  return static_cast<int>((sum_of(s) + n / 2) / n);
}
extern "C" ZYL_API int array_mean_u8_alt(const uint8_t* a, int n) {
  return zyl::matchlib::array_mean_u8(a, n);
}
extern "C" ZYL_API int array_mean_u8_alt2(const uint8_t* a, int n) {
  return zyl::matchlib::array_mean_u8(a, n);
}

extern "C" ZYL_API int array_max_i32(const int32_t* a, int n) { return max_of(view(a, n)); }
extern "C" ZYL_API int array_min_i32(const int32_t* a, int n) { return min_of(view(a, n)); }
int zyl::matchlib::array_max_u8(const uint8_t* a, int n) { return max_of(view(a, n)); }
extern "C" ZYL_API int array_min_u8(const uint8_t* a, int n) { return min_of(view(a, n)); }

int zyl::matchlib::array_argmax_i32(const int32_t* a, int n) {
  if (!a || n < 2) return 0;
  return static_cast<int>(std::max_element(a, a + n) - a);  // first of equals
}
extern "C" ZYL_API int array_argmin_i32(const int32_t* a, int n) {
  if (!a || n < 2) return 0;
  return static_cast<int>(std::min_element(a, a + n) - a);
}

int zyl::matchlib::array_nearest_index_i32(int value, const int32_t* centres, int n) {
  if (!centres || n < 2) return 0;
  int best = 0;
  std::int64_t best_d = std::abs(std::int64_t{centres[0]} - value);
  for (int i = 1; i < n; ++i) {
    const std::int64_t d = std::abs(std::int64_t{centres[i]} - value);
    if (d < best_d) {
      best_d = d;
      best = i;
    }
  }
  return best;
}

extern "C" ZYL_API void array_nearest_histogram_i32(const int32_t* values, int n, int32_t* counters,
                                                    const int32_t* centres, int k) {
  if (!counters || k <= 0) return;
  std::fill_n(counters, k, 0);
  if (!centres) return;
  for (int32_t v : view(values, n))
    ++counters[zyl::matchlib::array_nearest_index_i32(v, centres, k)];
}

int zyl::matchlib::array_variance_i32(const int32_t* a, int n) {
  const auto s = view(a, n);
  if (s.empty()) return 0;
  const std::int64_t m = zyl::matchlib::array_mean_i32(a, n);
  std::int64_t s2 = 0;
  for (int32_t v : s) s2 += (v - m) * (v - m);
  return static_cast<int>((s2 + n / 2) / n);
}

int zyl::matchlib::array_variance_u8(const uint8_t* a, int n) {
  const auto s = view(a, n);
  return s.empty() ? 0 : static_cast<int>(byte_moments(s).variance);
}

int zyl::matchlib::array_kurtosis_u8(const uint8_t* a, int n) {
  const auto s = view(a, n);
  if (s.empty()) return 0;
  const auto [m, v] = byte_moments(s);
  if (v == 0) return 8192;
  std::int64_t s4 = 0;
  for (uint8_t x : s) {
    const std::int64_t d2 = (x - m) * (x - m);
    s4 += d2 * d2;
  }
  const std::int64_t k = (s4 * 256 / v / v + n / 2) / n - 768;
  return static_cast<int>(std::clamp<std::int64_t>(k, -8192, 8192));
}

int zyl::matchlib::array_skewness_u8(const uint8_t* a, int n) {
  const auto s = view(a, n);
  if (s.empty()) return 0;
  const auto [m, v] = byte_moments(s);
  if (v == 0) return 0;
  std::int64_t s3 = 0;
  for (uint8_t x : s) s3 += (x - m) * (x - m) * (x - m);
  const std::int64_t root = zyl::matchlib::fx_isqrt32_alt(static_cast<uint32_t>(v));
  const std::int64_t k = (s3 * 256 / v / root + n / 2) / n;
  return static_cast<int>(std::clamp<std::int64_t>(k, -8192, 8192));
}

int zyl::matchlib::array_circular_mean_u8(const uint8_t* in, int n, int r, uint8_t* out) {
  return circular_window(in, n, r, out, [](int, int mean) { return mean; });
}

int zyl::matchlib::array_circular_detrend_u8(const uint8_t* in, int n, int r, uint8_t* out) {
  return circular_window(in, n, r, out,
                         [](int v, int mean) { return std::clamp(v - mean + 128, 0, 255); });
}

void zyl::matchlib::array_sort_i32(int32_t* a, int n) {
  if (!a || n < 2) return;
  for (int i = 0; i + 1 < n; ++i) {
    int k = i;
    for (int j = i + 1; j < n; ++j)
      if (a[j] < a[k]) k = j;
    std::swap(a[i], a[k]);
  }
}

extern "C" ZYL_API int array_median_i32(int32_t* a, int n) {
  if (!a || n <= 0) return 0;
  zyl::matchlib::array_sort_i32(a, n);
  if (n % 2) return a[n / 2];
  return static_cast<int>((std::int64_t{a[n / 2 - 1]} + a[n / 2]) >> 1);
}

extern "C" ZYL_API void array_reverse_records(void* records, int n, int record_size) {
  if (!records || n < 2 || record_size <= 0) return;
  auto* p = static_cast<uint8_t*>(records);
  const std::size_t size = static_cast<std::size_t>(record_size);
  for (std::size_t i = 0, j = static_cast<std::size_t>(n) - 1; i < j; ++i, --j)
    std::swap_ranges(p + i * size, p + (i + 1) * size, p + j * size);
}

extern "C" ZYL_API void array_equalize_u8(uint8_t* a, int n) {
  if (!a || n <= 0) return;
  std::int64_t below_or_equal[256] = {};
  for (uint8_t v : view(a, n)) ++below_or_equal[v];
  for (int v = 1; v < 256; ++v) below_or_equal[v] += below_or_equal[v - 1];
  for (int i = 0; i < n; ++i) a[i] = static_cast<uint8_t>(below_or_equal[a[i]] * 255 / n);
}

extern "C" ZYL_API int crossing_number8(const uint8_t* plane, int row_length, int row, int column,
                                        int mask) {
  if (!plane || row < 1 || column < 1 || column > row_length - 2) return 0;
  const std::ptrdiff_t w = row_length;
  const uint8_t* c = plane + row * w + column;
  // Up-left, up, up-right, right, down-right, down, down-left, left.
  const uint8_t ring[8] = {c[-w - 1], c[-w], c[-w + 1], c[1], c[w + 1], c[w], c[w - 1], c[-1]};
  int changes = 0;
  for (int i = 0; i < 8; ++i) changes += (mask & (ring[i] ^ ring[(i + 1) % 8])) != 0;
  return changes / 2;
}

int zyl::matchlib::otsu_threshold_u8(const uint8_t* a, int n) {
  if (!a || n <= 0) return 0;
  // 8-bit counters: the callers pass 256 samples, and a level holding all of
  // them counts 0, as it always has.
  uint8_t hist[256] = {};
  for (uint8_t v : view(a, n)) ++hist[v];
  std::int64_t total = 0;
  for (int l = 0; l < 255; ++l) total += std::int64_t{l} * hist[l];
  std::int64_t count = 0, weighted = 0, best_score = 0;
  int best = 0;
  for (int t = 0; t < 255; ++t) {
    count += hist[t];
    weighted += std::int64_t{t} * hist[t];
    if (count == 0) continue;
    if (count == n) break;
    const std::int64_t d = (total - weighted) / (n - count) - weighted / count;
    const std::int64_t score = count * (n - count) * d * d;
    if (score >= best_score) {
      best_score = score;
      best = t;
    }
  }
  return best;
}

extern "C" {

ZYL_API int array_sum_i32(const int32_t* a, int n) { return zyl::matchlib::array_sum_i32(a, n); }
ZYL_API int array_mean_i32(const int32_t* a, int n) { return zyl::matchlib::array_mean_i32(a, n); }
ZYL_API int array_mean_u8(const uint8_t* a, int n) { return zyl::matchlib::array_mean_u8(a, n); }
ZYL_API int array_max_u8(const uint8_t* a, int n) { return zyl::matchlib::array_max_u8(a, n); }
ZYL_API int array_argmax_i32(const int32_t* a, int n) {
  return zyl::matchlib::array_argmax_i32(a, n);
}
ZYL_API int array_nearest_index_i32(int value, const int32_t* centres, int n) {
  return zyl::matchlib::array_nearest_index_i32(value, centres, n);
}
ZYL_API int array_variance_i32(const int32_t* a, int n) {
  return zyl::matchlib::array_variance_i32(a, n);
}
ZYL_API int array_variance_u8(const uint8_t* a, int n) {
  return zyl::matchlib::array_variance_u8(a, n);
}
ZYL_API int array_kurtosis_u8(const uint8_t* a, int n) {
  return zyl::matchlib::array_kurtosis_u8(a, n);
}
ZYL_API int array_skewness_u8(const uint8_t* a, int n) {
  return zyl::matchlib::array_skewness_u8(a, n);
}
ZYL_API int array_circular_mean_u8(const uint8_t* in, int n, int r, uint8_t* out) {
  return zyl::matchlib::array_circular_mean_u8(in, n, r, out);
}
ZYL_API int array_circular_detrend_u8(const uint8_t* in, int n, int r, uint8_t* out) {
  return zyl::matchlib::array_circular_detrend_u8(in, n, r, out);
}
ZYL_API void array_sort_i32(int32_t* a, int n) { zyl::matchlib::array_sort_i32(a, n); }
ZYL_API int otsu_threshold_u8(const uint8_t* a, int n) {
  return zyl::matchlib::otsu_threshold_u8(a, n);
}

}  // extern "C"
