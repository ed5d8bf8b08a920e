// The ridge map and its steps: thinning, block orientation, the oriented
// filter, the whole map on synthetic ridges and a real print.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_ridgemap.h"

namespace {

// Horizontal-ridge grating, period in pixels.
std::vector<uint8_t> grating(int h, int w, double period, double angle = 0) {
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double t = (y * std::cos(angle) - x * std::sin(angle)) * 2 * M_PI / period;
      img[y * w + x] = static_cast<uint8_t>(128 + 90 * std::sin(t));
    }
  return img;
}

TEST(RidgemapThinning, ThickLinesThinAndEndsStay) {
  const int h = 7, w = 12;
  std::vector<uint8_t> img(h * w, 1);
  for (int x = 2; x < 10; ++x) img[3 * w + x] = img[4 * w + x] = 3;  // two rows thick
  img[1 * w + 1] = 5;                                                 // a lone valley pixel
  ridgemap_thin_ridges(img.data(), h, w);
  int ridge = 0;
  for (int x = 2; x < 10; ++x) {
    const int column = (img[3 * w + x] == 3) + (img[4 * w + x] == 3);
    EXPECT_LE(column, 1) << x;
    ridge += column;
    EXPECT_TRUE(img[3 * w + x] == 1 || img[3 * w + x] == 3);
  }
  EXPECT_GE(ridge, 6) << "the line keeps its length";
  EXPECT_EQ(img[1 * w + 1], 5) << "valleys untouched by ridge thinning";
  ridgemap_thin_valleys(img.data(), h, w);
  EXPECT_EQ(img[1 * w + 1], 5) << "an isolated pixel stays";
}

TEST(RidgemapThinning, NeighbourTestTable) {
  struct Case {
    uint8_t ring[9];
    int expected;
  };
  const Case cases[] = {
      {{1, 0, 0, 0, 1, 0, 0, 0, 1}, 1},  // east and west: P = Q = 2
      {{1, 0, 0, 0, 0, 0, 0, 0, 1}, 0},  // one neighbour: P = Q = 1
      {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 0},  // all: 4
      {{1, 0, 1, 0, 1, 0, 0, 0, 1}, 1},  // P = 3, Q = 3
  };
  for (const auto& c : cases) EXPECT_EQ(ridgemap_thin_neighbour_test(c.ring), c.expected);
}

