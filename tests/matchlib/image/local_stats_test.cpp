// Block and window statistics against plain references on random images,
// and the small known answers of the clipped windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_object.h"

namespace {

std::vector<uint8_t> random_image(int h, int w, unsigned seed, int lo = 0, int hi = 255) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(lo, hi);
  std::vector<uint8_t> v(static_cast<size_t>(h) * w);
  for (auto& p : v) p = static_cast<uint8_t>(d(rng));
  return v;
}

// Clipped window (sum, sum of squares, count) by direct scan.
struct Window {
  int64_t s = 0, q = 0, n = 0;
};
Window window(const std::vector<uint8_t>& img, int h, int w, int y, int x, int r) {
  Window win;
  for (int v = std::max(0, y - r); v <= std::min(h - 1, y + r); ++v)
    for (int u = std::max(0, x - r); u <= std::min(w - 1, x + r); ++u) {
      const int p = img[v * w + u];
      win.s += p;
      win.q += p * p;
      ++win.n;
    }
  return win;
}

TEST(BlockStats, MeanTruncatesPerBlock) {
  // 4 x 4 image, blocks of 2: the top-left block 1, 2, 2, 2 gives 1.
  const uint8_t img[16] = {1, 2, 10, 11, 2, 2, 12, 13, 100, 101, 255, 255, 102, 103, 255, 254};
  uint8_t out[4] = {};
  EXPECT_EQ(img_block_mean_u8(img, 4, 4, 2, 2, 2, out), ML_OK);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 11);
  EXPECT_EQ(out[2], 101);
  EXPECT_EQ(out[3], 254);
}

TEST(BlockStats, SignedMeansTruncateTowardZeroAndWideBlocksDoNotOverflow) {
  const int8_t s8[4] = {-1, -2, -2, -2};  // -7 / 4 = -1
  int8_t m8 = 0;
  EXPECT_EQ(img_block_mean_s8(s8, 2, 2, 2, 1, 1, &m8), ML_OK);
  EXPECT_EQ(m8, -1);
  const int16_t s16[4] = {-30000, -30000, -30000, -29999};
  int16_t m16 = 0;
  EXPECT_EQ(img_block_mean_s16(s16, 2, 2, 2, 1, 1, &m16), ML_OK);
  EXPECT_EQ(m16, -29999);
  // A 300 x 300 block of 65535 sums past 32 bits; its mean is still 65535.
  std::vector<uint16_t> big(300 * 300, 65535);
  uint16_t m = 0;
  EXPECT_EQ(img_block_mean_u16(big.data(), 300, 300, 300, 1, 1, &m), ML_OK);
  EXPECT_EQ(m, 65535);
}

TEST(BlockStats, MeanWithEmptyGridWritesNothing) {
  uint8_t img[4] = {9, 9, 9, 9}, out[1] = {77};
  struct Case { int n, rows, cols; } cases[] = {{2, 0, 1}, {2, 1, 0}, {0, 1, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(img_block_mean_u8(img, 2, 2, c.n, c.rows, c.cols, out), ML_OK);
    EXPECT_EQ(out[0], 77);
  }
  EXPECT_EQ(img_block_mean_u8(nullptr, 2, 2, 2, 1, 1, out), ML_BAD_ARGUMENT);
}

TEST(BlockStats, VarianceSamplesEvenOffsetsAgainstReference) {
  // Side 3 samples offsets 0 and 2 each way and divides by 4.
  const uint8_t img[9] = {10, 99, 20, 99, 99, 99, 30, 99, 40};
  const uint8_t mean = 25;
  uint16_t out = 0;
  EXPECT_EQ(img_block_variance_u8(img, 3, 3, &mean, 3, 1, 1, &out), ML_OK);
  EXPECT_EQ(out, (225 + 25 + 25 + 225) / 4);

  for (int n : {1, 2, 4, 5, 12}) {
    const int rows = 3, cols = 4, stride = cols * n + 3;
    auto img2 = random_image(rows * n + 1, stride, 40 + n);
    std::vector<uint8_t> means(rows * cols);
    std::vector<uint16_t> var(rows * cols);
    ASSERT_EQ(img_block_mean_u8(img2.data(), rows * n + 1, stride, n, rows, cols, means.data()), ML_OK);
    ASSERT_EQ(img_block_variance_u8(img2.data(), 0, stride, means.data(), n, rows, cols, var.data()), ML_OK);
    const int f = (n + 1) / 2;
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) {
        int64_t sum = 0, sq = 0;
        for (int y = 0; y < n; ++y)
          for (int x = 0; x < n; ++x) sum += img2[(i * n + y) * stride + j * n + x];
        EXPECT_EQ(means[i * cols + j], sum / (n * n));
        for (int y = 0; y < n; y += 2)
          for (int x = 0; x < n; x += 2) {
            const int d = img2[(i * n + y) * stride + j * n + x] - means[i * cols + j];
            sq += d * d;
          }
        EXPECT_EQ(var[i * cols + j], static_cast<uint16_t>(sq / (f * f))) << n << " " << i << " " << j;
      }
  }
}

