// Coarse matching on the cores, and the transforms and counts it shares with
// point matching.
#include "typeline/matching.h"
#include "typeline/polygon.h"
#include "typeline/tables.h"

namespace zyl::typeline {

Cores cores_of(const TypelineSingularList& list) {
  const SingularSplit split = split_singular_points(list, false);
  return {split.cores, split.core_count};
}

bool minutia_polygon(const TypelineMinutiaList& list, PointPolygon& polygon) {
  std::array<std::int32_t, TYPELINE_MAX_MINUTIAE> xs{}, ys{};
  const int n = minutia_count(list);
  for (int k = 0; k < n; ++k) {
    xs[k] = list.minutiae[k].x;
    ys[k] = list.minutiae[k].y;
  }
  return convex_hull(std::span(xs).first(static_cast<std::size_t>(n)), std::span(ys).first(static_cast<std::size_t>(n)),
                     polygon) == 1;
}

namespace {

int cos_q14(int r) { return kCosQ14[wrap_direction(r)]; }
int sin_q14(int r) { return kSinQ14[wrap_direction(r)]; }

// Rotation by the inverse table index with rounded sums: the transform of
// the minutiae and singular points used by point matching.
template <typename Point>
void turn_rounded(Point& p, int cx, int cy, int r, int dx, int dy) {
  const int co = cos_q14(-r), si = sin_q14(-r);
  const long long x = p.x - cx, y = p.y - cy;
  p.x = static_cast<std::int16_t>(dx + cx + round_q14(x * co + y * si));
  p.y = static_cast<std::int16_t>(dy + cy + round_q14(y * co - x * si));
}

// Rotation by the table index itself with each product floored on its own.
template <typename Point>
void turn_floored(Point& p, int cx, int cy, int co, int si, int dx, int dy) {
  const long long x = p.x - cx, y = p.y - cy;
  p.x = static_cast<std::int16_t>(dx + cx + ((x * co) >> 14) - ((y * si) >> 14));
  p.y = static_cast<std::int16_t>(dy + cy + ((y * co) >> 14) + ((x * si) >> 14));
}

std::uint8_t turned(int direction, int r) { return static_cast<std::uint8_t>(wrap_direction(direction + r)); }

}  // namespace

void transform_points(TypelineRecord& record, int cx, int cy, int r, int dx, int dy) {
  r = wrap_direction(r);
  const int co = cos_q14(r), si = sin_q14(r);
  for (TypelineMinutia& m : minutiae_of(record.minutiae)) {
    turn_floored(m, cx, cy, co, si, dx, dy);
    m.direction = turned(m.direction, r);
  }
  for (int k = 0; k < singular_count(record.singular); ++k) {
    TypelineSingularPoint& p = record.singular.points[k];
    turn_floored(p, cx, cy, co, si, dx, dy);
    if (p.kind == 1) p.direction = turned(p.direction, r);
  }
}

void transform_minutiae(TypelineMinutiaList& list, int cx, int cy, int r, int dx, int dy) {
  for (TypelineMinutia& m : minutiae_of(list)) {
    turn_rounded(m, cx, cy, r, dx, dy);
    m.direction = turned(m.direction, r);
  }
}

void transform_singular(TypelineSingularList& list, int cx, int cy, int r, int dx, int dy) {
  for (int k = 0; k < singular_count(list); ++k) {
    TypelineSingularPoint& p = list.points[k];
    turn_rounded(p, cx, cy, r, dx, dy);
    if (p.kind == 1) p.direction = turned(p.direction, r);
  }
}

void transform_block(int r, int dx, int dy, int cx, int cy, TypelineBlockGrid& grid) {
  r = wrap_direction(r);
  const int co = cos_q14(r), si = sin_q14(r);
  const int columns = grid.columns, rows = grid.rows;
  const int cells = cell_count(grid);
  std::array<std::uint8_t, TYPELINE_MAX_BLOCKS> source{};
  std::copy_n(grid.cells, cells, source.begin());
  for (int c = 0; c < cells; ++c) {
    const long long u = 16 * (c % columns) + 8 - cx - dx;
    const long long v = 16 * (c / columns) + 8 - cy - dy;
    const int xs = cx + round_q14(u * co + v * si);
    const int ys = cy + round_q14(v * co - u * si);
    std::uint8_t value = kNoOrientation;
    if (xs >= 0 && ys >= 0) {
      const int sc = xs >> 4, sr = ys >> 4;
      const int index = sr * columns + sc;
      if (sc < columns && sr < rows && index < cells && source[index] != kNoOrientation) {
        int o = source[index] + r;
        if (o > 239) o -= 240;
        if (o > 119) o -= 120;
        value = static_cast<std::uint8_t>(o);
      }
    }
    grid.cells[c] = value;
  }
}

namespace {

PointPolygon hull_of(const TypelineMinutiaList& list, bool& ok) {
  PointPolygon polygon{};
  ok = minutia_polygon(list, polygon);
  return polygon;
}

int inside_count(const TypelineMinutiaList& points, const PointPolygon& polygon) {
  int inside = 0;
  for (const TypelineMinutia& m : minutiae_of(points)) inside += in_polygon(m.x, m.y, polygon, 16);
  return inside;
}

// Pairs of a's and b's minutiae within the squared radius whose direction
// difference passes each tolerance test; per test the smaller of matched a
// and marked b.
template <int Tests, typename Pass>
std::array<int, Tests> count_matches(const TypelineMinutiaList& a, const TypelineMinutiaList& b, int squared_radius,
                                     Pass pass) {
  const auto ma = minutiae_of(a), mb = minutiae_of(b);
  std::array<std::array<bool, TYPELINE_MAX_MINUTIAE>, Tests> marked{};
  std::array<int, Tests> matched{};
  for (const TypelineMinutia& p : ma) {
    std::array<bool, Tests> hit{};
    for (std::size_t j = 0; j < mb.size(); ++j) {
      const TypelineMinutia& q = mb[j];
      if (squared_distance(p, q) > squared_radius) continue;
      const int d = direction_difference(p.direction, q.direction);
      for (int t = 0; t < Tests; ++t)
        if (pass(t, d)) hit[t] = marked[t][j] = true;
    }
    for (int t = 0; t < Tests; ++t) matched[t] += hit[t];
  }
  std::array<int, Tests> result{};
  for (int t = 0; t < Tests; ++t) {
    const int marks = static_cast<int>(std::count(marked[t].begin(), marked[t].end(), true));
    result[t] = std::min(matched[t], marks);
  }
  return result;
}

}  // namespace

int overlap_count(const TypelineMinutiaList& a, const TypelineMinutiaList& b) {
  bool ok_a = false, ok_b = false;
  const PointPolygon hull_a = hull_of(a, ok_a);
  const PointPolygon hull_b = hull_of(b, ok_b);
  if (!ok_a || !ok_b) return 0;
  return std::min(inside_count(a, hull_b), inside_count(b, hull_a));
}

MatchedCounts matched_points(const TypelineMinutiaList& a, const TypelineMinutiaList& b) {
  const auto counts = count_matches<2>(a, b, 144, [](int t, int d) { return d < (t == 0 ? 8 : 11); });
  return {counts[0], counts[1]};
}

int matched_minutiae(int radius, int tolerance, const TypelineMinutiaList& a, const TypelineMinutiaList& b) {
  const long long r2 = static_cast<long long>(radius) * radius;
  const int squared_radius = r2 > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                                   : static_cast<int>(r2);
  return count_matches<1>(a, b, squared_radius, [tolerance](int, int d) { return d <= tolerance; })[0];
}

namespace {

struct GridCounts {
  int a = 0, b = 0, both = 0;
};

// Cells of a's size, both grids indexed alike.
template <typename OnBoth>
GridCounts walk_grids(const TypelineBlockGrid& a, const TypelineBlockGrid& b, OnBoth on_both) {
  GridCounts n;
  for (int c = 0; c < cell_count(a); ++c) {
    const bool in_a = a.cells[c] != kNoOrientation, in_b = b.cells[c] != kNoOrientation;
    n.a += in_a;
    n.b += in_b;
    if (in_a && in_b) {
      ++n.both;
      on_both(a.cells[c], b.cells[c]);
    }
  }
  return n;
}

}  // namespace

int block_agreement(int tolerance, int ratio, const TypelineBlockGrid& a, const TypelineBlockGrid& b) {
  long long sum = 0;
  const GridCounts n = walk_grids(a, b, [&](int oa, int ob) {
    const int d = orientation_difference(oa, ob);
    if (d < 5)
      sum += 60;
    else if (d <= tolerance)
      sum += 60 - d;
  });
  if (n.both == 0 || static_cast<long long>(ratio) * n.both < std::min(n.a, n.b)) return 0;
  return static_cast<int>(sum * 100 / (n.both * 60LL));
}

int block_overlap(int ratio, const TypelineBlockGrid& a, const TypelineBlockGrid& b) {
  const GridCounts n = walk_grids(a, b, [](int, int) {});
  if (n.both == 0 || static_cast<long long>(ratio) * n.both < std::min(n.a, n.b)) return 0;
  return n.both * 200 / (n.a + n.b);
}

int coarse_matching(const TypelineRecord& a, const TypelineRecord& b) {
  const Cores ca = cores_of(a.singular), cb = cores_of(b.singular);
  if (ca.count == 0 || cb.count == 0) return 0;
  if (minutia_count(a.minutiae) == 0 || minutia_count(b.minutiae) == 0) return -1;
  TypelineRecord copy;
  for (int i = 0; i < ca.count; ++i) {
    const TypelineSingularPoint& p = ca.points[i];
    for (int j = 0; j < cb.count; ++j) {
      const TypelineSingularPoint& q = cb.points[j];
      const int dx = q.x - p.x, dy = q.y - p.y;
      const int r = wrap_direction(q.direction - p.direction);
      copy = a;
      transform_points(copy, p.x, p.y, r, dx, dy);
      const int m = overlap_count(copy.minutiae, b.minutiae);
      const MatchedCounts t = matched_points(copy.minutiae, b.minutiae);
      if (t.below8 > 6 && 80 * m < 100 * t.below8 && m > 9) return 1;
      if (t.below11 > 13 && 75 * m < 100 * t.below11) return 1;
      if (ca.count == 1 && cb.count == 1 && t.below8 > 6 && t.below11 > 12 && 45 * m < 100 * t.below11) {
        transform_block(r, dx, dy, p.x, p.y, copy.grid);
        if (block_agreement(30, 5, copy.grid, b.grid) > 90) return 2;
      }
    }
  }
  return 0;
}

}  // namespace zyl::typeline
