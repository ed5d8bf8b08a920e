// Polygon geometry.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "zylscan/matchlib_polygon.h"

// Found by argument-dependent lookup from gtest and std::vector.
inline bool operator==(PolyPoint a, PolyPoint b) { return a.x == b.x && a.y == b.y; }
inline std::ostream& operator<<(std::ostream& os, PolyPoint p) { return os << '(' << p.x << ',' << p.y << ')'; }

namespace {

using Points = std::vector<PolyPoint>;

struct Poly {
  Polygon* p;
  explicit Poly(Polygon* q) : p(q) {}
  explicit Poly(const Points& pts) : p(polygon_create()) {
    polygon_append_points(p, pts.data(), static_cast<uint16_t>(pts.size()));
  }
  ~Poly() { polygon_free(p); }
  Points points() const { return p ? Points(p->points, p->points + p->count) : Points{}; }
};


const Points kSquare{{0, 0}, {10, 0}, {10, 10}, {0, 10}};

TEST(Polygon, AreaHalvesEachTerm) {
  struct Case {
    Points pts;
    int64_t area;
    int64_t signed_area;
  } cases[] = {
      {kSquare, 100, 100},
      {{{0, 0}, {0, 10}, {10, 10}, {10, 0}}, 100, -100},
      {{{0, 0}, {3, 0}, {0, 3}}, 4, 4},  // terms 0, 0 and 4: not 4.5
      {{{0, 0}, {5, 5}}, 0, 0},
      {{{-32768, -32768}, {32767, -32768}, {32767, 32767}, {-32768, 32767}}, 4294836224, 4294836224},
  };
  for (const Case& c : cases) {
    Poly p(c.pts);
    EXPECT_EQ(polygon_area(p.p), c.area);
    EXPECT_EQ(polygon_signed_area(p.p), c.signed_area);
    EXPECT_EQ(points_signed_area(c.pts.data(), static_cast<uint32_t>(c.pts.size())), c.signed_area);
  }
  EXPECT_EQ(polygon_area(nullptr), 0);
}

TEST(Polygon, GrowsBeyondItsInlineStorageAndRemovesPoints) {
  Poly p(polygon_create());
  ASSERT_EQ(p.p->capacity, 8u);
  for (int16_t i = 0; i < 20; ++i) ASSERT_EQ(polygon_append_point(p.p, PolyPoint{i, int16_t(-i)}), 0);
  EXPECT_EQ(p.p->count, 20u);
  EXPECT_NE(p.p->heap, nullptr);
  EXPECT_EQ(p.p->points[19], (PolyPoint{19, -19}));
  polygon_remove_point(p.p, 0);
  polygon_remove_point(p.p, 100);  // beyond the count: nothing
  EXPECT_EQ(p.p->count, 19u);
  EXPECT_EQ(p.p->points[0], (PolyPoint{1, -1}));
  EXPECT_EQ(polygon_append_point(nullptr, PolyPoint{1, 1}), 0);
  Poly empty(polygon_create());
  polygon_remove_point(empty.p, 0);
  EXPECT_EQ(empty.p->count, 0u);
  EXPECT_EQ(polygon_centroid(empty.p), 0u);
  Poly sq(kSquare);
  EXPECT_EQ(polygon_centroid(sq.p), 5u | (5u << 16));
  Poly neg(Points{{-4, -7}, {-2, -1}});
  EXPECT_EQ(polygon_centroid(neg.p), uint32_t(uint16_t(-3)) | (uint32_t(uint16_t(-4)) << 16));
}

TEST(Polygon, PointContainment) {
  struct Case {
    PolyPoint pt;
    int inside;
  } cases[] = {
      {{5, 5}, 1},   {{0, 0}, 1},  {{10, 10}, 1}, {{11, 5}, 0}, {{-1, 5}, 0},
      {{5, 11}, 0},  {{5, -1}, 0}, {{1, 9}, 1},   {{32767, 5}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(polygon_contains_point(c.pt, kSquare.data(), 4), c.inside) << c.pt.x << "," << c.pt.y;
  // A concave outline: the notch is outside.
  const Points u{{0, 0}, {30, 0}, {30, 30}, {20, 30}, {20, 10}, {10, 10}, {10, 30}, {0, 30}};
  EXPECT_EQ(polygon_contains_point(PolyPoint{15, 20}, u.data(), 8), 0);
  EXPECT_EQ(polygon_contains_point(PolyPoint{5, 20}, u.data(), 8), 1);
  EXPECT_EQ(polygon_contains_point(PolyPoint{25, 5}, u.data(), 8), 1);
  EXPECT_EQ(polygon_contains_point(PolyPoint{0, 0}, kSquare.data(), 2), 0);
  Poly sq(kSquare);
  EXPECT_EQ(polygon_object_contains_point(PolyPoint{3, 3}, sq.p), 1);
  EXPECT_EQ(polygon_object_contains_point(PolyPoint{3, 3}, nullptr), 0);
}

TEST(Polygon, CirclesCrossProductsAndSegments) {
  EXPECT_EQ(point_in_circle(PolyPoint{3, 4}, PolyCircle{0, 0, 6}), 1);
  EXPECT_EQ(point_in_circle(PolyPoint{3, 4}, PolyCircle{0, 0, 5}), 0);  // on the rim
  int neg = -1;
  EXPECT_EQ(point_cross_half(PolyPoint{3, 0}, PolyPoint{0, 3}, &neg), 4);
  EXPECT_EQ(neg, 0);
  EXPECT_EQ(point_cross_half(PolyPoint{0, 3}, PolyPoint{3, 0}, &neg), -4);
  EXPECT_EQ(neg, 1);
  struct Case {
    PolySegment s, t;
    int cross;
  } cases[] = {
      {{0, 0, 10, 10}, {0, 10, 10, 0}, 1},
      {{0, 0, 10, 10}, {0, 10, 5, 5}, 0},  // touching at an end point
      {{0, 0, 10, 0}, {0, 1, 10, 1}, 0},   // parallel
      {{0, 0, 10, 0}, {5, 1, 5, 9}, 0},    // short of the line
  };
  for (const Case& c : cases) EXPECT_EQ(segments_cross(c.s, c.t), c.cross);
}

TEST(Polygon, ConvexHull) {
  // Interior points go; the square's corners stay, counter-clockwise from
  // the lowest point.
  Points cloud{{5, 5}, {10, 10}, {0, 10}, {3, 7}, {0, 0}, {10, 0}, {6, 2}};
  Poly h(polygon_convex_hull(cloud.data(), static_cast<uint32_t>(cloud.size())));
  ASSERT_NE(h.p, nullptr);
  EXPECT_EQ(h.points(), (Points{{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
  // Collinear points all stay.
  Points line{{4, 0}, {0, 0}, {2, 0}, {6, 0}};
  Poly l(polygon_convex_hull(line.data(), 4));
  EXPECT_EQ(l.points(), (Points{{0, 0}, {2, 0}, {4, 0}, {6, 0}}));
  Points two{{3, 3}, {1, 1}};
  Poly t(polygon_convex_hull(two.data(), 2));
  EXPECT_EQ(t.points(), (Points{{1, 1}, {3, 3}}));
  EXPECT_EQ(polygon_convex_hull(two.data(), 1), nullptr);

  Polygon rec;
  polygon_hull_init(&rec, cloud.data(), static_cast<uint32_t>(cloud.size()));
  EXPECT_EQ(rec.count, 4u);
  EXPECT_EQ(rec.capacity, 7u);
  polygon_hull_clear(&rec);
  polygon_hull_init(&rec, cloud.data(), 1);
  EXPECT_EQ(rec.count, 0u);
}

TEST(Polygon, HullContainsEveryPointOfARandomCloud) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> coord(-500, 500);
  for (int round = 0; round < 50; ++round) {
    Points pts(20);
    for (PolyPoint& p : pts) p = PolyPoint{int16_t(coord(rng)), int16_t(coord(rng))};
    Poly h(polygon_convex_hull(pts.data(), 20));
    ASSERT_NE(h.p, nullptr);
    for (const PolyPoint& p : pts)
      EXPECT_EQ(polygon_contains_point(p, h.p->points, h.p->count), 1) << round;
    // Convex and counter-clockwise: no right turn anywhere.
    for (uint32_t i = 0; i < h.p->count; ++i) {
      const PolyPoint a = h.p->points[i], b = h.p->points[(i + 1) % h.p->count],
                      c = h.p->points[(i + 2) % h.p->count];
      EXPECT_GE((b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x), 0);
    }
  }
}

TEST(Polygon, ClippingAndIntersection) {
  Poly sq(kSquare);
  Poly out(polygon_create());
  // The diagonal through (0,0) and (10,10): keep the left side.
  ASSERT_EQ(polygon_clip_edge(sq.p, PolyPoint{0, 0}, PolyPoint{10, 10}, 1, out.p), 0);
  Poly clean(polygon_intersect(out.p, sq.p));
  EXPECT_EQ(polygon_area(clean.p), 50);
  EXPECT_EQ(clean.p->count, 3u);  // each vertex once after duplicate removal

  Poly self(polygon_intersect(sq.p, sq.p));
  EXPECT_EQ(polygon_area(self.p), 100);
  EXPECT_EQ(self.p->count, 4u);
  Poly far(Points{{20, 20}, {30, 20}, {30, 30}, {20, 30}});
  Poly none(polygon_intersect(sq.p, far.p));
  ASSERT_NE(none.p, nullptr);
  EXPECT_EQ(none.p->count, 0u);
  Poly shifted(Points{{5, 5}, {15, 5}, {15, 15}, {5, 15}});
  Poly quarter(polygon_intersect(sq.p, shifted.p));
  EXPECT_EQ(quarter.points(), (Points{{10, 5}, {10, 10}, {5, 10}, {5, 5}}));
  // Terms -12.5, 25, 25 and -12.5, each truncated: 26.
  EXPECT_EQ(polygon_area(quarter.p), 26);
  // Clockwise clip polygons work the same.
  Poly cw(Points{{5, 5}, {5, 15}, {15, 15}, {15, 5}});
  Poly quarter2(polygon_intersect(sq.p, cw.p));
  EXPECT_EQ(polygon_area(quarter2.p), 26);
  Poly line(Points{{0, 0}, {5, 5}});
  Poly flat(polygon_intersect(sq.p, line.p));
  EXPECT_EQ(flat.p->count, 0u);
  EXPECT_EQ(polygon_intersect(nullptr, sq.p), nullptr);
  // Clip polygons whose first three points are collinear take their
  // orientation from the first real turn, in either direction.
  for (const Points& pts : {Points{{20, 20}, {25, 20}, {30, 20}, {30, 30}, {20, 30}},
                            Points{{20, 30}, {25, 30}, {30, 30}, {30, 20}, {20, 20}}}) {
    Poly disjoint(pts);
    Poly empty(polygon_intersect(sq.p, disjoint.p));
    ASSERT_NE(empty.p, nullptr);
    EXPECT_EQ(empty.p->count, 0u);
  }
  Poly straight_start(Points{{5, 5}, {10, 5}, {15, 5}, {15, 15}, {5, 15}});
  Poly quarter3(polygon_intersect(sq.p, straight_start.p));
  EXPECT_EQ(polygon_area(quarter3.p), 26);
  Poly collinear(Points{{0, 0}, {5, 5}, {10, 10}});
  Poly flat2(polygon_intersect(sq.p, collinear.p));
  EXPECT_EQ(flat2.p->count, 0u);
  ASSERT_EQ(polygon_clip_edge(nullptr, PolyPoint{0, 0}, PolyPoint{1, 1}, 1, out.p), 0);
  EXPECT_EQ(out.p->count, 0u);
}

}  // namespace
