// Box means, segmentation, contrast enhancement, orientation, directional
// filter, binarisation and the binary clean-ups.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "zylscan/typeline_extract.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes random_image(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(static_cast<std::size_t>(w) * h);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng() & 0xFF);
  return b;
}

// Parallel dark ridges along orientation o (1.5-degree steps), period 9.
Bytes grating(int w, int h, double o, double period = 9.0) {
  const double a = o * 1.5 * M_PI / 180.0;
  Bytes b(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double across = -x * std::sin(a) + y * std::cos(a);
      b[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(128 + 100 * std::cos(2 * M_PI * across / period));
    }
  return b;
}

int brute_mean(const Bytes& img, int w, int h, int x, int y, int r) {
  int s = 0, n = 0;
  for (int yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
    for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) {
      s += img[static_cast<std::size_t>(yy) * w + xx];
      ++n;
    }
  return s / n;
}

TEST(TypelineImageStages, BoxMeansKeepUniformImagesUniform) {
  struct Case {
    int w, h;
  };
  for (const Case c : {Case{160, 160}, Case{37, 23}, Case{9, 9}, Case{5, 12}, Case{1, 1}, Case{2, 400}}) {
    for (const std::uint8_t value : {0, 1, 137, 255}) {
      SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + " of " + std::to_string(value));
      Bytes a(static_cast<std::size_t>(c.w) * c.h, value), b = a;
      get_smoothed_image(a.data(), c.w, c.h);
      get_smoothed_image4(b.data(), c.w, c.h);
      EXPECT_TRUE(std::all_of(a.begin(), a.end(), [&](std::uint8_t v) { return v == value; }));
      EXPECT_TRUE(std::all_of(b.begin(), b.end(), [&](std::uint8_t v) { return v == value; }));
    }
  }
}

TEST(TypelineImageStages, BoxMeansFollowTheClippedWindow) {
  const int w = 41, h = 29;
  const Bytes img = random_image(w, h, 7);
  Bytes m3 = img, m9 = img;
  get_smoothed_image(m3.data(), w, h);
  get_smoothed_image4(m9.data(), w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      ASSERT_EQ(m3[i], brute_mean(img, w, h, x, y, 1)) << x << "," << y;
      ASSERT_EQ(m9[i], brute_mean(img, w, h, x, y, 4)) << x << "," << y;
    }
}

TEST(TypelineImageStages, MovingMeanClipsAtTheEnds) {
  std::int32_t v[6] = {10, 20, 30, 40, 50, 600};
  histogram_smooth(v, 6, 2);
  const std::int32_t expected[6] = {20, 25, 30, 148, 180, 230};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(v[i], expected[i]) << i;
}

TEST(TypelineImageStages, SegmentationPaintsAFlatImageWhole) {
  const int w = 96, h = 80;
  Bytes img(static_cast<std::size_t>(w) * h, 90), mask(img.size(), 0);
  get_segmentation(img.data(), mask.data(), w, h);
  EXPECT_TRUE(std::all_of(mask.begin(), mask.end(), [](std::uint8_t v) { return v == 255; }));
}

TEST(TypelineImageStages, SegmentationKeepsTheTexturedPart) {
  // Ridges in the middle 96 x 96 of a flat 160 x 160 image.
  const int w = 160, h = 160;
  const Bytes ridges = grating(w, h, 20);
  Bytes img(static_cast<std::size_t>(w) * h, 200), mask(img.size(), 0);
  for (int y = 32; y < 128; ++y)
    for (int x = 32; x < 128; ++x) img[static_cast<std::size_t>(y) * w + x] = ridges[static_cast<std::size_t>(y) * w + x];
  get_segmentation(img.data(), mask.data(), w, h);
  auto m = [&](int x, int y) { return mask[static_cast<std::size_t>(y) * w + x]; };
  for (int y = 48; y < 112; y += 4)
    for (int x = 48; x < 112; x += 4) EXPECT_EQ(m(x, y), 0) << x << "," << y;
  for (int k = 0; k < w; k += 8) {
    EXPECT_EQ(m(k, 4), 255);
    EXPECT_EQ(m(k, 155), 255);
    EXPECT_EQ(m(4, k), 255);
    EXPECT_EQ(m(155, k), 255);
  }
}

