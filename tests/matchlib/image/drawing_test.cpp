// Drawing primitives: exact pixels of lines, markers, rectangles and
// numbers, clipping, lightening and darkening.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "zylscan/matchlib_drawing.h"
#include "zylscan/matchlib_object.h"

namespace {

using Points = std::set<std::pair<int, int>>;  // (x, y)

struct Image {
  int h, w;
  std::vector<uint8_t> px;
  Image(int h_, int w_, uint8_t fill = 0) : h(h_), w(w_), px(static_cast<size_t>(h_) * w_, fill) {}
  Points where(uint8_t v) const {
    Points p;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (px[y * w + x] == v) p.insert({x, y});
    return p;
  }
};

TEST(Draw, LinesStepWithoutErrorTerms) {
  struct Case { int x0, y0, x1, y1; Points expected; } cases[] = {
      {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 1}}},
      {4, 1, 0, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 1}}},  // reversed gives the same
      {3, 3, 3, 3, {{3, 3}}},
      {1, 0, 0, 3, {{1, 0}, {1, 1}, {1, 2}, {0, 3}}},  // steep, x truncated toward zero
      {5, 0, 1, 2, {{5, 0}, {4, 0}, {3, 1}, {2, 1}, {1, 2}}},
      {-2, 2, 2, 2, {{0, 2}, {1, 2}, {2, 2}}},  // clipped on the left
      {9, 9, 12, 12, {}},                        // wholly outside
  };
  for (const auto& c : cases) {
    Image img(6, 7);
    draw_line(img.px.data(), 6, 7, c.x0, c.y0, c.x1, c.y1, 9);
    EXPECT_EQ(img.where(9), c.expected) << c.x0 << "," << c.y0 << "-" << c.x1 << "," << c.y1;
  }
}

TEST(Draw, TriangleIsItsThreeLines) {
  Image a(10, 10), b(10, 10);
  draw_triangle(a.px.data(), 10, 10, 1, 1, 8, 2, 3, 9, 7);
  draw_line(b.px.data(), 10, 10, 1, 1, 8, 2, 7);
  draw_line(b.px.data(), 10, 10, 8, 2, 3, 9, 7);
  draw_line(b.px.data(), 10, 10, 3, 9, 1, 1, 7);
  EXPECT_EQ(a.px, b.px);
}

TEST(Draw, PixelComparesSixteenBitCounts) {
  Image img(3, 3);
  draw_pixel(img.px.data(), 3, 3, 2, 1, 5);
  draw_pixel(img.px.data(), 3, 3, -1, 0, 6);  // 65535 as a row: outside
  draw_pixel(img.px.data(), 3, 3, 0, 3, 6);
  EXPECT_EQ(img.where(5), (Points{{1, 2}}));
  EXPECT_TRUE(img.where(6).empty());
}

TEST(Draw, RectangleOutlines) {
  struct Case { int x, y, w, h; size_t count; } cases[] = {
      {1, 1, 4, 1, 4}, {1, 1, 4, 2, 8}, {1, 1, 4, 3, 10}, {0, 0, 3, 5, 12}, {5, 5, 4, 4, 3}, {1, 1, 0, 3, 0}};
  for (const auto& c : cases) {
    Image img(7, 7);
    draw_rect(img.px.data(), 7, 7, c.x, c.y, c.w, c.h, 1);
    EXPECT_EQ(img.where(1).size(), c.count) << c.x << "," << c.y << " " << c.w << "x" << c.h;
  }
  Image img(5, 5);
  draw_rect(img.px.data(), 5, 5, 1, 1, 3, 3, 1);
  EXPECT_EQ(img.where(1), (Points{{1, 1}, {2, 1}, {3, 1}, {1, 2}, {3, 2}, {1, 3}, {2, 3}, {3, 3}}));
}

