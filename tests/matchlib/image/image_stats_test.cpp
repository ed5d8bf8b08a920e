// Whole-image reductions, grey morphology, disk range, local maxima and
// the dominant period, against plain references and the known answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"

namespace {

template <class T>
std::vector<T> random_pixels(size_t n, unsigned seed, int lo, int hi) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(lo, hi);
  std::vector<T> v(n);
  for (auto& p : v) p = static_cast<T>(d(rng));
  return v;
}

TEST(ImageStats, MeanAndVarianceKnownAnswers) {
  const uint8_t two[2] = {0, 3};
  EXPECT_EQ(img_mean_u8(two, 1, 2), 1);
  EXPECT_EQ(img_variance_u8(two, 1, 2), 3u);  // (9 - 3*1)/2 with the truncated mean
  const int8_t neg[2] = {-1, -2};
  EXPECT_EQ(img_mean_s8(neg, 2, 1), -1);  // toward zero
  const int16_t mixed[3] = {-30000, 30000, -1};
  EXPECT_EQ(img_mean_s16(mixed, 1, 3), 0);
  // Empty images answer 0.
  EXPECT_EQ(img_mean_u8(two, 0, 2), 0);
  EXPECT_EQ(img_variance_u16(nullptr, 0, 0), 0u);
  EXPECT_EQ(img_variance_s8(neg, -1, 2), 0);
}

template <class T, class Mean, class Var>
void check_against_reference(Mean mean, Var var, int lo, int hi, unsigned seed) {
  for (auto [h, w] : {std::pair{1, 1}, {3, 5}, {64, 64}, {257, 256}, {300, 301}}) {
    auto px = random_pixels<T>(static_cast<size_t>(h) * w, seed + h, lo, hi);
    int64_t s = 0, q = 0;
    for (T p : px) {
      s += p;
      q += int64_t{p} * p;
    }
    const int64_t n = int64_t{h} * w;
    EXPECT_EQ(mean(px.data(), h, w), s / n);
    EXPECT_EQ(static_cast<int64_t>(var(px.data(), h, w)), (q - s * (s / n)) / n);
  }
}

TEST(ImageStats, EveryPixelTypeMatchesWideReference) {
  check_against_reference<uint8_t>(img_mean_u8, img_variance_u8, 0, 255, 1);
  check_against_reference<int8_t>(img_mean_s8, img_variance_s8, -128, 127, 2);
  check_against_reference<uint16_t>(img_mean_u16, img_variance_u16, 0, 65535, 3);
  check_against_reference<int16_t>(img_mean_s16, img_variance_s16, -32768, 32767, 4);
}

TEST(ImageStats, MinMaxWritesOnlyGivenOutputsAndStartValuesWhenEmpty) {
  const int16_t px[4] = {5, -7, 300, 0};
  int16_t lo = 1, hi = 1;
  EXPECT_EQ(img_minmax_s16(px, 2, 2, &lo, &hi), ML_OK);
  EXPECT_EQ(lo, -7);
  EXPECT_EQ(hi, 300);
  EXPECT_EQ(img_minmax_s16(px, 0, 2, &lo, nullptr), ML_OK);
  EXPECT_EQ(lo, 32767);
  uint16_t ulo = 0, uhi = 5;
  EXPECT_EQ(img_minmax_u16(nullptr, 0, 0, &ulo, &uhi), ML_OK);
  EXPECT_EQ(ulo, 65535);
  EXPECT_EQ(uhi, 0);
  uint8_t blo, bhi;
  const uint8_t b[3] = {9, 200, 17};
  EXPECT_EQ(img_minmax_u8(b, 1, 3, &blo, &bhi), ML_OK);
  EXPECT_EQ(blo, 9);
  EXPECT_EQ(bhi, 200);
  int8_t slo, shi;
  const int8_t sb[3] = {-128, 127, 0};
  EXPECT_EQ(img_minmax_s8(sb, 3, 1, &slo, &shi), ML_OK);
  EXPECT_EQ(slo, -128);
  EXPECT_EQ(shi, 127);
}

// Plain clipped-window extreme: square (3x3) or cross.
std::vector<uint8_t> reference_extreme(const std::vector<uint8_t>& img, int h, int w, bool cross,
                                       bool is_max) {
  std::vector<uint8_t> out(img.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int v = img[y * w + x];
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (cross && dy && dx) continue;
          const int yy = y + dy, xx = x + dx;
          if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
          v = is_max ? std::max<int>(v, img[yy * w + xx]) : std::min<int>(v, img[yy * w + xx]);
        }
      out[y * w + x] = static_cast<uint8_t>(v);
    }
  return out;
}

