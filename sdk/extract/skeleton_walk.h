// Neighbourhood and straight-walk helpers shared by thinning and ridge clean-up.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zylscan/feature_record.h"

namespace zyl::extract {

// Offsets of neighbours 0..7, clockwise from north (y grows downwards).
inline constexpr int kNeighbourDx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
inline constexpr int kNeighbourDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// Background-to-ridge steps round a ring of eight neighbours, by the
// neighbourhood index (bit i set = neighbour i is ridge).
inline constexpr auto kRingTransitions = [] {
  struct Table {
    std::uint8_t steps[256];
  } table{};
  for (int index = 0; index < 256; ++index) {
    int count = 0;
    for (int i = 0; i < 8; ++i) count += ((index >> i) & 1) == 0 && ((index >> ((i + 1) & 7)) & 1) == 1;
    table.steps[index] = static_cast<std::uint8_t>(count);
  }
  return table;
}();

// Background-to-ridge steps clockwise round (x, y), whatever the pixel itself
// holds: the ridge walks look at a pixel they have already erased.
inline int RingTransitions(ByteImage image, int y, int x) {
  const std::uint8_t* up = image[y - 1];
  const std::uint8_t* mid = image[y];
  const std::uint8_t* down = image[y + 1];
  const unsigned index = (up[x] == 0) | (up[x + 1] == 0) << 1 | (mid[x + 1] == 0) << 2 | (down[x + 1] == 0) << 3 |
                         (down[x] == 0) << 4 | (down[x - 1] == 0) << 5 | (mid[x - 1] == 0) << 6 |
                         (up[x - 1] == 0) << 7;
  return kRingTransitions.steps[index];
}

// The first column x' in [x, end) whose pixel is ridge (0) at the time of
// the call, or end. Eight pixels are tested at a time: a word of eight
// bytes holds a zero byte exactly when (v - 0x01..01) & ~v & 0x80..80 is
// non-zero. A scan that changes pixels calls this again after each change,
// so it sees every pixel as a pixel-by-pixel scan would.
inline int NextRidge(const std::uint8_t* row, int x, int end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  for (; x + 8 <= end; x += 8) {
    std::uint64_t v;
    std::memcpy(&v, row + x, sizeof v);
    if (((v - kOnes) & ~v & kHighs) != 0) break;
  }
  while (x < end && row[x] != 0) ++x;
  return x;
}

// The digital straight walk from (x0, y0) towards (x1, y1): steps the
// coordinate with the larger difference by one and carries the other with an
// error in hundredths. Calls visit(x, y) at every pixel from the start up to
// but excluding the end; stops early and returns true when visit returns true.
// Coinciding points visit nothing. Every visited pixel lies in the bounding
// box of the two points.
template <class Visit>
bool WalkStraight(int x0, int y0, int x1, int y1, Visit&& visit) {
  const int dx = x1 - x0;
  const int dy = y1 - y0;
  const bool step_x = std::abs(dy) < std::abs(dx);
  int stepped = step_x ? x0 : y0;
  int carried = step_x ? y0 : x0;
  const int stepped_end = step_x ? x1 : y1;
  if (stepped == stepped_end) return false;
  const int stepped_diff = step_x ? dx : dy;
  const int slope = (step_x ? dy : dx) * 100 / std::abs(stepped_diff);
  const int dir = stepped_diff > 0 ? 1 : -1;
  int error = 0;
  while (stepped != stepped_end) {
    if (step_x ? visit(stepped, carried) : visit(carried, stepped)) return true;
    error += slope;
    if (error > 50) {
      ++carried;
      error -= 100;
    } else if (error <= -50) {
      --carried;
      error += 100;
    }
    stepped += dir;
  }
  return false;
}

}  // namespace zyl::extract
