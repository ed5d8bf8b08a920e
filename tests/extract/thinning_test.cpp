#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "extract/skeleton_canvas.h"
#include "extract/skeleton_walk.h"
#include "extract/thinning.h"
#include "zylscan/extract_thinning.h"

namespace {

using zyl::test::Canvas;

// The removal rule, written out independently: r[i] = neighbour i is ridge.
int RuleEntry(int index) {
  int r[9];
  int n = 0;
  for (int i = 0; i < 8; ++i) n += r[i] = (index >> i) & 1;
  r[8] = r[0];
  if (n < 3 || n == 8) return 0;
  int t = 0;
  for (int i = 0; i < 8; ++i) t += !r[i] && r[i + 1];
  if (t == 1) return !((r[0] && r[2] && r[6]) || (r[0] && r[4] && r[6]));
  if (t == 2) return (r[0] && r[6] && !r[2] && !r[3] && !r[4]) || (r[4] && r[6] && !r[0] && !r[1] && !r[2]);
  return 0;
}

TEST(Thinning, SkeletTableEqualsItsRuleFromLoadAndAfterRebuild) {
  int removable = 0;
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(skelet[i], RuleEntry(i)) << "index " << i;
    removable += skelet[i];
  }
  EXPECT_EQ(removable, 34);

  std::uint8_t saved[256];
  std::memcpy(saved, skelet, sizeof saved);
  std::memset(skelet, 0, sizeof saved);
  FESkltInit();
  EXPECT_EQ(std::memcmp(saved, skelet, sizeof saved), 0);
  FESkltInit();  // calling again rewrites the same values
  EXPECT_EQ(std::memcmp(saved, skelet, sizeof saved), 0);
}

// Thinning written out plainly: every sub-pass decides all pixels from the
// image as the sub-pass found it, through the given table, and skips the
// rows that the same sub-pass of the previous pass left unchanged.
std::vector<std::uint8_t> ReferenceThinning(std::vector<std::uint8_t> img, int w, int h, int passes,
                                            const std::uint8_t* table) {
  std::vector<int> settled[2] = {std::vector<int>(h, 0), std::vector<int>(h, 0)};
  const int dx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, dy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  for (; passes > 0; --passes) {
    bool any = false;
    for (int sub = 0; sub < 2; ++sub) {
      const std::vector<std::uint8_t> before = img;
      for (int y = 1; y + 1 < h; ++y) {
        if (settled[sub][y]) continue;
        bool removed = false;
        for (int x = 1; x + 1 < w; ++x) {
          if (before[y * w + x] != 0) continue;
          int index = 0;
          for (int i = 0; i < 8; ++i) {
            const int j = (i + 4 * sub) % 8;
            index |= (before[(y + dy[j]) * w + x + dx[j]] == 0) << i;
          }
          if (table[index]) img[y * w + x] = 255, removed = true;
        }
        settled[sub][y] = !removed;
        any |= removed;
      }
    }
    if (!any) break;
  }
  return img;
}

// Random ridge images of widths around the 64-pixel words, with grey values
// beside 0 and 255, against the plain thinning: under the rule's table and
// under a table a caller has changed.
TEST(Thinning, MatchesThePlainThinningOnRandomImages) {
  std::mt19937 rng(99);
  const int widths[] = {3, 4, 63, 64, 65, 66, 127, 128, 129, 190};
  std::uint8_t rule[256], changed[256];
  std::memcpy(rule, skelet, sizeof rule);
  for (int i = 0; i < 256; ++i) changed[i] = static_cast<std::uint8_t>(rule[i] ^ (i % 37 == 5));
  for (int trial = 0; trial < 40; ++trial) {
    const int w = widths[trial % 10], h = 3 + trial * 7 % 50, passes = 1 + trial % 13;
    std::vector<std::uint8_t> img(static_cast<std::size_t>(w) * h);
    std::bernoulli_distribution ridge(0.3 + 0.4 * (trial % 3) / 2.0);
    std::uniform_int_distribution<int> grey(1, 254);
    for (auto& p : img) p = ridge(rng) ? 0 : trial % 4 == 1 ? static_cast<std::uint8_t>(grey(rng)) : 255;
    const bool changed_table = trial % 5 == 4;
    if (changed_table) std::memcpy(skelet, changed, sizeof changed);
    const auto want = ReferenceThinning(img, w, h, passes, skelet);
    std::vector<std::uint8_t*> rows(h);
    for (int y = 0; y < h; ++y) rows[y] = img.data() + static_cast<std::size_t>(y) * w;
    SkeletonizeImage(w, h, rows.data(), passes);
    std::memcpy(skelet, rule, sizeof rule);
    EXPECT_EQ(img, want) << "trial " << trial << ": " << w << " x " << h << ", " << passes << " passes"
                         << (changed_table ? ", changed table" : "");
  }
}

