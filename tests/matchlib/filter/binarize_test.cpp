// Binarisers: block percentiles in byte and bit form, global mean,
// directional line mean, centre-surround planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_binarize.h"
#include "zylscan/matchlib_object.h"

namespace {

TEST(BlockPercentile, ThresholdsFromTheTable) {
  struct Case {
    const char* name;
    int low, high;  // block pixels: first half low, second half high
    int pixel;      // a probe value written at pixel (5, 5)
    uint8_t first;  // expected first output there
  };
  const Case cases[] = {
      {"all equal: threshold is the value, nothing below", -20, -20, -20, 1},
      {"half -50 half 50 at 47 %: threshold -50", -50, 50, -50, 1},
      {"a probe below the threshold is dark", -50, 50, -51, 0},
  };
  for (const auto& c : cases) {
    const int h = 24, w = 24, block = 12;
    std::vector<int8_t> grey(h * w);
    for (int i = 0; i < h * w; ++i) grey[i] = static_cast<int8_t>((i % 2) ? c.high : c.low);
    grey[5 * w + 5] = static_cast<int8_t>(c.pixel);
    std::vector<uint8_t> first(h * w), second(h * w);
    ASSERT_EQ(binarize_blocks_percentile(grey.data(), nullptr, h, w, nullptr, block, 47,
                                         first.data(), second.data()),
              ML_OK)
        << c.name;
    EXPECT_EQ(first[5 * w + 5], c.first) << c.name;
    for (int i = 0; i < h * w; ++i) ASSERT_EQ(first[i] + second[i], 1) << c.name;
  }
}

TEST(BlockPercentile, UncoveredPixelsAndMaskedBlocksStayOneInBoth) {
  const int h = 30, w = 30, block = 12;
  std::mt19937 rng(1);
  std::vector<int8_t> grey(h * w);
  for (auto& g : grey) g = static_cast<int8_t>(rng());
  const uint8_t mask[4] = {1, 0, 1, 1};
  std::vector<uint8_t> first(h * w), second(h * w);
  ASSERT_EQ(binarize_blocks_percentile(grey.data(), nullptr, h, w, mask, block, 47, first.data(),
                                       second.data()),
            ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool uncovered = y >= 24 || x >= 24 || (y < 12 && x >= 12);
      const int i = y * w + x;
      if (uncovered) {
        ASSERT_EQ(first[i], 1) << y << "," << x;
        ASSERT_EQ(second[i], 1) << y << "," << x;
      } else {
        ASSERT_EQ(first[i] + second[i], 1) << y << "," << x;
      }
    }
  // Smaller than one block: both outputs all 1.
  ASSERT_EQ(binarize_blocks_percentile(grey.data(), nullptr, 11, 30, nullptr, block, 47,
                                       first.data(), second.data()),
            ML_OK);
  for (int i = 0; i < 11 * 30; ++i) ASSERT_EQ(first[i] & second[i], 1);
  EXPECT_EQ(binarize_blocks_percentile(grey.data(), nullptr, h, w, nullptr, 0, 47, first.data(),
                                       second.data()),
            ML_BAD_ARGUMENT);
}

TEST(BlockPercentile, BlockOfOnePixelComparesWithTheBinomialMean) {
  const int h = 6, w = 7;
  std::mt19937 rng(2);
  std::vector<int8_t> grey(h * w);
  for (auto& g : grey) g = static_cast<int8_t>(int(rng() % 200) - 100);
  std::vector<uint8_t> first(h * w), second(h * w);
  ASSERT_EQ(binarize_blocks_percentile(grey.data(), nullptr, h, w, nullptr, 1, 47, first.data(),
                                       second.data()),
            ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int s = 0, n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (y + dy < 0 || y + dy >= h || x + dx < 0 || x + dx >= w) continue;
          const int k = (dy ? 1 : 2) * (dx ? 1 : 2);
          s += k * grey[(y + dy) * w + x + dx];
          n += k;
        }
      ASSERT_EQ(first[y * w + x], grey[y * w + x] < s / n ? 0 : 1) << y << "," << x;
    }
}

