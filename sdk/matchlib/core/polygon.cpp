// Integer polygon geometry: hull, area, containment and convex clipping.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_polygon.h"
#include "zylscan/matchlib_support.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/polygon.h"
#include "matchlib/core/sorting.h"

namespace zyl::matchlib {
namespace {

// Products of 16-bit coordinates are taken in 64 bits: a difference of two
// coordinates needs 17 bits and its products 34.
std::int64_t half(std::int64_t v) { return v / 2; }  // truncates toward zero

std::int64_t orient(PolyPoint a, PolyPoint b, PolyPoint n) {
  return half(std::int64_t{a.x} * b.y - std::int64_t{a.y} * b.x) +
         half(std::int64_t{b.x} * n.y - std::int64_t{b.y} * n.x) +
         half(std::int64_t{n.x} * a.y - std::int64_t{n.y} * a.x);
}

int sign(std::int64_t v) { return (v > 0) - (v < 0); }

bool same_point(PolyPoint a, PolyPoint b) { return a.x == b.x && a.y == b.y; }

Polygon* make_polygon(std::uint32_t inline_capacity) {
  auto* p = static_cast<Polygon*>(
      ml_malloc(sizeof(Polygon) + sizeof(PolyPoint) * inline_capacity));
  if (!p) return nullptr;
  p->points = reinterpret_cast<PolyPoint*>(p + 1);
  p->count = 0;
  p->capacity = inline_capacity;
  p->heap = nullptr;
  return p;
}

struct HullRecord {
  std::int32_t index;
  std::int32_t direction;  // 0..255
  std::int64_t distance;
};

int compare_hull(const void* a, const void* b) {
  const auto* x = static_cast<const HullRecord*>(a);
  const auto* y = static_cast<const HullRecord*>(b);
  if (x->direction != y->direction) return x->direction < y->direction ? -1 : 1;
  if (x->distance != y->distance) return x->distance < y->distance ? -1 : 1;
  return 0;
}

// Graham scan into out (room for n points); answers the hull count, or -1
// when the scratch records cannot be had.
int hull_into(const PolyPoint* pts, std::uint32_t n, PolyPoint* out) {
  std::uint32_t pivot = 0;
  for (std::uint32_t i = 1; i < n; ++i)
    if (pts[i].y < pts[pivot].y || (pts[i].y == pts[pivot].y && pts[i].x < pts[pivot].x))
      pivot = i;
  auto* rec = static_cast<HullRecord*>(ml_malloc(sizeof(HullRecord) * (n - 1)));
  if (!rec) return -1;
  std::uint32_t m = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (i == pivot) continue;
    const int dx = pts[i].x - pts[pivot].x;
    const int dy = pts[i].y - pts[pivot].y;
    rec[m++] = HullRecord{static_cast<std::int32_t>(i), zyl::matchlib::fx_atan2(dy, dx) & 0xff,
                          std::int64_t{dx} * dx + std::int64_t{dy} * dy};
  }
  zyl::matchlib::shell_sort(rec, static_cast<int>(m), sizeof(HullRecord), compare_hull);
  std::uint32_t h = 0;
  out[h++] = pts[pivot];
  out[h++] = pts[rec[0].index];
  for (std::uint32_t k = 1; k < m; ++k) {
    const PolyPoint nxt = pts[rec[k].index];
    if (orient(out[h - 2], out[h - 1], nxt) < 0) {
      --h;
      while (h > 2 && orient(out[h - 2], out[h - 1], nxt) < 0) --h;
    }
    out[h++] = nxt;
  }
  std::free(rec);
  return static_cast<int>(h);
}

int reserve(Polygon* p, std::uint32_t needed) {
  if (needed <= p->capacity) return 0;
  const std::uint32_t cap = std::max({needed, p->count * 2, 8u});
  auto* buf = static_cast<PolyPoint*>(ml_malloc(sizeof(PolyPoint) * cap));
  if (!buf) return -1;
  if (p->count) std::memcpy(buf, p->points, sizeof(PolyPoint) * p->count);
  std::free(p->heap);
  p->heap = p->points = buf;
  p->capacity = cap;
  return 0;
}

// The sign of the first non-zero turn of the closed point sequence (1 for
// counter-clockwise), 0 when every turn is straight.
int first_turn(const PolyPoint* q, std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) {
    const PolyPoint p0 = q[i], p1 = q[(i + 1) % n], p2 = q[(i + 2) % n];
    const int turn = sign((std::int64_t{p1.x} - p0.x) * (p2.y - p1.y) -
                          (std::int64_t{p1.y} - p0.y) * (p2.x - p1.x));
    if (turn != 0) return turn;
  }
  return 0;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

Polygon* zyl::matchlib::polygon_create(void) { return make_polygon(8); }

void zyl::matchlib::polygon_free(Polygon* p) {
  if (!p) return;
  std::free(p->heap);
  std::free(p);
}

int zyl::matchlib::polygon_append_points(Polygon* p, const PolyPoint* points, uint16_t n) {
  if (!p || n == 0) return 0;
  if (!points) return -1;
  if (reserve(p, p->count + n) != 0) return -1;
  std::memcpy(p->points + p->count, points, sizeof(PolyPoint) * n);
  p->count += n;
  return 0;
}

int zyl::matchlib::polygon_append_point(Polygon* p, PolyPoint point) {
  return zyl::matchlib::polygon_append_points(p, &point, 1);
}

void zyl::matchlib::polygon_remove_point(Polygon* p, uint16_t index) {
  if (!p || index >= p->count) return;
  std::memmove(p->points + index, p->points + index + 1,
               sizeof(PolyPoint) * (p->count - index - 1));
  --p->count;
}

int64_t zyl::matchlib::points_signed_area(const PolyPoint* pts, uint32_t n) {
  if (!pts || n < 3) return 0;
  std::int64_t sum = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const PolyPoint prev = pts[i == 0 ? n - 1 : i - 1];
    // Each term is halved on its own: the truncation is part of the result.
    sum += half(std::int64_t{pts[i].y} * prev.x - std::int64_t{pts[i].x} * prev.y);
  }
  return sum;
}

