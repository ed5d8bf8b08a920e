#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "zylscan/geometry.h"

namespace {

TEST(DirectionTables, MatchTheirDefiningFormulas) {
  const double pi = std::acos(-1.0);
  for (int dy = 0; dy < 50; ++dy)
    for (int dx = 0; dx < 50; ++dx) {
      const long expected = (dx == 0 && dy == 0) ? 60 : std::lround(std::atan2(dy, dx) * 120 / pi);
      ASSERT_EQ(atans[dy][dx], expected) << dy << "," << dx;
    }
  for (int i = 0; i <= 8192; ++i) ASSERT_EQ(sqrs[i], i * i);
  for (int i = 0; i < 240; ++i) {
    const double a = i * 1.5 * pi / 180.0;
    ASSERT_EQ(cos_x10E4[i], std::lround(10000 * std::cos(a))) << i;
    ASSERT_EQ(sin_x10E4[i], std::lround(10000 * std::sin(a))) << i;
  }
  EXPECT_EQ(cos_x10E4[1], 9997);
  EXPECT_EQ(sin_x10E4[1], 262);
}

TEST(DirectionTables, OrientationWeightsArePeriodicAndSymmetric) {
  const int first_half[31] = {100, 100, 100, 99, 99, 99, 98, 97, 96, 95, 95, 93, 92, 91, 90, 89,
                              88,  87,  86,  85, 84, 83, 82, 81, 80, 79, 79, 79, 78, 78, 78};
  for (int i = 0; i <= 30; ++i) EXPECT_EQ(dir_koefs[i], first_half[i]) << i;
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(dir_koefs[i + 60], dir_koefs[i]) << i;
    if (i > 0) {
      EXPECT_EQ(dir_koefs[60 - i], dir_koefs[i]) << i;
    }
  }
}

TEST(LineDirection, QuadrantsAxesAndHalving) {
  struct Case {
    int x0, y0, x1, y1, expected;
  };
  const Case cases[] = {
      {0, 0, 10, 0, 0},       {0, 0, 0, 10, 60},    {0, 0, -10, 0, 120},  {0, 0, 0, -10, 180},
      {0, 0, 0, 0, 180},      {0, 0, 100, 100, 30}, {0, 0, 10, 10, 30},   {0, 0, -10, 10, 90},
      {0, 0, -10, -10, 150},  {0, 0, 10, -10, 210}, {5, 5, 15, 5, 0},     {0, 0, 10000, 1, 0},
      {0, 0, -3, -4000, 180}, {0, 0, 1, -1, 210},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ComputeLineDirection(c.x0, c.y0, c.x1, c.y1), c.expected)
        << "(" << c.x0 << "," << c.y0 << ")->(" << c.x1 << "," << c.y1 << ")";
}

TEST(LineDirection, StaysInTheUnitAndCloseToTheTrueAngle) {
  const double pi = std::acos(-1.0);
  for (int dy = -60; dy <= 60; dy += 7)
    for (int dx = -60; dx <= 60; dx += 5) {
      if (dx == 0 && dy == 0) continue;
      const int d = ComputeLineDirection(0, 0, dx, dy);
      ASSERT_GE(d, 0);
      ASSERT_LE(d, 239);
      double truth = std::atan2(dy, dx) * 120 / pi;
      if (truth < 0) truth += 240;
      double diff = std::fabs(truth - d);
      diff = std::min(diff, 240 - diff);
      EXPECT_LE(diff, 3.0) << dx << "," << dy;  // halving costs a little precision
    }
}

// Coordinates a full 32-bit range apart (a crafted record) give the angle of
// the true difference instead of a wrapped one that read the table at a
// negative index.
TEST(LineDirection, CoordinatesAtTheIntegerLimits) {
  constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  struct Case {
    int x0, y0, x1, y1, expected;
  };
  const Case cases[] = {
      {kMin, 0, kMax, 0, 0},   {kMax, 0, kMin, 0, 120},    {0, kMin, 0, kMax, 60},
      {0, kMax, 0, kMin, 180}, {kMin, kMin, kMax, kMax, 30}, {kMax, kMin, kMin, kMax, 90},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ComputeLineDirection(c.x0, c.y0, c.x1, c.y1), c.expected)
        << "(" << c.x0 << "," << c.y0 << ")->(" << c.x1 << "," << c.y1 << ")";
}

TEST(Distance, OddIntegerRootAndRangeLimits) {
  struct Case {
    int dx, dy, expected;
  };
  const Case cases[] = {
      {3, 4, 5},          {2, 0, 3},        {0, 0, 1},          {1, 0, 1},        {8191, 0, 8191},
      {8190, 0, 8191},    {8193, 0, 8193},  {8192, 8192, 8193}, {8192, 0, 8193},  {0, 8192, 8193},
      {6000, 6000, 8193}, {100, 100, 141},  {-1, 0, 8193},      {0, -2147483647 - 1, 8193},
  };
  for (const auto& c : cases) EXPECT_EQ(ComputeDistance(c.dx, c.dy), c.expected) << c.dx << "," << c.dy;
}

TEST(Distance, IsTheIntegerRootWithItsLowestBitSet) {
  for (int dx = 0; dx < 400; dx += 3)
    for (int dy = 0; dy < 400; dy += 11) {
      const int root = static_cast<int>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
      EXPECT_EQ(ComputeDistance(dx, dy), root | 1) << dx << "," << dy;
    }
}

// The distance's original definition: thirteen halving steps of a binary
// search from 8192 over the squares. The direct root must agree everywhere,
// notably next to the perfect squares where a rounded root could slip.
int thirteen_step_root(std::int64_t total) {
  int r = 8192, s = 8192;
  do {
    s /= 2;
    r = std::int64_t{r} * r > total ? r - s : r + s;
  } while (s != 1);
  return r;
}

TEST(Distance, AgreesWithTheThirteenStepSearch) {
  for (int a = 0; a < 8192; ++a)
    for (int b : {0, 1, 2, 3, a / 2, a}) {
      const std::int64_t total = std::int64_t{a} * a + std::int64_t{b} * b;
      if (total >= 8192 * 8192) continue;
      ASSERT_EQ(ComputeDistance(a, b), thirteen_step_root(total)) << a << "," << b;
      ASSERT_EQ(ComputeDistance3D(a, b, 1), total + 1 < 8192 * 8192 ? thirteen_step_root(total + 1) : 8193)
          << a << "," << b;
    }
  for (int dx = 0; dx < 8192; dx += 37)
    for (int dy = 0; dy < 8192; dy += 41) {
      const std::int64_t total = std::int64_t{dx} * dx + std::int64_t{dy} * dy;
      if (total >= 8192 * 8192) continue;
      ASSERT_EQ(ComputeDistance(dx, dy), thirteen_step_root(total)) << dx << "," << dy;
    }
}

TEST(Distance3D, FollowsTheSameRuleAndLimits) {
  EXPECT_EQ(ComputeDistance3D(1, 2, 2), 3);
  EXPECT_EQ(ComputeDistance3D(3, 4, 0), ComputeDistance(3, 4));
  EXPECT_EQ(ComputeDistance3D(0, 0, 8193), 8193);
  EXPECT_EQ(ComputeDistance3D(5000, 5000, 5000), 8193);
  EXPECT_EQ(ComputeDistance3D(8192, 0, 0), 8193);
  EXPECT_EQ(ComputeDistance3D(0, -5, 0), 8193);
}

}  // namespace