TEST(BlockPercentileBits, SamplesAndHalfwayPointsAgainstOneThreshold) {
  // Every block holds the same values, so every smoothed threshold is the
  // same: the block's 47 % level.
  const int h = 8, w = 10, block = 4;
  std::vector<int8_t> grey(h * w);
  const int8_t pattern[16] = {-90, 40, -10, 70, 5, -60, 30, -5, 100, -100, 0, 20, -30, 60, -70, 10};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) grey[y * w + x] = pattern[(y % 4) * 4 + x % 4];
  // 47 % of 16 pixels: the 8th smallest value reaches 50 %.
  std::vector<int> sorted(pattern, pattern + 16);
  std::sort(sorted.begin(), sorted.end());
  const int t = sorted[7];
  std::vector<uint8_t> pixel_mask(h * w, 1), block_mask(4, 1);
  pixel_mask[1 * w + 4] = 0;
  const int stride = (2 * w + 7) / 8;
  for (int polarity : {1, 0}) {
    std::vector<uint8_t> planes(2 * h * stride);
    ASSERT_EQ(binarize_blocks_percentile_bits(grey.data(), pixel_mask.data(), h, w,
                                              block_mask.data(), block, 47, planes.data(),
                                              polarity),
              ML_OK);
    auto p = [&](int y, int x) { return int{grey[std::min(y, h - 1) * w + std::min(x, w - 1)]}; };
    auto bit = [&](int row, int pos) { return (planes[row * stride + pos / 8] >> (pos % 8)) & 1; };
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 8; ++x) {  // columns of whole groups of four
        if (!pixel_mask[y * w + (x & ~3)]) {
          EXPECT_EQ(bit(2 * y, 2 * x), 1);
          EXPECT_EQ(bit(2 * y + 1, 2 * x + 1), 1);
          continue;
        }
        const int expect[4] = {p(y, x) < t, ((p(y, x) + p(y, x + 1)) >> 1) < t,
                               ((p(y, x) + p(y + 1, x)) >> 1) < t,
                               ((p(y, x) + p(y, x + 1) + p(y + 1, x) + p(y + 1, x + 1)) >> 2) < t};
        const int got[4] = {bit(2 * y, 2 * x), bit(2 * y, 2 * x + 1), bit(2 * y + 1, 2 * x),
                            bit(2 * y + 1, 2 * x + 1)};
        for (int k = 0; k < 4; ++k)
          ASSERT_EQ(got[k], polarity ? expect[k] : 1 - expect[k])
              << "polarity " << polarity << " at " << y << "," << x << " sample " << k;
      }
  }
}

TEST(BlockPercentileBits, RowsBelowTheLastBlockKeepEveryBit) {
  const int h = 7, w = 5, block = 3;  // 2 x 1 blocks, row 6 and columns 3, 4 uncovered
  std::vector<int8_t> grey(h * w, 0);
  std::vector<uint8_t> pixel_mask(h * w, 1), block_mask(2, 1);
  const int stride = (2 * w + 7) / 8;
  std::vector<uint8_t> planes(2 * h * stride);
  ASSERT_EQ(binarize_blocks_percentile_bits(grey.data(), pixel_mask.data(), h, w,
                                            block_mask.data(), block, 47, planes.data(), 1),
            ML_OK);
  for (int r = 12; r < 14; ++r)
    for (int b = 0; b < stride; ++b) EXPECT_EQ(planes[r * stride + b], 0xFF);
  EXPECT_EQ(planes[0], 0) << "equal pixels are not below their threshold";
}

TEST(MeanInterp, UniformBlocksGiveOneThresholdAndLowQualityPixelsStay) {
  // Every block holds -40 and 40 alike, so every threshold is 0 and each
  // pixel of quality above 15 is decided against 0.
  const int h = 16, w = 16, block = 4;
  std::vector<int8_t> grey(h * w);
  std::vector<uint8_t> quality(h * w, 200);
  for (int i = 0; i < h * w; ++i) grey[i] = static_cast<int8_t>(i % 2 ? 40 : -40);
  quality[5] = 15;
  // Block (1, 1) has no usable pixel: it takes its neighbours' mean, 0.
  for (int y = 4; y < 8; ++y)
    for (int x = 4; x < 8; ++x) quality[y * w + x] = 0;
  std::vector<uint8_t> first(h * w), second(h * w);
  ASSERT_EQ(binarize_blocks_mean_interp(grey.data(), quality.data(), h, w, block, first.data(),
                                        second.data()),
            ML_OK);
  for (int i = 0; i < h * w; ++i) {
    if (quality[i] <= 15) {
      EXPECT_EQ(first[i] & second[i], 1) << i;
      continue;
    }
    EXPECT_EQ(first[i], grey[i] < 0 ? 0 : 1) << i;
    EXPECT_EQ(second[i], grey[i] < 0 ? 1 : 0) << i;
  }
  EXPECT_EQ(binarize_blocks_mean_interp(grey.data(), quality.data(), 7, 16, block, first.data(),
                                        second.data()),
            ML_BAD_ARGUMENT);
}

