#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "matchlib/image/pixel_reference.h"
#include "zylscan/matchlib_noise_filters.h"
#include "zylscan/matchlib_object.h"

namespace {

template <class T>
std::vector<T> reference_cross(const std::vector<T>& src, int h, int w) {
  return zyl::test::reference_median(src, h, w, {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}});
}

template <class T>
void check_cross(int (*fn)(const T*, uint32_t, uint32_t, T*)) {
  std::mt19937 rng(sizeof(T) * 7 + std::numeric_limits<T>::is_signed);
  std::uniform_int_distribution<int64_t> d(std::numeric_limits<T>::min(),
                                           std::numeric_limits<T>::max());
  for (auto [h, w] : {std::pair{2, 2}, {2, 7}, {5, 2}, {6, 9}}) {
    std::vector<T> src(h * w);
    for (auto& v : src) v = static_cast<T>(d(rng));
    const auto want = reference_cross(src, h, w);
    ASSERT_EQ(fn(src.data(), h, w, src.data()), 0);
    EXPECT_EQ(src, want) << h << "x" << w;
  }
}

TEST(CrossMedian, EveryTypeMatchesBruteForceInPlace) {
  check_cross<uint8_t>(filter_cross_median_u8);
  check_cross<uint16_t>(filter_cross_median_u16);
  check_cross<uint32_t>(filter_cross_median_u32);
  check_cross<int8_t>(filter_cross_median_s8);
  check_cross<int16_t>(filter_cross_median_s16);
  check_cross<int32_t>(filter_cross_median_s32);
}

TEST(CrossMedian, EdgeMeansRoundTowardZeroAndTinyImagesAreRefused) {
  // Top edge pixel (0, 1) of a 2 x 3 image: its window is itself, left,
  // right and below.
  std::vector<int8_t> s = {-9, -3, 9, 0, -2, 0};
  std::vector<int8_t> out(6);
  ASSERT_EQ(filter_cross_median_s8(s.data(), 2, 3, out.data()), ML_OK);
  EXPECT_EQ(out[1], -2);  // sorted -9, -3, -2, 9: mean of -3 and -2 toward zero
  std::vector<uint8_t> u = {0, 3, 9, 1, 4, 1};
  std::vector<uint8_t> uo(6);
  ASSERT_EQ(filter_cross_median_u8(u.data(), 2, 3, uo.data()), ML_OK);
  EXPECT_EQ(uo[1], 3);  // sorted 0, 3, 4, 9: (3 + 4) >> 1
  uint8_t one = 1;
  EXPECT_EQ(filter_cross_median_u8(&one, 1, 1, &one), ML_BAD_ARGUMENT);
}

TEST(Median3x3At, WritesOnlyInteriorPositions) {
  std::vector<uint8_t> src = {9, 1, 8, 2, 7, 3, 6, 4, 5, 0, 0, 0};  // 4 x 3
  std::vector<uint8_t> dst(12, 99);
  img_median3x3_at_u8(src.data(), 4, 3, 1, 1, dst.data());
  EXPECT_EQ(dst[4], 5);  // median of 9 1 8 2 7 3 6 4 5
  img_median3x3_at_u8(src.data(), 4, 3, 0, 1, dst.data());
  img_median3x3_at_u8(src.data(), 4, 3, 2, 2, dst.data());
  img_median3x3_at_u8(src.data(), 4, 3, 3, 1, dst.data());
  EXPECT_EQ(std::count(dst.begin(), dst.end(), 99), 11);
}

struct Line {
  int dr, dc;
};
// The sampling lines of the 5-point median by class.
const Line kLine5[8][4] = {
    {{-2, 0}, {-1, 0}, {1, 0}, {2, 0}},   {{-2, 1}, {-1, 0}, {1, 0}, {2, -1}},
    {{-2, 2}, {-1, 1}, {1, -1}, {2, -2}}, {{-1, 2}, {0, 1}, {0, -1}, {1, -2}},
    {{0, -2}, {0, -1}, {0, 1}, {0, 2}},   {{-1, -2}, {0, -1}, {0, 1}, {1, 2}},
    {{-2, -2}, {-1, -1}, {1, 1}, {2, 2}}, {{-2, -1}, {-1, 0}, {1, 0}, {2, 1}},
};

TEST(DirectionalMedian5, FollowsTheDirectionClassAndLeavesTheBorder) {
  struct Case {
    uint8_t dir;
    int cls;
  };
  const std::vector<Case> cases = {{0, 0},   {7, 0},   {8, 1},   {23, 1},  {24, 2},  {56, 4},
                                   {72, 5},  {103, 6}, {104, 7}, {119, 7}, {120, 0}, {128, 0},
                                   {200, 5}, {240, 7}, {255, 0}};
  const int h = 9, w = 11;
  std::mt19937 rng(3);
  std::vector<uint8_t> src(h * w);
  for (auto& v : src) v = static_cast<uint8_t>(rng());
  for (const auto& c : cases) {
    std::vector<uint8_t> dirs(h * w, c.dir), out(h * w, 7);
    std::vector<uint8_t> in_place = src;
    ASSERT_EQ(filter_directional_median5_u8(src.data(), h, w, dirs.data(), out.data()), ML_OK);
    ASSERT_EQ(filter_directional_median5_u8(in_place.data(), h, w, dirs.data(), in_place.data()), ML_OK);
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x) {
        if (r < 2 || x < 2 || r >= h - 2 || x >= w - 2) {
          ASSERT_EQ(out[r * w + x], 7);
          ASSERT_EQ(in_place[r * w + x], src[r * w + x]);
          continue;
        }
        std::vector<uint8_t> v = {src[r * w + x]};
        for (const Line& l : kLine5[c.cls]) v.push_back(src[(r + l.dr) * w + x + l.dc]);
        std::nth_element(v.begin(), v.begin() + 2, v.end());
        ASSERT_EQ(out[r * w + x], v[2]) << "dir " << int(c.dir) << " at " << r << "," << x;
        ASSERT_EQ(in_place[r * w + x], v[2]) << "in place, dir " << int(c.dir) << " at " << r << "," << x;
      }
  }
}

