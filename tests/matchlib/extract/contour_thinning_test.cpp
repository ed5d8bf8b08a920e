// Contour thinning: thin inputs stay, thick strokes become one-pixel lines
// with their connectivity and holes, and the two pattern tables treat every
// orientation alike.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "crowded_shapes.h"
#include "matchlib/extract/contour_thinning.h"
#include "zylscan/matchlib_contour_thin.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {
namespace {

using Image = std::vector<std::uint8_t>;

// '#' object (0), anything else background (1).
Image from_rows(const std::vector<std::string>& rows) {
  Image img;
  for (const auto& r : rows)
    for (char c : r) img.push_back(c == '#' ? 0 : 1);
  return img;
}

Image blank(int h, int w) { return Image(static_cast<std::size_t>(h) * w, 1); }

void fill(Image& img, int w, int y0, int x0, int y1, int x1) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) img[y * w + x] = 0;
}

// Components of pixels equal to `value`: 8-connected for objects, 4 for the
// background (the usual pairing, so holes are counted as seen).
int components(const Image& img, int h, int w, std::uint8_t value) {
  std::vector<int> label(img.size(), 0);
  int n = 0;
  const bool eight = value == 0;
  for (int s = 0; s < h * w; ++s) {
    if (img[s] != value || label[s]) continue;
    ++n;
    std::vector<int> stack{s};
    label[s] = n;
    while (!stack.empty()) {
      const int i = stack.back();
      stack.pop_back();
      const int y = i / w, x = i % w;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if ((!dy && !dx) || (!eight && dy && dx)) continue;
          const int yy = y + dy, xx = x + dx;
          if (yy < 0 || xx < 0 || yy >= h || xx >= w) continue;
          const int j = yy * w + xx;
          if (img[j] == value && !label[j]) {
            label[j] = n;
            stack.push_back(j);
          }
        }
    }
  }
  return n;
}

bool has_2x2_block(const Image& img, int h, int w) {
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x)
      if (!img[y * w + x] && !img[y * w + x + 1] && !img[(y + 1) * w + x] &&
          !img[(y + 1) * w + x + 1])
        return true;
  return false;
}

int object_count(const Image& img) {
  int n = 0;
  for (auto v : img) n += v == 0;
  return n;
}

TEST(ContourThin, ThinInputsStayAsTheyAre) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"isolated pixel", {".......", ".......", "...#...", ".......", "......."}},
      {"horizontal line", {".........", ".........", "..#####..", ".........", "........."}},
      {"vertical line", {".....", "..#..", "..#..", "..#..", "..#..", "..#..", "....."}},
      {"diagonal down", {".......", ".#.....", "..#....", "...#...", "....#..", "......."}},
      {"diagonal up", {".......", "....#..", "...#...", "..#....", ".#.....", "......."}},
      {"three rows", {"..........", ".########.", ".........."}},
  };
  for (const Case& c : cases) {
    const int h = static_cast<int>(c.rows.size()), w = static_cast<int>(c.rows[0].size());
    Image img = from_rows(c.rows);
    const Image before = img;
    ASSERT_EQ(bilevel_thin(img.data(), h, w), ML_OK) << c.name;
    EXPECT_EQ(img, before) << c.name;
  }
}

TEST(ContourThin, ThickStrokesBecomeLinesKeepingConnectivityAndHoles) {
  struct Case {
    const char* name;
    int h, w;
    std::vector<std::array<int, 4>> rects;  // y0, x0, y1, x1
  };
  const Case cases[] = {
      {"bar", 12, 30, {{{3, 3, 7, 26}}}},
      {"cross", 30, 30, {{{12, 3, 16, 26}}, {{3, 12, 26, 16}}}},
      {"ring", 30, 30, {{{4, 4, 8, 25}}, {{21, 4, 25, 25}}, {{4, 4, 25, 8}}, {{4, 21, 25, 25}}}},
      {"two blobs", 20, 40, {{{3, 3, 15, 12}}, {{5, 20, 9, 36}}}},
      {"L", 24, 24, {{{3, 3, 20, 6}}, {{17, 3, 20, 20}}}},
  };
  for (const Case& c : cases) {
    Image img = blank(c.h, c.w);
    for (const auto& r : c.rects) fill(img, c.w, r[0], r[1], r[2], r[3]);
    const int parts = components(img, c.h, c.w, 0);
    const int grounds = components(img, c.h, c.w, 1);
    const int before = object_count(img);
    ASSERT_EQ(bilevel_thin(img.data(), c.h, c.w), ML_OK) << c.name;
    EXPECT_LT(object_count(img), before) << c.name;
    EXPECT_GT(object_count(img), 0) << c.name;
    EXPECT_FALSE(has_2x2_block(img, c.h, c.w)) << c.name;
    EXPECT_EQ(components(img, c.h, c.w, 0), parts) << c.name;
    EXPECT_EQ(components(img, c.h, c.w, 1), grounds) << c.name;
    // Thinning a thinned image changes nothing.
    const Image once = img;
    ASSERT_EQ(bilevel_thin(img.data(), c.h, c.w), ML_OK);
    EXPECT_EQ(img, once) << c.name;
  }
}