TEST(Thinning, RidgeBitsOfARowWithAndWithoutVectorInstructions) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> value(0, 3);
  for (int width : {1, 15, 16, 17, 63, 64, 65, 130, 200}) {
    std::vector<std::uint8_t> row(width);
    for (auto& p : row) p = static_cast<std::uint8_t>(value(rng) == 0 ? 0 : value(rng) * 85);
    const std::size_t words = (width + 63) / 64;
    std::vector<zyl::extract::RidgeWord> fast(words, ~0ull), plain(words, ~0ull), want(words, 0);
    for (int x = 0; x < width; ++x) want[x / 64] |= static_cast<zyl::extract::RidgeWord>(row[x] == 0) << (x % 64);
    zyl::extract::pack_ridge_row(row.data(), width, fast.data());
    zyl::extract::pack_ridge_row_plain(row.data(), width, plain.data());
    EXPECT_EQ(fast, want) << width;
    EXPECT_EQ(plain, want) << width;
  }
}

// The transition count by table against the count round the ring, for
// every neighbourhood of a ridge pixel and of a background one.
TEST(Thinning, TransitionCountOfEveryNeighbourhood) {
  const int dx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, dy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  for (int centre = 0; centre < 2; ++centre)
    for (int index = 0; index < 256; ++index) {
      Canvas img(3, 3);
      img[1][1] = centre ? 0 : 255;
      for (int i = 0; i < 8; ++i)
        if ((index >> i) & 1) img[1 + dy[i]][1 + dx[i]] = 0;
      int steps = 0;
      for (int i = 0; i < 8; ++i) steps += !((index >> i) & 1) && ((index >> ((i + 1) % 8)) & 1);
      EXPECT_EQ(zyl::extract::RingTransitions(img.get(), 1, 1), steps) << index;
      EXPECT_EQ(GetTransitionCount(img.get(), 1, 1), centre ? steps : -1) << index;
    }
}

// The ridge search eight pixels at a time against a pixel-by-pixel search,
// on rows of sparse ridge pixels among grey values (bytes of 0x80 and 0x01
// included, which a careless zero-byte test mistakes for zeros).
TEST(Thinning, NextRidgeFindsTheFirstRidgePixel) {
  std::mt19937 rng(8);
  const std::uint8_t values[] = {1, 0x80, 0x81, 0xFF, 0x7F, 0x01, 255, 2};
  for (int trial = 0; trial < 300; ++trial) {
    const int width = trial % 70;
    std::vector<std::uint8_t> row(width + 8, 0);  // zeros beyond the end must not be found
    for (int x = 0; x < width; ++x) row[x] = rng() % 23 == 0 ? 0 : values[rng() % 8];
    for (int from = 0; from <= width; ++from) {
      int want = from;
      while (want < width && row[want] != 0) ++want;
      ASSERT_EQ(zyl::extract::NextRidge(row.data(), from, width), want) << trial << " from " << from;
    }
  }
}

TEST(Thinning, KeepsIsolatedSparseAndSurroundedPixels) {
  // Index bits: neighbour i ridge. 0 isolated, two neighbours, all eight.
  for (int index : {0x00, 0x01, 0x11, 0x05, 0xFF}) EXPECT_EQ(skelet[index], 0) << index;
}

TEST(Thinning, TwoPixelThickLineBecomesOnePixelThickInOnePass) {
  struct Case {
    const char* name;
    bool horizontal;
  };
  for (const Case& c : {Case{"horizontal", true}, Case{"vertical", false}}) {
    Canvas img(30, 30);
    for (int a = 5; a <= 24; ++a) {
      for (int b = 14; b <= 15; ++b) {
        if (c.horizontal)
          img[b][a] = 0;
        else
          img[a][b] = 0;
      }
    }
    SkeletonizeImage(img.width(), img.height(), img.get(), 1);
    for (int a = 6; a <= 23; ++a) {
      const int across = c.horizontal ? img.ridge(a, 14) + img.ridge(a, 15)
                                      : img.ridge(14, a) + img.ridge(15, a);
      EXPECT_EQ(across, 1) << c.name << " at " << a;
    }
  }
}

TEST(Thinning, ZeroPassesAndThinRidgesLeaveTheImageAlone) {
  Canvas thick(20, 20);
  for (int y = 4; y < 16; ++y)
    for (int x = 4; x < 16; ++x) thick[y][x] = 0;
  const auto before = thick.text();
  SkeletonizeImage(20, 20, thick.get(), 0);
  EXPECT_EQ(thick.text(), before);

  Canvas thin(40, 30);
  thin.stroke({{3, 3}, {20, 10}, {36, 25}}).stroke({{5, 25}, {20, 10}});
  const auto thin_before = thin.text();
  SkeletonizeImage(40, 30, thin.get(), 12);
  EXPECT_EQ(thin.text(), thin_before);
}