TEST(TypelineImageStages, ContrastEnhancementStretchesAroundTheLocalMean) {
  const int w = 8, h = 8;
  // Source alternates 100 and 156 by columns around a mean of 128: the
  // mean deviation is 28 everywhere, so 100 = M - g gives 50 and 156 =
  // M + g gives (156 + 255) / 2.
  Bytes target(64, 128), source(64), mask(64, 0);
  for (int i = 0; i < 64; ++i) source[i] = i % 2 ? 156 : 100;
  // Deviations are sampled at even columns only, all of value 100: g = 28.
  mask[9] = 255;
  get_sharpend_image(target.data(), source.data(), mask.data(), w, h, 64);
  EXPECT_EQ(target[0], 50);
  EXPECT_EQ(target[1], (156 + 255) >> 1);
  EXPECT_EQ(target[9], 128);  // background keeps the mean

  // No deviation anywhere: every pixel takes the source value.
  Bytes flat_target(64, 77), same(64, 77);
  Bytes src2(64, 77);
  src2[1] = 200;  // odd column: not sampled
  get_sharpend_image(flat_target.data(), src2.data(), mask.data(), w, h, 64);
  EXPECT_EQ(flat_target[1], 200);
  EXPECT_EQ(flat_target[0], 77);
}

TEST(TypelineImageStages, ContrastEnhancementInsideTheDeviation) {
  // M = 100, g = 40 (source 60 at the sampled even pixels); v = 110 lies
  // inside: q = 255 (110 - 100 + 40) / 80 = 159, result (159 + 110) / 2.
  Bytes target(4, 100), source = {60, 110, 110, 110}, mask(4, 0);
  get_sharpend_image(target.data(), source.data(), mask.data(), 2, 2, 64);
  EXPECT_EQ(target[0], 30);  // 60 <= M - g
  EXPECT_EQ(target[1], (159 + 110) >> 1);
}

TEST(TypelineImageStages, FilterTablesRunAlongEachOrientation) {
  for (int o = 0; o < 120; ++o) {
    SCOPED_TRACE(o);
    const int n = _table2[o];
    ASSERT_GE(n, 5);
    ASSERT_LE(n, 15);
    int sum = _table1[o];
    const double a = o * 1.5 * M_PI / 180.0;
    for (int k = 0; k < 18; ++k) {
      const int dy = _table3[o * 18 + k], dx = _table4[o * 18 + k], wgt = _table5[o * 18 + k];
      if (k >= n) {
        EXPECT_EQ(dy | dx | wgt, 0);
        continue;
      }
      EXPECT_TRUE(dy < 0 || (dy == 0 && dx < 0));
      EXPECT_LE(dx * dx + dy * dy, 36);
      EXPECT_GT(wgt, 0);
      // Touched by a bar one pixel wide along the ridge line: its half
      // width plus half a pixel's diagonal.
      EXPECT_LT(std::abs(-dx * std::sin(a) + dy * std::cos(a)), 0.5 + M_SQRT1_2);
      sum += 2 * wgt;
    }
    EXPECT_GE(sum, 16362);
    EXPECT_LE(sum, 16379);
  }
  for (int o : {0, 60}) {
    EXPECT_EQ(_table1[o], 1489);
    EXPECT_EQ(_table2[o], 5);
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(_table5[o * 18 + k], 1489);
      const int along = k - 5;  // (0, -5) .. (0, -1)
      EXPECT_EQ(o == 0 ? _table3[o * 18 + k] : _table4[o * 18 + k], 0);
      EXPECT_EQ(o == 0 ? _table4[o * 18 + k] : _table3[o * 18 + k], along);
    }
  }
}

