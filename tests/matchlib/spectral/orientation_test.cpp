// Orientation fields on gratings and flat images, window sums against a
// brute-force reference, map resizing, and singular points on analytic
// fields.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"

namespace {

// Parallel ridges whose normal points at direction phi (256 steps a turn).
std::vector<uint8_t> grating(int h, int w, int phi, double period) {
  std::vector<uint8_t> img(h * w);
  const double a = phi * 2 * M_PI / 256;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img[y * w + x] = uint8_t(std::lround(128 + 100 * std::cos(2 * M_PI * (x * std::cos(a) + y * std::sin(a)) / period)));
  return img;
}

// Difference of two orientation bytes modulo a half turn.
int half_turn_diff(int a, int b) {
  const int d = ((a - b) % 128 + 128) % 128;
  return std::min(d, 128 - d);
}

TEST(OrientationBlocks, GratingGivesItsNormalWithHighCoherence) {
  for (int phi : {0, 16, 32, 50, 64, 100}) {
    SCOPED_TRACE(phi);
    const auto img = grating(96, 96, phi, 8.5);
    std::vector<uint8_t> orient(36), coh(36), raw(36);
    ASSERT_EQ(orient_block_field(img.data(), 96, 96, nullptr, orient.data(), coh.data(), 6, 6, 16,
                                 raw.data(), 0),
              0);
    for (int i = 1; i < 5; ++i)
      for (int j = 1; j < 5; ++j) {
        const int k = i * 6 + j;
        EXPECT_GE(orient[k], 64);
        EXPECT_LE(orient[k], 191);
        EXPECT_LE(half_turn_diff(orient[k], phi), 3) << i << "," << j << " got " << int(orient[k]);
        EXPECT_GT(coh[k], 200);
      }
    std::vector<uint8_t> coh_only(36);
    ASSERT_EQ(orient_block_coherence_presmoothed(img.data(), 96, 96, coh_only.data(), nullptr, 6,
                                                 6, 16),
              0);
    EXPECT_GT(coh_only[14], 200);
  }
}

TEST(OrientationBlocks, FlatImageHasNoCoherenceAndOrientation128) {
  std::vector<uint8_t> img(48 * 48, 90), orient(9), coh(9, 7), raw(9, 7);
  ASSERT_EQ(orient_block_field_presmoothed(img.data(), 48, 48, nullptr, orient.data(), coh.data(), 3,
                                           3, 16, raw.data()),
            0);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(coh[k], 0);
    EXPECT_EQ(raw[k], 0);
    EXPECT_EQ(orient[k], 128);
  }
}

TEST(OrientationBlocks, BackgroundBlockTakesTheSharedLineFromItsNeighbour) {
  // A vertical step at column 15 / 16: Sobel answers only in columns 15
  // and 16, the last column of block 0 and the first of block 1.
  const int h = 16, w = 48;
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = x < 16 ? 40 : 200;
  std::vector<int8_t> gx(h * w), gy(h * w);
  ASSERT_EQ(filter_sobel_s8(img.data(), h, w, gx.data(), gy.data()), ML_OK);
  auto counted_in_column = [&](int x) {
    int n = 0;
    for (int y = 0; y < h; ++y) n += gx[y * w + x] * gx[y * w + x] + gy[y * w + x] * gy[y * w + x] >= 256;
    return n;
  };
  ASSERT_GT(counted_in_column(15), 0);
  int32_t gxy[3], gxx[3], gyy[3];
  int16_t plain[3], masked[3];
  ASSERT_EQ(orient_block_moments(img.data(), h, w, nullptr, 1, 3, 16, gxy, gxx, gyy, plain, 0), ML_OK);
  const uint8_t mask[3] = {1, 0, 1};
  ASSERT_EQ(orient_block_moments(img.data(), h, w, mask, 1, 3, 16, gxy, gxx, gyy, masked, 0), ML_OK);
  EXPECT_EQ(masked[0], plain[0] - counted_in_column(15));
  EXPECT_EQ(masked[1], plain[1]);  // the background block itself is still summed
  EXPECT_EQ(masked[2], plain[2]);
  const uint8_t mask2[3] = {0, 1, 1};
  ASSERT_EQ(orient_block_moments(img.data(), h, w, mask2, 1, 3, 16, gxy, gxx, gyy, masked, 0), ML_OK);
  EXPECT_EQ(masked[1], plain[1] - counted_in_column(16));
}

