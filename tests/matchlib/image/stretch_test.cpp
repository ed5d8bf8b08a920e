// Percentile levels, stretches and the recursive equalisation.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_stretch.h"

namespace {

TEST(PercentileRange, LevelsFromTheTable) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> bins;  // level, count
    int percent;
    int low, high;
  };
  const Case cases[] = {
      {"flat at 100: low moves down", {{100, 50}}, 1, 99, 100},
      {"all zero: 0 and 1", {{0, 50}}, 1, 0, 1},
      {"spread", {{10, 10}, {20, 80}, {200, 10}}, 5, 10, 200},
      // t = 10: neither outer bin exceeds it, both scans stop at 20 and low moves down.
      {"10 % cut on each side", {{10, 10}, {20, 80}, {200, 10}}, 10, 19, 20},
  };
  for (const auto& c : cases) {
    int32_t hist[256] = {};
    for (auto [level, count] : c.bins) hist[level] = count;
    uint8_t low = 77, high = 77;
    hist_percentile_range(hist, c.percent, &low, &high);
    EXPECT_EQ(low, c.low) << c.name;
    EXPECT_EQ(high, c.high) << c.name;
  }
  int32_t hist[256] = {};
  hist[5] = 3;
  uint8_t low = 77, high = 77;
  hist_percentile_range(hist, 100, &low, &high);
  EXPECT_EQ(low, 77) << "nothing written at 100 %";
  std::vector<uint8_t> img{0, 10, 20, 255};
  imgstat_percentile_range(img.data(), 2, 2, 0, &low, &high);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, 255);
}

TEST(PercentileStretch, RefusesPercentagesWhoseLevelsMeet) {
  std::mt19937 rng(4);
  std::vector<uint8_t> img(64);
  for (auto& p : img) p = static_cast<uint8_t>(rng());
  const uint8_t mask[] = {1};
  for (int percent : {50, 60, 99}) {
    std::vector<uint8_t> out(64, 7);
    EXPECT_EQ(imgproc_stretch_percentile(img.data(), 8, 8, percent, out.data()), ML_BAD_ARGUMENT);
    EXPECT_EQ(imgproc_stretch_percentile_below(img.data(), 8, 8, percent, 250, out.data()),
              ML_BAD_ARGUMENT);
    EXPECT_EQ(imgproc_stretch_percentile_masked(img.data(), 8, 8, percent, mask, 1, 1, 8,
                                                out.data()),
              ML_BAD_ARGUMENT);
    EXPECT_EQ(out, std::vector<uint8_t>(64, 7)) << percent;
  }
  std::vector<uint8_t> out(64);
  ASSERT_EQ(imgproc_stretch_percentile(img.data(), 8, 8, 49, out.data()), ML_OK);
  EXPECT_NE(out, std::vector<uint8_t>(64, 0));
}

TEST(PercentileStretch, MapsBetweenTheLevels) {
  std::vector<uint8_t> flat(16, 100), out(16);
  ASSERT_EQ(imgproc_stretch_percentile(flat.data(), 4, 4, 1, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(16, 255));
  std::vector<uint8_t> zeros(16, 0);
  ASSERT_EQ(imgproc_stretch_percentile(zeros.data(), 4, 4, 1, out.data()), ML_OK);
  EXPECT_EQ(out, zeros);
  std::mt19937 rng(3);
  std::vector<uint8_t> img(64);
  for (auto& p : img) p = static_cast<uint8_t>(rng());
  out.resize(64);
  ASSERT_EQ(imgproc_stretch_percentile(img.data(), 8, 8, 100, out.data()), ML_OK);
  EXPECT_EQ(out, img) << "100 % leaves the image as it is";
  // In place against a computed reference at 5 %.
  uint8_t low, high;
  imgstat_percentile_range(img.data(), 8, 8, 5, &low, &high);
  auto in_place = img;
  ASSERT_EQ(imgproc_stretch_percentile(in_place.data(), 8, 8, 5, in_place.data()), ML_OK);
  for (int i = 0; i < 64; ++i) {
    const int x = img[i];
    const int expect = x > low ? std::min(255, (x - low) * 255 / (high - low)) : 0;
    ASSERT_EQ(in_place[i], expect) << i;
  }
}

TEST(PercentileStretch, BelowFormIgnoresBrightLevels) {
  // 90 pixels spread over 0..89, ten at 253: with cut-off 250 the bright
  // ones take no part and come out 255.
  std::vector<uint8_t> img(100);
  for (int i = 0; i < 90; ++i) img[i] = static_cast<uint8_t>(i);
  for (int i = 90; i < 100; ++i) img[i] = 253;
  std::vector<uint8_t> out(100);
  ASSERT_EQ(imgproc_stretch_percentile_below(img.data(), 10, 10, 1, 250, out.data()), ML_OK);
  EXPECT_EQ(out[95], 255);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[89], 255) << "the top level below the cut-off reaches 255";
  EXPECT_LT(out[45], 255);
}