TEST(TypelineImageStages, FilterTableRowsKnownByTheirWeights) {
  // The 45-degree row: 12 taps from the far diagonal tap to the nearest one.
  EXPECT_EQ(_table1[30], 1363);
  ASSERT_EQ(_table2[30], 12);
  EXPECT_EQ(_table3[30 * 18], -4);
  EXPECT_EQ(_table4[30 * 18], -4);
  EXPECT_EQ(_table5[30 * 18], 453);
  EXPECT_EQ(_table3[30 * 18 + 11], 0);
  EXPECT_EQ(_table4[30 * 18 + 11], -1);
  EXPECT_EQ(_table5[30 * 18 + 11], 372);
  for (int k = 0; k < 12; ++k) {
    const int dy = _table3[30 * 18 + k], dx = _table4[30 * 18 + k];
    EXPECT_LE(std::abs(dy - dx), 1) << "tap " << k << " next to the diagonal";
  }
  for (int k = 1; k < 12; ++k) {
    const int here = _table3[30 * 18 + k] * _table3[30 * 18 + k] + _table4[30 * 18 + k] * _table4[30 * 18 + k];
    const int before = _table3[30 * 18 + k - 1] * _table3[30 * 18 + k - 1] + _table4[30 * 18 + k - 1] * _table4[30 * 18 + k - 1];
    EXPECT_LE(here, before) << "taps run from the farthest to the nearest, tap " << k;
  }
  // The 22.5-degree row: 13 taps, weights 9 .. 1284.
  EXPECT_EQ(_table1[15], 1390);
  ASSERT_EQ(_table2[15], 13);
  const auto first = _table5 + 15 * 18, last = first + 13;
  EXPECT_EQ(*std::min_element(first, last), 9);
  EXPECT_EQ(*std::max_element(first, last), 1284);
}

TEST(TypelineImageStages, FilterTablesMirrorAcrossTheAxesAndDiagonals) {
  // A tap pair as a set of offsets, whichever of its two pixels is stored.
  using Tap = std::tuple<int, int, int>;
  auto row = [](int o, bool exchange, bool negate) {
    std::vector<Tap> taps;
    for (int k = 0; k < _table2[o]; ++k) {
      int dy = _table3[o * 18 + k], dx = _table4[o * 18 + k];
      if (exchange) std::swap(dy, dx);
      if (negate) dx = -dx;
      if (dy > 0 || (dy == 0 && dx > 0)) dy = -dy, dx = -dx;
      taps.emplace_back(dy, dx, _table5[o * 18 + k]);
    }
    std::sort(taps.begin(), taps.end());
    return taps;
  };
  for (int m = 1; m < 60; ++m) {
    SCOPED_TRACE(m);
    EXPECT_EQ(_table1[120 - m], _table1[m]);
    EXPECT_EQ(row(120 - m, false, false), row(m, false, true));
    if (m <= 30) {
      EXPECT_EQ(_table1[60 - m], _table1[m]);
      EXPECT_EQ(row(60 - m, false, false), row(m, true, false));
    }
  }
}

TEST(TypelineImageStages, OrientationOfGratings) {
  const int w = 96, h = 96;
  for (int o : {0, 15, 30, 45, 60, 75, 90, 105}) {
    SCOPED_TRACE(o);
    const Bytes img = grating(w, h, o);
    Bytes map(img.size(), 0), rel(img.size(), 0);
    map[0] = 255;  // one background pixel
    get_orient_image(map.data(), img.data(), w, h, rel.data());
    for (int y = 30; y < 66; y += 6)
      for (int x = 30; x < 66; x += 6) {
        const int got = map[static_cast<std::size_t>(y) * w + x];
        int d = std::abs(got - o);
        if (d > 60) d = 120 - d;
        EXPECT_LE(d, 4) << x << "," << y << " got " << got;
        EXPECT_GT(rel[(y / 2) * (w / 2) + x / 2], 0);
      }
    // Constant on 2 x 2 blocks; background kept with reliability 0.
    for (int y = 0; y + 1 < h; y += 2)
      for (int x = 0; x + 1 < w; x += 2) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        ASSERT_EQ(map[i], map[i + 1]);
        ASSERT_EQ(map[i], map[i + w]);
        ASSERT_EQ(map[i], map[i + w + 1]);
      }
    EXPECT_EQ(map[0], 255);
    EXPECT_EQ(rel[0], 0);
  }
}

TEST(TypelineImageStages, FlatImageHasNoOrientation) {
  const int w = 40, h = 40;
  Bytes img(1600, 90), map(1600, 0), rel(1600, 7);
  get_orient_image(map.data(), img.data(), w, h, rel.data());
  EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](std::uint8_t v) { return v == 127; }));
  EXPECT_TRUE(std::all_of(rel.begin(), rel.begin() + 400, [](std::uint8_t v) { return v == 0; }));
  re_get_orient_image(map.data(), img.data(), w, h);
  EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](std::uint8_t v) { return v == 127; }));
}

