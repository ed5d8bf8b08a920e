// Type matching: may two pattern types belong to one finger?
#include <cstdlib>

#include "typeline/matching.h"

namespace zyl::typeline {
namespace {

int core_distance(const SingularSplit& s) {
  if (s.core_count < 2) return 0;
  const auto& c = s.cores;
  return rounded_sqrt(squared_distance(c[0].x, c[0].y, c[1].x, c[1].y));
}

// Squared distance between the end points of type lines 1 and 2.
int spread(const TypelineRecord& r) {
  const long long dx = r.typeLines[0] - r.typeLines[1], dy = r.typeLines[4] - r.typeLines[5];
  return static_cast<int>(dx * dx + dy * dy);
}

constexpr int kSpreadLimit = 2025;

// The two records as (X, Y) for the symmetric core-distance check of the
// whorl-like types against type 8; -1 refuses, 1 accepts, 0 goes on.
int core_spacing_check(const SingularSplit& sx, const TypelineRecord& y,
                       const SingularSplit& sy, int lo) {
  if (y.minutiae.meanQuality <= 35 || sx.core_count != 2 || sy.core_count != 1) return 0;
  const int d = core_distance(sx);
  const int g = core_type_line_distance(y, 0, false);
  if (lo == 1) return d >= g - 40 ? 1 : -1;
  if (d < g - 36) return -1;
  if (d < g - 5 && spread(y) > kSpreadLimit) return -1;
  return 0;
}

}  // namespace

int core_type_line_distance(const TypelineRecord& record, int k, bool far) {
  if (k != 0 && k != 1) return 0;
  const Cores cores = cores_of(record.singular);
  // Without that core there is nothing to measure.
  if (cores.count < k + 1) return 0;
  const TypelineSingularPoint& c = cores.points[k];
  int d[2];
  for (int j = 0; j < 2; ++j) {
    const int line = 2 * k + j;
    d[j] = rounded_sqrt(squared_distance(c.x, c.y, record.typeLines[line], record.typeLines[line + 4]));
  }
  return far ? std::max(d[0], d[1]) : std::min(d[0], d[1]);
}

int type_matching(const TypelineRecord& a, const TypelineRecord& b) {
  const int ta = a.patternType, tb = b.patternType;
  const int lo = std::min(ta, tb), hi = std::max(ta, tb);
  if (lo == hi) return 1;
  const int qa = a.minutiae.meanQuality, qb = b.minutiae.meanQuality;
  if (qa == 0 || qb == 0) return 0;
  if (std::min(qa, qb) < 36 && std::max(qa, qb) < 40) return 1;
  const SingularSplit sa = split_singular_points(a.singular), sb = split_singular_points(b.singular);

  if (lo <= 2) {
    if (hi == 3) return 1;
    if (hi <= 2) {
      if (std::abs(core_distance(sa) - core_distance(sb)) > 55)
        return (ta == 1 && sb.core_count == 1) || (tb == 1 && sa.core_count == 1) ? 1 : 0;
      return 1;
    }
    if (lo == 2 && (hi == 4 || hi == 5)) return 1;
    if (hi >= 8) {
      if (lo != 2 && hi == 8) {
        for (int side = 0; side < 2; ++side) {
          const int verdict = side == 0 ? core_spacing_check(sa, b, sb, lo) : core_spacing_check(sb, a, sa, lo);
          if (verdict != 0) return verdict > 0 ? 1 : 0;
        }
      }
      return 1;
    }
    // hi is 4..7.
    if (lo == 0 && (hi == 4 || hi == 5) && spread(ta != 0 ? a : b) <= kSpreadLimit) return 1;
    if (lo == 1) {
      const TypelineRecord& other = ta != 1 ? a : b;
      // A record without a core gives the distance test nothing to measure:
      // the test does not apply.
      if (cores_of(other.singular).count == 0) return 1;
      return core_type_line_distance(other, 0, false) < 71 ? 1 : 0;
    }
    return 0;
  }

  if (lo == 3) return 1;
  if ((lo == 4 && hi == 5) || (lo == 4 && hi == 6) || (lo == 5 && hi == 6) || (lo == 6 && hi == 7)) return 0;
  if ((lo == 4 || lo == 5) && hi == 7) {
    for (int side = 0; side < 2; ++side) {
      const TypelineRecord& r = side == 0 ? a : b;
      const SingularSplit& s = side == 0 ? sa : sb;
      // The delta-side test needs the core it measures from; a type-7
      // record without one does not qualify.
      if (r.patternType != 7 || s.delta_count != 1 || s.core_count == 0) continue;
      const TypelineSingularPoint &core = s.cores[0], &delta = s.deltas[0];
      const int turn = direction_towards(delta.x, delta.y, core.x, core.y) - core.direction;
      const int other = side == 0 ? tb : ta;
      if (turn > 0 && other == 4) return 0;
      if (turn < 0 && other == 5) return 0;
      break;
    }
  }
  return 1;
}

}  // namespace zyl::typeline
