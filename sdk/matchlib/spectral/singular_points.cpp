// Cores and deltas of a pixel orientation map by the Poincare index on
// three nested rings, each with a direction from the surrounding field.
#include <array>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/spectral/singular_points.h"

namespace zyl::matchlib {
namespace {

constexpr int kMargin = 9;

// -256 * (dx, dy) / |(dx, dy)| rounded, over the 9 x 9 window.
struct UnitTable {
  std::array<std::array<int, 9>, 9> x{}, y{};
  UnitTable() {
    for (int dy = -4; dy <= 4; ++dy)
      for (int dx = -4; dx <= 4; ++dx) {
        if (!dx && !dy) continue;
        const double len = std::sqrt(double(dx * dx + dy * dy));
        x[dy + 4][dx + 4] = static_cast<int>(std::lround(-256.0 * dx / len));
        y[dy + 4][dx + 4] = static_cast<int>(std::lround(-256.0 * dy / len));
      }
  }
};

const UnitTable& units() {
  static const UnitTable t;
  return t;
}

int point_direction(const uint8_t* map, int height, int width, int row, int col, int code) {
  const UnitTable& t = units();
  int64_t p = 0, q = 0, n = 0;
  for (int dy = -4; dy <= 4; ++dy)
    for (int dx = -4; dx <= 4; ++dx) {
      const int y = row + dy, x = col + dx;
      if ((!dx && !dy) || y < 0 || y >= height || x < 0 || x >= width) continue;
      const int v = map[static_cast<size_t>(y) * width + x];
      const int a = (2 * v - 128) & 255;
      const int c = zyl::matchlib::fx_cos256(a) >> 6, s = zyl::matchlib::fx_sin256(a) >> 6;
      const int X = t.x[dy + 4][dx + 4], Y = t.y[dy + 4][dx + 4];
      const int U = code == 255 ? Y : -Y, V = X;
      p += c * U + s * V;
      q += c * V - s * U;
      ++n;
    }
  const int A = static_cast<uint8_t>(
      zyl::matchlib::fx_atan2(static_cast<int>(q / n), static_cast<int>(p / n)));
  return code == 255 ? (A / 3 + 106) & 255 : (A + 64) & 255;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::singular_poincare_index(const uint8_t* map, int width, int index, int radius) {
  if (!map || width <= 0) return 0;
  const int r = radius;
  const int ring[9][2] = {{-r, -r}, {-r, 0}, {-r, r}, {0, r}, {r, r},
                          {r, 0},   {r, -r}, {0, -r}, {-r, -r}};
  int16_t sum = 0;
  int prev = map[index + ring[0][0] * width + ring[0][1]];
  for (int i = 1; i < 9; ++i) {
    const int v = map[index + ring[i][0] * width + ring[i][1]];
    int d = v - prev;
    if (d < -64) d += 128;
    if (d > 64) d -= 128;
    sum = static_cast<int16_t>(sum + d);
    prev = v;
  }
  if (sum >= 255 && sum <= 257) return 254;
  if (sum >= 127 && sum <= 129) return 253;
  if (sum >= -129 && sum <= -127) return 255;
  if (sum >= -1 && sum <= 1) return 1;
  return 0;
}

int zyl::matchlib::singular_find_points(const uint8_t* map, const uint8_t* mask, int height,
                                        int width, SingularPoint* points, int* count,
                                        int max_count) {
  if (!map || !count || height <= 0 || width <= 0 || (max_count > 0 && !points))
    return ML_BAD_ARGUMENT;
  *count = 0;
  if (height < 2 * kMargin + 1 || width < 2 * kMargin + 1) return ML_OK;
  std::vector<uint8_t> marked, next;
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    marked.assign(width, 0);
    next.assign(width, 0);
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  for (int y = kMargin; y <= height - kMargin - 1; ++y) {
    std::fill(next.begin(), next.end(), uint8_t{0});
    for (int x = kMargin; x <= width - kMargin - 1; ++x) {
      const int idx = y * width + x;
      if ((mask && mask[idx] == 0) || marked[x]) continue;
      const int code = zyl::matchlib::singular_poincare_index(map, width, idx, 1);
      if (code < 253 || zyl::matchlib::singular_poincare_index(map, width, idx, 5) != code ||
          zyl::matchlib::singular_poincare_index(map, width, idx, 9) != code)
        continue;
      if (*count < max_count) {
        points[*count] = {static_cast<uint32_t>(idx), static_cast<uint8_t>(code),
                          static_cast<uint8_t>(point_direction(map, height, width, y, x, code))};
        ++*count;
      }
      // Neighbours of a point cannot be points: block the three columns
      // below it in the next row and skip the next column of this one.
      for (int k = x - 1; k <= x + 1; ++k) next[k] = 1;
      ++x;
    }
    marked.swap(next);
  }
  return ML_OK;
}

int zyl::matchlib::singular_split_cores_deltas(const SingularPoint* points, int count, int width,
                                               SingularList* cores, SingularList* deltas) {
  if (cores) cores->count = 0;
  if (deltas) deltas->count = 0;
  if (!points || width <= 0) return ML_OK;
  for (int i = 0; i < count; ++i) {
    const SingularPoint& p = points[i];
    const bool core = p.code == 253 || p.code == 254;
    SingularList* list = core ? cores : p.code == 255 ? deltas : nullptr;
    if (!list || list->count > 3) continue;
    SingularEntry& e = list->entries[list->count++];
    e.row = static_cast<uint16_t>(p.index / width);
    e.column = static_cast<uint16_t>(p.index % width);
    e.direction[0] = p.direction;
    if (!core) {
      e.direction[1] = static_cast<uint8_t>(p.direction + 85);
      e.direction[2] = static_cast<uint8_t>(p.direction - 86);
    }
    e.present = 1;
  }
  return ML_OK;
}

extern "C" {

ZYL_API int singular_poincare_index(const uint8_t* map, int width, int index, int radius) {
  return zyl::matchlib::singular_poincare_index(map, width, index, radius);
}
ZYL_API int singular_find_points(const uint8_t* map, const uint8_t* mask, int height, int width,
                                 SingularPoint* points, int* count, int max_count) {
  return zyl::matchlib::singular_find_points(map, mask, height, width, points, count, max_count);
}
ZYL_API int singular_split_cores_deltas(const SingularPoint* points, int count, int width,
                                        SingularList* cores, SingularList* deltas) {
  return zyl::matchlib::singular_split_cores_deltas(points, count, width, cores, deltas);
}

}  // extern "C"