int64_t zyl::matchlib::polygon_signed_area(const Polygon* p) {
  return p ? zyl::matchlib::points_signed_area(p->points, p->count) : 0;
}

int64_t zyl::matchlib::polygon_area(const Polygon* p) {
  const std::int64_t a = zyl::matchlib::polygon_signed_area(p);
  return a < 0 ? -a : a;
}

extern "C" ZYL_API uint32_t polygon_centroid(const Polygon* p) {
  if (!p || p->count == 0) return 0;
  std::int64_t sx = 0, sy = 0;
  for (std::uint32_t i = 0; i < p->count; ++i) {
    sx += p->points[i].x;
    sy += p->points[i].y;
  }
  const auto mx = static_cast<std::uint16_t>(sx / p->count);
  const auto my = static_cast<std::uint16_t>(sy / p->count);
  return mx | (static_cast<std::uint32_t>(my) << 16);
}

int zyl::matchlib::polygon_contains_point(PolyPoint pt, const PolyPoint* v, uint32_t n) {
  if (!v || n < 3) return 0;
  for (std::uint32_t i = 0; i < n; ++i)
    if (same_point(v[i], pt)) return 1;
  const PolyPoint q{32767, pt.y};
  std::uint32_t crossings = 0;
  for (std::uint32_t i = 1; i <= n; ++i) {
    const PolyPoint a = v[i - 1];
    const PolyPoint b = v[i % n];
    const int sa = sign(orient(pt, q, a));
    const int sb = sign(orient(pt, q, b));
    const int sp = sign(orient(a, b, pt));
    const int sq = sign(orient(a, b, q));
    if (sa != 0 && sa == -sb && sp != 0 && sp == -sq) {
      ++crossings;
      continue;
    }
    const PolyPoint u = a.y > b.y ? a : b;  // the upper end, b on a tie
    if (u.y != pt.y) continue;
    if (pt.x == 32767) {
      if (u.x == 32767) ++crossings;
    } else if (u.x > pt.x && u.x != 32767) {
      ++crossings;
    }
  }
  return static_cast<int>(crossings & 1);
}

extern "C" ZYL_API int polygon_object_contains_point(PolyPoint pt, const Polygon* p) {
  return p ? zyl::matchlib::polygon_contains_point(pt, p->points, p->count) : 0;
}