TEST(GreyMorphology, MinMaxFiltersMatchReferenceInPlaceOrNot) {
  using Filter = int (*)(const uint8_t*, int, int, uint8_t*);
  struct Case { Filter f; bool cross, is_max; } cases[] = {
      {filter_min3x3_u8, false, false}, {filter_max3x3_u8, false, true},
      {filter_min_cross_u8, true, false}, {filter_max_cross_u8, true, true}};
  for (const auto& c : cases)
    for (auto [h, w] : {std::pair{1, 1}, {1, 6}, {5, 1}, {2, 2}, {9, 13}}) {
      auto img = random_pixels<uint8_t>(static_cast<size_t>(h) * w, h * 31 + w, 0, 255);
      const auto expected = reference_extreme(img, h, w, c.cross, c.is_max);
      std::vector<uint8_t> out(img.size());
      ASSERT_EQ(c.f(img.data(), h, w, out.data()), ML_OK);
      EXPECT_EQ(out, expected);
      ASSERT_EQ(c.f(img.data(), h, w, img.data()), ML_OK);
      EXPECT_EQ(img, expected);
    }
}

TEST(GreyMorphology, TopLeftCornerUsesTheTwoByTwoBlock) {
  const uint8_t img[9] = {50, 40, 1, 60, 30, 1, 1, 1, 1};
  uint8_t out[9];
  ASSERT_EQ(filter_min3x3_u8(img, 3, 3, out), ML_OK);
  EXPECT_EQ(out[0], 30);
}

