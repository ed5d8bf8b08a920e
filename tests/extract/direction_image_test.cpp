// Block and pixel direction images: the four-direction estimate on known
// sums, the windowed passes against brute-force window sums, oriented sine
// gratings, and the clean-up of unreliable blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include "extract/field_images.h"
#include "extract/orientation_estimate.h"
#include "zylscan/direction_image.h"

namespace {

using zyl::test::Grid;
using zyl::extract::estimate_orientation;

TEST(OrientationEstimate, KnownSums) {
  struct Case {
    std::int64_t h, b, c, d;
    int orientation, noise;
  };
  const Case cases[] = {
      {5, 5, 5, 5, 127, 255},   // flat
      {0, 0, 0, 0, 127, 255},   // no contrast at all
      {0, 71, 100, 71, 0, 0},   // horizontal ridges: 105 + 15 = 120, stored as 0
      {100, 71, 0, 71, 60, 0},  // vertical ridges
      {30, 20, 50, 60, 22, 36}, // pair (h, b): offset 7; lo 20 - 10, hi 60 + 10
      {10, 20, 50, 40, 8, 0},   // offset -7.5 truncates towards zero
  };
  for (const Case& c : cases) {
    const auto e = estimate_orientation(c.h, c.b, c.c, c.d);
    EXPECT_EQ(e.orientation, c.orientation) << c.h << " " << c.b << " " << c.c << " " << c.d;
    EXPECT_EQ(e.noise, c.noise) << c.h << " " << c.b << " " << c.c << " " << c.d;
  }
}

// The unsigned scaling of narrow diagonal sums against the signed 64-bit
// form, at the ends of the range, around multiples of 100 and at random.
TEST(OrientationEstimate, NarrowDiagonalScalingMatchesSignedForm) {
  std::vector<std::int32_t> sums = {0, 1, 2, 99, 100, 101, 199, 200, 9999, 10000, INT32_MAX - 1, INT32_MAX};
  for (std::int32_t m : {100, 3000, 1000000, INT32_MAX / 100})
    for (int d = -2; d <= 2; ++d) sums.push_back(m * 100 + d);
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::int32_t> any(0, INT32_MAX);
  for (int i = 0; i < 100000; ++i) sums.push_back(any(rng));
  for (std::int32_t s : sums) ASSERT_EQ(zyl::extract::scaled_diagonal(s), std::int64_t{s} * 71 / 100) << s;
}

// The narrow estimate (double quotients, unsigned division by 30) against
// the 64-bit integer one: every combination of a few values (ties, zeros,
// the largest narrow sums) and random sums of all sizes.
TEST(OrientationEstimate, NarrowEstimateMatchesWideForm) {
  const std::int64_t largest = INT32_MAX, largest_diagonal = largest * 71 / 100;
  const std::int64_t values[] = {0, 1, 2, 7, 30, 31, 1000, largest_diagonal - 1, largest_diagonal, largest};
  auto check = [](std::int64_t h, std::int64_t b, std::int64_t c, std::int64_t d) {
    const auto narrow = estimate_orientation<true>(h, b, c, d);
    const auto wide = estimate_orientation<false>(h, b, c, d);
    ASSERT_EQ(narrow.orientation, wide.orientation) << h << " " << b << " " << c << " " << d;
    ASSERT_EQ(narrow.noise, wide.noise) << h << " " << b << " " << c << " " << d;
    ASSERT_EQ(narrow.peak, wide.peak);
  };
  for (std::int64_t h : values)
    for (std::int64_t b : values)
      for (std::int64_t c : values)
        for (std::int64_t d : values) {
          if (b > largest_diagonal || d > largest_diagonal) continue;  // diagonals come scaled
          check(h, b, c, d);
        }
  std::mt19937_64 rng(11);
  for (int i = 0; i < 200000; ++i) {
    // Sizes from a few units to the whole range, so that sums often lie close.
    const std::int64_t limit = std::int64_t{1} << (rng() % 32);
    auto draw = [&](std::int64_t top) { return static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(top)); };
    const std::int64_t h = draw(limit), c = draw(limit);
    const std::int64_t b = draw(limit) * 71 / 100, d = draw(limit) * 71 / 100;
    check(h, b, c, d);
  }
}