TEST(Draw, MarkersOfEachSize) {
  struct Case { int size; Points expected; } cases[] = {
      {0, {}},
      {1, {{5, 5}}},
      {2, {{5, 5}, {6, 5}, {5, 6}, {6, 6}}},
      {3, {{5, 4}, {4, 5}, {6, 5}, {5, 6}}},
      {4, {{5, 4}, {6, 4}, {5, 7}, {6, 7}, {4, 5}, {4, 6}, {7, 5}, {7, 6}}},
      // Runs of 3 joined by single diagonal pixels.
      {7, {{4, 2}, {5, 2}, {6, 2}, {4, 8}, {5, 8}, {6, 8}, {2, 4}, {2, 5}, {2, 6}, {8, 4}, {8, 5}, {8, 6},
           {3, 3}, {7, 3}, {3, 7}, {7, 7}}},
  };
  for (const auto& c : cases) {
    Image img(11, 11);
    draw_marker(img.px.data(), 11, 11, c.size, 5, 5, 3);
    EXPECT_EQ(img.where(3), c.expected) << c.size;
  }
  // Size 10: runs of 4 joined by diagonals of 2, 24 pixels on a 10 x 10 box.
  Image big(20, 20);
  draw_marker(big.px.data(), 20, 20, 10, 10, 10, 3);
  const Points p = big.where(3);
  EXPECT_EQ(p.size(), 24u);
  EXPECT_TRUE(p.count({9, 6}) && p.count({12, 6}) && !p.count({8, 6}));  // top run, box from (6, 6)
  EXPECT_TRUE(p.count({8, 7}) && p.count({7, 8}));                        // top-left diagonal
  // Clipped near the corner.
  Image corner(4, 4);
  draw_marker(corner.px.data(), 4, 4, 3, 0, 0, 3);
  EXPECT_EQ(corner.where(3), (Points{{1, 0}, {0, 1}}));
}

TEST(Draw, FontGlyphsHaveTheirPixelCounts) {
  const int counts[10] = {14, 11, 12, 12, 13, 13, 14, 10, 14, 14};
  for (int d = 0; d < 10; ++d) {
    Image img(9, 6, 0);
    draw_number(img.px.data(), 9, 6, d, 1, 1, 1, 200);
    EXPECT_EQ(img.where(200).size(), static_cast<size_t>(counts[d])) << d;
    // The background box is the complement, one pixel larger than the glyph.
    EXPECT_EQ(img.where(200).size() + img.where(55).size(), 54u) << d;
  }
}

// Digit cells drawn: columns (relative to x) where a glyph pixel appears.
int cells_drawn(const Image& img, uint8_t value) {
  std::set<int> cells;
  for (auto [x, y] : img.where(value)) cells.insert((x - 1) / 5);
  return static_cast<int>(cells.size());
}

TEST(Draw, NumbersPadSignAndSkipLeadingZeros) {
  struct Case { int32_t number; int min_digits; int cells; } cases[] = {
      {-7, 1, 2}, {42, 4, 4}, {0, 0, 0}, {0, 1, 1}, {123456, 0, 6}, {-2147483647 - 1, 1, 11}};
  for (const auto& c : cases) {
    Image img(9, 60, 0);
    draw_number(img.px.data(), 9, 60, c.number, c.min_digits, 1, 1, 255);
    EXPECT_EQ(cells_drawn(img, 255), c.cells) << c.number;
  }
  // 42 with four places: the cells hold 0, 0, 4, 2 in order.
  Image padded(9, 30, 0);
  draw_number(padded.px.data(), 9, 30, 42, 4, 1, 1, 255);
  const int digits[4] = {0, 0, 4, 2};
  for (int k = 0; k < 4; ++k) {
    Image one(9, 6, 0);
    draw_number(one.px.data(), 9, 6, digits[k], 1, 1, 1, 255);
    for (int y = 1; y < 8; ++y)
      for (int x = 1; x < 5; ++x)
        EXPECT_EQ(padded.px[y * 30 + x + 5 * k], one.px[y * 6 + x]) << k;
  }
  // The minus cell: value on row y+3 columns 1 and 2, complement around it.
  Image minus(9, 12, 7);
  draw_number(minus.px.data(), 9, 12, -7, 1, 1, 1, 255);
  EXPECT_EQ(minus.px[4 * 12 + 2], 255);
  EXPECT_EQ(minus.px[4 * 12 + 3], 255);
  EXPECT_EQ(minus.px[4 * 12 + 1], 0);
  EXPECT_EQ(minus.px[3 * 12 + 2], 0);
  EXPECT_EQ(minus.px[1 * 12 + 1], 7);  // the minus cell paints no full box
}

TEST(Draw, LightenAndDarkenByPercentage) {
  const uint8_t src[4] = {0, 100, 200, 255};
  uint8_t out[4];
  struct Case { bool lighten; int percent; std::vector<uint8_t> expected; } cases[] = {
      {true, 50, {127, 177, 227, 255}}, {true, 150, {255, 255, 255, 255}}, {true, 0, {0, 100, 200, 255}},
      {false, 50, {0, 50, 100, 128}}, {false, 100, {0, 0, 0, 0}}, {false, -5, {0, 100, 200, 255}}};
  for (const auto& c : cases) {
    (c.lighten ? draw_lighten : draw_darken)(src, 2, 2, c.percent, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), c.expected) << c.lighten << " " << c.percent;
  }
  uint8_t same[4] = {0, 100, 200, 255};
  draw_lighten(same, 2, 2, 50, same);
  EXPECT_EQ(same[1], 177);
}

}  // namespace

