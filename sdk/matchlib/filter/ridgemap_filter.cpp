// The ridge map's oriented block filter: smoothing with a kernel matched to
// the block's ridge period, the second difference across the ridges, and
// Otsu's threshold, so that ridges come out 0 and valleys 255.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "zylscan/matchlib_array.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_ridgemap.h"
#include "matchlib/core/array_stats.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/ridgemap_filter.h"
#include "matchlib/filter/ridgemap_orientation.h"

namespace zyl::matchlib {
namespace {

struct ProfileKernel {
  int taps[15];
  int length;
  int sum;
};

constexpr ProfileKernel kKernels[8] = {
    {{1, 8, 1}, 3, 10},
    {{1, 5, 8, 5, 1}, 5, 20},
    {{1, 2, 4, 5, 4, 2, 1}, 7, 19},
    {{1, 3, 5, 7, 8, 7, 5, 3, 1}, 9, 40},
    {{1, 2, 4, 5, 7, 8, 7, 5, 4, 2, 1}, 11, 46},
    {{1, 1, 3, 4, 6, 8, 10, 11, 10, 8, 6, 4, 3, 1, 1}, 15, 77},
    {{1, 2, 4, 5, 7, 8, 9, 10, 9, 8, 7, 5, 4, 2, 1}, 15, 82},
    {{1, 2, 2, 3, 4, 4, 5, 5, 5, 4, 4, 3, 2, 2, 1}, 15, 47},
};

constexpr int kWindow = 34, kSmoothed = 20, kBlock = 16;

int period_class(int period) {
  const int p = period < 32 ? 2 : period >> 4;
  return std::min((p - 1) >> 1, 7);
}

void filter_block(std::uint8_t* px, int h, int w, int bi, int bj, int theta, int period) {
  const std::size_t stride = static_cast<std::size_t>(w);
  const int y0 = bi * kBlock, x0 = bj * kBlock;
  const int n = (theta + 64) & 255;
  const int sn = zyl::matchlib::fx_sin256_rounded(n) >> 7,
            cn = zyl::matchlib::fx_cos256_rounded(n) >> 7;
  const int cls = period_class(period);
  const int fill = 128 * kKernels[cls].sum;
  // Rows of the window filtered along the row, then columns down.
  std::int32_t rows[kWindow][kSmoothed];
  std::int32_t line[kWindow];
  for (int r = 0; r < kWindow; ++r) {
    const int y = y0 - 9 + r;
    if (y < 0 || y >= h) {
      std::fill(rows[r], rows[r] + kSmoothed, fill);
      continue;
    }
    for (int c = 0; c < kWindow; ++c) {
      const int x = x0 - 9 + c;
      line[c] = (x >= 0 && x < w) ? px[y * stride + x] : 128;
    }
    zyl::matchlib::ridgemap_profile_smooth(line, cls, rows[r]);
  }
  std::int32_t s[kSmoothed][kSmoothed];
  std::int32_t column_out[kSmoothed];
  for (int c = 0; c < kSmoothed; ++c) {
    for (int r = 0; r < kWindow; ++r) line[r] = rows[r][c];
    zyl::matchlib::ridgemap_profile_smooth(line, cls, column_out);
    for (int r = 0; r < kSmoothed; ++r) s[r][c] = column_out[r];
  }
  std::int32_t d1[kSmoothed][kSmoothed] = {};
  for (int r = 1; r < kSmoothed - 1; ++r)
    for (int c = 1; c < kSmoothed - 1; ++c)
      d1[r][c] = static_cast<std::int32_t>(
          (std::int64_t{s[r - 1][c] - s[r + 1][c]} * sn + std::int64_t{s[r][c - 1] - s[r][c + 1]} * cn + 64) >> 7);
  std::int32_t d2[kBlock * kBlock];
  std::int64_t total = 0;
  for (int r = 0; r < kBlock; ++r)
    for (int c = 0; c < kBlock; ++c) {
      const int rr = r + 2, cc = c + 2;
      // Formed in 64 bits: the differences of large smoothed sums times the
      // Q7 factors may pass 32 bits.
      d2[r * kBlock + c] = static_cast<std::int32_t>(
          (std::int64_t{d1[rr + 1][cc] - d1[rr - 1][cc]} * sn +
           std::int64_t{d1[rr][cc + 1] - d1[rr][cc - 1]} * cn + 64) >> 7);
      total += d2[r * kBlock + c];
    }
  const std::int64_t b = total >> 8;
  std::int64_t spread = 0;
  for (const std::int32_t v : d2) spread += std::abs(v - b);
  if (spread <= 255) return;
  std::uint8_t bytes[kBlock * kBlock];
  for (int i = 0; i < kBlock * kBlock; ++i) {
    const std::int64_t v = std::abs(d2[i] - b) * 128 / (spread >> 8);
    bytes[i] = static_cast<std::uint8_t>(
        zyl::matchlib::clamp_u8(static_cast<int>(d2[i] > b ? 128 + v : 128 - v)));
  }
  zyl::matchlib::filter_smooth121_inplace_u8(bytes, kBlock, kBlock);
  const int t = zyl::matchlib::otsu_threshold_u8(bytes, kBlock * kBlock);
  for (int r = 0; r < kBlock && y0 + r < h; ++r)
    for (int c = 0; c < kBlock && x0 + c < w; ++c)
      px[(y0 + r) * stride + x0 + c] = bytes[r * kBlock + c] > t ? 255 : 0;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::ridgemap_profile_smooth(const int32_t* input, int period_class,
                                            int32_t* output) {
  if (!input || !output) return;
  const ProfileKernel& k = kKernels[std::clamp(period_class, 0, 7)];
  const int half = k.length / 2;
  for (int j = 0; j < kSmoothed; ++j) {
    int32_t sum = 0;
    for (int t = 0; t < k.length; ++t) sum += k.taps[t] * input[j + 7 - half + t];
    output[j] = sum;
  }
}

void zyl::matchlib::ridgemap_oriented_filter(uint8_t* pixels, int height, int width,
                                             const uint8_t* orientation, const uint8_t* period,
                                             int bh, int bw) {
  if (!pixels || !orientation || !period || bh < 1 || bw < 1 || height <= 0 || width <= 0)
    return;
  // Blocks past the image have no pixels to filter.
  const int rows = std::min(bh, (height + 15) / 16), cols = std::min(bw, (width + 15) / 16);
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj) {
      const int theta = orientation[bi * bw + bj];
      if (theta) filter_block(pixels, height, width, bi, bj, theta, period[bi * bw + bj]);
    }
}

extern "C" {

ZYL_API void ridgemap_profile_smooth(const int32_t* input, int period_class, int32_t* output) {
  zyl::matchlib::ridgemap_profile_smooth(input, period_class, output);
}
ZYL_API void ridgemap_oriented_filter(uint8_t* pixels, int height, int width,
                                      const uint8_t* orientation, const uint8_t* period, int bh,
                                      int bw) {
  zyl::matchlib::ridgemap_oriented_filter(pixels, height, width, orientation, period, bh, bw);
}

}  // extern "C"