// The differences of a row, sixteen pixels at a time where SSE2 is there,
// against the plain loop: widths around multiples of sixteen, random bytes
// and rows of only 0 and 255 (the largest distances).
TEST(OrientationEstimate, RowDifferencesMatchThePlainLoop) {
  std::mt19937 rng(3);
  for (int width = 3; width <= 70; ++width)
    for (int pattern = 0; pattern < 3; ++pattern) {
      std::vector<std::uint8_t> rows(3 * static_cast<std::size_t>(width));
      for (auto& b : rows)
        b = static_cast<std::uint8_t>(pattern == 0 ? rng() % 256 : pattern == 1 ? (rng() % 2) * 255 : rng() % 3);
      const std::uint8_t* above = rows.data();
      const std::uint8_t* here = above + width;
      const std::uint8_t* below = here + width;
      std::vector<std::int32_t> fast(4 * static_cast<std::size_t>(width), -1), plain = fast;
      zyl::extract::direction_differences_row_interleaved<zyl::extract::DifferenceKind::Absolute>(above, here, below,
                                                                                                   fast.data(), width);
      zyl::extract::direction_differences_row_interleaved_plain<zyl::extract::DifferenceKind::Absolute>(
          above, here, below, plain.data(), 1, width);
      ASSERT_EQ(fast, plain) << "width " << width << " pattern " << pattern;
    }
}

// Window sums of the four differences, brute force.
struct Sums {
  std::int64_t h = 0, d1 = 0, v = 0, d2 = 0;
};
Sums window_sums(const Grid& g, int x, int y, int r, bool squares) {
  Sums s;
  auto term = [&](int a, int b) -> std::int64_t { return squares ? (a - b) * (a - b) : std::abs(a - b); };
  for (int yy = std::max(1, y - r); yy <= std::min(g.height - 2, y + r); ++yy)
    for (int xx = std::max(1, x - r); xx <= std::min(g.width - 2, x + r); ++xx) {
      const int p = g.at(xx, yy);
      s.h += term(p, g.at(xx + 1, yy)) + term(p, g.at(xx - 1, yy));
      s.d1 += term(p, g.at(xx + 1, yy + 1)) + term(p, g.at(xx - 1, yy - 1));
      s.v += term(p, g.at(xx, yy + 1)) + term(p, g.at(xx, yy - 1));
      s.d2 += term(p, g.at(xx - 1, yy + 1)) + term(p, g.at(xx + 1, yy - 1));
    }
  return s;
}

struct Field {
  Grid orientation;  // D after the call
  Grid noise;        // W after the call
};

Field reference_field(const Grid& grey, const Grid& old_d, int r_dir, int r_noise, int contrast, bool squares) {
  Field f{Grid(grey.width, grey.height), Grid(grey.width, grey.height)};
  const std::int64_t limit = static_cast<std::int64_t>(contrast) * (2 * r_noise + 1) * (2 * r_noise + 1) * 2;
  for (int y = 0; y < grey.height; ++y)
    for (int x = 0; x < grey.width; ++x) {
      const Sums s = window_sums(grey, x, y, r_dir, squares);
      const auto e = squares ? estimate_orientation(s.h, s.d1 / 2, s.v, s.d2 / 2)
                             : estimate_orientation(s.h, s.d1 * 71 / 100, s.v, s.d2 * 71 / 100);
      f.orientation.at(x, y) = e.orientation | (old_d.at(x, y) & 0x80);
      const Sums n = window_sums(grey, x, y, r_noise, false);
      const auto en = estimate_orientation(n.h, n.d1 * 71 / 100, n.v, n.d2 * 71 / 100);
      f.noise.at(x, y) = limit >= en.peak ? 255 : en.noise;
    }
  return f;
}

TEST(PixelDirection, WindowPassesMatchBruteForce) {
  std::mt19937 rng(31);
  std::uniform_int_distribution<int> side(1, 30), radius(0, 8), contrast(0, 3);
  for (int trial = 0; trial < 40; ++trial) {
    const int w = side(rng), h = side(rng);
    int r_dir = radius(rng), r_noise = trial % 3 == 0 ? r_dir : radius(rng);
    if (trial == 5) r_dir = r_noise = 45;  // radius beyond the image
    const int squares = trial % 4 == 1;
    const int c = contrast(rng);
    SCOPED_TRACE(testing::Message() << w << "x" << h << " r=" << r_dir << "/" << r_noise << " sq=" << squares);
    // Smoothed noise: enough structure that the noise is not always 255.
    Grid grey = zyl::test::random_grid(rng, w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 1; x < w; ++x) grey.at(x, y) = (grey.at(x, y) + 3 * grey.at(x - 1, y)) / 4;
    const Grid old_d = zyl::test::random_grid(rng, w, h);  // bit 7 must survive

    const Field expected = reference_field(grey, old_d, r_dir, r_noise, c, squares);
    auto W = grey.image();
    auto D = old_d.image();
    ComputeDirImage(w, h, W.get(), D.get(), r_dir, r_noise, c, squares);
    EXPECT_EQ(Grid::of(D), expected.orientation);
    EXPECT_EQ(Grid::of(W), expected.noise);

    // The single passes on their own.
    auto dir_only = old_d.image();
    auto untouched = grey.image();
    CDI_Dir(w, h, untouched.get(), dir_only.get(), r_dir, c, squares);
    EXPECT_EQ(Grid::of(dir_only), expected.orientation);
    EXPECT_EQ(Grid::of(untouched), grey) << "CDI_Dir leaves W unchanged";
    auto noise_only = grey.image();
    CDI_Noise(w, h, noise_only.get(), r_noise, c, 1);
    EXPECT_EQ(Grid::of(noise_only), expected.noise);
  }
}

