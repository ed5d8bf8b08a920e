// Small builders for the decision-function tables: circular differences,
// squared distances, singular points and hand-placed minutiae.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "zylscan/typeline_match.h"
#include "zylscan/typeline_template.h"

namespace zyl::test {

inline int Circ240(int a, int b) {
  const int d = std::abs(a - b);
  return d > 119 ? 240 - d : d;
}
inline int Circ120(int a, int b) {
  const int d = std::abs(a - b);
  return d > 59 ? 120 - d : d;
}
inline int Sq(int dx, int dy) { return dx * dx + dy * dy; }
inline int Sq(const TypelineSingularPoint& p, const TypelineSingularPoint& q) { return Sq(p.x - q.x, p.y - q.y); }

// A core (kind 1) or a delta (kind 0, direction 255).
inline void AddPoint(TypelineRecord& r, int x, int y, int direction, int kind) {
  TypelineSingularPoint& p = r.singular.points[r.singular.count++];
  p.x = static_cast<std::int16_t>(x);
  p.y = static_cast<std::int16_t>(y);
  p.direction = static_cast<std::uint8_t>(kind == 1 ? direction : 255);
  p.kind = static_cast<std::uint8_t>(kind);
}

// An empty record of the given mean minutia quality.
inline TypelineRecord Quality(int q) {
  TypelineRecord r{};
  r.minutiae.meanQuality = static_cast<std::uint8_t>(q);
  return r;
}

// Appends a minutia and answers its index.
inline int Put(TypelineMinutiaList& l, int x, int y, int quality, int direction = 0, int type = 0) {
  TypelineMinutia& m = l.minutiae[l.count];
  m.x = static_cast<std::int16_t>(x);
  m.y = static_cast<std::int16_t>(y);
  m.quality = static_cast<std::uint8_t>(quality);
  m.direction = static_cast<std::uint8_t>(((direction % 240) + 240) % 240);
  m.type = static_cast<std::uint8_t>(type);
  return l.count++;
}

// Appends the pair (first-record minutia a, second-record minutia b).
inline void Pair(PointMatchResult& r, int a, int b) {
  r.first[r.pairCount] = static_cast<std::int16_t>(a);
  r.second[r.pairCount] = static_cast<std::int16_t>(b);
  ++r.pairCount;
}

}  // namespace zyl::test
