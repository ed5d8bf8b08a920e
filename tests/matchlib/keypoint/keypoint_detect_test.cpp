// Keypoint detection on analytic images: score maps, classes, angles, and
// the detectors and driver records on a real print.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_extract_driver.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace zyl::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Points {
  KeyPoint* p = nullptr;
  int n = 0;
  ~Points() { std::free(p); }
  std::vector<KeyPoint> list() const { return {p, p + n}; }
};

Bytes flat(int h, int w, std::uint8_t v) { return Bytes(static_cast<std::size_t>(h) * w, v); }

const KeyPointDetector kDetectors[] = {
    detect_extremum, detect_extremum_scaled, detect_saddle,        detect_saddle_scaled,
    detect_rings_scaled, detect_corners_dense_scaled, detect_corners_sparse,
    detect_variance_scaled, corner_pipeline_v0, corner_pipeline_v1, corner_pipeline_v2,
    corner_pipeline_v3};

TEST(KeypointDetect, FlatImageGivesNoPoints) {
  const Bytes img = flat(48, 40, 120);
  for (KeyPointDetector d : kDetectors) {
    Points pts;
    ASSERT_EQ(d(nullptr, img.data(), 48, 40, &pts.p, &pts.n), ML_OK);
    EXPECT_EQ(pts.n, 0);
    EXPECT_EQ(pts.p, nullptr);
  }
  // Not the local-spread map: it marks flat neighbourhoods (next test).
  for (auto map_routine : {extremum_score_map, saddle_score_map, ring_corner_score_map,
                           corner_score_map_dense, corner_score_map_sparse}) {
    Bytes map = flat(48, 40, 0);
    ASSERT_EQ(map_routine(nullptr, img.data(), 48, 40, map.data()), ML_OK);
    EXPECT_EQ(std::count(map.begin(), map.end(), 0), 48 * 40);
  }
}

TEST(KeypointDetect, FlatPixelMarksItsDiamondWithScoreOne) {
  // A 12 x 12 flat image: the pixels inside the 4-pixel border are visited
  // in row order; the first unmarked one, (4, 4), is flat and writes 1 into
  // the other twelve pixels of its diamond (|dy| + |dx| <= 2), which are
  // then skipped; so are (4, 7), (6, 5) and (7, 7). The centres stay 0.
  const int n = 12;
  const Bytes img = flat(n, n, 120);
  Bytes map = flat(n, n, 0);
  ASSERT_EQ(variance_score_map(nullptr, img.data(), n, n, map.data()), ML_OK);
  const int centres[4][2] = {{4, 4}, {4, 7}, {6, 5}, {7, 7}};
  Bytes want = flat(n, n, 0);
  for (const auto& c : centres)
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx)
        if ((dy || dx) && std::abs(dy) + std::abs(dx) <= 2) want[(c[0] + dy) * n + c[1] + dx] = 1;
  for (const auto& c : centres) want[c[0] * n + c[1]] = 0;
  EXPECT_EQ(map, want);
  EXPECT_EQ(std::count(map.begin(), map.end(), 1), 35);
}

TEST(KeypointDetect, BrightPixelScoresItsDifference) {
  const int h = 21, w = 21;
  Bytes img = flat(h, w, 90);
  img[10 * w + 10] = 150;
  Bytes map = flat(h, w, 0);
  ASSERT_EQ(extremum_score_map(nullptr, img.data(), h, w, map.data()), ML_OK);
  EXPECT_EQ(map[10 * w + 10], 60);
  EXPECT_EQ(std::count(map.begin(), map.end(), 0), h * w - 1);
  // A dark pixel scores likewise; one equal to a sample scores nothing.
  img[10 * w + 10] = 40;
  ASSERT_EQ(extremum_score_map(nullptr, img.data(), h, w, map.data()), ML_OK);
  EXPECT_EQ(map[10 * w + 10], 50);
  img[10 * w + 10] = 150;
  img[7 * w + 9] = 150;  // first circle sample (-3, -1)
  ASSERT_EQ(extremum_score_map(nullptr, img.data(), h, w, map.data()), ML_OK);
  EXPECT_EQ(map[10 * w + 10], 0);
}

