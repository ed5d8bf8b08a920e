#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "zylscan/typeline_math.h"
#include "zylscan/typeline_template.h"

namespace {

using Points = std::vector<std::pair<int, int>>;

int hull_of(const Points& pts, PointPolygon& poly) {
  std::vector<std::int32_t> xs, ys;
  for (auto [x, y] : pts) {
    xs.push_back(x);
    ys.push_back(y);
  }
  return get_polygon_points_sub(xs.data(), ys.data(), static_cast<int>(pts.size()), &poly);
}

std::set<std::pair<int, int>> vertices(const PointPolygon& poly) {
  std::set<std::pair<int, int>> v;
  for (int i = 0; i < poly.count; ++i) v.insert({poly.x[i], poly.y[i]});
  return v;
}

long cross(std::pair<int, int> o, std::pair<int, int> a, std::pair<int, int> b) {
  return static_cast<long>(a.first - o.first) * (b.second - o.second) -
         static_cast<long>(a.second - o.second) * (b.first - o.first);
}

// Monotone chain hull, corners only (no points in the middle of an edge).
std::set<std::pair<int, int>> reference_hull(Points pts) {
  std::sort(pts.begin(), pts.end());
  pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
  if (pts.size() < 3) return {};
  std::vector<std::pair<int, int>> h(2 * pts.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], pts[i]) <= 0) --k;
    h[k++] = pts[i];
  }
  for (std::size_t i = pts.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross(h[k - 2], h[k - 1], pts[i]) <= 0) --k;
    h[k++] = pts[i];
  }
  h.resize(k - 1);
  if (h.size() < 3) return {};
  return {h.begin(), h.end()};
}

