// Cross median, single-pixel 3x3 median, smoothing along a direction map
// and the bilateral filter.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_noise_filters.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/histogram.h"

namespace zyl::matchlib {
namespace {

template <class T>
int cross_median(const T* src, std::uint32_t h, std::uint32_t w, T* dst) {
  // Every pixel needs a second row and column for its neighbours.
  if (!src || !dst || h < 2 || w < 2) return ML_BAD_ARGUMENT;
  RollingRows<T> rows(src, w, 1, same_buffer(src, dst));
  if (!rows.ok()) return ML_NO_MEMORY;
  for (std::uint32_t r = 0; r < h; ++r) {
    rows.enter(r);
    const T* up = r ? rows.row(r - 1) : nullptr;
    const T* mid = rows.row(r);
    const T* down = r + 1 < h ? rows.row(r + 1) : nullptr;
    T* out = dst + static_cast<std::size_t>(r) * w;
    for (std::uint32_t c = 0; c < w; ++c) {
      T v[5];
      int n = 0;
      v[n++] = mid[c];
      if (up) v[n++] = up[c];
      if (down) v[n++] = down[c];
      if (c > 0) v[n++] = mid[c - 1];
      if (c + 1 < w) v[n++] = mid[c + 1];
      if (n == 5)
        out[c] = median5(v[0], v[1], v[2], v[3], v[4]);
      else if (n == 4)
        out[c] = middle_pair_mean(v, 4);
      else
        out[c] = median3(v[0], v[1], v[2]);
    }
  }
  return ML_OK;
}

// Orientation class 0..7 of a direction (only the half turn counts).
inline int direction_class(std::uint8_t dir) {
  const int n = dir > 128 ? dir - 128 : dir;
  if (n >= 120) return 0;
  if (n >= 104) return 7;
  return (n + 8) >> 4;
}

struct Offset {
  std::int8_t dr, dc;
};

constexpr Offset kMedian5Offsets[8][4] = {
    {{-2, 0}, {-1, 0}, {1, 0}, {2, 0}},     {{-2, 1}, {-1, 0}, {1, 0}, {2, -1}},
    {{-2, 2}, {-1, 1}, {1, -1}, {2, -2}},   {{-1, 2}, {0, 1}, {0, -1}, {1, -2}},
    {{0, -2}, {0, -1}, {0, 1}, {0, 2}},     {{-1, -2}, {0, -1}, {0, 1}, {1, 2}},
    {{-2, -2}, {-1, -1}, {1, 1}, {2, 2}},   {{-2, -1}, {-1, 0}, {1, 0}, {2, 1}},
};

constexpr Offset kMean9Offsets[8][8] = {
    {{-3, 0}, {-2, 0}, {-1, 0}, {1, 0}, {2, 0}, {3, 0}, {0, -1}, {0, 1}},
    {{-3, 1}, {-2, 1}, {-1, 1}, {-1, 0}, {1, 0}, {1, -1}, {2, -1}, {3, -1}},
    {{-2, 2}, {-1, 1}, {-1, 0}, {0, -1}, {0, 1}, {1, 0}, {1, -1}, {2, -2}},
    {{-1, 3}, {-1, 2}, {-1, 1}, {0, 1}, {0, -1}, {1, -1}, {1, -2}, {1, -3}},
    {{0, -3}, {0, -2}, {0, -1}, {0, 1}, {0, 2}, {0, 3}, {-1, 0}, {1, 0}},
    {{-1, -3}, {-1, -2}, {-1, -1}, {0, -1}, {0, 1}, {1, 1}, {1, 2}, {1, 3}},
    {{-2, -2}, {-1, -1}, {-1, 0}, {0, -1}, {0, 1}, {1, 0}, {1, 1}, {2, 2}},
    {{-3, -1}, {-2, -1}, {-1, -1}, {-1, 0}, {1, 0}, {1, 1}, {2, 1}, {3, 1}},
};

// Runs `value(rows, r, c, class)` on every pixel at least `border` pixels
// inside the image, keeping copies of the rows above so dst may be src.
template <class Value>
int directional(const std::uint8_t* src, std::uint32_t h, std::uint32_t w,
                const std::uint8_t* dirs, std::uint8_t* dst, std::uint32_t border, Value value) {
  if (!src || !dirs || !dst) return ML_BAD_ARGUMENT;
  RollingRows<std::uint8_t> rows(src, w, border, same_buffer(src, dst));
  if (!rows.ok()) return ML_NO_MEMORY;
  if (h < 2 * border + 1 || w < 2 * border + 1) return ML_OK;  // too small: nothing written
  for (std::uint32_t r = 0; r < border; ++r) rows.enter(r);  // rows read above the first output
  for (std::uint32_t r = border; r + border < h; ++r) {
    rows.enter(r);
    std::uint8_t* out = dst + static_cast<std::size_t>(r) * w;
    const std::uint8_t* dir_row = dirs + static_cast<std::size_t>(r) * w;
    for (std::uint32_t c = border; c + border < w; ++c)
      out[c] = value(rows, r, c, direction_class(dir_row[c]));
  }
  return ML_OK;
}

// Gaussian weights of standard deviation 85 on the 0..255 scale:
// T[i] = round(255 * exp(-i^2 / (2 * 85^2))).
const std::array<std::uint8_t, 256>& bilateral_weights() {
  static const std::array<std::uint8_t, 256> table = [] {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i)
      t[i] = static_cast<std::uint8_t>(std::lround(255.0 * std::exp(-double(i) * i / (2.0 * 85 * 85))));
    return t;
  }();
  return table;
}

int bilateral(const std::uint8_t* src, std::uint32_t h, std::uint32_t w, std::uint32_t radius,
              const std::uint8_t* guide, std::uint8_t* dst) {
  if (!src || !dst || h > INT32_MAX || w > INT32_MAX) return ML_BAD_ARGUMENT;
  const std::size_t n = pixel_count(h, w);
  Scratch<std::uint8_t> copy, guide_copy;
  if (guide && guide == dst && guide != src) {  // the output would overwrite the guide
    guide_copy = Scratch<std::uint8_t>(n);
    if (!guide_copy) return ML_NO_MEMORY;
    std::memcpy(guide_copy.get(), guide, n);
    guide = guide_copy.get();
  }
  if (src == dst) {
    copy = Scratch<std::uint8_t>(n);
    if (!copy) return ML_NO_MEMORY;
    std::memcpy(copy.get(), src, n);
    if (guide == src) guide = copy.get();
    src = copy.get();
  }
  if (!guide) guide = src;
  if (radius == 0 || n == 0) {
    std::memmove(dst, src, n);
    return ML_OK;
  }
  const auto& T = bilateral_weights();
  const int c =
      std::min(255, 6 * int{zyl::matchlib::img_stddev_hist_u8(guide, int(h), int(w), nullptr)});
  const std::int64_t r = radius, rr = r * r;
  for (std::int64_t y = 0; y < h; ++y)
    for (std::int64_t x = 0; x < w; ++x) {
      const int t = guide[y * w + x];
      // 64-bit sums: no radius overflows them.
      std::uint64_t wsum = 0, sum = 0;
      for (std::int64_t m = std::max<std::int64_t>(0, y - r); m <= std::min<std::int64_t>(h - 1, y + r); ++m)
        for (std::int64_t k = std::max<std::int64_t>(0, x - r); k <= std::min<std::int64_t>(w - 1, x + r); ++k) {
          const int b = std::abs(guide[m * w + k] - t);
          const std::int64_t q = (m - y) * (m - y) + (k - x) * (k - x);
          if (b > c || q > rr) continue;
          const std::uint32_t d = zyl::matchlib::fx_isqrt30_round(
              static_cast<std::uint32_t>((q * 65025 + rr / 2) / rr));
          // A flat guide (c = 0) keeps only equal samples, at range index 0.
          const int e = c ? (b * 255 + c / 2) / c : 0;
          const std::uint32_t weight = std::uint32_t{T[e]} * T[std::min<std::uint32_t>(d, 255)];
          wsum += weight;
          sum += std::uint64_t{weight} * src[m * w + k];
        }
      dst[y * w + x] = wsum ? static_cast<std::uint8_t>(sum / wsum) : src[y * w + x];
    }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

#define ZYL_CROSS_MEDIAN(suffix, T)                                                            \
  ZYL_API int filter_cross_median_##suffix(const T* src, uint32_t height, uint32_t width,      \
                                           T* dst) {                                           \
    return cross_median<T>(src, height, width, dst);                                           \
  }
ZYL_CROSS_MEDIAN(u8, uint8_t)
ZYL_CROSS_MEDIAN(u16, uint16_t)
ZYL_CROSS_MEDIAN(u32, uint32_t)
ZYL_CROSS_MEDIAN(s8, int8_t)
ZYL_CROSS_MEDIAN(s16, int16_t)
ZYL_CROSS_MEDIAN(s32, int32_t)
#undef ZYL_CROSS_MEDIAN

ZYL_API void img_median3x3_at_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                 uint32_t row, uint32_t column, uint8_t* dst) {
  if (!src || !dst || row < 1 || column < 1 || uint64_t{row} + 2 > height ||
      uint64_t{column} + 2 > width)
    return;
  uint8_t lo[3], mid[3], hi[3];
  for (int k = 0; k < 3; ++k) {
    const uint8_t* p = src + static_cast<std::size_t>(row - 1 + k) * width + column - 1;
    uint8_t a = p[0], b = p[1], c = p[2];
    sort2(a, b);
    sort2(b, c);
    sort2(a, b);
    lo[k] = a, mid[k] = b, hi[k] = c;
  }
  dst[static_cast<std::size_t>(row) * width + column] =
      median3(std::max({lo[0], lo[1], lo[2]}), median3(mid[0], mid[1], mid[2]),
              std::min({hi[0], hi[1], hi[2]}));
}

ZYL_API int filter_directional_median5_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                          const uint8_t* directions, uint8_t* dst) {
  return directional(src, height, width, directions, dst, 2,
                     [](const RollingRows<uint8_t>& rows, uint32_t r, uint32_t c, int k) {
                       uint8_t v[4];
                       for (int i = 0; i < 4; ++i) {
                         const Offset o = kMedian5Offsets[k][i];
                         v[i] = rows.row(r + o.dr)[c + o.dc];
                       }
                       return median5(rows.row(r)[c], v[0], v[1], v[2], v[3]);
                     });
}

ZYL_API int filter_directional_mean9_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                        const uint8_t* directions, uint8_t* dst) {
  return directional(src, height, width, directions, dst, 3,
                     [](const RollingRows<uint8_t>& rows, uint32_t r, uint32_t c, int k) {
                       int sum = rows.row(r)[c];
                       for (const Offset o : kMean9Offsets[k]) sum += rows.row(r + o.dr)[c + o.dc];
                       return static_cast<uint8_t>(sum / 9);
                     });
}

ZYL_API int filter_bilateral_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                uint32_t radius, const uint8_t* guide, uint8_t* dst) {
  return bilateral(src, height, width, radius, guide, dst);
}

}  // extern "C"
