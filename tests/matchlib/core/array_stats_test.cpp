// Array and window statistics: the stated examples and brute-force
// references over random arrays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "zylscan/matchlib_array.h"
#include "zylscan/matchlib_object.h"

namespace {

using I32 = std::vector<int32_t>;
using U8 = std::vector<uint8_t>;

TEST(ArrayStats, KnownAnswers) {
  struct Case {
    const char* call;
    int got, expected;
  };
  const I32 neg = {-1, -2}, pos = {1, 2}, peaks = {5, 7, 7}, lows = {3, 1, 1}, centres = {3, 7};
  const U8 bytes = {3, 250, 0, 9};
  const Case cases[] = {
      {"mean_i32(-1,-2)", array_mean_i32(neg.data(), 2), -2},
      {"mean_i32(1,2)", array_mean_i32(pos.data(), 2), 2},
      {"mean_i32 n=0", array_mean_i32(pos.data(), 0), 0},
      {"sum_i32 n<0", array_sum_i32(pos.data(), -1), 0},
      {"argmax(5,7,7)", array_argmax_i32(peaks.data(), 3), 1},
      {"argmin(3,1,1)", array_argmin_i32(lows.data(), 3), 1},
      {"argmax n=1", array_argmax_i32(peaks.data(), 1), 0},
      {"nearest 5 over (3,7)", array_nearest_index_i32(5, centres.data(), 2), 0},
      {"nearest 6 over (3,7)", array_nearest_index_i32(6, centres.data(), 2), 1},
      {"nearest n=1", array_nearest_index_i32(100, centres.data(), 1), 0},
      {"max_u8", array_max_u8(bytes.data(), 4), 250},
      {"min_u8", array_min_u8(bytes.data(), 4), 0},
      {"max_u8 n=0", array_max_u8(bytes.data(), 0), 0},
      {"max_i32 n=0", array_max_i32(peaks.data(), 0), 0},
      {"mean_u8", array_mean_u8(bytes.data(), 4), 66},  // (262 + 2) / 4
      {"mean_u8_alt n=0", array_mean_u8_alt(bytes.data(), 0), 0},
      {"variance_i32 n=0", array_variance_i32(pos.data(), 0), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.call;
}

TEST(ArrayStats, SumsMeansExtremesAndVarianceAgainstReference) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 300);
    I32 a(n);
    U8 b(n);
    for (int i = 0; i < n; ++i) {
      a[i] = static_cast<int32_t>(rng() % 40001) - 20000;
      b[i] = static_cast<uint8_t>(rng());
    }
    const int64_t sa = std::accumulate(a.begin(), a.end(), int64_t{0});
    const int64_t sb = std::accumulate(b.begin(), b.end(), int64_t{0});
    ASSERT_EQ(array_sum_i32(a.data(), n), sa);
    const int64_t mean = sa >= 0 ? (sa + n / 2) / n : (sa - n / 2) / n;
    ASSERT_EQ(array_mean_i32(a.data(), n), mean);
    ASSERT_EQ(array_mean_u8(b.data(), n), (sb + n / 2) / n);
    ASSERT_EQ(array_mean_u8_alt2(b.data(), n), (sb + n / 2) / n);
    ASSERT_EQ(array_max_i32(a.data(), n), *std::max_element(a.begin(), a.end()));
    ASSERT_EQ(array_min_i32(a.data(), n), *std::min_element(a.begin(), a.end()));
    int64_t s2 = 0;
    for (int32_t v : a) s2 += (v - mean) * (v - mean);
    ASSERT_EQ(array_variance_i32(a.data(), n), (s2 + n / 2) / n);
    const int64_t mb = (sb + n / 2) / n;
    int64_t sb2 = 0;
    for (uint8_t v : b) sb2 += (v - mb) * (v - mb);
    ASSERT_EQ(array_variance_u8(b.data(), n), (sb2 + n / 2) / n);
  }
}

TEST(ArrayStats, HigherMomentsOfByteArrays) {
  const U8 flat(50, 77);
  EXPECT_EQ(array_kurtosis_u8(flat.data(), 50), 8192);
  EXPECT_EQ(array_skewness_u8(flat.data(), 50), 0);
  // Two equal spikes: kurtosis of a two-point distribution is -2 (x256).
  U8 two(100);
  for (int i = 0; i < 100; ++i) two[i] = i % 2 ? 200 : 100;
  EXPECT_EQ(array_kurtosis_u8(two.data(), 100), -512);
  EXPECT_EQ(array_skewness_u8(two.data(), 100), 0);
  // A long right tail is skewed positive, its mirror negative by the same amount.
  U8 tail(100, 10), mirror(100, 245);
  for (int i = 0; i < 5; ++i) {
    tail[i] = 250;
    mirror[i] = 5;
  }
  const int skew = array_skewness_u8(tail.data(), 100);
  EXPECT_GT(skew, 4 * 256);
  EXPECT_EQ(array_skewness_u8(mirror.data(), 100), -skew + 1);  // + n/2 rounds toward +inf
  EXPECT_GT(array_kurtosis_u8(tail.data(), 100), 10 * 256);
}