TEST(BlockStats, MinMaxChecksArgumentsAndFillsOnlyGivenMaps) {
  const uint8_t img[16] = {5, 6, 7, 8, 1, 2, 3, 200, 9, 9, 9, 9, 9, 9, 9, 0};
  uint8_t lo[4], hi[4];
  EXPECT_EQ(img_block_minmax_u8(img, 4, 4, 2, 2, 2, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_block_minmax_u8(nullptr, 4, 4, 2, 2, 2, lo, hi), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_block_minmax_u8(img, 3, 4, 2, 2, 2, lo, hi), ML_BAD_ARGUMENT);  // too few rows
  EXPECT_EQ(img_block_minmax_u8(img, 4, 3, 2, 2, 2, lo, hi), ML_BAD_ARGUMENT);  // too narrow
  std::fill(lo, lo + 4, 42);
  EXPECT_EQ(img_block_minmax_u8(img, 4, 4, 2, 2, 2, nullptr, hi), ML_OK);
  EXPECT_EQ(std::vector<uint8_t>(hi, hi + 4), (std::vector<uint8_t>{6, 200, 9, 9}));
  EXPECT_EQ(lo[0], 42);
  EXPECT_EQ(img_block_minmax_u8(img, 4, 4, 2, 2, 2, lo, nullptr), ML_OK);
  EXPECT_EQ(std::vector<uint8_t>(lo, lo + 4), (std::vector<uint8_t>{1, 3, 9, 0}));
  // Signed comparison, and the start values when the block side is 0.
  const int8_t s[4] = {-100, 50, 127, -128};
  int8_t smin, smax;
  EXPECT_EQ(img_block_minmax_s8(s, 2, 2, 2, 1, 1, &smin, &smax), ML_OK);
  EXPECT_EQ(smin, -128);
  EXPECT_EQ(smax, 127);
  EXPECT_EQ(img_block_minmax_s8(s, 2, 2, 0, 1, 1, &smin, &smax), ML_OK);
  EXPECT_EQ(smin, 127);
  EXPECT_EQ(smax, -128);
}

TEST(WindowStats, BoxSumAndMeanMatchClippedReference) {
  struct Case { int h, w, r; } cases[] = {{1, 1, 0}, {5, 7, 1}, {9, 4, 2}, {13, 17, 3}, {6, 6, 9}, {3, 40, 5}};
  for (const auto& c : cases) {
    auto img = random_image(c.h, c.w, 7 * c.h + c.w);
    std::vector<int32_t> sums(img.size());
    std::vector<uint8_t> means(img.size());
    ASSERT_EQ(filter_box_sum_u8(img.data(), c.h, c.w, c.r, sums.data()), ML_OK);
    ASSERT_EQ(filter_box_mean_u8(img.data(), c.h, c.w, c.r, means.data()), ML_OK);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        const Window win = window(img, c.h, c.w, y, x, c.r);
        EXPECT_EQ(sums[y * c.w + x], win.s);
        EXPECT_EQ(means[y * c.w + x], (win.s + win.n / 2) / win.n);
      }
    // In place gives the same means.
    auto in_place = img;
    ASSERT_EQ(filter_box_mean_u8(in_place.data(), c.h, c.w, c.r, in_place.data()), ML_OK);
    EXPECT_EQ(in_place, means);
  }
}

TEST(WindowStats, BoxMeanRoundsHalfUpOverCornerAndEdgeCounts) {
  // Corner over 4 pixels: 1+1+1+2 = 5 -> (5+2)/4 = 1; edge over 6: 9 -> (9+3)/6 = 2.
  const uint8_t img[9] = {1, 1, 5, 1, 2, 0, 0, 0, 0};
  uint8_t out[9];
  ASSERT_EQ(filter_box_mean_u8(img, 3, 3, 1, out), ML_OK);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 2);  // 1+1+5+1+2+0 = 10 -> (10+3)/6 = 2
  EXPECT_EQ(out[2], 2);  // 1+5+2+0 = 8 -> (8+2)/4 = 2
}

