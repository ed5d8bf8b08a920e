// Histograms and their statistics, point-wise maps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_histogram.h"

namespace {

std::vector<int32_t> hist_of(std::initializer_list<int> values) {
  std::vector<int32_t> h(256, 0);
  for (int v : values) ++h[v];
  return h;
}

TEST(Histogram, BuildsCountsForEachPixelType) {
  const uint8_t u[6] = {0, 255, 7, 7, 7, 128};
  int32_t h[256];
  hist_build_u8(u, 2, 3, h);
  EXPECT_EQ(h[7], 3);
  EXPECT_EQ(h[0] + h[255] + h[128], 3);
  const int8_t s[3] = {-128, 0, 127};
  hist_build_s8(s, 1, 3, h);
  EXPECT_EQ(h[0], 1);
  EXPECT_EQ(h[128], 1);
  EXPECT_EQ(h[255], 1);
  int32_t small[16];
  hist_build_bits_u8(u, 2, 3, 4, small);
  EXPECT_EQ(small[0], 4);  // 0 and three 7s
  EXPECT_EQ(small[15], 1);
  EXPECT_EQ(small[8], 1);
}

TEST(Histogram, StatisticsKnownAnswers) {
  EXPECT_EQ(hist_mean(hist_of({10, 13}).data()), 11);
  const auto h = hist_of({0, 10});
  EXPECT_EQ(hist_variance(h.data(), 5), 25u);
  EXPECT_EQ(hist_variance_x16(h.data(), 5), 400);
  EXPECT_EQ(hist_stddev(h.data(), 5), 5);
  EXPECT_EQ(hist_stddev_x4(h.data(), 5), 20u);
  // An empty histogram gives 0 everywhere.
  const std::vector<int32_t> empty(256, 0);
  EXPECT_EQ(hist_mean(empty.data()), 0);
  EXPECT_EQ(hist_variance(empty.data(), 3), 0u);
  EXPECT_EQ(hist_variance_x16(empty.data(), 3), 0);
  EXPECT_EQ(hist_stddev(empty.data(), 3), 0);
  EXPECT_EQ(hist_stddev_x4(empty.data(), 3), 0u);
}

TEST(Histogram, LargeVariancesKeepTheirTrueDeviation) {
  // Half 0, half 255 around 0: variance 32512, deviation 180.
  std::vector<int32_t> h(256, 0);
  h[0] = 500000;
  h[255] = 500000;
  EXPECT_EQ(hist_variance(h.data(), 0), 32512u);
  EXPECT_EQ(hist_stddev(h.data(), 0), 180);
  EXPECT_EQ(hist_stddev_x4(h.data(), 0), 721u);  // 4 * 180.31, rounded
  // 16 x variance above the 2^28 limit divides by count / 16 (62500):
  // 32512500000 / 62500 = 520200, cut to 16 bits.
  EXPECT_EQ(hist_variance_x16(h.data(), 0), static_cast<uint16_t>(520200u));
}

TEST(Histogram, ImageVarianceAndDeviationAroundHistogramMean) {
  std::mt19937 rng(4);
  std::vector<uint8_t> img(37 * 29);
  for (auto& p : img) p = static_cast<uint8_t>(rng() % 256);
  int64_t s = 0;
  for (auto p : img) s += p;
  const int mean = static_cast<int>(s / static_cast<int64_t>(img.size()));
  int64_t v = 0;
  for (auto p : img) v += (p - mean) * (p - mean);
  const uint16_t variance = static_cast<uint16_t>(v / static_cast<int64_t>(img.size()));
  uint8_t m = 0;
  EXPECT_EQ(img_variance_hist_u8(img.data(), 37, 29, &m), variance);
  EXPECT_EQ(m, mean);
  EXPECT_EQ(img_stddev_hist_u8(img.data(), 37, 29, nullptr), static_cast<int>(std::sqrt(variance)));
}

TEST(PointMaps, InvertAndTests) {
  const uint8_t src[4] = {0, 1, 200, 255};
  uint8_t out[4];
  img_invert_u8(src, 2, 2, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{255, 254, 55, 0}));
  bilevel_invert(src, 2, 2, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{1, 0, 0, 0}));
  map_not_equal_u8(src, 2, 2, 200, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{1, 1, 0, 1}));
  uint8_t untouched[4] = {7, 7, 7, 7};
  img_invert_u8(src, 0, 4, untouched);
  img_invert_u8(src, -2, 2, untouched);
  EXPECT_EQ(untouched[0], 7);
}

}  // namespace
