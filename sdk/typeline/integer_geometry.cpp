#include "typeline/integer_geometry.h"
#include "typeline/tables.h"

#include <cstdint>

namespace zyl::typeline {

int direction_towards(int x0, int y0, int x1, int y1) {
  // 64-bit differences: the halving below brings any int pair into the
  // 50 x 50 table without overflow.
  std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
  std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
  if (dx < 0) dx = -dx;
  if (dy < 0) dy = -dy;
  while (dx > 49 || dy > 49) {
    dx >>= 1;
    dy >>= 1;
  }
  const int r = kDirectionOfOffset[dy * 50 + dx];
  int d;
  if (x0 > x1)
    d = y0 < y1 ? kFullTurn - r : r;
  else
    d = y0 > y1 ? kHalfTurn - r : kHalfTurn + r;
  if (d >= kFullTurn) d -= kFullTurn;
  if (d < 0) d += kFullTurn;
  return d;
}

}  // namespace zyl::typeline