TEST(WindowStats, LocalVarianceMatchesIntegerAndFloatReference) {
  struct Case { int h, w, r; } cases[] = {{1, 1, 0}, {8, 8, 0}, {10, 12, 1}, {21, 19, 4}, {5, 30, 3}, {7, 7, 5}, {40, 33, 7}};
  for (const auto& c : cases) {
    auto img = random_image(c.h, c.w, 3 * c.h + c.r);
    std::vector<uint16_t> out(img.size(), 0xBEEF);
    ASSERT_EQ(filter_local_variance_u8(img.data(), c.h, c.w, c.r, out.data()), ML_OK);
    std::vector<int16_t> ring(img.size(), 0x5EEF);
    ASSERT_EQ(filter_local_variance_ring_u8(img.data(), c.h, c.w, c.r, ring.data()), ML_OK);
    const int full = (2 * c.r + 1) * (2 * c.r + 1);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        const Window win = window(img, c.h, c.w, y, x, c.r);
        const int64_t exact = ((win.q * 16 - win.s * ((win.s * 16) / win.n)) / win.n) / 16;
        const bool interior = y >= c.r && y < c.h - c.r && x >= c.r && x < c.w - c.r;
        uint16_t expected = static_cast<uint16_t>(exact);
        if (interior) {
          const float e = 1.0f / static_cast<float>(full);
          const float fs = static_cast<float>(win.s), fq = static_cast<float>(win.q);
          float v = (fq - fs * fs * e) * e;
          if (v < 0) v = 0;
          expected = static_cast<uint16_t>(static_cast<uint32_t>(v));
          // The float form stays within one level of the exact variance.
          EXPECT_NEAR(expected, (win.q - win.s * win.s / static_cast<double>(full)) / full, 1.0);
        }
        EXPECT_EQ(out[y * c.w + x], expected) << c.h << "x" << c.w << " r" << c.r << " at " << y << "," << x;
        EXPECT_EQ(ring[y * c.w + x], static_cast<int16_t>(exact)) << y << "," << x;
      }
  }
}

TEST(WindowStats, LocalVarianceOfConstantImageIsZeroEverywhere) {
  std::vector<uint8_t> img(15 * 11, 173);
  for (int r : {0, 1, 4, 8}) {
    std::vector<uint16_t> out(img.size(), 1);
    ASSERT_EQ(filter_local_variance_u8(img.data(), 15, 11, r, out.data()), ML_OK);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint16_t v) { return v == 0; })) << r;
  }
}

TEST(WindowStats, RingVarianceRefusesRadiusAboveSeven) {
  std::vector<uint8_t> img(20 * 20, 3);
  std::vector<int16_t> out(img.size(), 99);
  EXPECT_EQ(filter_local_variance_ring_u8(img.data(), 20, 20, 8, out.data()), ML_BAD_ARGUMENT);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t v) { return v == 99; }));
}

TEST(WindowStats, LocalMinMaxMatchesReference) {
  auto img = random_image(11, 9, 5);
  for (int r : {0, 1, 2, 6}) {
    std::vector<uint8_t> lo(img.size()), hi(img.size());
    ASSERT_EQ(filter_local_minmax_u8(img.data(), 11, 9, r, lo.data(), hi.data()), ML_OK);
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 9; ++x) {
        int mn = 255, mx = 0;
        for (int v = std::max(0, y - r); v <= std::min(10, y + r); ++v)
          for (int u = std::max(0, x - r); u <= std::min(8, x + r); ++u) {
            mn = std::min<int>(mn, img[v * 9 + u]);
            mx = std::max<int>(mx, img[v * 9 + u]);
          }
        EXPECT_EQ(lo[y * 9 + x], mn);
        EXPECT_EQ(hi[y * 9 + x], mx);
      }
  }
}

TEST(WindowStats, AdaptiveSmoothingFollowsTheVarianceRule) {
  // A constant image stays as it is with noise level 0.
  std::vector<uint8_t> flat(12 * 10, 90), out(flat.size());
  ASSERT_EQ(filter_adaptive_smooth_u8(flat.data(), 12, 10, 0, 2, out.data()), ML_OK);
  EXPECT_EQ(out, flat);

  // Against a reference built from the same primitives.
  const int h = 16, w = 14, r = 2;
  auto img = random_image(h, w, 11, 60, 200);
  for (int noise : {-1, 0, 300, 100000}) {
    std::vector<uint8_t> smooth = img;
    for (int k = 0; k < r; ++k) {
      std::vector<uint8_t> next(smooth.size());
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          int s = 0, n = 0;
          for (int v = std::max(0, y - 1); v <= std::min(h - 1, y + 1); ++v)
            for (int u = std::max(0, x - 1); u <= std::min(w - 1, x + 1); ++u) s += smooth[v * w + u], ++n;
          next[y * w + x] = static_cast<uint8_t>(s / n);
        }
      smooth = next;
    }
    std::vector<uint16_t> var(img.size());
    ASSERT_EQ(filter_local_variance_u8(img.data(), h, w, r, var.data()), ML_OK);
    int level = noise;
    if (level < 0) {
      int64_t sum = 0;
      for (auto v : var) sum += v;
      level = static_cast<int>(sum / static_cast<int64_t>(var.size()));
    }
    std::vector<uint8_t> got(img.size());
    ASSERT_EQ(filter_adaptive_smooth_u8(img.data(), h, w, noise, r, got.data()), ML_OK);
    for (size_t k = 0; k < img.size(); ++k) {
      const int x = img[k], s = smooth[k], v = var[k], m = std::max(v, level);
      const int expected = m == 0 ? x : std::clamp(s + std::max(v - level, 0) * (x - s) / m, 0, 255);
      ASSERT_EQ(got[k], expected) << noise << " at " << k;
    }
    if (noise == 100000) {
      EXPECT_EQ(got, smooth);  // everything counts as flat
    }
  }
}

}  // namespace