TEST(TypelineImageStages, OddSizedReliabilityGridStaysInItsBounds) {
  const int w = 41, h = 33;
  const Bytes img = grating(w, h, 30);
  Bytes map(img.size(), 0);
  // Exactly (h / 2) x (w / 2) cells and a guard behind them.
  Bytes rel((h / 2) * (w / 2) + 16, 0xAB);
  get_orient_image(map.data(), img.data(), w, h, rel.data());
  for (std::size_t i = (h / 2) * (w / 2); i < rel.size(); ++i) EXPECT_EQ(rel[i], 0xAB);
}

// Reliability of the even pixel (r, c) straight from its formula, without
// any bound: the four gradient measures summed over the window of cells.
int formula_reliability(const Bytes& img, int w, int h, int r, int c) {
  auto p = [&](int y, int x) { return static_cast<int>(img[static_cast<std::size_t>(y) * w + x]); };
  long S[4] = {0, 0, 0, 0};
  for (int y = std::max(2, r - 14); y <= std::min(h - 3, r + 16); y += 2)
    for (int x = std::max(2, c - 16); x <= std::min(w - 4, c + 18); x += 2) {
      const int v = p(y, x);
      S[0] += std::abs(v - p(y, x - 1)) + std::abs(v - p(y, x + 1));
      S[1] += std::abs(v - p(y + 1, x + 1)) + std::abs(v - p(y - 1, x - 1));
      S[2] += std::abs(v - p(y + 1, x)) + std::abs(v - p(y - 1, x));
      S[3] += std::abs(v - p(y - 1, x + 1)) + std::abs(v - p(y + 1, x - 1));
    }
  const long b = S[0], cc = (S[1] * 91) >> 7, d = S[2], e = (S[3] * 91) >> 7;
  const long f = (b + cc + d + e) / 4;
  return f == 0 ? 0 : static_cast<int>((std::labs(f - b) + std::labs(f - cc) + std::labs(f - d) + std::labs(f - e)) * 40 / f);
}

TEST(TypelineImageStages, ReliabilityFollowsItsFormulaAndStopsAt240) {
  // A small bump in a flat field: the measures are tiny, their mean is
  // truncated, and the formula goes past what a byte holds.
  const int w = 64, h = 64;
  Bytes img(static_cast<std::size_t>(w) * h, 100);
  img[32 * w + 33] = 107;
  Bytes map(img.size(), 0), rel(img.size(), 0);
  get_orient_image(map.data(), img.data(), w, h, rel.data());
  int above = 0;
  for (int r = 0; r < h; r += 2)
    for (int c = 0; c < w; c += 2) {
      const int want = formula_reliability(img, w, h, r, c);
      above += want > 255;
      ASSERT_EQ(rel[(r / 2) * (w / 2) + c / 2], std::min(want, 240)) << r << "," << c << " formula " << want;
    }
  EXPECT_GT(above, 0) << "the bump should drive the formula past 255 somewhere";
}

TEST(TypelineImageStages, DirectionalFilterSmoothsAlongTheRidges) {
  const int w = 64, h = 64;
  Bytes img = grating(w, h, 0), noisy = img, copy(img.size());
  std::mt19937 rng(3);
  for (auto& v : noisy) v = static_cast<std::uint8_t>(std::clamp<int>(v + static_cast<int>(rng() % 61) - 30, 0, 255));
  Bytes map(img.size(), 0);
  const Bytes before = noisy;
  image_proc_01(noisy.data(), map.data(), copy.data(), w, h);
  EXPECT_EQ(noisy, copy);
  long err_before = 0, err_after = 0;
  for (int y = 10; y < 54; y += 2)  // the pixels filtered directly
    for (int x = 10; x < 54; x += 2) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      err_before += std::abs(before[i] - img[i]);
      err_after += std::abs(noisy[i] - img[i]);
    }
  EXPECT_LT(err_after * 2, err_before);
  // Outside the filtered frame nothing changes.
  for (int x = 0; x < w; ++x) EXPECT_EQ(noisy[x], before[x]);
  // Flat and background pixels are not filtered.
  Bytes flat_map(img.size(), 127), again = before;
  image_proc_01(again.data(), flat_map.data(), copy.data(), w, h);
  for (int y = 6; y <= h - 8; y += 2)
    for (int x = 6; x <= w - 8; x += 2) ASSERT_EQ(again[static_cast<std::size_t>(y) * w + x], before[static_cast<std::size_t>(y) * w + x]);
}

