// Orientation inconsistency maps, singular-point candidates at their local
// maxima, and a drawing of points for inspection.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "matchlib/core/allocation.h"
#include "common/guarded_call.h"
#include "zylscan/matchlib_drawing.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/drawing.h"
#include "matchlib/spectral/singular_candidates.h"
#include "matchlib/spectral/singular_points.h"

using namespace zyl::matchlib;

// An allocation failure answers 9 (the output is left alone) rather than
// success over an untouched map.
extern "C" ZYL_API int orient_inconsistency_map(const uint8_t* orientation, int height, int width,
                                                uint8_t* out) {
  if (!orientation || !out || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const size_t n = static_cast<size_t>(height) * width;
    std::vector<int16_t> c(n), s(n);
    for (size_t i = 0; i < n; ++i) {
      c[i] = static_cast<int16_t>(zyl::matchlib::fx_cos256(2 * orientation[i]));
      s[i] = static_cast<int16_t>(zyl::matchlib::fx_sin256(2 * orientation[i]));
    }
    return zyl::matchlib::orient_inconsistency_from_vectors(c.data(), s.data(), height, width, out);
  });
}

int zyl::matchlib::orient_inconsistency_from_vectors(const int16_t* c, const int16_t* s, int height,
                                                     int width, uint8_t* out) {
  if (!c || !s || !out || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  std::memset(out, 0, static_cast<size_t>(height) * width);
  // 256 m / full rounded half up and negated: full is the largest m (288
  // for nine cells, 192 for the six of an edge).
  auto value = [&](int y0, int y1, int x0, int x1, int full) {
    int64_t cs = 0, ss = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        cs += c[static_cast<size_t>(y) * width + x];
        ss += s[static_cast<size_t>(y) * width + x];
      }
    cs >>= 2;
    ss >>= 2;
    const int m =
        static_cast<int>(zyl::matchlib::fx_isqrt_shr7(static_cast<uint32_t>(cs * cs + ss * ss)));
    return static_cast<uint8_t>(-((m * 256 + full / 2) / full));
  };
  auto at = [&](int y, int x) -> uint8_t& { return out[static_cast<size_t>(y) * width + x]; };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool top = y == 0, bottom = y == height - 1, left = x == 0, right = x == width - 1;
      if ((top || bottom) && (left || right)) continue;  // corners below
      const int y0 = std::max(0, y - 1), y1 = std::min(height - 1, y + 1);
      const int x0 = std::max(0, x - 1), x1 = std::min(width - 1, x + 1);
      const int cells = (y1 - y0 + 1) * (x1 - x0 + 1);
      if (cells == 9) {
        at(y, x) = value(y0, y1, x0, x1, 288);
      } else if (cells == 6) {
        at(y, x) = value(y0, y1, x0, x1, 192);
      }
    }
  if (height >= 2 && width >= 2) {
    const int ys[2] = {0, height - 1}, xs[2] = {0, width - 1};
    for (int a = 0; a < 2; ++a)
      for (int b = 0; b < 2; ++b) {
        const int y = ys[a], x = xs[b];
        const int along_row = at(y, x == 0 ? 1 : width - 2);
        const int along_col = at(y == 0 ? 1 : height - 2, x);
        at(y, x) = static_cast<uint8_t>((along_row + along_col) >> 1);
      }
  }
  return ML_OK;
}

extern "C" ZYL_API int singular_find_candidates(const uint8_t* inconsistency,
                                                const uint8_t* orientation, int height, int width,
                                                SingularPoint* points, int* count, int max_count) {
  if (!inconsistency || !orientation || !count || (max_count > 0 && !points))
    return ML_BAD_ARGUMENT;
  *count = 0;
  for (int y = 1; y < height - 1; ++y)
    for (int x = 1; x < width - 1 && *count < max_count; ++x) {
      const int idx = y * width + x;
      const int v = inconsistency[idx];
      if (v <= 128) continue;
      bool top = true;
      for (int dy = -1; dy <= 1 && top; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if ((dx || dy) && inconsistency[idx + dy * width + dx] > v) {
            top = false;
            break;
          }
      if (!top) continue;
      const int code = zyl::matchlib::singular_poincare_index(orientation, width, idx, 1);
      if (code >= 253) points[(*count)++] = {static_cast<uint32_t>(idx), static_cast<uint8_t>(code), 0};
    }
  return ML_OK;
}

// Lines reach 16 pixels: the Q14 cosine and sine of the direction, turned
// into 16.16 radians, scaled by 16 / 16384.
extern "C" ZYL_API int singular_draw_points(const uint8_t* image, int height, int width,
                                            const SingularPoint* points, int count, uint8_t** out) {
  if (!image || !out || height <= 0 || width <= 0 || (count > 0 && !points))
    return ML_BAD_ARGUMENT;
  const size_t n = static_cast<size_t>(height) * width;
  auto* copy = static_cast<uint8_t*>(ml_malloc(n));
  if (!copy) return ML_NO_MEMORY;
  zyl::matchlib::draw_lighten(image, height, width, 50, copy);
  for (int i = 0; i < count; ++i) {
    const int x = static_cast<int>(points[i].index % width);
    const int y = static_cast<int>(points[i].index / width);
    zyl::matchlib::draw_marker(copy, height, width, 5, x, y, 0);
    const int lines = points[i].code == 255 ? 3 : 1;
    for (int k = 0; k < lines; ++k) {
      constexpr int kArms[3] = {0, 85, 170};
      const int d = (points[i].direction + kArms[k]) & 255;
      const int rad = static_cast<int>((int64_t{d} * 205887) >> 7);
      const int x1 = x + zyl::matchlib::fx_cos_rad(rad) * 16 / 16384;
      const int y1 = y - zyl::matchlib::fx_sin_rad(rad) * 16 / 16384;
      zyl::matchlib::draw_line(copy, height, width, x, y, x1, y1, 0);
    }
  }
  *out = copy;
  return ML_OK;
}

extern "C" {

ZYL_API int orient_inconsistency_from_vectors(const int16_t* c, const int16_t* s, int height,
                                              int width, uint8_t* out) {
  return zyl::matchlib::orient_inconsistency_from_vectors(c, s, height, width, out);
}

}  // extern "C"
