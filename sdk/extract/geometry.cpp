// Table-driven direction and distance: no floating point, no division.
#include "zylscan/geometry.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::int32_t kMaxComponent = 8192;
constexpr std::int32_t kOutOfRange = 8193;
constexpr std::int32_t kMaxSquare = kMaxComponent * kMaxComponent;

// Binary search over sqrs: thirteen steps from 8192 that always land on an
// odd value (the steps sum to an odd offset), which callers' thresholds are
// stated against. S must lie below 8192 squared, so every probe stays within
// 1..8192; S equal to it is answered as out of range by the callers.
std::int32_t search_root(std::int32_t s_total) {
  std::int32_t r = kMaxComponent;
  std::int32_t s = kMaxComponent;
  do {
    s /= 2;
    if (sqrs[r] > s_total)
      r -= s;
    else
      r += s;
  } while (s != 1);
  return r;
}

// Negative components are outside the contract (callers pass absolute
// differences); they are answered as out of range rather than read before
// the table.
bool in_range(std::int32_t v) { return v >= 0 && v <= kMaxComponent; }

}  // namespace

extern "C" {

ZYL_API int32_t ComputeLineDirection(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const std::int32_t dx = x1 - x0;
  const std::int32_t dy = y1 - y0;
  std::int32_t ax = std::abs(dx);
  std::int32_t ay = std::abs(dy);
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

ZYL_API int32_t ComputeDistance(int32_t dx, int32_t dy) {
  if (!in_range(dx) || !in_range(dy)) return kOutOfRange;
  const std::int64_t total = std::int64_t{sqrs[dx]} + sqrs[dy];
  // At exactly 8192 squared the search would probe past the table: report
  // out of range there too.
  if (total >= kMaxSquare) return kOutOfRange;
  return search_root(static_cast<std::int32_t>(total));
}

ZYL_API int32_t ComputeDistance3D(int32_t a, int32_t b, int32_t c) {
  if (!in_range(a) || !in_range(b) || !in_range(c)) return kOutOfRange;
  const std::int64_t total = std::int64_t{sqrs[a]} + sqrs[b] + sqrs[c];
  if (total >= kMaxSquare) return kOutOfRange;
  return search_root(static_cast<std::int32_t>(total));
}

}  // extern "C"
