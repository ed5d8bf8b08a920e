#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>

#include "typeline/integer_geometry.h"
#include "zylscan/typeline_math.h"

namespace {

const double kPi = std::acos(-1.0);

TEST(TypelineTables, MatchTheirDefiningFormulas) {
  for (int dy = 0; dy < 50; ++dy)
    for (int dx = 0; dx < 50; ++dx) {
      const long expected = (dx == 0 && dy == 0) ? 60 : std::lround(std::atan2(dy, dx) * 120 / kPi);
      ASSERT_EQ(_table_01[dy * 50 + dx], expected) << dx << "," << dy;
    }
  for (int i = 0; i < 240; ++i) {
    ASSERT_EQ(_table_03[i], static_cast<int>(16384 * std::cos(i * 3.141592 / 120))) << i;
    ASSERT_EQ(_table_04[i], static_cast<int>(16384 * std::sin(i * 3.141592 / 120))) << i;
    const int c5 = (i == 60 || i == 180) ? 0 : static_cast<int>(std::floor(5 * std::cos(i * 3.14159 / 120)));
    ASSERT_EQ(_5cos_table[i], c5) << i;
    ASSERT_EQ(_5sin_table[i], static_cast<int>(std::floor(5 * std::sin(i * 3.14159 / 120)))) << i;
  }
  for (int i = 0; i < 1536; ++i) ASSERT_EQ(div6_table[i], i <= 1530 ? i / 6 : 0) << i;
  for (int i = 0; i < 2304; ++i) ASSERT_EQ(div9_table[i], i <= 2295 ? i / 9 : 0) << i;
}

TEST(TypelineTables, KnownEntries) {
  struct Case {
    const std::int16_t* table;
    int index;
    int value;
  };
  const Case cases[] = {
      {_table_03, 0, 16384},  {_table_03, 1, 16378},   {_table_03, 2, 16361}, {_table_03, 60, 0},
      {_table_03, 120, -16383}, {_table_04, 1, 428},   {_table_04, 2, 857},   {_table_04, 60, 16383},
      {_table_04, 120, 0},    {_table_04, 180, -16383}, {_5cos_table, 0, 5},  {_5cos_table, 1, 4},
      {_5cos_table, 60, 0},   {_5cos_table, 120, -5},  {_5cos_table, 180, 0}, {_5sin_table, 60, 4},
      {_5sin_table, 180, -5}, {_table_01, 0, 60},      {_table_01, 49, 0},    {_table_01, 49 * 50, 60},
  };
  for (const Case& c : cases) EXPECT_EQ(c.table[c.index], c.value) << c.index;
}

TEST(TypelineTables, DivisionPairsFollowTheirRule) {
  struct Row {
    int n, m, s;
  };
  const Row rows[] = {{0, 0, 0},     {1, 1, 0},      {2, 1, 1},      {3, 21845, 16}, {5, 13107, 16},
                      {6, 21845, 17}, {7, 18725, 17}, {9, 3641, 15},  {11, 2979, 15}, {64, 1, 6},
                      {255, 257, 16}, {256, 1, 8},    {300, 437, 17}, {400, 41, 14},  {511, 257, 17}};
  for (const Row& r : rows) {
    EXPECT_EQ(divX_table1[r.n], r.m) << r.n;
    EXPECT_EQ(divX_table2[r.n], r.s) << r.n;
  }
  for (int n = 1; n < 512; ++n) {
    const int s = divX_table2[n];
    const long m = divX_table1[n];
    if ((n & (n - 1)) == 0) {
      EXPECT_EQ(1L << s, n);
      EXPECT_EQ(m, 1);
      continue;
    }
    ASSERT_GE(s, 10) << n;
    ASSERT_LE(s, 17) << n;
    EXPECT_EQ(m, std::lround(std::ldexp(1.0, s) / n)) << n;
    // Good enough for the contrast stretch: 255 * 511 / n within one.
    for (long x : {0L, 1L, 255L, 255L * 255, 255L * 511})
      EXPECT_LE(std::labs((x * m >> s) - x / n), 1) << n << " " << x;
  }
}

TEST(TypelineMath, RoundedSquareRootOverItsWholeRange) {
  for (int a = 1; a <= 262143; ++a)
    ASSERT_EQ(op_func_02(a), static_cast<int>(std::floor(std::sqrt(static_cast<double>(a)) + 0.5))) << a;
  struct Case {
    int a, root;
  };
  const Case cases[] = {{0, 0}, {-1, 0}, {INT_MIN, 0}, {2, 1}, {3, 2}, {262143, 512}, {262144, 512}, {INT_MAX, 512}};
  for (const Case& c : cases) EXPECT_EQ(op_func_02(c.a), c.root) << c.a;
  static_assert(zyl::typeline::rounded_sqrt(10000) == 100);
}

TEST(TypelineMath, DirectionKnownAnswers) {
  struct Case {
    int x0, y0, x1, y1, direction;
  };
  const Case cases[] = {
      {10, 10, 0, 10, 0},    // first point right of the second
      {10, 10, 10, 0, 60},   // below
      {0, 0, 10, 0, 120},    // left
      {0, 0, 0, 10, 180},    // above
      {0, 0, 0, 0, 180},     // equal points
      {10, 10, 0, 0, 30},    // down-right
      {0, 10, 10, 0, 90},    // down-left
      {0, 0, 10, 10, 150},   // up-left
      {10, 0, 0, 10, 210},   // up-right
      {49, 1, 0, 0, 1},      // the table's shallow corner
      {0, 0, 200, 100, 137},  // halved three times to (25, 12): 120 + 17
      {100, 0, 0, 1, 0},     // halving loses dy: 240 - 0 wraps to 0
  };
  for (const Case& c : cases)
    EXPECT_EQ(op_func_01(c.x0, c.y0, c.x1, c.y1), c.direction) << c.x0 << "," << c.y0 << " from " << c.x1 << "," << c.y1;
}

// Circular distance on 240 steps of a double angle.
double circular_gap(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 240.0);
  return d > 120 ? 240 - d : d;
}

