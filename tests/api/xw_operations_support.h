// Helpers shared by the tests of the context API's working calls and of the
// generalisation: contexts, synthetic prints, templates.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "zylscan/feature_record.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"

namespace zyl::test {

struct ContextDeleter {
  void operator()(XWContext* c) const { XWFreeContext(c); }
};
using Context = std::unique_ptr<XWContext, ContextDeleter>;

struct Point {
  std::int32_t x, y, angle;
  std::int32_t type = 0;
};

// n minutiae at least `spacing` pixels apart in a 300 x 360 area. With a
// spacing above twice the matcher's position tolerance, a line can only be
// located on its own twin, so a print matched with itself pairs every
// minutia with itself alone. No two share a y, so the order by y is unique.
inline std::vector<Point> spread_print(int n, unsigned seed, double spacing = 30) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::int32_t> x(30, 330), y(30, 390), a(0, 239), t(0, 1);
  std::vector<Point> ps;
  while (static_cast<int>(ps.size()) < n) {
    Point p{x(rng), y(rng), a(rng), t(rng)};
    const bool crowded = std::any_of(ps.begin(), ps.end(), [&](const Point& o) {
      return std::hypot(o.x - p.x, o.y - p.y) < spacing || o.y == p.y;
    });
    if (!crowded) ps.push_back(p);
  }
  return ps;
}

// A zeroed record on the heap (records are about 37 KB) holding the points,
// no singular points and an empty block grid; curvature 255 (none).
inline std::unique_ptr<FeatureRecord> record_of(const std::vector<Point>& ps) {
  auto r = std::make_unique<FeatureRecord>();
  std::fill(std::begin(r->blockDirections), std::end(r->blockDirections), std::uint8_t{255});
  r->borderDensity = 120;
  for (const Point& p : ps) {
    const int i = r->minutiaCount++;
    r->minutiaX[i] = p.x;
    r->minutiaY[i] = p.y;
    r->minutiaAngle[i] = p.angle;
    r->minutiaType[i] = p.type;
    r->minutiaCurvature[i] = 255;
  }
  return r;
}

// The native template of the points, in a 1024-byte feature buffer.
inline std::vector<std::uint8_t> template_of(const std::vector<Point>& ps, XWContext* c) {
  std::vector<std::uint8_t> t(ZYL_TEMPLATE_BUFFER_SIZE, 0);
  CompressFeatures(record_of(ps).get(), t.data(), c);
  return t;
}

// The points shifted by (dx, dy).
inline std::vector<Point> shifted(std::vector<Point> ps, int dx, int dy) {
  for (Point& p : ps) {
    p.x += dx;
    p.y += dy;
  }
  return ps;
}

// The points of a record, in record order.
inline std::vector<Point> points_of(const FeatureRecord& r) {
  std::vector<Point> ps;
  for (int i = 0; i < r.minutiaCount; ++i)
    ps.push_back({r.minutiaX[i], r.minutiaY[i], r.minutiaAngle[i], r.minutiaType[i]});
  return ps;
}

inline bool operator==(const Point& a, const Point& b) {
  return a.x == b.x && a.y == b.y && a.angle == b.angle && a.type == b.type;
}

// Sorted by y, the first of equal y first (the order generalisation leaves).
inline std::vector<Point> by_y(std::vector<Point> ps) {
  std::stable_sort(ps.begin(), ps.end(), [](const Point& a, const Point& b) { return a.y < b.y; });
  return ps;
}

}  // namespace zyl::test