namespace {

TEST(WindowFrame, KeepsCentredWindowAndFadesItsFrame) {
  // p = 75: s = 80, a window of half the width and half the height.
  const int h = 40, w = 40;
  std::vector<uint8_t> src(h * w, 0), dst(h * w, 1);
  ASSERT_EQ(img_window_frame_u8(src.data(), h, w, 75, dst.data()), ML_OK);
  // Window rows and columns 10..29, margin ring 9 and 30.
  EXPECT_EQ(dst[5 * w + 5], 255);     // outside
  EXPECT_EQ(dst[20 * w + 20], 0);     // inside, untouched
  EXPECT_EQ(dst[15 * w + 12], 0);
  EXPECT_EQ(dst[9 * w + 20], 191);    // outer ring, lightened by three quarters
  EXPECT_EQ(dst[10 * w + 20], 63);    // inner ring, lightened by a quarter
  EXPECT_EQ(dst[20 * w + 9], 191);
  EXPECT_EQ(dst[20 * w + 30], 191);
  EXPECT_EQ(dst[29 * w + 20], 63);
  EXPECT_EQ(dst[9 * w + 9], 255);     // the median rounds the corner
  // In place gives the same.
  ASSERT_EQ(img_window_frame_u8(src.data(), h, w, 75, src.data()), ML_OK);
  EXPECT_EQ(src, dst);
}

TEST(WindowFrame, PercentageLimits) {
  std::vector<uint8_t> src(10 * 12), dst(10 * 12, 7);
  for (size_t k = 0; k < src.size(); ++k) src[k] = static_cast<uint8_t>(k);
  EXPECT_EQ(img_window_frame_u8(src.data(), 10, 12, 101, dst.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(dst, std::vector<uint8_t>(dst.size(), 7));
  EXPECT_EQ(img_window_frame_u8(src.data(), 10, 12, 0, dst.data()), ML_OK);  // a copy
  EXPECT_EQ(dst, src);
  EXPECT_EQ(img_window_frame_u8(src.data(), 10, 12, 256 + 50, dst.data()), ML_OK);  // read as a byte: 50
  EXPECT_EQ(dst[0], 255);
}

}  // namespace

namespace {

TEST(Draw, HugeShapesCostOnlyTheirVisiblePixels) {
  // Each of these would walk billions of clipped points one by one.
  const Points row2 = {{0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 2}, {6, 2}};
  {
    Image img(6, 7);
    draw_line(img.px.data(), 6, 7, 0, 2, 2147483647, 2, 9);
    EXPECT_EQ(img.where(9), row2);
  }
  {
    Image img(6, 7);
    draw_line(img.px.data(), 6, 7, -2000000000, 2, 2000000000, 2, 9);
    EXPECT_EQ(img.where(9), row2);
  }
  {
    Image img(6, 7);
    draw_line(img.px.data(), 6, 7, 3, 2000000000, 3, -2000000000, 9);
    EXPECT_EQ(img.where(9), (Points{{3, 0}, {3, 1}, {3, 2}, {3, 3}, {3, 4}, {3, 5}}));
  }
  {
    // A steep line from far above: x = x0 + k*dx/dy, products beyond 64 bits.
    Image img(6, 7);
    draw_line(img.px.data(), 6, 7, -2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647, 9);
    EXPECT_EQ(img.where(9).size(), 6u);  // the diagonal through the image
  }
  {
    Image img(6, 7);
    draw_rect(img.px.data(), 6, 7, -1000000000, 2, 2000000000, 3, 9);
    Points expected = row2;
    for (int x = 0; x < 7; ++x) expected.insert({x, 4});
    EXPECT_EQ(img.where(9), expected);
  }
  {
    // A ring of diameter 1000001 whose top run crosses row 2.
    Image img(6, 7);
    draw_marker(img.px.data(), 6, 7, 1000001, 3, 500002, 9);
    EXPECT_EQ(img.where(9), row2);
    Image none(6, 7);
    draw_marker(none.px.data(), 6, 7, 2147483647, 3, 3, 9);
    EXPECT_TRUE(none.where(9).empty());
  }
}

}  // namespace