TEST(OrientationPixels, CoherenceMatchesBruteForceWindowSumsWithAMask) {
  std::mt19937 rng(4);
  std::uniform_int_distribution<int> d(0, 255), m(0, 3);
  const int h = 23, w = 31, r = 3;
  std::vector<uint8_t> img(h * w), mask(h * w), coh(h * w);
  for (auto& p : img) p = uint8_t(d(rng));
  for (auto& p : mask) p = m(rng) ? 1 : 0;
  std::vector<int16_t> c(h * w), s(h * w);
  ASSERT_EQ(orient_pixel_vectors(img.data(), h, w, mask.data(), r, coh.data(), c.data(), s.data()), ML_OK);
  std::vector<int8_t> gx(h * w), gy(h * w);
  ASSERT_EQ(filter_sobel_s8(img.data(), h, w, gx.data(), gy.data()), ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      int64_t sxx = 0, syy = 0, sxy = 0, n = 0;
      if (mask[i])
        for (int yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy) {
          if (!mask[yy * w + x]) continue;  // that row's sum is not taken
          for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) {
            const int j = yy * w + xx;
            if (!mask[j]) continue;
            sxx += gx[j] * gx[j], syy += gy[j] * gy[j], sxy += gx[j] * gy[j], ++n;
          }
        }
      int expect = 0;
      if (n > (2 * r + 1) * (2 * r + 1) / 20) {
        const int64_t a = (sxx - syy) / n, b = 2 * sxy / n;
        expect = int(fx_isqrt30_round(uint32_t(a * a + b * b)) * 255 /
                     std::max<int64_t>((sxx + syy) / n, 8));
        expect = std::min(expect, 255);
      }
      ASSERT_EQ(coh[i], expect) << y << "," << x;
      if (!mask[i]) {
        ASSERT_EQ(c[i], 0);
        ASSERT_EQ(s[i], 0);
      }
    }
}

