// The bad-area map: brute-force windows on random noise images, the fixed
// limit at corners and edges, and the discs that singular points protect.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "extract/field_images.h"
#include "zylscan/direction_image.h"

namespace {

using zyl::test::Grid;

struct Marked {
  Grid d;
  int result;
};

Marked reference(const Grid& d, const Grid& noise, const SingularPointList* points, int radius, int threshold) {
  Marked m{d, 0};
  const long limit = static_cast<long>(2 * radius + 1) * (2 * radius + 1) / 2;
  long total = 0, count = 0;
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) {
      long n = 0;
      for (int yy = std::max(0, y - radius); yy <= std::min(d.height - 1, y + radius); ++yy)
        for (int xx = std::max(0, x - radius); xx <= std::min(d.width - 1, x + radius); ++xx)
          n += noise.at(xx, yy) < threshold;
      bool protect = false;
      for (int i = 0; points && i < points->count; ++i) {
        const long dx = points->x[i] - x, dy = points->y[i] - y;
        protect |= dx * dx + dy * dy < 256;
      }
      if (n <= limit && !protect) {
        m.d.at(x, y) |= 0x80;
      } else {
        total += noise.at(x, y);
        ++count;
      }
    }
  m.result = count == 0 ? -1 : static_cast<int>(total / count);
  return m;
}

TEST(BadArea, MatchesBruteForceWindows) {
  std::mt19937 rng(51);
  std::uniform_int_distribution<int> side(1, 60), radius(0, 20), coord(-10, 70), threshold(1, 255);
  for (int trial = 0; trial < 30; ++trial) {
    const int w = side(rng), h = side(rng), r = trial == 7 ? 100 : radius(rng), t = threshold(rng);
    SCOPED_TRACE(testing::Message() << w << "x" << h << " r=" << r << " t=" << t);
    // Noise in patches, so windows hold good and bad pixels in all shares.
    Grid noise(w, h);
    const Grid coarse = zyl::test::random_grid(rng, w / 8 + 1, h / 8 + 1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) noise.at(x, y) = coarse.at(x / 8, y / 8);
    const Grid d = zyl::test::random_grid(rng, w, h);  // orientation bits and some bad bits already set
    SingularPointList points{};
    points.count = trial % 3;
    for (int i = 0; i < points.count; ++i) points.x[i] = coord(rng), points.y[i] = coord(rng);

    const Marked with = reference(d, noise, &points, r, t);
    auto D = d.image();
    auto W = noise.image();
    EXPECT_EQ(ComputeBadArea(w, h, D.get(), W.get(), &points, r, t), with.result);
    EXPECT_EQ(Grid::of(D), with.d);
    EXPECT_EQ(Grid::of(W), noise) << "the noise image is only read";

    const Marked without = reference(d, noise, nullptr, r, t);
    auto D2 = d.image();
    EXPECT_EQ(ComputeBadAreaA(w, h, D2.get(), W.get(), r, t), without.result);
    EXPECT_EQ(Grid::of(D2), without.d);
  }
}

// With radius 16 the limit is 544 everywhere: a corner window of 17 x 17
// can never pass it, an edge window of 17 x 33 = 561 needs 545 good pixels.
TEST(BadArea, LimitDoesNotShrinkAtCornersAndEdges) {
  const int w = 80, h = 80;
  struct Case {
    const char* name;
    int bad_in_edge_window;  // bad pixels placed in the window of (40, 0)
    bool edge_marked;
  };
  const Case cases[] = {{"all good", 0, false}, {"545 good", 16, false}, {"544 good", 17, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Grid noise(w, h, 10);
    for (int i = 0; i < c.bad_in_edge_window; ++i) noise.at(24 + i, 16) = 200;  // row 16, inside the window
    auto D = Grid(w, h, 33).image();
    auto W = noise.image();
    ComputeBadAreaA(w, h, D.get(), W.get(), 16, 196);
    EXPECT_EQ(D[0][0], 0x80 | 33) << "corner";
    EXPECT_EQ(D[h - 1][w - 1], 0x80 | 33) << "corner";
    EXPECT_EQ(D[0][40], c.edge_marked ? 0x80 | 33 : 33) << "edge";
    EXPECT_EQ(D[40][40], 33) << "middle";
  }
}

TEST(BadArea, SingularPointsProtectDiscsOfRadiusSixteen) {
  const int w = 64, h = 64;
  Grid noise(w, h, 250);  // nothing good anywhere
  noise.at(30, 30) = 100;
  noise.at(30, 45) = 50;   // 15 below the point: protected
  noise.at(30, 46) = 0;    // exactly 16 below: marked
  SingularPointList points{};
  points.count = 1;
  points.x[0] = 30, points.y[0] = 30;

  auto D = Grid(w, h, 5).image();
  auto W = noise.image();
  const int result = ComputeBadArea(w, h, D.get(), W.get(), &points, 16, 196);
  int unmarked = 0;
  long total = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inside = (x - 30) * (x - 30) + (y - 30) * (y - 30) < 256;
      EXPECT_EQ(D[y][x], inside ? 5 : 0x85) << x << "," << y;
      if (inside) ++unmarked, total += noise.at(x, y);
    }
  EXPECT_EQ(result, total / unmarked) << "mean noise of the protected disc";

  auto D2 = Grid(w, h, 5).image();
  EXPECT_EQ(ComputeBadAreaA(w, h, D2.get(), W.get(), 16, 196), -1) << "every pixel marked";
  EXPECT_EQ(ComputeBadAreaA(w, h, nullptr, W.get(), 16, 196), -1);
}

// Windows of more and of fewer than 2^16 pixels (the counts then take 32 or
// 16 bits), against counts from a summed-area table.
TEST(BadArea, LargeWindowsMatchSummedAreaCounts) {
  std::mt19937 rng(52);
  const int w = 300, h = 280, t = 128;
  Grid noise(w, h);
  const Grid coarse = zyl::test::random_grid(rng, w / 20 + 1, h / 20 + 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) noise.at(x, y) = coarse.at(x / 20, y / 20);
  std::vector<long> table(static_cast<std::size_t>(w + 1) * (h + 1), 0);
  auto at = [&](int x, int y) -> long& { return table[static_cast<std::size_t>(y) * (w + 1) + x]; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      at(x + 1, y + 1) = (noise.at(x, y) < t) + at(x, y + 1) + at(x + 1, y) - at(x, y);
  const Grid d = zyl::test::random_grid(rng, w, h, 0, 127);
  for (int r : {127, 140}) {  // 255 x 255 windows hold fewer than 2^16 pixels, 281 x 280 ones more
    SCOPED_TRACE(r);
    const long limit = static_cast<long>(2 * r + 1) * (2 * r + 1) / 2;
    Grid want = d;
    long total = 0, count = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int x0 = std::max(0, x - r), x1 = std::min(w, x + r + 1), y0 = std::max(0, y - r),
                  y1 = std::min(h, y + r + 1);
        const long n = at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0);
        if (n <= limit) {
          want.at(x, y) |= 0x80;
        } else {
          total += noise.at(x, y);
          ++count;
        }
      }
    auto D = d.image();
    auto W = noise.image();
    EXPECT_EQ(ComputeBadAreaA(w, h, D.get(), W.get(), r, t), count == 0 ? -1 : static_cast<int>(total / count));
    EXPECT_EQ(Grid::of(D), want);
  }
}

}  // namespace