TEST(ArrayStats, CircularWindows) {
  const U8 in = {0, 0, 0, 255};
  U8 out(4, 0xEE);
  ASSERT_EQ(array_circular_mean_u8(in.data(), 4, 1, out.data()), ML_OK);
  EXPECT_EQ(out, (U8{85, 0, 85, 85}));
  ASSERT_EQ(array_circular_detrend_u8(in.data(), 4, 1, out.data()), ML_OK);
  EXPECT_EQ(out, (U8{43, 128, 43, 255}));  // 0-85+128, 0-0+128, ..., 255-85+128 capped

  U8 untouched(4, 0xEE);
  EXPECT_EQ(array_circular_mean_u8(in.data(), 4, 3, untouched.data()), ML_BAD_ARGUMENT);
  U8 self = in;
  EXPECT_EQ(array_circular_mean_u8(self.data(), 4, 1, self.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(array_circular_detrend_u8(in.data(), 4, -1, untouched.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(untouched, U8(4, 0xEE));
  EXPECT_EQ(self, in);

  // Brute force, including radii whose window is wider than the ring.
  std::mt19937 rng(5);
  for (int n = 2; n < 40; ++n)
    for (int r = 0; r + 1 < n; ++r) {
      U8 a(n), got(n);
      for (auto& v : a) v = static_cast<uint8_t>(rng());
      ASSERT_EQ(array_circular_mean_u8(a.data(), n, r, got.data()), ML_OK);
      for (int i = 0; i < n; ++i) {
        int s = 0;
        for (int k = i - r; k <= i + r; ++k) s += a[((k % n) + n) % n];
        ASSERT_EQ(got[i], (s + r) / (2 * r + 1)) << n << " " << r << " " << i;
      }
    }
}

TEST(ArrayStats, SortMedianReverseEqualize) {
  I32 a = {4, 1, 3, 2};
  EXPECT_EQ(array_median_i32(a.data(), 4), 2);
  EXPECT_EQ(a, (I32{1, 2, 3, 4}));
  I32 odd = {9, -3, 5};
  EXPECT_EQ(array_median_i32(odd.data(), 3), 5);
  I32 big = {INT32_MAX, INT32_MAX - 2};
  EXPECT_EQ(array_median_i32(big.data(), 2), INT32_MAX - 1);

  std::mt19937 rng(9);
  I32 r(500);
  for (auto& v : r) v = static_cast<int32_t>(rng());
  I32 sorted = r;
  std::sort(sorted.begin(), sorted.end());
  array_sort_i32(r.data(), 500);
  EXPECT_EQ(r, sorted);

  struct Rec {
    int16_t a;
    uint8_t b;
  };
  std::vector<Rec> recs = {{1, 10}, {2, 20}, {3, 30}};
  array_reverse_records(recs.data(), 3, sizeof(Rec));
  EXPECT_EQ(recs[0].a, 3);
  EXPECT_EQ(recs[1].a, 2);
  EXPECT_EQ(recs[2].b, 10);

  U8 e = {10, 10, 20, 30};
  array_equalize_u8(e.data(), 4);
  EXPECT_EQ(e, (U8{127, 127, 191, 255}));  // K = 2, 3, 4 of 4
}

TEST(ArrayStats, CrossingNumberCountsRingTransitions) {
  struct Case {
    const char* name;
    uint8_t ring[8];  // up-left, up, up-right, right, down-right, down, down-left, left
    int mask, expected;
  };
  const Case cases[] = {
      {"ridge ending", {1, 1, 1, 0, 0, 0, 0, 0}, 1, 1},
      {"isolated", {0, 0, 0, 0, 0, 0, 0, 0}, 1, 0},
      {"line through", {0, 1, 0, 0, 0, 1, 0, 0}, 1, 2},
      {"bifurcation", {1, 0, 1, 0, 0, 1, 0, 0}, 1, 3},
      {"other bit masked off", {2, 2, 2, 0, 0, 0, 0, 0}, 1, 0},
  };
  const int pos[8][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 2}, {2, 2}, {2, 1}, {2, 0}, {1, 0}};
  for (const Case& c : cases) {
    uint8_t plane[9] = {};
    for (int i = 0; i < 8; ++i) plane[pos[i][0] * 3 + pos[i][1]] = c.ring[i];
    EXPECT_EQ(crossing_number8(plane, 3, 1, 1, c.mask), c.expected) << c.name;
  }
  uint8_t plane[9] = {};
  EXPECT_EQ(crossing_number8(plane, 3, 0, 1, 1), 0);  // no ring on the border
  EXPECT_EQ(crossing_number8(plane, 3, 1, 2, 1), 0);
}

TEST(ArrayStats, OtsuThreshold) {
  U8 two(256);
  for (int i = 0; i < 256; ++i) two[i] = i < 128 ? 10 : 200;
  EXPECT_EQ(otsu_threshold_u8(two.data(), 256), 199);  // ties go to the later level
  U8 flat(256, 90);
  EXPECT_EQ(otsu_threshold_u8(flat.data(), 256), 0);  // 8-bit counter wrapped: nothing scored
  U8 three(256);
  for (int i = 0; i < 256; ++i) three[i] = i < 100 ? 20 : (i < 200 ? 120 : 240);
  const int t = otsu_threshold_u8(three.data(), 256);
  EXPECT_GE(t, 20);
  EXPECT_LT(t, 240);
  EXPECT_EQ(otsu_threshold_u8(nullptr, 256), 0);
}

TEST(ArrayStats, NearestHistogram) {
  const I32 centres = {0, 10, 20};
  const I32 values = {-5, 4, 5, 6, 16, 100};
  I32 counters(3, 99);
  array_nearest_histogram_i32(values.data(), 6, counters.data(), centres.data(), 3);
  EXPECT_EQ(counters, (I32{3, 1, 2}));  // 5 ties between 0 and 10 and takes 0
}

}  // namespace