TEST(OrientationPixels, GratingFieldAndRefusals) {
  const auto img = grating(40, 40, 40, 9);
  std::vector<uint8_t> orient(1600), coh(1600);
  ASSERT_EQ(orient_pixel_field(img.data(), 40, 40, nullptr, 4, orient.data(), coh.data()), ML_OK);
  for (int y = 8; y < 32; y += 5)
    for (int x = 8; x < 32; x += 5) {
      EXPECT_LE(half_turn_diff(orient[y * 40 + x], 40), 3) << y << "," << x;
      EXPECT_GT(coh[y * 40 + x], 150);
    }
  EXPECT_EQ(orient_pixel_field(img.data(), 40, 40, nullptr, 64, orient.data(), coh.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(orient_pixel_vectors(img.data(), 40, 40, nullptr, -1, coh.data(), nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(orient_block_field(img.data(), 40, 40, nullptr, orient.data(), coh.data(), 2, 2, 0,
                               nullptr, 0),
            2);
  // A two-column image has no interior gradient: every coherence is 0.
  std::vector<uint8_t> thin(40 * 2, 0);
  for (int y = 0; y < 40; ++y) thin[y * 2] = uint8_t(y * 6);
  ASSERT_EQ(orient_pixel_vectors(thin.data(), 40, 2, nullptr, 2, coh.data(), nullptr, nullptr), ML_OK);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(coh[i], 0);
}

TEST(OrientationMap, ResizeKeepsConstantMaps) {
  for (uint8_t v : {uint8_t(64), uint8_t(100), uint8_t(191)}) {
    std::vector<uint8_t> map(5 * 6, v), out(40 * 48, 0);
    ASSERT_EQ(orient_map_resize(map.data(), 5, 6, 8, out.data(), 40, 48), ML_OK);
    for (int y = 4; y < 36; ++y)
      for (int x = 4; x < 44; ++x) ASSERT_EQ(out[y * 48 + x], v) << int(v) << " " << y << "," << x;
  }
}

// ---- singular points ----

// Orientation map (128 steps a half turn, +64) turning k half turns around
// (cy, cx): k = 1 core, -1 delta, 2 double core.
std::vector<uint8_t> singular_field(int h, int w, int cy, int cx, int k) {
  std::vector<uint8_t> map(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double t = std::atan2(y - cy, x - cx) * 128 / M_PI;  // 256 steps a turn
      map[y * w + x] = uint8_t(64 + ((int(std::lround(k * t / 2)) % 128) + 128) % 128);
    }
  return map;
}

TEST(SingularPoints, PoincareCodesOfAnalyticFields) {
  struct Case {
    int k;
    int code;
  };
  for (Case c : {Case{1, 253}, Case{-1, 255}, Case{2, 254}, Case{0, 1}}) {
    const auto map = singular_field(41, 41, 20, 20, c.k);
    for (int r : {1, 5, 9})
      EXPECT_EQ(singular_poincare_index(map.data(), 41, 20 * 41 + 20, r), c.code) << c.k << " r " << r;
  }
}

TEST(SingularPoints, FindsTheCoreOnceAndNotInsideTheMargin) {
  const auto map = singular_field(41, 41, 20, 20, 1);
  std::vector<SingularPoint> pts(8);
  int count = -1;
  ASSERT_EQ(singular_find_points(map.data(), nullptr, 41, 41, pts.data(), &count, 8), ML_OK);
  ASSERT_GE(count, 1);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(pts[i].code, 253);
    EXPECT_LE(std::abs(int(pts[i].index / 41) - 20), 1);
    EXPECT_LE(std::abs(int(pts[i].index % 41) - 20), 1);
  }
  // Masked out, or too close to the edge, or no room: nothing stored.
  std::vector<uint8_t> mask(41 * 41, 0);
  ASSERT_EQ(singular_find_points(map.data(), mask.data(), 41, 41, pts.data(), &count, 8), ML_OK);
  EXPECT_EQ(count, 0);
  const auto edge = singular_field(41, 41, 5, 20, 1);
  ASSERT_EQ(singular_find_points(edge.data(), nullptr, 41, 41, pts.data(), &count, 8), ML_OK);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(singular_find_points(map.data(), nullptr, 41, 41, pts.data(), &count, 0), ML_OK);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(singular_find_points(map.data(), nullptr, 18, 41, pts.data(), &count, 8), ML_OK);
  EXPECT_EQ(count, 0);
}

TEST(SingularPoints, SplitIntoCoreAndDeltaLists) {
  const SingularPoint pts[] = {
      {10 * 50 + 7, 253, 30}, {11 * 50 + 8, 255, 200}, {12 * 50 + 9, 254, 1},  {5, 1, 9},
      {13 * 50, 253, 2},      {14 * 50, 253, 3},       {15 * 50, 253, 4},      {16 * 50, 255, 0},
  };
  SingularList cores{}, deltas{};
  cores.count = 9;
  ASSERT_EQ(singular_split_cores_deltas(pts, 8, 50, &cores, &deltas), ML_OK);
  ASSERT_EQ(cores.count, 4);  // the fifth core is dropped
  ASSERT_EQ(deltas.count, 2);
  EXPECT_EQ(cores.entries[0].row, 10);
  EXPECT_EQ(cores.entries[0].column, 7);
  EXPECT_EQ(cores.entries[0].direction[0], 30);
  EXPECT_EQ(cores.entries[1].direction[0], 1);  // the double core
  EXPECT_EQ(cores.entries[3].row, 14);
  EXPECT_EQ(cores.entries[3].present, 1u);
  const SingularEntry& d = deltas.entries[0];
  EXPECT_EQ(d.row, 11);
  EXPECT_EQ(d.column, 8);
  EXPECT_EQ(d.direction[0], 200);
  EXPECT_EQ(d.direction[1], 29);
  EXPECT_EQ(d.direction[2], 114);
  EXPECT_EQ(singular_split_cores_deltas(pts, 8, 50, nullptr, &deltas), ML_OK);
  EXPECT_EQ(deltas.count, 2);
}

}  // namespace

namespace {

TEST(SingularCandidates, InconsistencyPeaksAtTheCoreAndFindsIt) {
  const auto map = singular_field(31, 31, 15, 15, 1);
  std::vector<uint8_t> inc(31 * 31);
  ASSERT_EQ(orient_inconsistency_map(map.data(), 31, 31, inc.data()), ML_OK);
  // A uniform field is consistent everywhere, corners included.
  const std::vector<uint8_t> flat(31 * 31, 90);
  std::vector<uint8_t> flat_inc(31 * 31, 7);
  ASSERT_EQ(orient_inconsistency_map(flat.data(), 31, 31, flat_inc.data()), ML_OK);
  for (uint8_t v : flat_inc) ASSERT_LE(v, 1);  // Q14 unit vectors round a little short
  EXPECT_GT(inc[15 * 31 + 15], 128);
  EXPECT_LT(inc[5 * 31 + 5], 20);
  std::vector<SingularPoint> pts(4);
  int count = -1;
  ASSERT_EQ(singular_find_candidates(inc.data(), map.data(), 31, 31, pts.data(), &count, 4), ML_OK);
  ASSERT_GE(count, 1);
  EXPECT_LE(std::abs(int(pts[0].index / 31) - 15), 1);
  EXPECT_LE(std::abs(int(pts[0].index % 31) - 15), 1);
  EXPECT_EQ(pts[0].code, 253);
}

TEST(SingularCandidates, DrawingMarksThePointsOnALightenedCopy) {
  std::vector<uint8_t> img(40 * 40, 100);
  const SingularPoint pts[] = {{20 * 40 + 20, 255, 0}};
  uint8_t* out = nullptr;
  ASSERT_EQ(singular_draw_points(img.data(), 40, 40, pts, 1, &out), ML_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out[0], 177);          // 100 moved half way to white
  EXPECT_EQ(out[20 * 40 + 34], 0);  // the arm at direction 0 reaches 16 pixels
  EXPECT_EQ(img[20 * 40 + 34], 100);
  std::free(out);
  EXPECT_EQ(singular_draw_points(img.data(), 40, 40, nullptr, 1, &out), ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

TEST(OrientationBlocks, ABlockOf12NeedsEightCountedPixelsForACoherence) {
  // Random sparse bright dots give blocks with every small count of strong
  // gradients; 12 * 12 * 5 / 100 = 7, so a coherence needs a count of 8.
  std::mt19937 rng(12);
  std::uniform_int_distribution<int> pos(0, 143), dots(1, 3);
  bool seven_without = false, eight_with = false;
  for (int trial = 0; trial < 1500; ++trial) {
    std::vector<uint8_t> img(12 * 12, 0);
    for (int d = dots(rng); d > 0; --d) img[pos(rng)] = 200;
    int32_t gxy, gxx, gyy;
    int16_t count;
    ASSERT_EQ(orient_block_moments(img.data(), 12, 12, nullptr, 1, 1, 12, &gxy, &gxx, &gyy, &count, 0), ML_OK);
    uint8_t coh = 99;
    ASSERT_EQ(orient_block_coherence(img.data(), 12, 12, &coh, nullptr, 1, 1, 12, 0), ML_OK);
    const int64_t g = int64_t{gxx} - gyy, h = 2 * int64_t{gxy};
    const int would_be = gxx + gyy > 0 ? int(fx_isqrt30_round(uint32_t(g * g + h * h)) * 255 / (gxx + gyy)) : 0;
    ASSERT_EQ(coh, count > 7 ? would_be : 0) << "count " << count;
    seven_without |= count == 7 && would_be > 0;
    eight_with |= count == 8 && coh > 0;
  }
  EXPECT_TRUE(seven_without);
  EXPECT_TRUE(eight_with);
}

}  // namespace