TEST(Ridgemap, LevelClassesOnTheThreeEightScale) {
  struct Case {
    int index;
    uint32_t value;
    int expected;
  };
  // Products: 0, 5, 0, 30, 300, 800, 8e7, 3e8, 7.99e8, 8e8.
  const Case cases[] = {{1, 0, 0},     {1, 1, 2},      {2, 0, 0},     {1, 6, 5},
                        {4, 3, 8},     {4, 8, 9},      {12, 80, 24},  {12, 300, 26},
                        {12, 799, 26}, {12, 800, 27},  {13, 5, 0},    {0, 5, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(level_class_125(c.index, c.value), c.expected) << c.index << " " << c.value;
}

TEST(Ridgemap, Smooth121WeighsNeighboursAndEnds) {
  std::vector<uint8_t> row{0, 40, 80, 0};
  filter_smooth121_inplace_u8(row.data(), 1, 4);
  EXPECT_EQ(row, (std::vector<uint8_t>{10, 40, 50, 20}));
  std::vector<uint8_t> col{0, 40, 80, 0};
  filter_smooth121_inplace_u8(col.data(), 4, 1);
  EXPECT_EQ(col, row);
  std::vector<uint8_t> small{8, 8, 200, 8};
  filter_smooth121_guarded_u8(small.data(), 2, 2);
  EXPECT_EQ(small, (std::vector<uint8_t>{8, 8, 200, 8})) << "guarded: nothing below 3";
}

TEST(Ridgemap, ProfileKernelsByClass) {
  std::vector<int32_t> impulse(34, 0), out(20);
  impulse[17] = 1;  // output j sees the kernel centred at j + 7: j = 10 is the centre
  const std::vector<std::vector<int32_t>> kernels = {
      {1, 8, 1}, {1, 5, 8, 5, 1}, {1, 2, 4, 5, 7, 8, 7, 5, 4, 2, 1}};
  const int classes[] = {0, 1, 4};
  for (int k = 0; k < 3; ++k) {
    ridgemap_profile_smooth(impulse.data(), classes[k], out.data());
    const int half = static_cast<int>(kernels[k].size()) / 2;
    for (int j = 0; j < 20; ++j) {
      const int t = 10 - j + half;
      const int32_t expect = (t >= 0 && t < int(kernels[k].size())) ? kernels[k][t] : 0;
      EXPECT_EQ(out[j], expect) << classes[k] << " at " << j;
    }
  }
  std::vector<int32_t> a(20), b(20);
  ridgemap_profile_smooth(impulse.data(), 7, a.data());
  ridgemap_profile_smooth(impulse.data(), 12, b.data());
  EXPECT_EQ(a, b) << "classes above 7 use class 7";
}

TEST(RidgemapOrientation, UnusableBlocksAreLeftAlone) {
  const int h = 32, w = 32;
  std::vector<uint8_t> img(h * w, 15);                       // block (0, 0): mean 15
  for (int y = 0; y < 16; ++y)
    for (int x = 16; x < 32; ++x) img[y * w + x] = 100 + (x % 2) * 4;  // variance 4
  const auto g = grating(h, w, 8.0);
  for (int y = 16; y < 32; ++y)
    for (int x = 0; x < 32; ++x) img[y * w + x] = g[y * w + x];
  const auto before = img;
  uint8_t orient[4] = {}, coh[4] = {}, work[4] = {};
  ridgemap_block_orientation(img.data(), h, w, orient, coh, work, 2, 2);
  EXPECT_EQ(orient[0], 0);
  EXPECT_EQ(coh[0], 0);
  EXPECT_EQ(orient[1], 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(img[y * w + x], before[y * w + x]) << y << "," << x;
  // Horizontal ridges: direction 0, coded 128 (the white frame outside the
  // image tilts the edge blocks by a step at most), with high coherence.
  for (int k : {2, 3}) {
    const int diff = std::abs(orient[k] % 128);
    EXPECT_LE(std::min(diff, 128 - diff), 1) << int(orient[k]);
    EXPECT_GT(coh[k], 150);
  }
}

TEST(RidgemapOrientation, SmoothedOrientationFollowsTheRidges) {
  const int h = 64, w = 64;
  for (int step : {16, 32, 48}) {
    const double angle = step * 2 * M_PI / 256;
    auto img = grating(h, w, 9.0, angle);
    std::vector<uint8_t> orient(16), coh(16), work(16);
    ridgemap_block_orientation(img.data(), h, w, orient.data(), coh.data(), work.data(), 4, 4);
    for (int k = 0; k < 16; ++k) {
      ASSERT_NE(orient[k], 0);
      // Orientation o stands for direction o (128 for 0) on a half turn.
      const int dir = orient[k] % 128, diff = std::abs(dir - step);
      EXPECT_LE(std::min(diff, 128 - diff), 6) << step << " block " << k;
    }
  }
}

TEST(RidgemapFilter, SkipsBlocksWithoutOrientationAndBinarisesOthers) {
  const int h = 32, w = 32;
  auto img = grating(h, w, 8.0);
  const auto before = img;
  const uint8_t orient[4] = {0, 128, 0, 128}, period[4] = {128, 128, 128, 128};
  ridgemap_oriented_filter(img.data(), h, w, orient, period, 2, 2);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const int i = y * w + x;
      if (x < 16) {
        ASSERT_EQ(img[i], before[i]);
      } else {
        ASSERT_TRUE(img[i] == 0 || img[i] == 255);
      }
    }
  // Dark rows come out 0, bright rows 255 (away from the block's edges).
  int agree = 0, total = 0;
  for (int y = 2; y < 30; ++y)
    for (int x = 18; x < 30; ++x) {
      ++total;
      agree += (img[y * w + x] == 255) == (before[y * w + x] >= 128);
    }
  EXPECT_GT(agree * 10, total * 8);
}

std::set<uint8_t> codes(const std::vector<uint8_t>& img) { return {img.begin(), img.end()}; }

void expect_frame_clear(const std::vector<uint8_t>& img, int h, int w) {
  for (int x = 0; x < w; ++x) EXPECT_EQ(img[x] | img[(h - 1) * w + x], 0);
  for (int y = 0; y < h; ++y) EXPECT_EQ(img[y * w] | img[y * w + w - 1], 0);
}

TEST(RidgemapSkeleton, BlankImageGivesNothingAndGratingGivesLines) {
  const int h = 80, w = 96, bh = 5, bw = 6;
  std::vector<uint8_t> orient(bh * bw), coh(bh * bw), period(bh * bw);
  std::vector<uint8_t> blank(h * w, 200);
  ridgemap_skeleton(blank.data(), h, w, orient.data(), coh.data(), period.data(), bh, bw, 500);
  EXPECT_EQ(blank, std::vector<uint8_t>(h * w, 0));

  auto img = grating(h, w, 9.0);
  ridgemap_skeleton(img.data(), h, w, orient.data(), coh.data(), period.data(), bh, bw, 500);
  const auto found = codes(img);
  for (uint8_t v : found) EXPECT_TRUE(v == 0 || v == 1 || v == 3 || v == 5) << int(v);
  EXPECT_TRUE(found.count(3) && found.count(5));
  expect_frame_clear(img, h, w);
  // Horizontal ridges of period 9: a column crosses about h/9 ridge lines.
  int crossings = 0;
  for (int y = 1; y < h - 1; ++y) crossings += img[y * w + w / 2] == 3;
  EXPECT_NEAR(crossings, h / 9, 3);
  // The period of the grating, 9 pixels = 144/16, lies between the table's 128 and 171.
  EXPECT_GE(period[2 * bw + 2], 120);
  EXPECT_LE(period[2 * bw + 2], 175);
}

TEST(RidgemapSkeleton, RealPrintAtItsOwnAndAtDoubleResolution) {
  const auto print = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  const int h = print.height, w = print.width, bh = (h + 15) / 16, bw = (w + 15) / 16;
  std::vector<uint8_t> orient(bh * bw), coh(bh * bw), period(bh * bw);
  auto img = print.pixels;
  ridgemap_skeleton(img.data(), h, w, orient.data(), coh.data(), period.data(), bh, bw, 0);
  size_t ridge = std::count(img.begin(), img.end(), 3);
  size_t valley = std::count(img.begin(), img.end(), 5);
  EXPECT_GT(ridge, img.size() / 40);
  EXPECT_GT(valley, img.size() / 40);
  expect_frame_clear(img, h, w);
  for (uint8_t v : codes(img)) EXPECT_TRUE(v == 0 || v == 1 || v == 3 || v == 5) << int(v);

  // The same print declared at 1000 dpi is worked on halved and enlarged.
  img = print.pixels;
  ridgemap_skeleton(img.data(), h, w, orient.data(), coh.data(), period.data(), bh, bw, 1000);
  for (uint8_t v : codes(img)) EXPECT_TRUE(v == 0 || v == 1 || v == 3 || v == 5) << int(v);
  EXPECT_GT(std::count(img.begin(), img.end(), 3), 0);
}

}  // namespace

namespace {

// Two ridge patches on a flat background: blocks (rows 1-2) x (columns
// left_first .. left_first + left_cols - 1) and the same rows at columns
// 6 .. 6 + right_cols - 1 of a 4 x 9 block grid.
std::vector<uint8_t> two_patches(int left_cols, int right_cols) {
  const int h = 64, w = 144;
  const auto g = grating(h, w, 9.0);
  std::vector<uint8_t> img(h * w, 128);
  for (int y = 16; y < 48; ++y)
    for (int x = 0; x < w; ++x) {
      const int bj = x / 16;
      if ((bj >= 1 && bj < 1 + left_cols) || (bj >= 6 && bj < 6 + right_cols)) img[y * w + x] = g[y * w + x];
    }
  return img;
}

int foreground_in_columns(const std::vector<uint8_t>& map, int x0, int x1) {
  int n = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = x0; x < x1; ++x) n += map[y * 144 + x] != 0;
  return n;
}

TEST(RidgemapSkeleton, KeepsTheLargestRegionAndTheFirstOnATie) {
  struct Case {
    int left_cols, right_cols;
    bool left_wins;
  };
  for (const Case c : {Case{2, 2, true}, Case{2, 3, false}, Case{3, 2, true}}) {
    auto img = two_patches(c.left_cols, c.right_cols);
    std::vector<uint8_t> o(4 * 9), coh(4 * 9), p(4 * 9);
    ridgemap_skeleton(img.data(), 64, 144, o.data(), coh.data(), p.data(), 4, 9, 500);
    const int left = foreground_in_columns(img, 0, 80), right = foreground_in_columns(img, 80, 144);
    EXPECT_EQ(left > 0, c.left_wins) << c.left_cols << " vs " << c.right_cols;
    EXPECT_EQ(right > 0, !c.left_wins) << c.left_cols << " vs " << c.right_cols;
  }
}

}  // namespace
