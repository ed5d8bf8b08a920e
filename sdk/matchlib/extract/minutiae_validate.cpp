// Minutia validation and ordering: ridge endings without neighbouring
// ridges on both sides of the nearest ridge end are dropped, minutiae whose
// direction disagrees with the ridge flow are dropped, and the record's
// minutiae are put in the order its order code asks for.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/extract/minutiae_validate.h"

namespace zyl::matchlib {
namespace {

int to_radians(int b) { return ((b & 255) * 205887) >> 7; }

void remove_at(MinutiaEntry* m, int& count, int i) {
  std::memmove(m + i, m + i + 1, sizeof(MinutiaEntry) * std::size_t(count - i - 1));
  --count;
}

// Nearest ridge end (count 1) around (row, column) on growing square rings.
bool find_ridge_end(const std::uint8_t* counts, int h, int w, int row, int column, int& er,
                    int& ec) {
  auto test = [&](int r, int c) {
    if (r < 0 || c < 0 || r >= h || c >= w || counts[r * w + c] != 1) return false;
    er = r;
    ec = c;
    return true;
  };
  if (test(row, column)) return true;
  for (int r = 1; r <= 50; ++r)
    for (int k = 0; k <= r; ++k) {
      if (test(row - r, column + k) || test(row + r, column + k) || test(row + k, column + r) ||
          test(row + k, column - r))
        return true;
      if (k > 0 && (test(row - r, column - k) || test(row + r, column - k) ||
                    test(row - k, column + r) || test(row - k, column - r)))
        return true;
    }
  return false;
}

// Whether a line pixel lies within `from`..`to` steps across the direction
// (radians sine and cosine) from (row, column).
bool side_hit(const std::uint8_t* skeleton, int h, int w, int row, int column, int sine,
              int cosine, int from, int to) {
  for (int k = from; k <= to; ++k) {
    const int dr = -(k * sine / 16384), dc = k * cosine / 16384;
    if (std::abs(dr) < 2 && std::abs(dc) < 2) continue;
    const int r = row + dr, c = column + dc;
    if (r < 0 || c < 0 || r >= h || c >= w) continue;
    const std::uint8_t* p = skeleton + std::size_t(r) * w + c;
    if (p[0] == 0 || (c > 0 ? p[-1] == 0 : p[1] == 0)) return true;
  }
  return false;
}

bool ending_confirmed(const MinutiaEntry& m, const std::uint8_t* skeleton,
                      const std::uint8_t* counts, const std::uint8_t* frequency, int h, int w,
                      int f, bool& outside) {
  outside = false;
  const int d = m.direction;
  const int s = zyl::matchlib::fx_sin256(d), c = zyl::matchlib::fx_cos256(d);
  const int pc = std::clamp(int(m.x) + ((c * 5 / f) >> 14), 0, w - 1);
  const int pr = std::clamp(int(m.y) - ((s * 5 / f) >> 14), 0, h - 1);
  int er = 0, ec = 0;
  if (!find_ridge_end(counts, h, w, pr, pc, er, ec)) return true;  // kept untested
  const int period = frequency[er * w + ec];
  const int left = to_radians(d - 64), right = to_radians(d + 64);
  const int ls = zyl::matchlib::fx_sin_rad(left), lc = zyl::matchlib::fx_cos_rad(left),
            rs = zyl::matchlib::fx_sin_rad(right), rc = zyl::matchlib::fx_cos_rad(right);
  for (int j = 0; j < 3; ++j) {
    const int tr = er + ((j * s * 10 / f) >> 14), tc = ec - ((j * c * 10 / f) >> 14);
    if (tr < 0 || tc < 0 || tr >= h || tc >= w) {
      outside = true;
      return false;
    }
    const int from = 3 / f, to = 3 * period / f;
    if (from > to) continue;
    if (side_hit(skeleton, h, w, tr, tc, ls, lc, from, to) &&
        side_hit(skeleton, h, w, tr, tc, rs, rc, from, to))
      return true;
  }
  return false;
}

long sort_key(const MinutiaEntry& m, int criterion, int cy, int cx) {
  switch (criterion) {
    case 1: return long(m.x) << 16 | m.y;
    case 2: return long(m.y) << 16 | m.x;
    case 3: return m.direction;
    case 4: {
      const long dy = long(m.y) - cy, dx = long(m.x) - cx;
      return dx * dx + dy * dy;
    }
    default: return m.quality;
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::minutiae_validate_endings(MinutiaEntry* minutiae, int count,
                                             const uint8_t* skeleton, const uint8_t* counts,
                                             const uint8_t* frequency, int height, int width,
                                             int scale, int map_step) {
  (void)map_step;
  if (!minutiae || count <= 0) return 0;
  if (!skeleton || !counts || !frequency || height <= 0 || width <= 0 || scale <= 0) return count;
  int i = 0;
  while (i < count) {
    bool outside = false;
    if (minutiae[i].type == 1 &&
        !ending_confirmed(minutiae[i], skeleton, counts, frequency, height, width, scale, outside)) {
      remove_at(minutiae, count, i);
      continue;
    }
    ++i;
  }
  return count;
}

int zyl::matchlib::minutiae_check_flow(MinutiaEntry* minutiae, int count,
                                       const uint8_t* orientation, int height, int width,
                                       int divisor, int map_step) {
  (void)map_step;
  if (!minutiae || count <= 0) return 0;
  if (!orientation || height <= 0 || width <= 0 || divisor <= 0) return count;
  const int step = (30 / divisor) >> 1;
  int i = 0;
  while (i < count) {
    const MinutiaEntry& m = minutiae[i];
    // A position off the map has no flow to compare with: such a minutia
    // is kept unchecked rather than judged by bytes outside the map.
    if (m.y >= height || m.x >= width) {
      ++i;
      continue;
    }
    const int d = m.direction;
    const int m1 = orientation[std::size_t(m.y) * width + m.x];
    int t1 = (64 - m1) & 255;
    if (zyl::matchlib::fx_dir_absdiff(t1, d) > 64) t1 = (t1 + 128) & 255;
    const int r = std::clamp(int(m.y) - step * zyl::matchlib::fx_sin256(t1) / 16384, 0, height - 1);
    const int c = std::clamp(int(m.x) + step * zyl::matchlib::fx_cos256(t1) / 16384, 0, width - 1);
    const int m2 = orientation[std::size_t(r) * width + c];
    int t2 = (-m2 - 64) & 255;
    if (zyl::matchlib::fx_dir_absdiff(t2, d) > 64) t2 = (64 - m2) & 255;
    const int v =
        std::min(zyl::matchlib::fx_dir_absdiff(t1, d), zyl::matchlib::fx_dir_absdiff(t2, d));
    int spread = zyl::matchlib::fx_dir_absdiff(t1, t2);
    if (spread > 64) spread = 128 - spread;
    const int tolerance = ((spread * 3) >> 3) + 12;
    if (v > tolerance) {
      remove_at(minutiae, count, i);
      continue;
    }
    ++i;
  }
  return count;
}

void zyl::matchlib::minutiae_sort(MinutiaeRecord* record, int order, int centroid_row,
                                  int centroid_column) {
  if (!record) return;
  const int criterion = order & 15;
  const bool descending = (order & 16) != 0;
  if (criterion < 1 || criterion > 5 || (order & ~31) != 0) return;
  MinutiaEntry* m = record->minutiae;
  for (int i = 1; i < record->count; ++i) {
    const MinutiaEntry item = m[i];
    const long key = sort_key(item, criterion, centroid_row, centroid_column);
    int j = i;
    while (j > 0) {
      const long other = sort_key(m[j - 1], criterion, centroid_row, centroid_column);
      if (descending ? other >= key : other <= key) break;
      m[j] = m[j - 1];
      --j;
    }
    m[j] = item;
  }
}

extern "C" ZYL_API int minutiae_find_facing_pairs(const MinutiaEntry* m, int count, FacingPair* out,
                                                  int limit, int* out_count) {
  if (!out_count) return ML_BAD_ARGUMENT;
  *out_count = 0;
  if (!m || !out || count <= 0 || limit <= 0) return ML_OK;
  int n = 0;
  for (int p = 0; p < count && n < limit; ++p)
    for (int q = p + 1; q < count && n < limit; ++q) {
      const int dx = int(m[q].x) - m[p].x, dy = int(m[q].y) - m[p].y;
      const int d2 = dx * dx + dy * dy;
      if (d2 >= 2500 || zyl::matchlib::fx_dir_absdiff(m[p].direction, m[q].direction) <= 114)
        continue;
      const int e = zyl::matchlib::fx_dir_mean(m[p].direction, m[q].direction - 128);
      const int dist =
          static_cast<int>(zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(d2)));
      const int px = m[p].x + ((dist * zyl::matchlib::fx_cos256(e)) >> 14);
      const int py = m[p].y - ((dist * zyl::matchlib::fx_sin256(e)) >> 14);
      const int reach = dist * 4 / 50 + 3;
      const int ex = px - m[q].x, ey = py - m[q].y;
      if (ex * ex + ey * ey >= reach * reach) continue;
      out[n].x = static_cast<std::uint16_t>((int(m[p].x) + m[q].x) / 2);
      out[n].y = static_cast<std::uint16_t>((int(m[p].y) + m[q].y) / 2);
      out[n].direction =
          static_cast<std::uint8_t>(zyl::matchlib::fx_dir_mean(m[p].direction, m[q].direction));
      ++n;
    }
  *out_count = n;
  return ML_OK;
}

extern "C" {

ZYL_API int minutiae_validate_endings(MinutiaEntry* minutiae, int count, const uint8_t* skeleton,
                                      const uint8_t* counts, const uint8_t* frequency, int height,
                                      int width, int scale, int map_step) {
  return zyl::matchlib::minutiae_validate_endings(minutiae, count, skeleton, counts, frequency,
                                                  height, width, scale, map_step);
}
ZYL_API int minutiae_check_flow(MinutiaEntry* minutiae, int count, const uint8_t* orientation,
                                int height, int width, int divisor, int map_step) {
  return zyl::matchlib::minutiae_check_flow(minutiae, count, orientation, height, width, divisor,
                                            map_step);
}
ZYL_API void minutiae_sort(MinutiaeRecord* record, int order, int centroid_row,
                           int centroid_column) {
  zyl::matchlib::minutiae_sort(record, order, centroid_row, centroid_column);
}

}  // extern "C"
