// Table-driven direction and distance: integer results, no division.
#include "zylscan/geometry.h"
#include "extract/geometry.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::int32_t kMaxComponent = 8192;
constexpr std::int32_t kOutOfRange = 8193;
constexpr std::int32_t kMaxSquare = kMaxComponent * kMaxComponent;

// The root the distance functions report: a binary search over sqrs with
// thirteen steps from 8192, which always lands on an odd value (the steps sum
// to an odd offset) and which callers' thresholds are stated against. That
// search ends on floor(sqrt(S)) with its lowest bit set, computed here
// directly: the square root in double is correctly rounded and S < 2^26, so
// its truncation is the integer root or one off, which the two corrections
// settle exactly. S must lie below 8192 squared.
std::int32_t search_root(std::int32_t s_total) {
  std::int32_t r = static_cast<std::int32_t>(std::sqrt(static_cast<double>(s_total)));
  if (r > 0 && sqrs[r] > s_total) --r;
  if (r < kMaxComponent && sqrs[r + 1] <= s_total) ++r;
  return r | 1;
}

// Negative components are outside the contract (callers pass absolute
// differences); they are answered as out of range rather than read before
// the table.
bool in_range(std::int32_t v) { return v >= 0 && v <= kMaxComponent; }

}  // namespace

int32_t zyl::extract::ComputeLineDirection(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  // The differences are taken in 64 bits: two coordinates of a record can
  // lie further apart than 32 bits hold (a crafted record's INT32_MIN and
  // INT32_MAX), and a wrapped difference would index the table below zero.
  // Differences that fit 32 bits give the same values as before.
  const std::int64_t dx = std::int64_t{x1} - x0;
  const std::int64_t dy = std::int64_t{y1} - y0;
  std::int64_t ax = dx < 0 ? -dx : dx;
  std::int64_t ay = dy < 0 ? -dy : dy;
  while (ay > 49 || ax > 49) {
    ax >>= 1;
    ay >>= 1;
  }
  std::int32_t f = atans[ay][ax];
  if (dx > 0 && dy < 0)
    f = 240 - f;
  else if (dx <= 0 && dy > 0)
    f = 120 - f;
  else if (dx <= 0 && dy <= 0)
    f = f + 120;
  if (f < 0) f += 240;
  if (f > 239) f -= 240;
  return f;
}

int32_t zyl::extract::ComputeDistance(int32_t dx, int32_t dy) {
  if (!in_range(dx) || !in_range(dy)) return kOutOfRange;
  const std::int64_t total = std::int64_t{sqrs[dx]} + sqrs[dy];
  // At exactly 8192 squared the search would probe past the table: report
  // out of range there too.
  if (total >= kMaxSquare) return kOutOfRange;
  return search_root(static_cast<std::int32_t>(total));
}

int32_t zyl::extract::ComputeDistance3D(int32_t a, int32_t b, int32_t c) {
  if (!in_range(a) || !in_range(b) || !in_range(c)) return kOutOfRange;
  const std::int64_t total = std::int64_t{sqrs[a]} + sqrs[b] + sqrs[c];
  if (total >= kMaxSquare) return kOutOfRange;
  return search_root(static_cast<std::int32_t>(total));
}

extern "C" {

ZYL_API int32_t ComputeLineDirection(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  return zyl::extract::ComputeLineDirection(x0, y0, x1, y1);
}
ZYL_API int32_t ComputeDistance(int32_t dx, int32_t dy) { return zyl::extract::ComputeDistance(dx, dy); }
ZYL_API int32_t ComputeDistance3D(int32_t a, int32_t b, int32_t c) { return zyl::extract::ComputeDistance3D(a, b, c); }

}  // extern "C"