// Bit of each neighbour position (row step, column step).
int bit_of(int dy, int dx) {
  static const int bits[3][3] = {{128, 64, 32}, {16, 0, 8}, {4, 2, 1}};
  return bits[dy + 1][dx + 1];
}

int transform(int pattern, int symmetry) {
  int out = 0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      if ((!dy && !dx) || !(pattern & bit_of(dy, dx))) continue;
      int y = dy, x = dx;
      if (symmetry & 4) x = -x;
      for (int r = 0; r < (symmetry & 3); ++r) {
        const int t = y;
        y = x;
        x = -t;
      }
      out |= bit_of(y, x);
    }
  return out;
}

TEST(ContourThin, PatternTablesAreClosedUnderTheEightSymmetries) {
  for (const auto* table : {&matchlib::kThinDelete, &matchlib::kThinRestore})
    for (int p = 0; p < 256; ++p)
      for (int s = 0; s < 8; ++s)
        EXPECT_EQ((*table)[p], (*table)[transform(p, s)]) << "pattern " << p << " symmetry " << s;
}

TEST(ContourThin, NextStepAndIsolationOfSinglePixels) {
  // 3 x 3 window with the object neighbours given; centre at (1, 1).
  Image win = from_rows({"#..", ".#.", "..#"});
  const std::uint8_t* centre = win.data() + 4;
  EXPECT_EQ(pixel_is_isolated(centre, 3), 0);
  // Arrived moving down-right: the search starts at up-right and reaches
  // up-left last, so the down-right neighbour is found first.
  EXPECT_EQ(contour_next_step(centre, 3, THIN_DOWN_RIGHT), THIN_DOWN_RIGHT);
  // Arrived moving right: up, right, down-right, down, down-left, left are
  // tested, so only down-right answers.
  EXPECT_EQ(contour_next_step(centre, 3, THIN_RIGHT), THIN_DOWN_RIGHT);
  // Arrived moving up: up-left, up, up-right, right, down-right, down.
  EXPECT_EQ(contour_next_step(centre, 3, THIN_UP), THIN_UP_LEFT);
  Image alone = from_rows({"...", ".#.", "..."});
  EXPECT_EQ(pixel_is_isolated(alone.data() + 4, 3), 1);
  EXPECT_EQ(contour_next_step(alone.data() + 4, 3, THIN_UP), 0);
}

TEST(ContourThin, RefusesBadArgumentsAndUnframedImages) {
  EXPECT_EQ(bilevel_thin(nullptr, 5, 5), ML_BAD_ARGUMENT);
  Image img = blank(6, 6);
  img[6 * 2] = 0;  // object pixel on the left frame column
  EXPECT_EQ(bilevel_thin(img.data(), 6, 6), ML_BAD_ARGUMENT);
}

// Known results on crowded images, taken when the outlines were kept in a
// list that took each new one at its front: keeping them another way must
// not change the visiting order (newest first) and so not a single pixel.
TEST(ContourThin, CrowdedImagesThinAsWithNewestOutlinesFirst) {
  struct Case {
    unsigned seed;
    std::uint64_t digest;
  };
  const Case cases[] = {{1, 0xedbe14a09046e57eull}, {2, 0x4417fd0e13dfe88dull}, {3, 0x1beebedc679fd31cull}};
  const int h = 160, w = 200;
  for (const Case& c : cases) {
    Image img = crowded_shapes(h, w, c.seed, 900);
    for (auto& v : img) v = v ? 0 : 1;
    EXPECT_EQ(bilevel_thin(img.data(), h, w), ML_OK) << c.seed;
    EXPECT_EQ(fnv1a(img), c.digest) << c.seed;
  }
}

}  // namespace
}  // namespace zyl::test