// 8-connected components of the ridge pixels.
int RidgeComponents(const Canvas& img) {
  std::vector<int> seen(img.width() * img.height(), 0);
  int components = 0;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      if (!img.ridge(x, y) || seen[y * img.width() + x]) continue;
      ++components;
      std::vector<std::pair<int, int>> stack{{x, y}};
      seen[y * img.width() + x] = 1;
      while (!stack.empty()) {
        auto [cx, cy] = stack.back();
        stack.pop_back();
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = cx + dx, ny = cy + dy;
            if (nx < 0 || ny < 0 || nx >= img.width() || ny >= img.height()) continue;
            if (!img.ridge(nx, ny) || seen[ny * img.width() + nx]) continue;
            seen[ny * img.width() + nx] = 1;
            stack.push_back({nx, ny});
          }
        }
      }
    }
  }
  return components;
}

TEST(Thinning, RandomBlobStaysConnectedAndEndsOnePixelWide) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20; ++trial) {
    // A chain of overlapping discs: one connected blob without holes.
    Canvas img(64, 64);
    int cx = 32, cy = 32;
    std::uniform_int_distribution<int> step(-4, 4), radius(2, 5);
    for (int disc = 0; disc < 12; ++disc) {
      const int r = radius(rng);
      for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) img[y][x] = 0;
      cx = std::clamp(cx + step(rng), 10, 53);
      cy = std::clamp(cy + step(rng), 10, 53);
    }
    ASSERT_EQ(RidgeComponents(img), 1);
    SkeletonizeImage(64, 64, img.get(), 40);
    EXPECT_EQ(RidgeComponents(img), 1) << "trial " << trial;
    EXPECT_GT(img.ridge_count(), 0);
    // One pixel wide: no 2 x 2 square of ridge pixels is left.
    for (int y = 0; y + 1 < 64; ++y)
      for (int x = 0; x + 1 < 64; ++x)
        EXPECT_FALSE(img.ridge(x, y) && img.ridge(x + 1, y) && img.ridge(x, y + 1) &&
                     img.ridge(x + 1, y + 1))
            << "trial " << trial << " at " << x << "," << y;
  }
}

TEST(Thinning, NeverChangesTheBorderRowsAndColumns) {
  Canvas img(12, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) img[y][x] = 0;
  SkeletonizeImage(12, 10, img.get(), 12);
  for (int x = 0; x < 12; ++x) EXPECT_TRUE(img.ridge(x, 0) && img.ridge(x, 9));
  for (int y = 0; y < 10; ++y) EXPECT_TRUE(img.ridge(0, y) && img.ridge(11, y));
}

TEST(Thinning, TransitionCountOfEndingInteriorBifurcationIsolatedAndBackground) {
  struct Case {
    std::vector<std::string> rows;  // the pixel under test is the centre
    int expected;
  };
  const Case cases[] = {
      {{"...", ".#.", ".#."}, 1},  // ridge ending
      {{"#..", ".#.", "..#"}, 2},  // ridge interior
      {{"#.#", ".#.", ".#."}, 3},  // bifurcation
      {{"...", ".#.", "..."}, 0},  // isolated pixel
      {{"###", "#.#", "###"}, -1}, // background
      {{"##.", ".#.", "..."}, 1},  // two touching neighbours form one run
  };
  for (const Case& c : cases) {
    Canvas img(c.rows);
    EXPECT_EQ(GetTransitionCount(img.get(), 1, 1), c.expected) << c.rows[0] << "|" << c.rows[1] << "|" << c.rows[2];
  }
}

TEST(Thinning, PixelOnLineTestsThePathBetweenTheEnds) {
  struct Case {
    const char* name;
    int x0, y0, x1, y1;
    std::pair<int, int> ridge;  // one ridge pixel placed before the test
    int expected;
  };
  const Case cases[] = {
      {"background only", 2, 2, 17, 8, {0, 0}, 0},
      {"ridge on the shallow path", 2, 2, 17, 8, {9, 5}, 1},
      {"ridge on the steep path", 3, 1, 8, 11, {6, 7}, 1},
      {"ridge beside the path", 2, 2, 17, 2, {9, 3}, 0},
      {"end point not tested", 2, 2, 17, 8, {17, 8}, 0},
      {"start point not tested", 2, 2, 17, 8, {2, 2}, 0},
      {"coinciding points", 5, 5, 5, 5, {0, 0}, 1},
      {"walks leftwards too", 17, 8, 2, 2, {9, 5}, 1},
  };
  for (const Case& c : cases) {
    Canvas img(20, 12);
    img[c.ridge.second][c.ridge.first] = 0;
    EXPECT_EQ(PixelOnLine(c.x0, c.y0, c.x1, c.y1, img.get()), c.expected) << c.name;
  }
}

}  // namespace