extern "C" ZYL_API int point_in_circle(PolyPoint pt, PolyCircle c) {
  const std::int64_t dx = pt.x - c.cx, dy = pt.y - c.cy;
  return dx * dx + dy * dy < std::int64_t{c.r} * c.r ? 1 : 0;
}

extern "C" ZYL_API int64_t point_cross_half(PolyPoint a, PolyPoint b, int* out_negative) {
  const std::int64_t product = std::int64_t{a.x} * b.y - std::int64_t{a.y} * b.x;
  if (out_negative) *out_negative = product < 0 ? 1 : 0;
  return half(product);
}

extern "C" ZYL_API int segments_cross(PolySegment s, PolySegment t) {
  const PolyPoint s1{s.x1, s.y1}, s2{s.x2, s.y2}, t1{t.x1, t.y1}, t2{t.x2, t.y2};
  const int a = sign(orient(s1, s2, t1)), b = sign(orient(s1, s2, t2));
  const int c = sign(orient(t1, t2, s1)), d = sign(orient(t1, t2, s2));
  return a != 0 && a == -b && c != 0 && c == -d ? 1 : 0;
}

Polygon* zyl::matchlib::polygon_convex_hull(const PolyPoint* points, uint32_t n) {
  if (!points || n < 2) return nullptr;
  Polygon* p = make_polygon(n);
  if (!p) return nullptr;
  const int h = hull_into(points, n, p->points);
  if (h <= 0) {
    zyl::matchlib::polygon_free(p);
    return nullptr;
  }
  p->count = static_cast<std::uint32_t>(h);
  return p;
}

void zyl::matchlib::polygon_hull_init(Polygon* record, const PolyPoint* points, uint32_t n) {
  if (!record) return;
  *record = Polygon{nullptr, 0, 0, nullptr};
  if (!points || n < 2) return;
  auto* buf = static_cast<PolyPoint*>(ml_malloc(sizeof(PolyPoint) * n));
  if (!buf) return;
  const int h = hull_into(points, n, buf);
  if (h <= 0) {
    std::free(buf);
    return;
  }
  *record = Polygon{buf, static_cast<std::uint32_t>(h), n, buf};
}

void zyl::matchlib::polygon_hull_clear(Polygon* record) {
  if (!record) return;
  std::free(record->heap);
  *record = Polygon{nullptr, 0, 0, nullptr};
}

int zyl::matchlib::polygon_clip_edge(const Polygon* subject, PolyPoint e0, PolyPoint e1, int side,
                                     Polygon* out) {
  if (!out) return -1;
  out->count = 0;
  if (!subject || subject->count == 0) return 0;
  const std::int64_t ex = e1.x - e0.x, ey = e1.y - e0.y;
  auto side_of = [&](PolyPoint v) { return sign(ex * (v.y - e1.y) - ey * (v.x - e1.x)); };
  const std::uint32_t n = subject->count;
  const PolyPoint* s = subject->points;
  PolyPoint prev = s[n - 1];
  int sp = side_of(prev);
  if (sp != -side && zyl::matchlib::polygon_append_point(out, prev) != 0) return -1;
  for (std::uint32_t i = 0; i < n; ++i) {
    const PolyPoint v = s[i];
    const int sv = side_of(v);
    if (sp != 0 && sv == -sp) {
      const std::int64_t den = ey * (v.x - prev.x) - ex * (v.y - prev.y);
      if (den != 0) {
        const std::int64_t t = (ey * (e0.x - prev.x) - ex * (e0.y - prev.y)) * 4096 / den;
        if (t >= -63 && t <= 4159) {
          const PolyPoint cut{static_cast<std::int16_t>(prev.x + ((std::int64_t{v.x - prev.x} * t) >> 12)),
                              static_cast<std::int16_t>(prev.y + ((std::int64_t{v.y - prev.y} * t) >> 12))};
          if (zyl::matchlib::polygon_append_point(out, cut) != 0) return -1;
        }
      }
    }
    if (i == n - 1) break;  // the last vertex went in first, as prev
    if (sv != -side && zyl::matchlib::polygon_append_point(out, v) != 0) return -1;
    prev = v;
    sp = sv;
  }
  return 0;
}