TEST(KeypointDetect, SegmentTestNeedsTwelveNeighbouringSamples) {
  static const int dy[16] = {-3, -3, -3, -2, -1, 0, 1, 2, 3, 3, 3, 2, 1, 0, -1, -2};
  static const int dx[16] = {-1, 0, 1, 2, 3, 3, 3, 2, 1, 0, -1, -2, -3, -3, -3, -2};
  const int w = 9;
  int ring[16];
  ring_offsets_build(w, ring, dy, dx, 16);
  struct Case {
    int run;   // samples above c + t, from index 5 on
    int want;  // score
  };
  for (const Case c : {Case{12, 40}, Case{11, 0}, Case{16, 40}}) {
    Bytes img = flat(9, w, 100);
    for (int k = 0; k < c.run; ++k) img[(4 + dy[(5 + k) & 15]) * w + 4 + dx[(5 + k) & 15]] = 140;
    std::uint8_t arc = 99;
    EXPECT_EQ(segment_test12(img.data(), ring, 4 * w + 4, 2, &arc), c.want) << c.run;
    if (c.run == 12) {
      EXPECT_EQ(arc, 5);
    }
  }
  // Near white only a dark arc can score.
  Bytes img = flat(9, w, 250);
  for (int k = 0; k < 16; ++k) img[(4 + dy[k]) * w + 4 + dx[k]] = 255;
  EXPECT_EQ(segment_test12(img.data(), ring, 4 * w + 4, 5, nullptr), 0);
  for (int k = 0; k < 16; ++k) img[(4 + dy[k]) * w + 4 + dx[k]] = 226;
  EXPECT_EQ(segment_test12(img.data(), ring, 4 * w + 4, 5, nullptr), 24);
}

TEST(KeypointDetect, ClassThresholdsSwitchAt255Dpi) {
  // 11 x 11 window: 3 x 3 centre with 7 pixels of 200 and 2 of 0, the rest
  // 100; the mean lies between, so 7 of 9 are at or above it.
  const int n = 11;
  Bytes img = flat(n, n, 100);
  for (int y = 4; y <= 6; ++y)
    for (int x = 4; x <= 6; ++x) img[y * n + x] = 200;
  img[4 * n + 4] = img[6 * n + 6] = 0;
  EXPECT_EQ(keypoint_classify(img.data(), n, n, 5, 5, 250), 1);
  EXPECT_EQ(keypoint_classify(img.data(), n, n, 5, 5, 500), 3);
  // A dark 3 x 3 centre is class 2 at both.
  Bytes dark = flat(n, n, 200);
  for (int y = 4; y <= 6; ++y)
    for (int x = 4; x <= 6; ++x) dark[y * n + x] = 0;
  EXPECT_EQ(keypoint_classify(dark.data(), n, n, 5, 5, 250), 2);
  EXPECT_EQ(keypoint_classify(dark.data(), n, n, 5, 5, 500), 2);
}

TEST(KeypointDetect, AngleFollowsTheMeanGradientAlongTheStructureAxis) {
  // Horizontal ramps: the structure axis is direction 0; a ramp rising to
  // the left has its mean gradient against it and gets theta + 128.
  const int n = 21;
  Bytes right(n * n), left(n * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      right[y * n + x] = static_cast<std::uint8_t>(40 + 8 * x);
      left[y * n + x] = static_cast<std::uint8_t>(200 - 8 * x);
    }
  KeyPoint p{10, 10, 77, 0, 1, 0};
  ASSERT_EQ(keypoint_orient(nullptr, right.data(), n, n, &p, 1), ML_OK);
  EXPECT_EQ(p.angle, 0);
  ASSERT_EQ(keypoint_orient(nullptr, left.data(), n, n, &p, 1), ML_OK);
  EXPECT_EQ(p.angle, 128);
  // Vertical ramp rising downward: direction 64.
  Bytes down(n * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) down[y * n + x] = static_cast<std::uint8_t>(40 + 8 * y);
  ASSERT_EQ(keypoint_orient(nullptr, down.data(), n, n, &p, 1), ML_OK);
  EXPECT_EQ(p.angle, 64);
}

TEST(KeypointDetect, SaddleNeedsRingOneAndMarksItsClass) {
  // A checker of four quadrants around the centre is a saddle.
  const int n = 25;
  Bytes img(n * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x)
      img[y * n + x] = ((y < 12) == (x < 12)) ? 60 : 180;
  for (int y = 0; y < n; ++y) img[y * n + 12] = img[12 * n + y] = 120;
  Bytes map = flat(n, n, 0);
  ASSERT_EQ(saddle_score_map(nullptr, img.data(), n, n, map.data()), ML_OK);
  EXPECT_GT(*std::max_element(map.begin(), map.end()), 0);
  Points pts;
  ASSERT_EQ(detect_saddle(nullptr, img.data(), n, n, &pts.p, &pts.n), ML_OK);
  ASSERT_GT(pts.n, 0);
  for (const KeyPoint& k : pts.list()) EXPECT_TRUE(k.cls & 4);
}