TEST(PixelDirection, UniformImageIsFlatAndUnreliable) {
  const int w = 30, h = 20;
  auto W = Grid(w, h, 90).image();
  auto D = Grid(w, h, 0x80).image();
  ComputeDirImage(w, h, W.get(), D.get(), 12, 12, 19, 0);
  EXPECT_EQ(Grid::of(D), Grid(w, h, 0x80 | 127)) << "flat, bad bit kept";
  EXPECT_EQ(Grid::of(W), Grid(w, h, 255));
}

// Most common value of a grid region, and how far the values stray.
int median_in(const Grid& g, int x0, int y0, int x1, int y1) {
  std::vector<int> v;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) v.push_back(g.at(x, y));
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Ridges at a known angle: the orientation (1.5-degree steps) lies within
// two steps of it over the inside of the grating, at pixel level with the
// default radius and at block level.
TEST(PixelDirection, GratingsGiveTheirOrientation) {
  for (double degrees = 0; degrees < 180; degrees += 7.5) {
    SCOPED_TRACE(degrees);
    const int expected = static_cast<int>(std::lround(degrees / 1.5)) % 120;
    const Grid g = zyl::test::grating(96, 96, degrees, 9.0, 0.3);
    auto W = g.image();
    auto D = Grid(96, 96).image();
    ComputeDirImage(96, 96, W.get(), D.get(), 12, 12, 19, 0);
    const Grid d = Grid::of(D), noise = Grid::of(W);
    int worst = 0;
    for (int y = 16; y < 80; ++y)
      for (int x = 16; x < 80; ++x) worst = std::max(worst, zyl::test::orientation_distance(d.at(x, y), expected));
    EXPECT_LE(worst, 2);
    EXPECT_LT(median_in(noise, 16, 16, 80, 80), 100) << "a clean grating reads as reliable";

    auto B = Grid(6, 6).image();
    auto N = Grid(6, 6).image();
    ComputeBlockDirImage(96, 96, g.image().get(), 6, 6, B.get(), N.get(), 17);
    const Grid b = Grid::of(B);
    for (int by = 0; by < 6; ++by)
      for (int bx = 0; bx < 6; ++bx) EXPECT_LE(zyl::test::orientation_distance(b.at(bx, by), expected), 2);
  }
}