TEST(GlobalMean, OnlyQualityPixelsTakePart) {
  const std::vector<int8_t> grey{-100, -10, 10, 30, 120, -128};
  const std::vector<uint8_t> quality{16, 16, 16, 16, 15, 0};
  std::vector<uint8_t> first(6), second(6);
  ASSERT_EQ(binarize_global_mean(grey.data(), quality.data(), 2, 3, first.data(), second.data()),
            ML_OK);
  // Mean of -100, -10, 10, 30 = -17 (toward zero).
  EXPECT_EQ(first, (std::vector<uint8_t>{0, 1, 1, 1, 1, 1}));
  EXPECT_EQ(second, (std::vector<uint8_t>{1, 0, 0, 0, 1, 1}));
}

TEST(DirectionalMean, ComparesWithTheLineMeanAndClearsMaskedBlocks) {
  // Horizontal ridges (direction 0): a line along the row sees its own row.
  const int h = 8, w = 8;
  std::vector<int8_t> grey(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) grey[y * w + x] = static_cast<int8_t>((y % 2 ? 40 : -40) + x);
  std::vector<uint8_t> dirs(h * w, 0), lens(h * w, 4), mask{1, 1, 1, 0};
  std::vector<uint8_t> first(h * w), second(h * w);
  ASSERT_EQ(binarize_directional_mean(grey.data(), h, w, dirs.data(), lens.data(), mask.data(), 2,
                                      2, 4, first.data(), second.data()),
            ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      if (y >= 4 && x >= 4) {
        EXPECT_EQ(first[i] & second[i], 1);
        continue;
      }
      int s = 0, n = 0;
      for (int k = -2; k <= 2; ++k)
        if (x + k >= 0 && x + k < w) s += grey[y * w + x + k], ++n;
      EXPECT_EQ(first[i], grey[i] < s / n ? 0 : 1) << y << "," << x;
      EXPECT_EQ(first[i] + second[i], 1);
    }
  // Direction 64 runs down the column: the alternating rows average out.
  std::fill(dirs.begin(), dirs.end(), 64);
  ASSERT_EQ(binarize_directional_mean(grey.data(), h, w, dirs.data(), lens.data(), mask.data(), 2,
                                      2, 4, first.data(), second.data()),
            ML_OK);
  EXPECT_EQ(first[2 * w + 3], 0) << "an even row lies below its column mean";
  EXPECT_EQ(first[3 * w + 3], 1);
}

TEST(CenterSurround, EveryPixelSetsExactlyOnePlane) {
  const int h = 14, w = 13;
  std::mt19937 rng(4);
  std::vector<int16_t> img(h * w);
  for (auto& v : img) v = static_cast<int16_t>(int(rng() % 2000) - 1000);
  std::vector<uint16_t> scale(h * w);
  for (auto& s : scale) s = (rng() & 1) ? 100 : 3000;
  const int stride = (w + 7) / 8;
  std::vector<uint8_t> a(h * stride, 0x5A), b(h * stride, 0xA5);
  ASSERT_EQ(binarize_center_surround_bits_s16(img.data(), h, w, scale.data(), a.data(), b.data()),
            ML_OK);
  auto at = [&](int y, int x) { return int{img[y * w + x]}; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int ba = (a[y * stride + x / 8] >> (7 - x % 8)) & 1;
      const int bb = (b[y * stride + x / 8] >> (7 - x % 8)) & 1;
      ASSERT_EQ(ba + bb, 1) << y << "," << x;
      int expect_b = 0;
      if (scale[y * w + x] <= 2303 && y >= 2 && x >= 2 && y < h - 2 && x < w - 2) {
        int c = 0, ring = 0;
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx)
            (std::abs(dy) <= 1 && std::abs(dx) <= 1 ? c : ring) += at(y + dy, x + dx);
        expect_b = 16 * c - 9 * ring >= 1;
      }
      if (scale[y * w + x] > 2303 && x >= 5 && x < w - 5 && y >= 5 && y <= h - 6) {
        int c = at(y, x), ring = 0;
        for (auto [dy, dx] : {std::pair{-1, -2}, {-1, 2}, {1, -2}, {1, 2}, {-2, -1}, {-2, 1},
                              {2, -1}, {2, 1}})
          c += at(y + dy, x + dx);
        for (auto [dy, dx] : {std::pair{-5, -2}, {-5, 0}, {-5, 2}, {5, -2}, {5, 0}, {5, 2},
                              {-2, -5}, {0, -5}, {2, -5}, {-2, 5}, {0, 5}, {2, 5}, {-4, -4},
                              {-4, 4}, {4, -4}, {4, 4}})
          ring += at(y + dy, x + dx);
        expect_b = 16 * c - 9 * ring >= 1;
      }
      ASSERT_EQ(bb, expect_b) << y << "," << x;
    }
}

}  // namespace