TEST(GreyMorphology, OpeningRemovesBrightSpotClosingFillsDarkSpot) {
  std::vector<uint8_t> dark(7 * 7, 10), bright(7 * 7, 240), out(49);
  dark[3 * 7 + 3] = 250;
  ASSERT_EQ(filter_open3x3_u8(dark.data(), 7, 7, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(49, 10));
  bright[2 * 7 + 4] = 0;
  ASSERT_EQ(filter_close3x3_u8(bright.data(), 7, 7, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(49, 240));
  // Opening is the minimum then the maximum.
  auto img = random_pixels<uint8_t>(10 * 8, 9, 0, 255);
  auto expected = reference_extreme(reference_extreme(img, 10, 8, false, false), 10, 8, false, true);
  ASSERT_EQ(filter_open3x3_u8(img.data(), 10, 8, img.data()), ML_OK);
  EXPECT_EQ(img, expected);
}

TEST(GreyMorphology, DiskRangeUsesOffsetsWithinRSquaredPlusR) {
  // Widths that take the narrow path, the 16-column chunks with an
  // overlapped last chunk, and the wide chunks.
  for (auto [h, w] : {std::pair{12, 15}, {9, 40}, {7, 300}}) {
    auto img = random_pixels<uint8_t>(h * w, 77 + w, 0, 255);
    for (int r : {0, 1, 2, 3, 5}) {
      std::vector<uint8_t> out(img.size());
      ASSERT_EQ(filter_local_range_disk_u8(img.data(), h, w, r, out.data()), ML_OK);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          int lo = 255, hi = 0;
          for (int dy = -r; dy <= r; ++dy)
            for (int dx = -r; dx <= r; ++dx) {
              if (dy * dy + dx * dx > r * r + r) continue;
              const int yy = y + dy, xx = x + dx;
              if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
              lo = std::min<int>(lo, img[yy * w + xx]);
              hi = std::max<int>(hi, img[yy * w + xx]);
            }
          ASSERT_EQ(out[y * w + x], hi - lo) << w << " r" << r << " " << y << "," << x;
        }
    }
  }
  // r = 1 admits the diagonals; r = 2 leaves out the (2, 2) corners.
  std::vector<uint8_t> spot(5 * 5, 0), out(25);
  spot[0] = 200;
  ASSERT_EQ(filter_local_range_disk_u8(spot.data(), 5, 5, 2, out.data()), ML_OK);
  EXPECT_EQ(out[2 * 5 + 2], 0);
  EXPECT_EQ(out[1 * 5 + 2], 200);
  ASSERT_EQ(filter_local_range_disk_u8(spot.data(), 5, 5, 1, out.data()), ML_OK);
  EXPECT_EQ(out[1 * 5 + 1], 200);
}

TEST(LocalMaxima, KnownPlateausAndZeroPixels) {
  struct Case {
    const char* name;
    std::vector<uint8_t> map;  // 5 x 6
    std::vector<int> survivors;  // indices that keep their value
  };
  const Case cases[] = {
      {"single peak", {0, 0, 0, 0, 0, 0, 0, 1, 2, 1, 0, 0, 0, 2, 9, 2, 0, 0, 0, 1, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0},
       {2 * 6 + 2}},
      {"two side by side keep the right", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {2 * 6 + 2}},
      {"one above the other keep the lower", {0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {2 * 6 + 2}},
      {"zero is never a maximum", std::vector<uint8_t>(30, 0), {}},
  };
  for (const auto& c : cases) {
    for (bool in_place : {false, true}) {
      std::vector<uint8_t> src = c.map, out(30, 0);
      uint8_t* dst = in_place ? src.data() : out.data();
      int count = -1;
      ASSERT_EQ(img_local_maxima_u8(src.data(), 5, 6, 0, dst, &count), ML_OK);
      EXPECT_EQ(count, static_cast<int>(c.survivors.size())) << c.name;
      for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 5; ++x) {
          const int k = y * 6 + x;
          const bool kept = std::find(c.survivors.begin(), c.survivors.end(), k) != c.survivors.end();
          EXPECT_EQ(dst[k], kept ? c.map[k] : 0) << c.name << " at " << k;
        }
      // The border of width 1 is left as it was.
      EXPECT_EQ(dst[0], in_place ? c.map[0] : 0);
    }
  }
}

TEST(LocalMaxima, MatchesReferenceWithRadiusBorder) {
  const int h = 20, w = 23, r = 3;
  auto map = random_pixels<uint8_t>(h * w, 123, 0, 6);  // many ties
  std::vector<uint8_t> dst(map.size(), 0xAA);
  int count = 0;
  ASSERT_EQ(img_local_maxima_u8(map.data(), h, w, r, dst.data(), &count), ML_OK);
  std::vector<uint8_t> ref(map.size(), 0xAA);
  for (int y = r; y < h - r; ++y)
    for (int x = r; x < w - r; ++x) {
      const uint8_t c = map[y * w + x];
      bool keep = c != 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) keep = keep && map[(y + dy) * w + x + dx] <= c;
      ref[y * w + x] = keep ? c : 0;
    }
  int expected = 0;
  for (int y = r; y < h - r; ++y)
    for (int x = r; x < w - r; ++x) {
      uint8_t& p = ref[y * w + x];
      if (!p) continue;
      if (ref[y * w + x + 1] || ref[(y + 1) * w + x - 1] || ref[(y + 1) * w + x] || ref[(y + 1) * w + x + 1]) p = 0;
      else ++expected;
    }
  EXPECT_EQ(dst, ref);
  EXPECT_EQ(count, expected);
  EXPECT_GT(count, 0);
}

TEST(ProfilePeriod, FindsTheDominantFrequency) {
  std::vector<uint8_t> profile(64);
  for (int i = 0; i < 64; ++i)
    profile[i] = static_cast<uint8_t>(std::lround(128 + 10 * std::cos(2 * M_PI * 4 * i / 64)));
  EXPECT_EQ(profile_dominant_period(profile.data(), 2, 8, 64), 64 * 256 / 4);
  EXPECT_EQ(profile_dominant_period(profile.data(), 8, 2, 64), 0);  // empty range
  // A flat profile has no power at any frequency above 0.
  std::vector<uint8_t> flat(64, 100);
  EXPECT_EQ(profile_dominant_period(flat.data(), 1, 10, 64), 0);
  // Frequency 0 is not a period: the search starts at 1.
  EXPECT_EQ(profile_dominant_period(profile.data(), 0, 8, 64), 64 * 256 / 4);
  // A long profile of full amplitude (the 32-bit phase would wrap) still finds it.
  std::vector<uint8_t> long_profile(2000);
  for (int i = 0; i < 2000; ++i)
    long_profile[i] = static_cast<uint8_t>(std::lround(127.5 + 127 * std::sin(2 * M_PI * 50 * i / 2000)));
  EXPECT_EQ(profile_dominant_period(long_profile.data(), 10, 90, 2000), 2000 * 256 / 50);
}

}  // namespace