// Turning the image by 90 degrees swaps the horizontal and vertical sums
// and the two diagonals, which turns every orientation by exactly 60 steps
// and leaves the noise as it was.
TEST(PixelDirection, TurnedGratingTurnsOrientationBySixtySteps) {
  for (double degrees : {0.0, 10.0, 22.5, 37.0, 45.0, 71.0}) {
    SCOPED_TRACE(degrees);
    const Grid g = zyl::test::grating(64, 48, degrees, 8.5, 1.0);
    const Grid t = zyl::test::turned(g);
    auto W = g.image(), D = Grid(64, 48).image();
    auto Wt = t.image(), Dt = Grid(48, 64).image();
    ComputeDirImage(64, 48, W.get(), D.get(), 12, 12, 19, 0);
    ComputeDirImage(48, 64, Wt.get(), Dt.get(), 12, 12, 19, 0);
    const Grid d = Grid::of(D), dt = Grid::of(Dt), n = Grid::of(W), nt = Grid::of(Wt);
    int mismatches = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        mismatches += dt.at(47 - y, x) != (d.at(x, y) + 60) % 120;
        mismatches += nt.at(47 - y, x) != n.at(x, y);
      }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(BlockDirection, MatchesBruteForceBlockSums) {
  std::mt19937 rng(32);
  std::uniform_int_distribution<int> side(16, 100);
  for (int trial = 0; trial < 12; ++trial) {
    const int w = side(rng), h = side(rng), contrast = trial % 2 ? 17 : 0;
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    Grid grey = zyl::test::random_grid(rng, w, h);
    for (int y = 1; y < h; ++y)
      for (int x = 0; x < w; ++x) grey.at(x, y) = (grey.at(x, y) + 3 * grey.at(x, y - 1)) / 4;
    int columns = 0, rows = 0;
    ComputeBlockedImageSize(w, h, &columns, &rows);
    ASSERT_EQ(columns, w / 16);
    ASSERT_EQ(rows, h / 16);

    // Per block: differences of the pixels inside it (and inside the
    // image's one-pixel frame), then means over the 3 x 3 blocks around.
    std::vector<Sums> blocks(static_cast<std::size_t>(columns) * rows);
    for (int y = 1; y < std::min(h - 1, rows * 16); ++y)
      for (int x = 1; x < std::min(w - 1, columns * 16); ++x) {
        const Sums s = window_sums(grey, x, y, 0, false);
        Sums& b = blocks[static_cast<std::size_t>(y / 16) * columns + x / 16];
        b.h += s.h, b.d1 += s.d1, b.v += s.v, b.d2 += s.d2;
      }
    const Grid old_d = zyl::test::random_grid(rng, columns, rows);
    Grid exp_dir(columns, rows), exp_noise(columns, rows);
    for (int by = 0; by < rows; ++by)
      for (int bx = 0; bx < columns; ++bx) {
        Sums s;
        int n = 0;
        for (int y = by - 1; y <= by + 1; ++y)
          for (int x = bx - 1; x <= bx + 1; ++x) {
            if (x < 0 || y < 0 || x >= columns || y >= rows) continue;
            const Sums& b = blocks[static_cast<std::size_t>(y) * columns + x];
            s.h += b.h, s.d1 += b.d1, s.v += b.v, s.d2 += b.d2;
            ++n;
          }
        const auto e = estimate_orientation(s.h / n, s.d1 * 71 / (n * 100), s.v / n, s.d2 * 71 / (n * 100));
        exp_dir.at(bx, by) = e.orientation | (old_d.at(bx, by) & 0x80);
        exp_noise.at(bx, by) = contrast * 512 >= e.peak ? 255 : e.noise;
      }
    auto dirs = old_d.image();
    auto noise = Grid(columns, rows).image();
    ComputeBlockDirImage(w, h, grey.image().get(), columns, rows, dirs.get(), noise.get(), contrast);
    EXPECT_EQ(Grid::of(dirs), exp_dir);
    EXPECT_EQ(Grid::of(noise), exp_noise);
  }
}

TEST(BlockDirection, FlatBlocksHaveNoOrientation) {
  auto dirs = Grid(3, 2).image(), noise = Grid(3, 2).image();
  ComputeBlockDirImage(48, 40, Grid(48, 40, 200).image().get(), 3, 2, dirs.get(), noise.get(), 17);
  EXPECT_EQ(Grid::of(dirs), Grid(3, 2, 127));
  EXPECT_EQ(Grid::of(noise), Grid(3, 2, 255));
}

// '#' unreliable (noise at the limit), '.' reliable (below it).
TEST(BlockDirection, CleanupKeepsBlocksWithFiveReliableNeighbours) {
  struct Case {
    const char* name;
    std::vector<std::string> noise;
    std::vector<std::string> kept;  // 'k' keeps its direction, '-' becomes 255
  };
  const Case cases[] = {
      {"all reliable: corners have only 4 blocks and always go",
       {"....", "....", "...."},
       {"-kk-", "kkkk", "-kk-"}},
      {"edge block with 5 of 6 reliable stays, with 4 goes",
       {"....#", "....#", "..#.."},
       {"-kk--", "kkkk-", "-kk--"}},
      {"interior needs 5 of 9", {"#.##.", "#....", "##.#."}, {"-----", "--kk-", "---k-"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int w = static_cast<int>(c.noise[0].size()), h = static_cast<int>(c.noise.size());
    Grid noise(w, h), dirs(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        noise.at(x, y) = c.noise[y][x] == '#' ? 207 : 206;
        dirs.at(x, y) = (x * 17 + y * 5) % 120;
      }
    auto D = dirs.image(), N = noise.image();
    CleanupBlockDirImage(w, h, D.get(), N.get(), 207);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool keeps = c.kept[y][x] != '-';
        EXPECT_EQ(D[y][x], keeps ? dirs.at(x, y) : 255) << x << "," << y;
      }
    EXPECT_EQ(Grid::of(N), noise) << "noise is only read";
  }
}

}  // namespace
