#include "typeline/polygon.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "typeline/integer_geometry.h"

namespace zyl::typeline {
namespace {

struct Point {
  std::int64_t x;
  std::int64_t y;
  bool operator==(const Point&) const = default;
};

// True when m lies on the line through l and q beyond q (on q's side and
// farther from l), judged on one co-ordinate.
bool beyond(std::int64_t m, std::int64_t q, std::int64_t l) {
  return (m - q) * (m - l) > 0 && std::llabs(m - q) < std::llabs(m - l);
}

// Squared distance of (x, y) from the line through v and n, with the
// engine's integer length; -1 when the edge has no length.
std::int64_t squared_distance(std::int64_t side, std::int64_t x, const Point& v, const Point& n) {
  if (v.x == n.x) return (x - n.x) * (x - n.x);
  const std::int64_t len2 = (v.y - n.y) * (v.y - n.y) + (v.x - n.x) * (v.x - n.x);
  // Longer edges than the square root covers take its upper limit.
  const int len = rounded_sqrt(static_cast<int>(std::min<std::int64_t>(len2, 0x40000)));
  if (len == 0) return -1;
  const std::int64_t d = side / len;
  return d * d;
}

}  // namespace

int convex_hull(std::span<const std::int32_t> xs, std::span<const std::int32_t> ys,
                PointPolygon& polygon) {
  const std::size_t n = std::min(xs.size(), ys.size());
  if (n < 3) return 0;
  auto point = [&](std::size_t i) { return Point{xs[i], ys[i]}; };

  std::size_t first = 0;
  for (std::size_t i = 1; i < n; ++i)
    if (xs[i] < xs[first] || (xs[i] == xs[first] && ys[i] < ys[first])) first = i;
  const Point start = point(first);

  std::array<Point, TYPELINE_POLYGON_MAX_VERTICES> hull{};
  std::size_t k = 0;
  hull[k++] = start;
  bool closed = false;
  bool overflow = false;
  while (!closed && !overflow) {
    const Point last = hull[k - 1];
    const bool has_before = k >= 2;
    const Point before = has_before ? hull[k - 2] : Point{};
    bool appended = false;
    for (std::size_t j = 0; j < n && !appended && !closed; ++j) {
      const Point q = point(j);
      if (q == last || (has_before && q == before)) continue;
      int negative = 0, positive = 0;
      bool rejected = false;
      for (std::size_t m = 0; m < n; ++m) {
        if (m == j) continue;
        const Point p = point(m);
        // A repeat of the candidate is the candidate itself: on its line it
        // would otherwise close the hull early when the candidate is the start.
        if (p == last || p == q) continue;
        const std::int64_t cross = (p.y - last.y) * (q.x - last.x) - (p.x - last.x) * (q.y - last.y);
        if (cross < 0) {
          ++negative;
        } else if (cross > 0) {
          ++positive;
        } else {
          // A farther point on the same line disqualifies q.
          if (beyond(p.x, q.x, last.x)) ++negative, ++positive;
          if (beyond(p.y, q.y, last.y)) ++negative, ++positive;
          if ((negative == 0 || positive == 0) && p == start) {
            closed = true;
            break;
          }
        }
        if (negative > 0 && positive > 0) {
          rejected = true;
          break;
        }
      }
      if (closed || rejected) continue;
      if (q == start) {
        closed = true;
      } else if (k == hull.size()) {
        overflow = true;  // only degenerate input cycles this long
        break;
      } else {
        hull[k++] = q;
        appended = true;
      }
    }
    if (!appended) break;
  }

  if (!closed) {
    polygon.count = 0;
    return 0;
  }
  polygon.count = static_cast<std::int16_t>(k);
  for (std::size_t i = 0; i < k; ++i) {
    polygon.x[i] = static_cast<std::int16_t>(hull[i].x);
    polygon.y[i] = static_cast<std::int16_t>(hull[i].y);
  }
  return k > 2 ? 1 : 0;
}

int in_polygon(int x, int y, const PointPolygon& polygon, int margin) {
  const int count = polygon.count;
  if (count < 3 || count > TYPELINE_POLYGON_MAX_VERTICES) return 0;
  const std::int64_t margin2 = static_cast<std::int64_t>(margin) * margin;
  auto vertex = [&](int i) { return Point{polygon.x[i], polygon.y[i]}; };
  int previous = count - 1;
  for (int i = 0; i < count; ++i) {
    const Point p = vertex(previous), v = vertex(i), n = vertex(i + 1 == count ? 0 : i + 1);
    const std::int64_t side = (v.y - n.y) * (x - n.x) - (v.x - n.x) * (y - n.y);
    if (side == 0 && x >= std::min(v.x, n.x) && x <= std::max(v.x, n.x) &&
        y >= std::min(v.y, n.y) && y <= std::max(v.y, n.y))
      return margin >= 0 ? 1 : 0;
    const std::int64_t ref = (v.y - n.y) * (p.x - n.x) - (v.x - n.x) * (p.y - n.y);
    const bool outside = (side > 0 && ref < 0) || (side < 0 && ref > 0);
    if (outside) {
      if (margin <= 0) return 0;
      const std::int64_t d = squared_distance(side, x, v, n);
      if (d < 0 || d > margin2) return 0;
    } else if (margin < 0) {
      const std::int64_t d = squared_distance(side, x, v, n);
      if (d < 0 || d < margin2) return 0;
    }
    previous = i;
  }
  return 1;
}

}  // namespace zyl::typeline
