// Helpers of the block spectral analyses (the orientation and frequency
// field and the grid front ends): the five strongest spectral maxima of a
// block, and the doubled-angle direction of a peak.
#pragma once

#include <algorithm>
#include <cstdint>

#include "zylscan/matchlib_fixed.h"
#include "matchlib/core/fixed_math.h"

namespace zyl::matchlib {

struct SpectralCandidate {
  int64_t value = 0;
  int row = 0, col = 0;
};

// Keeps the five largest local maxima in descending order (later among
// equals), as the scan inserts them, and counts the insertions.
struct SpectralCandidateList {
  SpectralCandidate e[5] = {};
  int size = 0;
  int insertions = 0;
  void offer(int64_t v, int row, int col) {
    if (v <= (size == 5 ? e[4].value : 0)) return;
    int at = 0;
    while (at < size && e[at].value >= v) ++at;
    for (int k = std::min(size, 4); k > at; --k) e[k] = e[k - 1];
    e[at] = {v, row, col};
    size = std::min(size + 1, 5);
    ++insertions;
  }
};

// fx_atan2(2xy / R', (x^2 - y^2) / R') with R' normalised to 15 bits.
inline int doubled_angle(int64_t x, int64_t y, uint32_t r) {
  int64_t dc = x * x - y * y, ds = 2 * x * y;
  const int t = 30 - zyl::matchlib::fx_log2_floor(r);
  if (t >= 0) {
    dc *= int64_t{1} << t;
    ds *= int64_t{1} << t;
  }
  const int down = 15 - t;
  int64_t rp = down >= 0 ? int64_t{r} >> down : int64_t{r} << -down;
  if (rp == 0) rp = 1;
  return zyl::matchlib::fx_atan2(static_cast<int>(ds / rp), static_cast<int>(dc / rp));
}

}  // namespace zyl::matchlib
