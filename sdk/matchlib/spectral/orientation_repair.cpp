// Repairs of half-turn orientation maps: hole filling, outlier repair and
// weighted smoothing, each working on doubled-angle vectors so that means
// wrap correctly round the half turn.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/spectral/orientation_repair.h"

namespace zyl::matchlib {
namespace {

constexpr int kBinomial[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};

struct Weighted {
  int64_t w = 0;       // sum of binomial weight x weight map
  int64_t plain = 0;   // sum of the binomial weights of the cells present
  int64_t coh = 0, cos2 = 0, sin2 = 0;
};

// Weighted sums over the 3 x 3 window, with or without its centre.
Weighted gather(const uint8_t* orient, const uint8_t* coh, const uint8_t* weight, int rows,
                int cols, int i, int j, bool centre) {
  Weighted s;
  for (int di = -1; di <= 1; ++di)
    for (int dj = -1; dj <= 1; ++dj) {
      if (!centre && !di && !dj) continue;
      const int ii = i + di, jj = j + dj;
      if (ii < 0 || ii >= rows || jj < 0 || jj >= cols) continue;
      const size_t q = static_cast<size_t>(ii) * cols + jj;
      const int b = kBinomial[di + 1][dj + 1];
      const int64_t w = int64_t{b} * weight[q];
      s.plain += b;
      s.w += w;
      s.coh += w * coh[q];
      s.cos2 += w * zyl::matchlib::fx_cos256(2 * orient[q]);
      s.sin2 += w * zyl::matchlib::fx_sin256(2 * orient[q]);
    }
  return s;
}

inline uint8_t mean_orientation(const Weighted& s) {
  const int y = static_cast<int>(s.sin2 / s.w), x = static_cast<int>(s.cos2 / s.w);
  return static_cast<uint8_t>((zyl::matchlib::fx_atan2(y, x) >> 1) & 127);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

// A filled cell whose weighted coherence comes out 0 stays a hole; counting
// it as filled would let an all-zero map repeat passes without end.
int zyl::matchlib::orient_fill_holes(uint8_t* orientation, uint8_t* coherence, uint8_t* weight,
                                     int rows, int columns) {
  if (!orientation || !coherence || !weight || rows <= 0 || columns <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const size_t n = static_cast<size_t>(rows) * columns;
    std::vector<uint8_t> next(weight, weight + n);
    for (;;) {
      int filled = 0, holes = 0;
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < columns; ++j) {
          const size_t k = static_cast<size_t>(i) * columns + j;
          if (coherence[k] != 0) continue;
          const Weighted s = gather(orientation, coherence, weight, rows, columns, i, j, false);
          if (s.w == 0) {
            ++holes;
            continue;
          }
          coherence[k] = static_cast<uint8_t>(s.coh / s.w);
          orientation[k] = mean_orientation(s);
          next[k] = static_cast<uint8_t>(std::min<int64_t>(255, s.w / (s.plain + 4)));
          if (coherence[k] != 0) {
            ++filled;
          } else {
            ++holes;
          }
        }
      std::copy(next.begin(), next.end(), weight);
      if (filled == 0 || holes == 0) break;
    }
    return int{ML_OK};
  });
}

int zyl::matchlib::orient_fix_outliers(uint8_t* map, int, int rows, int columns) {
  if (!map || rows <= 0 || columns <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const size_t n = static_cast<size_t>(rows) * columns;
    std::vector<uint8_t> out(map, map + n);
    auto at = [&](int i, int j) { return int{map[static_cast<size_t>(i) * columns + j]}; };
    // Takes the mean of the pair when the pair agrees and the cell does not.
    auto repair = [&](int i, int j, int a, int b) {
      if (zyl::matchlib::fx_orient_absdiff(a, b) > 16) return;
      const int m = zyl::matchlib::fx_orient_mean(a, b);
      if (zyl::matchlib::fx_orient_absdiff(at(i, j), m) > 20)
        out[static_cast<size_t>(i) * columns + j] = static_cast<uint8_t>(m);
    };
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < columns; ++j) {
        const bool top_or_bottom = i == 0 || i == rows - 1;
        const bool side = j == 0 || j == columns - 1;
        if (top_or_bottom && side) continue;  // corners never change
        const bool horizontal = j > 0 && j < columns - 1 && !side;
        const bool vertical = i > 0 && i < rows - 1 && !top_or_bottom;
        if (horizontal && (top_or_bottom || !side)) repair(i, j, at(i, j - 1), at(i, j + 1));
        if (vertical && (side || !top_or_bottom)) repair(i, j, at(i - 1, j), at(i + 1, j));
      }
    std::copy(out.begin(), out.end(), map);
    return int{ML_OK};
  });
}

extern "C" ZYL_API int orient_smooth_weighted(uint8_t* orientation, uint8_t* coherence,
                                              uint8_t* weight, const uint8_t* mask, int rows,
                                              int columns) {
  if (!orientation || !coherence || !weight || !mask || rows <= 0 || columns <= 0)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const size_t n = static_cast<size_t>(rows) * columns;
    std::vector<uint8_t> o(orientation, orientation + n), c(coherence, coherence + n),
        w(weight, weight + n);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < columns; ++j) {
        const size_t k = static_cast<size_t>(i) * columns + j;
        if (!mask[k] || !coherence[k]) continue;
        const Weighted s = gather(orientation, coherence, weight, rows, columns, i, j, true);
        if (s.w == 0) continue;  // nothing weighs here: keep the cell
        c[k] = static_cast<uint8_t>(s.coh / s.w);
        o[k] = mean_orientation(s);
        w[k] = static_cast<uint8_t>(std::min<int64_t>(255, s.w / s.plain));
      }
    std::copy(o.begin(), o.end(), orientation);
    std::copy(c.begin(), c.end(), coherence);
    std::copy(w.begin(), w.end(), weight);
    return int{ML_OK};
  });
}

extern "C" {

ZYL_API int orient_fill_holes(uint8_t* orientation, uint8_t* coherence, uint8_t* weight, int rows,
                              int columns) {
  return zyl::matchlib::orient_fill_holes(orientation, coherence, weight, rows, columns);
}
ZYL_API int orient_fix_outliers(uint8_t* map, int arg1, int rows, int columns) {
  return zyl::matchlib::orient_fix_outliers(map, arg1, rows, columns);
}

}  // extern "C"