zyl::test::GreyImage print160() {
  return zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
}

TEST(KeypointDetect, CornerVariantsTwoAndThreeAgree) {
  const auto img = print160();
  Points a, b, c;
  ASSERT_EQ(corner_pipeline_v2(nullptr, img.pixels.data(), img.height, img.width, &a.p, &a.n), ML_OK);
  ASSERT_EQ(corner_pipeline_v3(nullptr, img.pixels.data(), img.height, img.width, &b.p, &b.n), ML_OK);
  ASSERT_EQ(corner_pipeline_v0(nullptr, img.pixels.data(), img.height, img.width, &c.p, &c.n), ML_OK);
  ASSERT_GT(a.n, 20);
  ASSERT_EQ(a.n, b.n);
  for (int i = 0; i < a.n; ++i) {
    EXPECT_EQ(a.p[i].x, b.p[i].x);
    EXPECT_EQ(a.p[i].y, b.p[i].y);
    EXPECT_EQ(a.p[i].angle, b.p[i].angle);
  }
  EXPECT_GT(c.n, a.n);  // the looser maximum test finds more
  for (int i = 1; i < a.n; ++i) EXPECT_GE(a.p[i - 1].score, a.p[i].score);
}

TEST(KeypointDetect, EveryDriverRecordFindsPointsInsideItsBorderOnAPrint) {
  const auto img = print160();
  for (int r = 1; r <= EXTDRV_RECORD_COUNT; ++r) {
    Points pts;
    ASSERT_EQ(extdrv_run(nullptr, img.pixels.data(), img.height, img.width, extdrv_record(r),
                         &pts.p, &pts.n),
              ML_OK)
        << r;
    EXPECT_GT(pts.n, 0) << r;
    for (const KeyPoint& k : pts.list()) {
      EXPECT_GE(k.x, 3);
      EXPECT_GE(k.y, 3);
      EXPECT_LT(k.x, img.width - 3);
      EXPECT_LT(k.y, img.height - 3);
      EXPECT_GE(k.cls, 1);
      EXPECT_LE(k.cls, 3);
      EXPECT_GT(k.score, 0);
    }
  }
  EXPECT_EQ(extdrv_record(0), nullptr);
  EXPECT_EQ(extdrv_record(9), nullptr);
}

}  // namespace
}  // namespace zyl::test

namespace zyl::test {
namespace {

TEST(KeypointDetect, LineSamplesKeepTheirSpacingAndTheBorder) {
  const int h = 21, w = 60;
  std::vector<std::uint8_t> map(h * w, 1);
  for (int x = 0; x < w; ++x) map[10 * w + x] = 0;
  EXPECT_EQ(block_candidates_thin(map.data(), h, w, 4, 4), 13);
  for (int x = 0; x < w; ++x) {
    const bool sample = x >= 4 && x <= 52 && x % 4 == 0;
    EXPECT_EQ(map[10 * w + x], sample ? 254 : 127) << x;
  }
  // A sample moves to a stronger corner response beside it.
  std::vector<std::uint8_t> corner(h * w, 0);
  corner[11 * w + 9] = 50;
  block_candidates_by_corner(map.data(), corner.data(), h, w, 1, 4, 0);
  EXPECT_EQ(map[10 * w + 8], 127);
  EXPECT_EQ(map[11 * w + 9], 254);
}

TEST(KeypointDetect, BlockPipelineSamplesRidgesAndValleysOfAPrint) {
  const auto img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  for (int move : {0, 1}) {
    std::unique_ptr<MatchContext, void (*)(MatchContext*)> ctx(ctx_create(), ctx_release);
    ASSERT_EQ(param_set(ctx.get(), 0xb7831aa4, move), ML_OK);
    KeyPoint* p = nullptr;
    int n = 0;
    ASSERT_EQ(detect_block_corners(ctx.get(), img.pixels.data(), img.height, img.width, &p, &n),
              ML_OK);
    std::unique_ptr<KeyPoint, decltype(&std::free)> hold(p, &std::free);
    ASSERT_GT(n, 50);
    int ridges = 0, valleys = 0;
    for (int i = 0; i < n; ++i) {
      EXPECT_TRUE(p[i].x >= 0 && p[i].x < img.width && p[i].y >= 0 && p[i].y < img.height);
      ridges += p[i].cls == 2;
      valleys += p[i].cls == 1;
    }
    EXPECT_EQ(ridges + valleys, n);
    EXPECT_GT(ridges, 10);
    EXPECT_GT(valleys, 10);
  }
}

}  // namespace
}  // namespace zyl::test