TEST(TypelinePolygon, SquareWithAMiddlePointGivesItsCorners) {
  PointPolygon poly{};
  EXPECT_EQ(hull_of({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {5, 5}}, poly), 1);
  EXPECT_EQ(poly.count, 4);
  // Hull order from the leftmost, topmost point.
  EXPECT_EQ(poly.x[0], 0);
  EXPECT_EQ(poly.y[0], 0);
  EXPECT_EQ(vertices(poly), (std::set<std::pair<int, int>>{{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
}

TEST(TypelinePolygon, RepeatedStartPointDoesNotCloseTheHullEarly) {
  // Two minutiae at the start corner: the repeat lies on every line through
  // the start and must not be taken for a reason to close the hull.
  PointPolygon poly{};
  EXPECT_EQ(hull_of({{0, 0}, {0, 0}, {10, 0}, {10, 10}, {0, 10}}, poly), 1);
  EXPECT_EQ(poly.count, 4);
  EXPECT_EQ(vertices(poly), (std::set<std::pair<int, int>>{{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
}

TEST(TypelinePolygon, DegenerateSetsHaveNoHull) {
  struct Case {
    const char* name;
    Points points;
    int count;  // -1: polygon untouched
  };
  const Case cases[] = {
      {"no points", {}, -1},
      {"two points", {{0, 0}, {5, 5}}, -1},
      {"three collinear points", {{0, 0}, {5, 0}, {10, 0}}, 0},
      {"collinear diagonal", {{0, 0}, {3, 3}, {9, 9}, {6, 6}}, 0},
      {"one point thrice", {{4, 4}, {4, 4}, {4, 4}}, 0},
      {"a point and a duplicate pair", {{0, 0}, {10, 0}, {0, 0}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PointPolygon poly{};
    poly.count = 77;
    EXPECT_EQ(hull_of(c.points, poly), 0);
    EXPECT_EQ(poly.count, c.count == -1 ? 77 : c.count);
  }
}

TEST(TypelinePolygon, HullMatchesAReferenceOnRandomSets) {
  std::mt19937 rng(7);
  for (int iteration = 0; iteration < 2000; ++iteration) {
    // Small ranges give many collinear and repeated points.
    const int range = iteration % 2 ? 8 : 400;
    std::uniform_int_distribution<int> coord(0, range), count(3, 50);
    Points pts(static_cast<std::size_t>(count(rng)));
    for (auto& p : pts) p = {coord(rng), coord(rng)};
    PointPolygon poly{};
    const int answer = hull_of(pts, poly);
    const auto expected = reference_hull(pts);
    ASSERT_EQ(answer, expected.empty() ? 0 : 1) << "iteration " << iteration;
    if (expected.empty()) continue;
    ASSERT_EQ(vertices(poly), expected) << "iteration " << iteration;
    ASSERT_EQ(static_cast<std::size_t>(poly.count), expected.size());
    // Consecutive vertices turn one way all round.
    for (int i = 0; i < poly.count; ++i) {
      const int j = (i + 1) % poly.count, k = (i + 2) % poly.count;
      const long turn = cross({poly.x[i], poly.y[i]}, {poly.x[j], poly.y[j]}, {poly.x[k], poly.y[k]});
      const long first = cross({poly.x[0], poly.y[0]}, {poly.x[1], poly.y[1]}, {poly.x[2], poly.y[2]});
      ASSERT_GT(turn * first, 0) << "iteration " << iteration;
    }
  }
}

TEST(TypelinePolygon, HullOfARecordsMinutiae) {
  TypelineMinutiaList list{};
  const std::pair<int, int> pts[] = {{100, 100}, {200, 100}, {150, 300}, {150, 150}};
  list.count = 4;
  for (int k = 0; k < 4; ++k) {
    list.minutiae[k].x = static_cast<std::int16_t>(pts[k].first);
    list.minutiae[k].y = static_cast<std::int16_t>(pts[k].second);
  }
  list.minutiae[4] = {0, 0, 0, 0, 0, 0};  // beyond the count: not a point
  PointPolygon poly{};
  EXPECT_EQ(get_polygon_points(&list, &poly), 1);
  EXPECT_EQ(vertices(poly), (std::set<std::pair<int, int>>{{100, 100}, {200, 100}, {150, 300}}));
}

TEST(TypelinePolygon, PointInPolygonWithMargins) {
  PointPolygon square{};
  ASSERT_EQ(hull_of({{0, 0}, {100, 0}, {100, 100}, {0, 100}}, square), 1);
  PointPolygon triangle{};
  ASSERT_EQ(hull_of({{0, 0}, {100, 0}, {0, 100}}, triangle), 1);
  struct Case {
    const PointPolygon* polygon;
    int x, y, margin, inside;
  };
  const Case cases[] = {
      {&square, 50, 50, 0, 1},    {&square, 150, 50, 0, 0},   {&square, 100, 50, 0, 1},  // boundary counts
      {&square, 0, 0, 0, 1},      {&square, 100, 50, -1, 0},  {&square, 99, 50, -1, 1},
      {&square, 50, 50, -50, 1},  {&square, 50, 50, -51, 0},  {&square, 116, 50, 16, 1},
      {&square, 117, 50, 16, 0},  {&square, -16, 50, 16, 1},  {&square, -17, 50, 16, 0},
      {&square, 50, 116, 16, 1},  {&square, 50, 117, 16, 0},  {&square, 116, 116, 16, 1},
      {&square, 150, 50, -1, 0},  {&triangle, 10, 10, 0, 1},  {&triangle, 60, 60, 0, 0},
      {&triangle, 50, 50, 0, 1},  {&triangle, 60, 60, 15, 1}, {&triangle, 70, 70, 15, 0},
      {&triangle, 20, 20, -14, 1}, {&triangle, 20, 20, -21, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(check_in_polygon(c.x, c.y, c.polygon, c.margin), c.inside) << c.x << "," << c.y << " margin " << c.margin;

  PointPolygon small{};
  small.count = 2;
  EXPECT_EQ(check_in_polygon(0, 0, &small, 100), 0);
  EXPECT_EQ(check_in_polygon(0, 0, nullptr, 0), 0);
}

}  // namespace
