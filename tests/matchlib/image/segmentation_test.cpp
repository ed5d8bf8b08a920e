// Local-variance segmentation and vote filters against a brute-force vote,
// the iterative threshold, distances inside a mask, region borders and the
// small pixel operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes brute_vote(const std::vector<bool>& marked, int h, int w, int r, int p) {
  Bytes out(size_t(h) * w);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) {
      long count = 0, area = 0;
      for (int y = std::max(0, i - r); y <= std::min(h - 1, i + r); ++y)
        for (int x = std::max(0, j - r); x <= std::min(w - 1, j + r); ++x) {
          ++area;
          count += marked[size_t(y) * w + x];
        }
      out[size_t(i) * w + j] = count * 100 > long(p) * area ? 255 : 0;
    }
  return out;
}

Bytes random_bytes(std::mt19937& rng, size_t n, int top = 255) {
  std::uniform_int_distribution<int> d(0, top);
  Bytes b(n);
  for (auto& v : b) v = uint8_t(d(rng));
  return b;
}

TEST(Segmentation, VoteFilterMatchesBruteForce) {
  std::mt19937 rng(7);
  struct Case {
    int h, w, r, p;
  } cases[] = {{1, 1, 0, 0}, {5, 9, 2, 50}, {17, 3, 8, 75}, {30, 40, 4, 10}, {12, 12, 20, 99}};
  for (const auto& c : cases) {
    Bytes map = random_bytes(rng, size_t(c.h) * c.w, 1);
    std::vector<bool> marked(map.begin(), map.end());
    Bytes out(map.size());
    ASSERT_EQ(filter_vote_percent_u8(map.data(), c.h, c.w, c.r, c.p, out.data()), ML_OK);
    EXPECT_EQ(out, brute_vote(marked, c.h, c.w, c.r, c.p)) << c.h << "x" << c.w << " r" << c.r;
    // In place gives the same.
    ASSERT_EQ(filter_vote_percent_u8(map.data(), c.h, c.w, c.r, c.p, map.data()), ML_OK);
    EXPECT_EQ(map, out);
  }
  Bytes one(1);
  EXPECT_EQ(filter_vote_percent_u8(nullptr, 1, 1, 1, 50, one.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_vote_percent_u8(one.data(), 0, 1, 1, 50, one.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_vote_percent_u8(one.data(), 1, 1, -1, 50, one.data()), ML_BAD_ARGUMENT);
}

TEST(Segmentation, CornerVoteUsesTheClippedWindow) {
  // At (0, 0) the 17 x 17 window keeps 9 x 9 = 81 cells: 41 marked pass at
  // 50 % (4100 > 4050), 40 do not.
  for (int marked : {40, 41}) {
    Bytes map(20 * 20, 0);
    for (int k = 0; k < marked; ++k) map[size_t(k / 9) * 20 + k % 9] = 1;
    Bytes out(map.size());
    ASSERT_EQ(filter_vote_percent_u8(map.data(), 20, 20, 8, 50, out.data()), ML_OK);
    EXPECT_EQ(out[0], marked == 41 ? 255 : 0) << marked;
  }
}

TEST(Segmentation, LocalVarianceSegmentationVotesOnTheVarianceMap) {
  Bytes flat(24 * 30, 90), out(flat.size());
  ASSERT_EQ(imgproc_segment_local_variance(flat.data(), 24, 30, 64, 75, out.data()), ML_OK);
  EXPECT_EQ(out, Bytes(out.size(), 0));
  ASSERT_EQ(imgproc_segment_local_variance(flat.data(), 24, 30, 0, 75, out.data()), ML_OK);
  EXPECT_EQ(out, Bytes(out.size(), 255));

  std::mt19937 rng(3);
  const int h = 40, w = 33;
  Bytes px = random_bytes(rng, size_t(h) * w);
  for (int i = 0; i < h; ++i)  // a calm left half and a busy right half
    for (int j = 0; j < w / 2; ++j) px[size_t(i) * w + j] = uint8_t(100 + px[size_t(i) * w + j] % 4);
  std::vector<uint16_t> var(px.size());
  ASSERT_EQ(filter_local_variance_u8(px.data(), h, w, 4, var.data()), ML_OK);
  out.assign(px.size(), 0);
  for (int threshold : {0, 64, 900}) {
    std::vector<bool> marked(px.size());
    for (size_t i = 0; i < px.size(); ++i) marked[i] = var[i] >= threshold;
    ASSERT_EQ(imgproc_segment_local_variance(px.data(), h, w, threshold, 75, out.data()), ML_OK);
    EXPECT_EQ(out, brute_vote(marked, h, w, 8, 75))
        << threshold;
  }
}

TEST(Segmentation, BinarizedValuesAreVotedInPlace) {
  std::vector<uint16_t> values = {10, 500, 600, 700, 20, 900};
  Bytes out(6);
  ASSERT_EQ(img_binarize_u16_vote(values.data(), 2, 3, 0, 500, 50, out.data()), ML_OK);
  EXPECT_EQ(out, (Bytes{0, 255, 255, 255, 0, 255}));
}

TEST(Segmentation, IterativeThresholdSettlesBetweenTheLevels) {
  Bytes two_levels(100);
  for (size_t i = 0; i < two_levels.size(); ++i) two_levels[i] = i % 2 ? 200 : 50;
  EXPECT_EQ(hist_threshold_iterative(two_levels.data(), 10, 10, 128), 80);
  Bytes flat(16, 77);
  // All pixels at or above the start: the lower mean falls back to t, so
  // t creeps up 10, 23, 33, 41, 48, 53, 57, 61, 64 and stops at 66.
  EXPECT_EQ(hist_threshold_iterative(flat.data(), 4, 4, 10), 66);
}

TEST(Segmentation, DistanceInMaskIsTheChessboardDistanceBelowTheRounds) {
  std::mt19937 rng(11);
  const int h = 15, w = 21;
  Bytes mask(size_t(h) * w, 1);
  for (int k = 0; k < 6; ++k) mask[rng() % mask.size()] = 0;
  for (int rounds : {0, 1, 3, 8}) {
    Bytes out(mask.size());
    ASSERT_EQ(img_distance_in_mask(h, w, mask.data(), rounds, out.data()), ML_OK);
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) {
        int d = 255;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            if (!mask[size_t(y) * w + x]) d = std::min(d, std::max(std::abs(y - i), std::abs(x - j)));
        const int expected = d < rounds ? d : 255;
        ASSERT_EQ(out[size_t(i) * w + j], expected) << rounds << " at " << i << "," << j;
      }
  }
}

TEST(Segmentation, RegionBordersInnerAndOuter) {
  const Bytes map = {0, 0, 0, 0, 0,
                     0, 1, 1, 1, 0,
                     0, 1, 1, 1, 0,
                     0, 1, 1, 1, 0,
                     0, 0, 0, 0, 1};
  struct Case {
    int row, col, flags, expected;
  } cases[] = {{2, 2, 2, 0}, {1, 1, 2, 1}, {1, 2, 6, 1}, {0, 1, 4, 1}, {0, 0, 4, 0},
               {0, 1, 2, 0}, {2, 2, 4, 0}, {4, 4, 2, 1}, {4, 3, 4, 1}, {5, 0, 6, 0},
               {-1, 0, 6, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(img_is_region_border(map.data(), 5, 5, c.row, c.col, c.flags), c.expected)
        << c.row << "," << c.col << " flags " << c.flags;

  Bytes marked = map;
  img_mark_region_border(marked.data(), 5, 5);
  Bytes expected = map;
  for (size_t i = 0; i < expected.size(); ++i)
    if (expected[i] && i != 12) expected[i] |= 0x02;
  EXPECT_EQ(marked, expected);

  Bytes zeros(12, 0);
  img_mark_region_border(zeros.data(), 3, 4);
  EXPECT_EQ(zeros, Bytes(12, 0));
  Bytes thin = {1, 1, 1, 1, 1, 1};
  img_mark_region_border(thin.data(), 2, 3);
  EXPECT_EQ(thin, Bytes(6, 3));
}

TEST(Segmentation, ClearOutsideRectKeepsOnlyTheRectangle) {
  Bytes map(4 * 5, 9);
  img_clear_outside_rect(map.data(), 4, 5, 1, 2, 1, 3);
  EXPECT_EQ(map, (Bytes{0, 0, 0, 0, 0, 0, 9, 9, 9, 0, 0, 9, 9, 9, 0, 0, 0, 0, 0, 0}));
}

TEST(Segmentation, SmoothForegroundThresholdsTheSmoothedLocalRange) {
  const int h = 20, w = 20;
  Bytes px(size_t(h) * w, 100);
  for (int i = 0; i < h; ++i)
    for (int j = 10; j < w; ++j) px[size_t(i) * w + j] = (j / 4) % 2 ? 200 : 20;  // ridges
  // Open-close mean, disk range of radius 5, ten binomial rounds, > 48.
  Bytes work(px.size()), range(px.size()), out(px.size());
  ASSERT_EQ(imgproc_open_close_mean3x3(px.data(), h, w, work.data()), ML_OK);
  ASSERT_EQ(filter_local_range_disk_u8(work.data(), h, w, 5, range.data()), ML_OK);
  for (int round = 0; round < 10; ++round)
    ASSERT_EQ(filter_binomial3x3_u8(range.data(), h, w, range.data()), ML_OK);
  ASSERT_EQ(img_smooth_foreground(px.data(), h, w, out.data()), ML_OK);
  for (size_t i = 0; i < px.size(); ++i) ASSERT_EQ(out[i], range[i] > 48 ? 1 : 0) << i;
  EXPECT_GT(std::count(out.begin(), out.end(), 1), 0);
  EXPECT_GT(std::count(out.begin(), out.end(), 0), 0);
  EXPECT_EQ(img_smooth_foreground(nullptr, h, w, out.data()), ML_BAD_ARGUMENT);
}

TEST(SmallPixelOps, TransposeMirrorReverseGainDivide) {
  const Bytes sq = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  Bytes t(9);
  img_transpose_square(sq.data(), 3, t.data());
  EXPECT_EQ(t, (Bytes{1, 4, 7, 2, 5, 8, 3, 6, 9}));
  Bytes in_place = sq;
  img_transpose_square(in_place.data(), 3, in_place.data());
  EXPECT_EQ(in_place, t);

  const Bytes img = {1, 2, 3, 4, 5, 6};
  Bytes out(6), same = img;
  img_mirror_rows(img.data(), 2, 3, out.data());
  EXPECT_EQ(out, (Bytes{3, 2, 1, 6, 5, 4}));
  img_mirror_rows(same.data(), 2, 3, same.data());
  EXPECT_EQ(same, out);
  same = img;
  img_reverse_rows(img.data(), 2, 3, out.data());
  EXPECT_EQ(out, (Bytes{4, 5, 6, 1, 2, 3}));
  img_reverse_rows(same.data(), 2, 3, same.data());
  EXPECT_EQ(same, out);

  const Bytes grey = {0, 50, 51, 200};
  img_gain_saturate(grey.data(), 2, 2, 5, out.data());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0, 250, 255, 255}));
  img_divide(grey.data(), 2, 2, 3, out.data());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0, 16, 17, 66}));
  Bytes untouched(4, 9);
  img_divide(grey.data(), 2, 2, 0, untouched.data());
  EXPECT_EQ(untouched, Bytes(4, 9));
}

}  // namespace