TEST(PercentileStretch, MaskedFormCountsOnlyMaskedBlocks) {
  // Left block bright 200..215, right block dark 0..15; only the right one
  // counts, so every bright pixel saturates.
  std::vector<uint8_t> img(4 * 8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) img[y * 8 + x] = static_cast<uint8_t>(x < 4 ? 200 + y * 4 + x : y * 4 + x - 4);
  const uint8_t mask[2] = {0, 1};
  std::vector<uint8_t> out(32);
  ASSERT_EQ(imgproc_stretch_percentile_masked(img.data(), 4, 8, 1, mask, 1, 2, 4, out.data()),
            ML_OK);
  for (int y = 0; y < 4; ++y) EXPECT_EQ(out[y * 8], 255);
  EXPECT_EQ(out[4], 0);
  // A block grid reaching past the image is clipped, not read past it.
  const uint8_t all[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(imgproc_stretch_percentile_masked(img.data(), 4, 8, 1, all, 3, 3, 4, out.data()),
            ML_OK);
}

TEST(LinearStretches, RangeBetweenAndMinMax) {
  std::vector<uint8_t> img{0, 10, 50, 90, 200, 255};
  std::vector<uint8_t> out(6);
  ASSERT_EQ(imgproc_stretch_range(img.data(), 1, 6, 10, 90, 0, 255, out.data()), ML_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 127, 255, 255, 255}));
  ASSERT_EQ(imgproc_stretch_range(img.data(), 1, 6, 10, 90, 8, 100, out.data()), ML_OK);
  EXPECT_EQ(out[0], 8 * 100 / 80) << "pixels at or below low take the fill";
  EXPECT_EQ(imgproc_stretch_range(img.data(), 1, 6, 90, 90, 0, 255, out.data()), ML_BAD_ARGUMENT);
  ASSERT_EQ(imgproc_stretch_between(img.data(), 1, 6, 10, 90, out.data()), ML_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 127, 255, 255, 255}));

  std::vector<int8_t> s{-10, 0, 10}, s_out(3);
  ASSERT_EQ(imgproc_stretch_minmax_s8(s.data(), 1, 3, s_out.data()), ML_OK);
  EXPECT_EQ(s_out, (std::vector<int8_t>{-128, -1, 127}));
  std::vector<uint16_t> u{100, 150, 200}, u_out(3);
  ASSERT_EQ(imgproc_stretch_minmax_u16(u.data(), 1, 3, u_out.data()), ML_OK);
  EXPECT_EQ(u_out, (std::vector<uint16_t>{0, 32767, 65535}));
  std::vector<int16_t> v{-5, -5}, v_out(2);
  ASSERT_EQ(imgproc_stretch_minmax_s16(v.data(), 1, 2, v_out.data()), ML_OK);
  EXPECT_EQ(v_out, v) << "a flat image is copied";
  std::vector<int16_t> w{-5, 5}, w_out(2);
  ASSERT_EQ(imgproc_stretch_minmax_s16(w.data(), 1, 2, w_out.data()), ML_OK);
  EXPECT_EQ(w_out, (std::vector<int16_t>{-32768, 32767}));
}

TEST(Equalize, RecursiveMeanSplitsSetOneBitPerLevel) {
  std::vector<uint8_t> two{0, 0, 200, 200}, out(4);
  ASSERT_EQ(imgproc_equalize_recursive(two.data(), 2, 2, out.data()), ML_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 0}));
  // Levels 0, 100, 200, 200: the first mean, 166, gives 200 bit 7; the
  // lower half's mean is 100 itself and the upper half's 200 itself, so no
  // other bit is set at these levels.
  std::vector<uint8_t> three{0, 100, 200, 200}, o3(4);
  ASSERT_EQ(imgproc_equalize_recursive(three.data(), 2, 2, o3.data()), ML_OK);
  EXPECT_EQ(o3[0], 0);
  EXPECT_EQ(o3[1], 0);
  EXPECT_EQ(o3[2], 128);
  std::mt19937 rng(9);
  std::vector<uint8_t> img(400), eq(400);
  for (auto& p : img) p = static_cast<uint8_t>(rng() % 256);
  ASSERT_EQ(imgproc_equalize_recursive(img.data(), 20, 20, eq.data()), ML_OK);
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(eq[i] % 4, 0);
    for (int j = 0; j < 400; ++j)
      if (img[i] < img[j]) {
        ASSERT_LE(eq[i], eq[j]) << "the mapping keeps the order";
      }
  }
}

}  // namespace
