// Orientation map repairs: hole filling, outlier repair, weighted smoothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"

namespace {

TEST(OrientationRepair, HolesTakeTheSurroundingOrientationAcrossTheWrap) {
  // Orientations 126 and 2 straddle the wrap of the half turn: their mean
  // is 0, not 64.
  const int rows = 5, cols = 5;
  std::vector<uint8_t> o(25), c(25, 200), w(25, 100);
  for (int k = 0; k < 25; ++k) o[k] = (k % 2) ? 126 : 2;
  for (int k : {6, 7, 12}) c[k] = 0;  // a hole of three cells
  ASSERT_EQ(orient_fill_holes(o.data(), c.data(), w.data(), rows, cols), ML_OK);
  for (int k : {6, 7, 12}) {
    EXPECT_GE(c[k], 150) << k;
    EXPECT_TRUE(o[k] <= 3 || o[k] >= 125) << k << " got " << int(o[k]);
    EXPECT_GT(w[k], 0);
    EXPECT_LT(w[k], 100);  // filled cells weigh less than measured ones
  }
  // No coherence and no weight anywhere: nothing can be filled, and the
  // routine ends instead of repeating passes.
  std::vector<uint8_t> zc(25, 0), zw(25, 0), zo(25, 5);
  EXPECT_EQ(orient_fill_holes(zo.data(), zc.data(), zw.data(), rows, cols), ML_OK);
  std::vector<uint8_t> zc2(25, 0), w2(25, 50);
  EXPECT_EQ(orient_fill_holes(zo.data(), zc2.data(), w2.data(), rows, cols), ML_OK);
  for (uint8_t v : zc2) EXPECT_EQ(v, 0);
}

TEST(OrientationRepair, OutlierTakesTheMeanOfAnAgreeingPair) {
  struct Case {
    const char* what;
    std::vector<uint8_t> map;  // 3 x 3
    std::vector<uint8_t> expected;
  };
  // Edge cells compare with their own pairs too; the fixtures keep those
  // within 20 of their pair's mean.
  const Case cases[] = {
      {"interior outlier, horizontal pair",
       {0, 0, 0, 10, 60, 14, 0, 20, 0}, {0, 0, 0, 10, 12, 14, 0, 20, 0}},
      {"vertical pair wins", {0, 0, 0, 10, 90, 14, 0, 4, 0}, {0, 0, 0, 10, 2, 14, 0, 4, 0}},
      {"pairs disagree by more than 16",
       {0, 0, 0, 0, 60, 20, 0, 20, 0}, {0, 0, 0, 0, 60, 20, 0, 20, 0}},
      {"a difference of 20 is kept", {0, 0, 0, 10, 32, 14, 0, 20, 0}, {0, 0, 0, 10, 32, 14, 0, 20, 0}},
      {"pair across the wrap", {0, 0, 0, 124, 64, 4, 0, 20, 0}, {0, 0, 0, 124, 0, 4, 0, 20, 0}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> m = c.map;
    ASSERT_EQ(orient_fix_outliers(m.data(), 0, 3, 3), ML_OK);
    EXPECT_EQ(m, c.expected) << c.what;
  }
  // Border rows look left and right, corners never change.
  std::vector<uint8_t> row = {50, 10, 90, 14, 50};
  ASSERT_EQ(orient_fix_outliers(row.data(), 0, 1, 5), ML_OK);
  EXPECT_EQ(row, (std::vector<uint8_t>{50, 10, 12, 14, 50}));
}

TEST(OrientationRepair, WeightedSmoothingKeepsUniformFieldsAndMaskedCells) {
  std::vector<uint8_t> o(16, 40), c(16, 180), w(16, 60), mask(16, 1);
  o[5] = 70;
  mask[10] = 0;
  o[10] = 100;
  ASSERT_EQ(orient_smooth_weighted(o.data(), c.data(), w.data(), mask.data(), 4, 4), ML_OK);
  EXPECT_EQ(o[10], 100);  // masked out
  EXPECT_GT(o[5], 40);
  EXPECT_LT(o[5], 70);
  EXPECT_EQ(o[3], 40);  // no changed neighbour in its window
  EXPECT_EQ(c[15], 180);
  EXPECT_EQ(w[15], 60);
  EXPECT_EQ(orient_smooth_weighted(o.data(), c.data(), w.data(), nullptr, 4, 4), ML_BAD_ARGUMENT);
}

}  // namespace
