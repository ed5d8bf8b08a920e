#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_object.h"

namespace {

TEST(ExpandBilinear, TwoByTwoMapWithFactorFour) {
  const uint8_t TL = 10, TR = 250, BL = 90, BR = 30;
  const std::vector<uint8_t> map = {TL, TR, BL, BR};
  std::vector<uint8_t> out(64, 0);
  ASSERT_EQ(img_expand_bilinear_u8(map.data(), 2, 2, 4, out.data(), 8, 8), ML_OK);
  const uint8_t c3 = (3 * TL + TR) / 4, c4 = (2 * TL + 2 * TR) / 4, c5 = (TL + 3 * TR) / 4;
  const std::vector<uint8_t> row2 = {TL, TL, TL, c3, c4, c5, c5, c5};
  for (int r : {0, 1, 2}) EXPECT_EQ(std::vector<uint8_t>(out.begin() + r * 8, out.begin() + r * 8 + 8), row2);
  for (int r : {6, 7})
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + r * 8, out.begin() + r * 8 + 8),
              std::vector<uint8_t>(out.begin() + 40, out.begin() + 48));
  // Row 5 (l = 3): (top + 3 * bottom) / 16 at column 2 (t = 0).
  EXPECT_EQ(out[5 * 8 + 2], (4 * TL + 3 * 4 * BL) / 16);
  EXPECT_EQ(out[5 * 8 + 5], ((TL * 1 + TR * 3) + 3 * (BL * 1 + BR * 3)) / 16);
}

// Reference: one division per pixel, edges extended, for every value type.
template <class T>
std::vector<T> reference_expand(const std::vector<T>& map, int rows, int cols, int n, int oh,
                                int ow) {
  std::vector<T> out(oh * ow);
  const int o = n / 2, er = o + (rows - 1) * n, ec = o + (cols - 1) * n;
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x) {
      const int yy = std::clamp(y, o, er - 1), xx = std::clamp(x, o, ec - 1);
      const int r = (yy - o) / n, c = (xx - o) / n, l = (yy - o) % n, t = (xx - o) % n;
      auto m = [&](int a, int b) { return int64_t{map[a * cols + b]}; };
      const int64_t top = m(r, c) * (n - t) + m(r, c + 1) * t;
      const int64_t bottom = m(r + 1, c) * (n - t) + m(r + 1, c + 1) * t;
      out[y * ow + x] = static_cast<T>(((n - l) * top + l * bottom) / (int64_t{n} * n));
    }
  return out;
}

template <class T>
void check_expand(int (*fn)(const T*, uint32_t, uint32_t, uint32_t, T*, uint32_t, uint32_t),
                  int lo, int hi) {
  std::mt19937 rng(lo + hi);
  std::uniform_int_distribution<int> d(lo, hi);
  struct Case {
    int rows, cols, n, oh, ow;
  };
  for (Case c : {Case{2, 2, 1, 2, 2}, Case{3, 4, 5, 15, 20}, Case{4, 3, 6, 26, 19},
                 Case{5, 5, 3, 13, 14}}) {
    std::vector<T> map(c.rows * c.cols);
    for (auto& v : map) v = static_cast<T>(d(rng));
    std::vector<T> out(c.oh * c.ow);
    ASSERT_EQ(fn(map.data(), c.rows, c.cols, c.n, out.data(), c.oh, c.ow), ML_OK);
    EXPECT_EQ(out, reference_expand(map, c.rows, c.cols, c.n, c.oh, c.ow)) << c.rows << "x" << c.cols;
  }
}

TEST(ExpandBilinear, EveryTypeMatchesReference) {
  check_expand<uint8_t>(img_expand_bilinear_u8, 0, 255);
  check_expand<int8_t>(img_expand_bilinear_s8, -128, 127);
  check_expand<uint16_t>(img_expand_bilinear_u16, 0, 65535);
  check_expand<int16_t>(img_expand_bilinear_s16, -32768, 32767);
}

TEST(ExpandBilinear, FactorOneRepeatsTheSecondLastValues) {
  const std::vector<uint8_t> map = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::vector<uint8_t> out(9);
  ASSERT_EQ(img_expand_bilinear_u8(map.data(), 3, 3, 1, out.data(), 3, 3), ML_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 2, 4, 5, 5, 4, 5, 5}));
}

