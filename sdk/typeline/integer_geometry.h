// Integer geometry shared by every stage of the type-line engine.
#pragma once

#include <cstdint>

#include "zylscan/typeline_math.h"

namespace zyl::typeline {

inline constexpr int kFullTurn = 240;  // directions 0..239
inline constexpr int kHalfTurn = 120;  // orientations 0..119

// |a - b| of two directions folded to 0..120.
constexpr int direction_difference(int a, int b) {
  const int d = a > b ? a - b : b - a;
  return d > kHalfTurn ? kFullTurn - d : d;
}

// |a - b| of two orientations folded to 0..60.
constexpr int orientation_difference(int a, int b) {
  const int d = a > b ? a - b : b - a;
  return d > kHalfTurn / 2 ? kHalfTurn - d : d;
}

// Direction 0..239 in which (x0, y0) lies as seen from (x1, y1).
int direction_towards(int x0, int y0, int x1, int y1);

// floor(sqrt(a) + 0.5) by bisection on 0..512; 0 for a <= 0 and 512 for
// a > 262143 (the largest square the engine's co-ordinates produce).
constexpr int rounded_sqrt(int a) {
  if (a <= 0) return 0;
  if (a > 0x3FFFF) return 512;
  int r = 256;
  int step = 256;
  do {
    step >>= 1;
    if (r * r == a) return r;
    if (a > r * r)
      r += step;
    else
      r -= step;
  } while (step > 1);
  const int q = r * r;
  if (q == a) return r;
  if (q > a) return q - r >= a ? r - 1 : r;
  return q + r < a ? r + 1 : r;
}

}  // namespace zyl::typeline