namespace {

TEST(DiscFit, FindsTheTexturedDiscAndDrawsIt) {
  // Inside a disc of radius 20 the grey level follows the angle (six
  // periods a turn), so every ring inside shows the same texture; outside
  // the image is flat.
  const int h = 80, w = 90, cy = 40, cx = 45;
  Bytes px(size_t(h) * w, 128);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double dy = y - cy, dx = x - cx;
      if (dy * dy + dx * dx < 20.0 * 20.0)
        px[size_t(y) * w + x] = uint8_t(128 + 100 * std::sin(6 * std::atan2(dy, dx)));
    }
  Bytes map(px.size(), 7);
  int col = -1, row = -1, radius = -1;
  ASSERT_EQ(img_fit_disc(px.data(), h, w, 10, 36, 0, 0, 2, 50, map.data(), &col, &row, &radius),
            ML_OK);
  EXPECT_NEAR(radius, 19, 3);
  EXPECT_NEAR(row, cy, 2);
  EXPECT_NEAR(col, cx, 2);
  size_t inside = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool in = (y - row) * (y - row) + (x - col) * (x - col) < radius * radius;
      ASSERT_EQ(map[size_t(y) * w + x], in ? 1 : 0);
      inside += in;
    }
  EXPECT_GT(inside, 0u);
  EXPECT_EQ(img_fit_disc(nullptr, h, w, 4, 36, 0, 0, 2, 20, nullptr, &col, &row, &radius),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(img_fit_disc(px.data(), h, w, 10, 4, 0, 0, 2, 20, nullptr, &col, &row, &radius),
            ML_BAD_ARGUMENT);
}

}  // namespace