TEST(ExpandBilinear, RefusesMapsAndOutputsItCannotServe) {
  const std::vector<uint8_t> map(6, 1);
  std::vector<uint8_t> out(64);
  struct Case {
    uint32_t rows, cols, n, oh, ow;
  };
  for (Case c : {Case{1, 6, 2, 8, 8}, Case{2, 3, 0, 8, 8}, Case{2, 3, 4, 5, 8},
                 Case{2, 3, 4, 8, 9}}) {
    EXPECT_EQ(img_expand_bilinear_u8(map.data(), c.rows, c.cols, c.n, out.data(), c.oh, c.ow), ML_BAD_ARGUMENT);
    EXPECT_EQ(img_expand_bilinear_angle8(map.data(), c.rows, c.cols, c.n, out.data(), c.oh, c.ow), ML_BAD_ARGUMENT);
  }
  EXPECT_EQ(img_expand_bilinear_u8(map.data(), 2, 3, 4, out.data(), 6, 10), ML_OK);  // the region exactly
}

TEST(ExpandBilinearAngle, TakesTheShorterWayRound) {
  struct Case {
    uint8_t a, b;
    std::vector<uint8_t> want;  // columns 2..5 of the interpolated row, n = 4
  };
  const std::vector<Case> cases = {
      {250, 10, {250, 254, 2, 6}},   // upward through 0
      {10, 250, {10, 6, 2, 254}},    // downward through 0
      {0, 128, {0, 224, 192, 160}},  // half turn, TR > TL: downward through 255
      {128, 0, {128, 160, 192, 224}},
      {40, 40, {40, 40, 40, 40}},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> map = {c.a, c.b, c.a, c.b};
    std::vector<uint8_t> out(64);
    ASSERT_EQ(img_expand_bilinear_angle8(map.data(), 2, 2, 4, out.data(), 8, 8), ML_OK);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 2 * 8 + 2, out.begin() + 2 * 8 + 6), c.want)
        << int(c.a) << " -> " << int(c.b);
  }
  // Down a column: 250 above 10 gives the same path row by row.
  const std::vector<uint8_t> map = {250, 250, 10, 10};
  std::vector<uint8_t> out(64);
  ASSERT_EQ(img_expand_bilinear_angle8(map.data(), 2, 2, 4, out.data(), 8, 8), ML_OK);
  EXPECT_EQ((std::vector<uint8_t>{out[2 * 8 + 3], out[3 * 8 + 3], out[4 * 8 + 3], out[5 * 8 + 3]}),
            (std::vector<uint8_t>{250, 254, 2, 6}));
}

TEST(ExpandBilinearPadded, FallsTowardTheFillAtTheEdges) {
  const std::vector<uint8_t> map = {200, 200, 200, 200};
  std::vector<uint8_t> out(64);
  ASSERT_EQ(img_expand_bilinear_padded_u8(map.data(), 2, 2, 4, 0, out.data(), 8, 8), ML_OK);
  // Cell centres keep their value; the outer half cell falls toward 0.
  EXPECT_EQ(out[2 * 8 + 2], 200);
  EXPECT_EQ(out[2 * 8 + 1], 200 * 3 / 4);
  EXPECT_EQ(out[2 * 8 + 0], 200 * 2 / 4);
  EXPECT_EQ(out[0], (200 * 2 * 2) / 16);
  // A single cell works with the border.
  const uint8_t one = 80;
  std::vector<uint8_t> o4(16);
  ASSERT_EQ(img_expand_bilinear_padded_u8(&one, 1, 1, 4, 0, o4.data(), 4, 4), ML_OK);
  EXPECT_EQ(o4[2 * 4 + 2], 80);
}

TEST(SampleBilinear, CornersAndMidpoints) {
  const std::vector<uint8_t> map = {0, 100, 200, 40};  // 2 x 2
  EXPECT_EQ(img_sample_bilinear_u8(0, 0, map.data(), 2, 2, 4), 0);
  EXPECT_EQ(img_sample_bilinear_u8(100, 100, map.data(), 2, 2, 4), 40);
  EXPECT_EQ(img_sample_bilinear_u8(4, 2, map.data(), 2, 2, 4), 50);    // half way across
  EXPECT_EQ(img_sample_bilinear_u8(2, 4, map.data(), 2, 2, 4), 100);   // half way down
  EXPECT_EQ(img_sample_bilinear_u8(4, 4, map.data(), 2, 2, 4), 85);    // centre of the four
  EXPECT_EQ(img_sample_bilinear_u8(3, 3, map.data(), 2, 2, 0), 0);
}

}  // namespace