Polygon* zyl::matchlib::polygon_intersect(const Polygon* a, const Polygon* b) {
  if (!a || !b) return nullptr;
  Polygon* work[2] = {zyl::matchlib::polygon_create(), zyl::matchlib::polygon_create()};
  if (!work[0] || !work[1]) {
    zyl::matchlib::polygon_free(work[0]);
    zyl::matchlib::polygon_free(work[1]);
    return nullptr;
  }
  Polygon* result = work[0];
  // A clip polygon of fewer than 3 points encloses nothing: the result is
  // empty rather than a side taken from points that are not there.
  // Its orientation is that of its first turn that is not straight: a hull
  // may keep collinear points at its start. A polygon whose points all lie
  // on one line encloses nothing either.
  const int side = b->count >= 3 ? first_turn(b->points, b->count) : 0;
  if (side != 0) {
    const PolyPoint* q = b->points;
    const Polygon* subject = a;
    int target = 0;
    for (std::uint32_t k = 0; k < b->count; ++k) {
      const PolyPoint from = k == 0 ? q[b->count - 1] : q[k - 1];
      const PolyPoint to = q[k];
      if (zyl::matchlib::polygon_clip_edge(subject, from, to, side, work[target]) != 0) {
        zyl::matchlib::polygon_free(work[0]);
        zyl::matchlib::polygon_free(work[1]);
        return nullptr;
      }
      result = work[target];
      subject = result;
      target ^= 1;
      if (result->count == 0) break;
    }
  }
  // Consecutive duplicates go, the first point compared with the last.
  for (std::uint32_t i = 0; result->count > 1 && i < result->count;) {
    const PolyPoint pred = result->points[i == 0 ? result->count - 1 : i - 1];
    if (same_point(result->points[i], pred))
      zyl::matchlib::polygon_remove_point(result, static_cast<std::uint16_t>(i));
    else
      ++i;
  }
  zyl::matchlib::polygon_free(result == work[0] ? work[1] : work[0]);
  return result;
}

extern "C" {

ZYL_API Polygon* polygon_create(void) { return zyl::matchlib::polygon_create(); }
ZYL_API void polygon_free(Polygon* p) { zyl::matchlib::polygon_free(p); }
ZYL_API int polygon_append_points(Polygon* p, const PolyPoint* points, uint16_t n) {
  return zyl::matchlib::polygon_append_points(p, points, n);
}
ZYL_API int polygon_append_point(Polygon* p, PolyPoint point) {
  return zyl::matchlib::polygon_append_point(p, point);
}
ZYL_API void polygon_remove_point(Polygon* p, uint16_t index) {
  zyl::matchlib::polygon_remove_point(p, index);
}
ZYL_API int64_t points_signed_area(const PolyPoint* pts, uint32_t n) {
  return zyl::matchlib::points_signed_area(pts, n);
}
ZYL_API int64_t polygon_signed_area(const Polygon* p) {
  return zyl::matchlib::polygon_signed_area(p);
}
ZYL_API int64_t polygon_area(const Polygon* p) { return zyl::matchlib::polygon_area(p); }
ZYL_API int polygon_contains_point(PolyPoint pt, const PolyPoint* v, uint32_t n) {
  return zyl::matchlib::polygon_contains_point(pt, v, n);
}
ZYL_API Polygon* polygon_convex_hull(const PolyPoint* points, uint32_t n) {
  return zyl::matchlib::polygon_convex_hull(points, n);
}
ZYL_API void polygon_hull_init(Polygon* record, const PolyPoint* points, uint32_t n) {
  zyl::matchlib::polygon_hull_init(record, points, n);
}
ZYL_API void polygon_hull_clear(Polygon* record) { zyl::matchlib::polygon_hull_clear(record); }
ZYL_API int polygon_clip_edge(const Polygon* subject, PolyPoint e0, PolyPoint e1, int side,
                              Polygon* out) {
  return zyl::matchlib::polygon_clip_edge(subject, e0, e1, side, out);
}
ZYL_API Polygon* polygon_intersect(const Polygon* a, const Polygon* b) {
  return zyl::matchlib::polygon_intersect(a, b);
}

}  // extern "C"