TEST(TypelineMath, DirectionAgreesWithAtan2InEveryOctant) {
  // From (x1, y1) towards (x0, y0), y downward: the angle of (x0 - x1, y0 - y1).
  for (int vy = -60; vy <= 60; ++vy)
    for (int vx = -60; vx <= 60; ++vx) {
      if (vx == 0 && vy == 0) continue;
      double exact = std::atan2(vy, vx) * 120 / kPi;
      if (exact < 0) exact += 240;
      const int d = op_func_01(7 + vx, -3 + vy, 7, -3);
      ASSERT_GE(d, 0);
      ASSERT_LT(d, 240);
      // Exact to the table's rounding without halving; halving costs a step.
      const double tolerance = (std::abs(vx) > 49 || std::abs(vy) > 49) ? 2.0 : 0.5 + 1e-9;
      ASSERT_LE(circular_gap(d, exact), tolerance) << vx << "," << vy;
    }
  // Far points do not overflow.
  EXPECT_EQ(op_func_01(INT_MAX, 0, INT_MIN, 0), 0);
  EXPECT_EQ(op_func_01(0, INT_MIN, 0, INT_MAX), 180);
}

TEST(TypelineMath, DirectionAndOrientationDifferencesFold) {
  using zyl::typeline::direction_difference;
  using zyl::typeline::orientation_difference;
  EXPECT_EQ(direction_difference(10, 230), 20);
  EXPECT_EQ(direction_difference(0, 120), 120);
  EXPECT_EQ(direction_difference(239, 0), 1);
  EXPECT_EQ(orientation_difference(5, 115), 10);
  EXPECT_EQ(orientation_difference(0, 60), 60);
  EXPECT_EQ(orientation_difference(30, 100), 50);
}

}  // namespace
