// Texture features of the learned quality model: the pattern histograms,
// the skeleton traces with their wavelet sums, bright spots and divisions,
// on small hand-made maps whose answers follow from the stored rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_texture_features.h"

namespace {

constexpr int kH = 11, kW = 11;

struct Scene {
  std::vector<std::uint8_t> px = std::vector<std::uint8_t>(kH * kW, 200);
  std::vector<std::uint8_t> map = std::vector<std::uint8_t>(kH * kW, 0);
  void set(int row, int col, std::uint8_t grey, std::uint8_t code) {
    px[row * kW + col] = grey;
    map[row * kW + col] = code;
  }
  std::vector<std::int32_t> features() {
    std::vector<std::int32_t> out(190, -7);
    texture_features_compute(px.data(), map.data(), kH, kW, out.data());
    return out;
  }
};

TEST(TextureFeatures, EmptyMapGivesZeros) {
  Scene s;
  EXPECT_EQ(s.features(), std::vector<std::int32_t>(190, 0));
}

TEST(TextureFeatures, OneDarkPixelFillsTheLastPatternClass) {
  Scene s;
  s.set(5, 5, 10, 1);
  const auto f = s.features();
  for (int i = 0; i < 72; ++i) EXPECT_EQ(f[i], (i == 35 || i == 71) ? 65535 : 0) << i;

  // On flat grey every phase sum is 0 or more: code FF, the last class.
  Scene flat;
  flat.map[5 * kW + 5] = 1;
  const auto g = flat.features();
  for (int i = 72; i < 142; ++i) EXPECT_EQ(g[i], i == 141 ? 65535 : 0) << i;
}

TEST(TextureFeatures, HistogramScalingSaturatesAboveHalf) {
  // 0x0FFFFFFF / N * c, above 0x07FFFFFF saturated, else shifted by 11.
  std::vector<std::int32_t> hist(256, 0), out(36);
  hist[0] = 1;
  hist[0xFF] = 2;
  hist[0x01] = 1;
  lbp_normalize36(hist.data(), 4, out.data());
  EXPECT_EQ(out[0], (0x0FFFFFFF / 4) >> 11);
  EXPECT_EQ(out[1], (0x0FFFFFFF / 4) >> 11);
  EXPECT_EQ(out[35], (0x0FFFFFFF / 4 * 2) >> 11);  // exactly half: not saturated
  lbp_normalize36(hist.data(), 0, out.data());
  EXPECT_EQ(out, std::vector<std::int32_t>(36, 0));
}

TEST(TextureFeatures, ThreePixelRidgeCountsAndDivisions) {
  Scene s;
  s.set(5, 4, 100, 3);
  s.set(5, 5, 120, 3);
  s.set(5, 6, 140, 3);
  const auto f = s.features();
  // Samples 3200, 3840, 4480: count[0] = 3, one level-0 output.
  EXPECT_EQ(f[142], 3840);  // 11520 / count[0]
  EXPECT_EQ(f[143], 4480);  // 3200 + 640 + 640, divided by count[1] = 1
  // Detail (-7132*3840 + 41009*3200) >> 18 = 396; count[2] is 0, so the
  // detail sums stay undivided.
  EXPECT_EQ(f[144], 396);
  EXPECT_EQ(f[145], 396);
  for (int i = 146; i < 156; ++i) EXPECT_EQ(f[i], 0) << i;
  // The last pixel is a bright spot: E = 120 below 140, W = 110 below E.
  // Variance of {120, 100} is 100 (nearest centre 120, bin 2); the run since
  // the start is 2 (bin 0); one spot in three samples.
  EXPECT_EQ(f[158], 1000);
  EXPECT_EQ(f[166], 1000);
  EXPECT_EQ(f[175], 13333);
  for (int i = 176; i < 190; ++i) EXPECT_EQ(f[i], 0) << i;
  // The trace consumed the skeleton bits.
  EXPECT_EQ(s.map[5 * kW + 5], 1);
}

TEST(TextureFeatures, LevelCountsDivideTheirSlotPairs) {
  // A 9-pixel valley line: count[0] = 9, count[1] = 4, count[2] = 2,
  // count[3] = 1. Slot B+k and slot B+7+k are divided by count[k].
  Scene s;
  for (int c = 1; c <= 9; ++c) s.set(5, c, 150, 5);
  const auto f = s.features();
  TraceProfile p{};
  for (auto& t : p.toggle) t = 1;
  std::int64_t sum = 0, diff = 0, prev = 0;
  for (int i = 0; i < 9; ++i) {
    sum += 150 << 5;
    diff += std::abs((150 << 5) - prev);
    prev = 150 << 5;
    wavelet_cascade_push(&p, 150 << 5);
  }
  EXPECT_EQ(p.counts[1], 4);
  EXPECT_EQ(p.counts[2], 2);
  EXPECT_EQ(p.counts[3], 1);
  EXPECT_EQ(p.counts[4], 0);
  const auto round = [](std::int64_t a, std::int64_t b) { return (a + b / 2) / b; };
  EXPECT_EQ(f[176], round(sum, 9));
  EXPECT_EQ(f[177], round(diff, 4));
  EXPECT_EQ(f[178], round(p.sums[2], 2));
  EXPECT_EQ(f[179], round(p.sums[3], 1));
  EXPECT_EQ(f[183], round(p.sums[7], 9));
  EXPECT_EQ(f[184], round(p.sums[8], 4));
  EXPECT_EQ(f[185], round(p.sums[9], 2));
  EXPECT_EQ(f[186], p.sums[10]);  // count[3] = 1
  EXPECT_EQ(f[180], p.sums[4]);
}

TEST(TextureFeatures, BrightSpotWideRingCountsItsRepeatedOffset) {
  // Ridge pixels Q (5,4) grey 150 and P (5,5) grey 200; one foreground
  // pixel two columns right of P. At P, E = 150 (Q only) and W averages Q
  // (listed as (-1,0)) with the right pixel listed twice as (2,0):
  // grey 149 gives W = 448/3 = 149, a spot (counted once it would round to
  // 150, no spot); grey 150 gives W = 150, no spot.
  for (const int grey : {149, 150}) {
    Scene s;
    s.set(5, 4, 150, 3);
    s.set(5, 5, 200, 3);
    s.set(5, 7, static_cast<std::uint8_t>(grey), 1);
    const auto f = s.features();
    EXPECT_EQ(f[175], grey == 149 ? 20000 : 0) << grey;  // one spot in two samples
  }
}

TEST(TextureFeatures, ClosedRingIsNotTraced) {
  Scene s;
  for (int r = 3; r <= 7; ++r)
    for (int c = 3; c <= 7; ++c)
      if (r == 3 || r == 7 || c == 3 || c == 7) s.set(r, c, 90, 3);
  const auto f = s.features();
  for (int i = 142; i < 176; ++i) EXPECT_EQ(f[i], 0) << i;
  EXPECT_EQ(s.map[3 * kW + 3], 3);  // untouched
}

TEST(TextureFeatures, TraceFollowStaysInsideTheMap) {
  // A marked pixel on the last row and column: the step beyond is not read.
  std::vector<std::uint8_t> map(9, 0);
  map[8] = 2;
  int r = 1, c = 1, dr = 0, dc = 0;
  ASSERT_EQ(trace_follow(map.data(), 3, 3, 2, &r, &c, &dr, &dc), 1);
  EXPECT_EQ(r, 2);
  EXPECT_EQ(c, 2);
  map[8] = 0;
  EXPECT_EQ(trace_follow(map.data(), 3, 3, 2, &r, &c, &dr, &dc), 0);
}

}  // namespace
