// The small kernels the image statistics build on: 3x3 mean, Sobel,
// clipped-window variance from integrals, 0/1 map clean-ups and the global
// contrast normalisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_object.h"

namespace {

std::vector<uint8_t> random_image(int h, int w, unsigned seed, int hi = 255) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(h) * w);
  for (auto& p : v) p = static_cast<uint8_t>(rng() % (hi + 1));
  return v;
}

TEST(Box3x3, ClippedMeanInPlaceOrNot) {
  for (auto [h, w] : {std::pair{2, 2}, {3, 3}, {7, 11}, {1, 5}}) {
    auto img = random_image(h, w, h * 10 + w);
    std::vector<uint8_t> expected(img.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int s = 0, n = 0;
        for (int v = std::max(0, y - 1); v <= std::min(h - 1, y + 1); ++v)
          for (int u = std::max(0, x - 1); u <= std::min(w - 1, x + 1); ++u) s += img[v * w + u], ++n;
        expected[y * w + x] = static_cast<uint8_t>(s / n);
      }
    std::vector<uint8_t> out(img.size());
    ASSERT_EQ(filter_box3x3_u8(img.data(), h, w, out.data()), ML_OK);
    EXPECT_EQ(out, expected);
    ASSERT_EQ(filter_box3x3_u8(img.data(), h, w, img.data()), ML_OK);
    EXPECT_EQ(img, expected);
  }
}

TEST(Sobel, VerticalStepAndFrame) {
  const int h = 5, w = 6;
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = x >= 3 ? 255 : 0;
  std::vector<int8_t> gx(img.size(), 9), gy(img.size(), 9);
  ASSERT_EQ(filter_sobel_s8(img.data(), h, w, gx.data(), gy.data()), ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inner = y > 0 && y < h - 1 && x > 0 && x < w - 1;
      EXPECT_EQ(gx[y * w + x], inner && (x == 2 || x == 3) ? 127 : 0) << y << "," << x;
      EXPECT_EQ(gy[y * w + x], 0);
    }
  // Division truncates toward zero: a difference of -9 gives -1.
  const uint8_t small[9] = {9, 0, 0, 0, 0, 0, 0, 0, 0};
  int8_t sx[9], sy[9];
  ASSERT_EQ(filter_sobel_s8(small, 3, 3, sx, sy), ML_OK);
  EXPECT_EQ(sx[4], -1);
  EXPECT_EQ(sy[4], -1);
}

TEST(IntegralVariance, CornerWindowAndConstantImage) {
  // Integral tables of a 6 x 7 image; the corner window at radius 4 holds 5 x 5 pixels.
  const int h = 6, w = 7, r = 4;
  auto img = random_image(h, w, 3);
  std::vector<uint32_t> s((h + 1) * (w + 1), 0), q((h + 1) * (w + 1), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = img[y * w + x];
      s[(y + 1) * (w + 1) + x + 1] = p + s[y * (w + 1) + x + 1] + s[(y + 1) * (w + 1) + x] - s[y * (w + 1) + x];
      q[(y + 1) * (w + 1) + x + 1] = p * p + q[y * (w + 1) + x + 1] + q[(y + 1) * (w + 1) + x] - q[y * (w + 1) + x];
    }
  std::vector<uint16_t> out(h * w, 7);
  filter_local_variance_integral_u16(s.data(), q.data(), 0, 1, 0, 1, h, w, r, out.data());
  int64_t ss = 0, qq = 0;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) ss += img[y * w + x], qq += img[y * w + x] * img[y * w + x];
  EXPECT_EQ(out[0], ((qq * 16 - ss * ((ss * 16) / 25)) / 25) / 16);
  EXPECT_EQ(out[1], 7);  // outside the rectangle
  // An empty rectangle writes nothing.
  filter_local_variance_integral_u16(s.data(), q.data(), 3, 3, 0, h, h, w, r, out.data());
  EXPECT_EQ(out[3], 7);
}

TEST(Bilevel, IsolatedCellsMajorityAndOpening) {
  std::vector<uint8_t> lone(5 * 5, 0), hole(5 * 5, 1), out(25);
  lone[12] = 1;
  hole[12] = 0;
  ASSERT_EQ(bilevel_remove_isolated(lone.data(), 5, 5, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(25, 0));
  ASSERT_EQ(bilevel_remove_isolated(hole.data(), 5, 5, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(25, 1));
  ASSERT_EQ(bilevel_open3x3(lone.data(), 5, 5, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(25, 0));

  // Majority: a corner with 3 of 4 set gives 0; an edge with 5 of 6 gives 1.
  const uint8_t m[9] = {0, 1, 1, 1, 1, 1, 1, 1, 0};
  uint8_t mo[9];
  ASSERT_EQ(bilevel_majority3x3(m, 3, 3, mo), ML_OK);
  EXPECT_EQ(mo[0], 0);  // corner window 0,1,1,1
  EXPECT_EQ(mo[1], 1);  // edge window 0,1,1,1,1,1: 5 of 6
  EXPECT_EQ(mo[4], 1);  // 7 of 9

  // Opening against erosion then dilation written out, in place.
  auto map = random_image(9, 8, 5, 1);
  std::vector<uint8_t> eroded(map.size()), expected(map.size());
  for (int pass = 0; pass < 2; ++pass) {
    const auto& from = pass == 0 ? map : eroded;
    auto& to = pass == 0 ? eroded : expected;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 8; ++x) {
        int nonzero = 0, n = 0;
        for (int v = std::max(0, y - 1); v <= std::min(8, y + 1); ++v)
          for (int u = std::max(0, x - 1); u <= std::min(7, x + 1); ++u) nonzero += from[v * 8 + u] != 0, ++n;
        const uint8_t c = from[y * 8 + x];
        to[y * 8 + x] = pass == 0 ? (nonzero < n ? 0 : c) : (c == 0 && nonzero ? 1 : c);
      }
  }
  ASSERT_EQ(bilevel_open3x3(map.data(), 9, 8, map.data()), ML_OK);
  EXPECT_EQ(map, expected);
}

TEST(NormalizeGlobal, MovesMeanHalfwayAndScalesSpread) {
  // Two levels 100 and 120: mean 110, variance 100, deviation 10. Target
  // mean 127 and deviation 80: T = (127 + 110) / 2 = 118, gain 8.0 (256).
  std::vector<uint8_t> img(20);
  for (size_t k = 0; k < img.size(); ++k) img[k] = k % 2 ? 120 : 100;
  std::vector<uint8_t> out(img.size());
  ASSERT_EQ(imgproc_normalize_global(img.data(), 4, 5, 127, 80, out.data()), ML_OK);
  EXPECT_EQ(out[0], 118 - 80);
  EXPECT_EQ(out[1], 118 + 80);
  // A flat image has no spread: every pixel goes to the target level.
  std::vector<uint8_t> flat(12, 50);
  ASSERT_EQ(imgproc_normalize_global(flat.data(), 3, 4, 127, 80, flat.data()), ML_OK);
  EXPECT_EQ(flat, std::vector<uint8_t>(12, (127 + 50) / 2));
}

}  // namespace