TEST(TypelineImageStages, BinarisationAgainstTheLocalMeans) {
  const int w = 20, h = 10;
  Bytes img(200), map(200, 0), out(200, 99);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = x < 10 ? 50 : 150;
  map[0] = 255;  // background keeps its value
  get_binary_image2(map.data(), out.data(), img.data(), w, h, 3, 7);
  EXPECT_EQ(out[0], 99);
  EXPECT_EQ(out[9], 0);    // dark side of the edge
  EXPECT_EQ(out[10], 255); // bright side
  EXPECT_EQ(out[5 * w + 1], 255);  // uniform window: not below its mean
}

TEST(TypelineImageStages, MajorityCleanUp) {
  const int w = 6, h = 5;
  Bytes b(30, 255);
  b[2 * w + 2] = 0;  // one dark pixel in white: 8 x 255 = 2040 -> white
  Bytes dark(30, 0);
  dark[2 * w + 2] = 255;  // one white pixel in black: 255 < 1152 -> black
  image_proc_04(b.data(), w, h);
  image_proc_04(dark.data(), w, h);
  EXPECT_EQ(b[2 * w + 2], 255);
  EXPECT_EQ(dark[2 * w + 2], 0);
  // The last row and column see clipped windows; the corner window of
  // 2 x 2 pixels holds at most 1020 and always turns black.
  EXPECT_EQ(b[4 * w + 5], 0);
  EXPECT_EQ(b[4 * w + 3], 255);  // 6 pixels: 1530
  // Row 0 and column 0 are left as they are.
  EXPECT_EQ(b[0], 255);
  EXPECT_EQ(dark[w], 0);
}

TEST(TypelineImageStages, HoleFillingTakesOnlySmallInnerSpots) {
  struct Case {
    int size;
    bool touches_border;
    bool filled;
  };
  for (const Case c : {Case{20, false, true}, Case{21, false, false}, Case{1, false, true}, Case{3, true, false}}) {
    SCOPED_TRACE(c.size);
    const int w = 30, h = 30;
    Bytes b(900, 0), map(900, 0);
    // A horizontal run of white pixels, wrapped onto the next row after 10.
    const int x0 = c.touches_border ? 0 : 10, y0 = 10;
    for (int k = 0; k < c.size; ++k) b[(y0 + k / 10) * w + x0 + k % 10] = 255;
    remove_hole(map.data(), b.data(), w, h);
    const int white = static_cast<int>(std::count(b.begin(), b.end(), 255));
    EXPECT_EQ(white, c.filled ? 0 : c.size);
  }
  // Background in the map is never a hole.
  Bytes b(900, 0), map(900, 255);
  b[10 * 30 + 10] = 255;
  remove_hole(map.data(), b.data(), 30, 30);
  EXPECT_EQ(b[10 * 30 + 10], 255);
}

TEST(TypelineImageStages, BlockGridSamplesBlockCentres) {
  const int w = 40, h = 40;
  Bytes map(1600, 0);
  map[8 * w + 8] = 11;
  map[8 * w + 24] = 22;
  map[24 * w + 8] = 33;
  map[24 * w + 24] = 44;
  std::uint8_t grid[2 + 625] = {};
  get_block_data(map.data(), w, h, grid, w / 16, h / 16);
  const std::uint8_t expected[6] = {2, 2, 11, 22, 33, 44};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(grid[i], expected[i]) << i;
  // More cells than a record holds: nothing written.
  std::uint8_t untouched[4] = {9, 9, 9, 9};
  get_block_data(map.data(), w, h, untouched, 26, 25);
  EXPECT_EQ(untouched[0], 9);
}

}  // namespace