TEST(DirectionalMean9, AveragesAlongTheLineAndSkipsSmallImages) {
  // Horizontal stripes: class 4 (direction 64, along the rows) keeps them,
  // class 0 (across) blurs them.
  const int h = 9, w = 9;
  std::vector<uint8_t> src(h * w);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) src[r * w + c] = r % 2 ? 200 : 20;
  std::vector<uint8_t> along(h * w, 64), across(h * w, 0), out(h * w, 1);
  ASSERT_EQ(filter_directional_mean9_u8(src.data(), h, w, along.data(), out.data()), ML_OK);
  // Along: seven samples of the row plus the pixels above and below.
  EXPECT_EQ(out[4 * w + 4], (7 * 20 + 2 * 200) / 9);
  EXPECT_EQ(out[3 * w + 4], (7 * 200 + 2 * 20) / 9);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[3 * w + 2], 1);
  ASSERT_EQ(filter_directional_mean9_u8(src.data(), h, w, across.data(), out.data()), ML_OK);
  // Across: rows -3..+3 of the column plus the two row neighbours.
  EXPECT_EQ(out[4 * w + 4], (200 * 4 + 20 * 3 + 20 * 2) / 9);
  std::vector<uint8_t> small(6 * 6, 5), o6(6 * 6, 1);
  ASSERT_EQ(filter_directional_mean9_u8(small.data(), 6, 6, small.data(), o6.data()), ML_OK);
  EXPECT_EQ(o6, std::vector<uint8_t>(36, 1));
}

}  // namespace

#include <cmath>

#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_histogram.h"

namespace {

// Direct evaluation of the bilateral sums with a table computed here.
std::vector<uint8_t> reference_bilateral(const std::vector<uint8_t>& src, int h, int w, int r,
                                         const std::vector<uint8_t>& guide) {
  int T[256];
  for (int i = 0; i < 256; ++i) T[i] = int(std::lround(255 * std::exp(-i * i / (2.0 * 85 * 85))));
  const int c = std::min(255, 6 * int(img_stddev_hist_u8(guide.data(), h, w, nullptr)));
  std::vector<uint8_t> out(src.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint64_t ws = 0, s = 0;
      for (int m = y - r; m <= y + r; ++m)
        for (int k = x - r; k <= x + r; ++k) {
          if (m < 0 || m >= h || k < 0 || k >= w) continue;
          const int b = std::abs(guide[m * w + k] - guide[y * w + x]);
          const int q = (m - y) * (m - y) + (k - x) * (k - x);
          if (b > c || q > r * r) continue;
          const int d = int(fx_isqrt30_round(uint32_t((q * 65025 + r * r / 2) / (r * r))));
          const int e = c ? (b * 255 + c / 2) / c : 0;
          ws += uint64_t(T[e] * T[d]);
          s += uint64_t(T[e] * T[d]) * src[m * w + k];
        }
      out[y * w + x] = ws ? uint8_t(s / ws) : src[y * w + x];
    }
  return out;
}

TEST(Bilateral, MatchesDirectSumsWithAndWithoutGuideAlsoInPlace) {
  const int h = 13, w = 17;
  const auto src = zyl::test::random_pixels<uint8_t>(h * w, 0, 255, 41);
  const auto guide = zyl::test::random_pixels<uint8_t>(h * w, 90, 140, 42);
  for (int r : {1, 2, 4}) {
    std::vector<uint8_t> out(h * w);
    ASSERT_EQ(filter_bilateral_u8(src.data(), h, w, r, nullptr, out.data()), ML_OK);
    EXPECT_EQ(out, reference_bilateral(src, h, w, r, src)) << r;
    ASSERT_EQ(filter_bilateral_u8(src.data(), h, w, r, guide.data(), out.data()), ML_OK);
    EXPECT_EQ(out, reference_bilateral(src, h, w, r, guide)) << r;
    std::vector<uint8_t> in_place = src;
    ASSERT_EQ(filter_bilateral_u8(in_place.data(), h, w, r, nullptr, in_place.data()), ML_OK);
    EXPECT_EQ(in_place, reference_bilateral(src, h, w, r, src)) << r;
  }
}

TEST(Bilateral, RadiusZeroCopiesAndAFlatGuideCountsEverySample) {
  const std::vector<uint8_t> src = {10, 200, 30, 40, 250, 60};
  std::vector<uint8_t> out(6);
  ASSERT_EQ(filter_bilateral_u8(src.data(), 2, 3, 0, nullptr, out.data()), ML_OK);
  EXPECT_EQ(out, src);
  // A flat guide counts only samples equal to the centre: all of them.
  const std::vector<uint8_t> flat(6, 7);
  ASSERT_EQ(filter_bilateral_u8(src.data(), 2, 3, 1, flat.data(), out.data()), ML_OK);
  EXPECT_EQ(out, reference_bilateral(src, 2, 3, 1, flat));
}

TEST(Bilateral, KeepsAStepEdgeSharperThanABoxMean) {
  const int h = 8, w = 8;
  std::vector<uint8_t> step(h * w), out(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) step[y * w + x] = x < 4 ? 20 : 220;
  ASSERT_EQ(filter_bilateral_u8(step.data(), h, w, 2, nullptr, out.data()), ML_OK);
  EXPECT_LT(out[4 * w + 3], 20 + 30);
  EXPECT_GT(out[4 * w + 4], 220 - 30);
}

}  // namespace
