// Cores and deltas from the orientation map: singular 8 x 8 blocks by their
// Poincare sum, candidate pixels where the orientation jumps, a deviation
// score, and a radial profile that tells a core (with its direction) from a
// delta.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "typeline/extract_common.h"
#include "typeline/stages.h"
#include "typeline/integer_geometry.h"

namespace tl = zyl::typeline;

namespace {

constexpr int kMaxSingularBlocks = 64;
constexpr int kMaxCandidates = 10;

struct Point {
  int x = 0, y = 0, direction = 0, score = 0;
};

using tl::squared_distance;

bool outside(int x, int y, int w, int h) { return x < 0 || y < 0 || x >= w || y >= h; }

// Orders by score (highest first, pairwise swaps) and zeroes the score of a
// point within max_sq of a better one; answers the points kept from the
// front while their score is non-zero, at most keep.
int suppress(std::array<Point, kMaxCandidates>& pts, int n, int max_sq, int keep) {
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b < n; ++b) {
      if (pts[b].score == 0) continue;
      if (pts[a].score < pts[b].score) std::swap(pts[a], pts[b]);
      if (squared_distance(pts[a].x, pts[a].y, pts[b].x, pts[b].y) <= max_sq) pts[b].score = 0;
    }
  int kept = 0;
  while (kept < n && kept < keep && pts[kept].score != 0) ++kept;
  return kept;
}

}  // namespace

namespace zyl::typeline {

int orientation_deviation(int x, int y, int r, const std::uint8_t* map, int w, int h) {
  if (!tl::image_ok(map, w, h) || outside(x, y, w, h) || r < 0) return -1;
  const int c = map[static_cast<std::size_t>(y) * w + x];
  const int x0 = std::max(0, x - r), x1 = std::min(w, x + r);
  const int y0 = std::max(0, y - r), y1 = std::min(h, y + r);
  if (x1 <= x0 || y1 <= y0) return -1;
  int sum = 0;
  for (int yy = y0; yy < y1; ++yy)
    for (int xx = x0; xx < x1; ++xx) {
      const int f = std::abs(c - map[static_cast<std::size_t>(yy) * w + xx]);
      sum += f <= 60 ? f : 120 - f;
    }
  return sum / ((x1 - x0) * (y1 - y0));
}

int outside_point(int x, int y, int r, const std::uint8_t* map, int w, int h) {
  if (!tl::image_ok(map, w, h) || r < 0) return 1;
  if (x < r || y < r || x >= w - r || y >= h - r) return 1;
  for (int yy = y - r; yy <= y + r; ++yy)
    for (int xx = x - r; xx <= x + r; ++xx)
      if (map[static_cast<std::size_t>(yy) * w + xx] > 119) return 1;
  return 0;
}

void add_core_candidate(int x, int y, int score, std::int16_t* xs, std::int16_t* ys, std::int16_t* scores, int* count) {
  if (!xs || !ys || !scores || !count) return;
  const int m = std::clamp(*count, 0, kMaxCandidates);
  for (int i = 0; i < m; ++i)
    if (squared_distance(x, y, xs[i], ys[i]) <= 224) {
      if (scores[i] < score) {
        xs[i] = static_cast<std::int16_t>(x);
        ys[i] = static_cast<std::int16_t>(y);
        scores[i] = static_cast<std::int16_t>(score);
      }
      return;
    }
  if (m == kMaxCandidates) {
    *count = m;
    return;
  }
  xs[m] = static_cast<std::int16_t>(x);
  ys[m] = static_cast<std::int16_t>(y);
  scores[m] = static_cast<std::int16_t>(score);
  *count = m + 1;
}

void singular_blocks(const std::uint8_t* map, int w, int h, int* count, std::int16_t* blocks, std::uint8_t* kinds) {
  if (!tl::image_ok(map, w, h) || !count || !blocks || !kinds) return;
  const int bw = w / 8, bh = h / 8;
  auto block = [&](int bx, int by) -> int { return map[static_cast<std::size_t>(8 * by + 4) * w + 8 * bx + 4]; };
  static constexpr int ring[17][2] = {{0, 2},  {-1, 2}, {-2, 2}, {-2, 1}, {-2, 0},  {-2, -1}, {-2, -2}, {-1, -2}, {0, -2},
                                      {1, -2}, {2, -2}, {2, -1}, {2, 0},  {2, 1},   {2, 2},   {1, 2},   {0, 2}};
  std::array<int, kMaxSingularBlocks> listed{};
  std::array<std::uint8_t, kMaxSingularBlocks> listed_kind{};
  int n = 0;
  for (int by = 2; by < bh - 2 && n < kMaxSingularBlocks; ++by)
    for (int bx = 2; bx < bw - 2 && n < kMaxSingularBlocks; ++bx) {
      if (block(bx, by) == tl::kBackground) continue;
      int sum = 0;
      for (int k = 0; k < 16; ++k) {
        const int a = block(bx + ring[k][1], by + ring[k][0]);
        const int b = block(bx + ring[k + 1][1], by + ring[k + 1][0]);
        if (a == tl::kBackground || b == tl::kBackground) continue;
        int d = a - b;
        // Folded into -59..60.
        if (d < -59) d += 120;
        else if (d > 60) d -= 120;
        sum += d;
      }
      if (sum == 120 || sum == -120) {
        listed[n] = by * bw + bx;
        listed_kind[n] = sum == 120 ? 1 : 0;
        ++n;
      }
    }
  static constexpr int compass[8][2] = {{3, 0}, {3, -3}, {0, -3}, {-3, -3}, {-3, 0}, {-3, 3}, {0, 3}, {3, 3}};
  int out = std::clamp(*count, 0, kMaxSingularBlocks);
  for (int i = 0; i < n; ++i) {
    if (out < kMaxSingularBlocks) {
      blocks[out] = static_cast<std::int16_t>(listed[i]);
      kinds[out] = listed_kind[i];
      ++out;
    }
    const int bx = listed[i] % bw, by = listed[i] / bw;
    bool stop = false;
    for (const auto& c : compass) {
      const int x3 = bx + c[0], y3 = by + c[1];
      if (x3 >= 0 && y3 >= 0 && x3 < bw && y3 < bh && block(x3, y3) != tl::kBackground) continue;
      // The singular point may lie in the neighbour towards the open side.
      if (out >= 32) {
        stop = true;
        break;
      }
      blocks[out] = static_cast<std::int16_t>((by + c[1] / 3) * bw + bx + c[0] / 3);
      kinds[out] = listed_kind[i];
      ++out;
      break;
    }
    if (stop) break;
  }
  *count = out;
}

int core_direction_from_profile(int direction, const std::int32_t* profile, int peaks, int valley) {
  if (!profile || direction < 0 || direction >= 240) return -1;
  const int kmin = direction;
  if (peaks == 2 && valley >= 0 && valley < 240) {
    const int d = std::abs(kmin - valley);
    if (std::min(d, 240 - d) > 50) return -1;
    const int m = (kmin + valley) / 2;
    if (d <= 120) return m;
    return m < 120 ? m + 120 : m - 120;
  }
  int left = 0, right = 0;
  for (int i = 1; i < 120 && !left; ++i)
    if (profile[tl::wrap_direction(kmin - i)] > 80) left = i;
  for (int i = 1; i < 120 && !right; ++i)
    if (profile[tl::wrap_direction(kmin + i)] > 80) right = i;
  if (left && right) return tl::wrap_direction(kmin + (right - left) / 2);
  return kmin;
}

int core_direction(int x, int y, const std::uint8_t* map, int w, int h) {
  if (!tl::image_ok(map, w, h) || outside(x, y, w, h)) return -1;
  auto value = [&](int px, int py) -> int {
    return outside(px, py, w, h) ? 256 : map[static_cast<std::size_t>(py) * w + px];
  };
  const int towards_centre = tl::direction_towards(w / 2, h / 2, x, y);
  std::array<int, 240> D{};
  for (int i = 0; i < 120; ++i) {
    const int dx = tl::step_x(i, 30), dy = tl::step_y(i, 30);
    for (int side = 0; side < 2; ++side) {
      const int sx = side ? -dx : dx, sy = side ? -dy : dy;
      int v = value(x + sx, y + sy);
      if (v > 126) {
        // A gap facing the image centre: the profile is cut where the
        // print continues; on the far side look closer in.
        if (tl::direction_difference(towards_centre, tl::direction_towards(x + sx, y + sy, x, y)) < 45) return -1;
        v = value(x + sx / 4, y + sy / 4);
        if (v > 126) return -1;
      }
      int d = std::abs(v - i);
      if (d >= 60) d = 120 - d;
      D[i + 120 * side] = d;
    }
  }
  std::array<std::int32_t, 240> S{};
  for (int k = 0; k < 240; ++k)
    for (int j = -2; j <= 2; ++j) S[k] += D[tl::wrap_direction(k + j)];
  const int mx = *std::max_element(S.begin(), S.end());
  const auto min_it = std::min_element(S.begin(), S.end());
  const int mn = *min_it;
  const int kmin = static_cast<int>(min_it - S.begin());
  const int T = (mx - mn) / 3;
  if (T < 10) return -1;
  int peaks = 0, end1 = -1, start2 = -1;
  bool high = false;
  for (int step = 0; step < 240; ++step) {
    const int k = (kmin + step) % 240;
    if (!high) {
      if (S[k] > mx - T) {
        ++peaks;
        high = true;
        if (end1 >= 0 && start2 < 0) start2 = k;
      }
    } else if (S[k] < mn + T) {
      high = false;
      if (start2 < 0) end1 = k;
    }
  }
  int valley = -1;
  if (peaks == 2) {
    if (end1 >= 0 && start2 >= 0 && end1 != start2) {
      int best = -1;
      for (int k = end1;; k = (k + 1) % 240) {
        if (best < 0 || S[k] < S[best]) best = k;
        if (k == start2) break;
      }
      valley = best;
    } else {
      peaks = 1;
    }
  } else if (peaks == 3 && mn > 200) {
    peaks = 1;
  }
  if (peaks == 1 || peaks == 2) {
    const int dir = core_direction_from_profile(kmin, S.data(), peaks, valley);
    if (dir < 0) return -1;
    if (D[(dir + 120) % 240] < 20) return -1;
    return dir;
  }
  if (peaks == 3) {
    int gap = start2 - end1;
    if (gap < 0) gap += 240;
    return gap < 61 ? -2 : -1;
  }
  return -1;
}

void find_singular_points(CoreList& cores, std::span<const std::uint8_t> map, int w, int h) {
  cores = CoreList{};
  int nblocks = 0;
  std::int16_t blocks[kMaxSingularBlocks];
  std::uint8_t kinds[kMaxSingularBlocks];
  tl::singular_blocks(map.data(), w, h, &nblocks, blocks, kinds);
  const int bw = w / 8;
  auto mp = [&](int x, int y) -> int { return map[static_cast<std::size_t>(y) * w + x]; };

  // Candidate pixels where the orientation jumps across 60.
  std::int16_t cx[kMaxCandidates], cy[kMaxCandidates], cs[kMaxCandidates];
  int ncand = 0;
  for (int b = 0; b < nblocks && ncand <= 9; ++b) {
    const int bx = blocks[b] % bw, by = blocks[b] / bw;
    const int x0 = 8 * bx, y0 = 8 * by;
    bool marked[8][8] = {};
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 8; ++i) {
        const int x = x0 + i, y = y0 + j;
        if (x < 1 || y < 1 || x >= w - 1 || y >= h - 1 || mp(x, y) > 119) continue;
        const int L = mp(x - 1, y), R = mp(x + 1, y), U = mp(x, y - 1), D = mp(x, y + 1);
        if (L > 119 || R > 119 || U > 119 || D > 119) continue;
        auto across = [](int a, int c) { return (a > 60 && c <= 59) || (c > 60 && a <= 59); };
        marked[j][i] = across(L, R) || across(U, D);
      }
    static constexpr int around[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
    for (int j = 0; j < 8 && ncand <= 9; ++j)
      for (int i = 0; i < 8 && ncand <= 9; ++i) {
        if (!marked[j][i]) continue;
        auto is_marked = [&](int k) {
          const int ii = i + around[k][0], jj = j + around[k][1];
          return ii >= 0 && jj >= 0 && ii < 8 && jj < 8 && marked[jj][ii];
        };
        int transitions = 0;
        for (int k = 0; k < 8; ++k)
          if (is_marked(k) && !is_marked(k + 1)) ++transitions;
        if (transitions > 1) continue;
        const int score = tl::orientation_deviation(x0 + i, y0 + j, 12, map.data(), w, h);
        if (score > 9) tl::add_core_candidate(x0 + i, y0 + j, score, cx, cy, cs, &ncand);
      }
  }

  // Classify every candidate by its radial profile.
  std::array<Point, kMaxCandidates> core_pts{}, delta_pts{};
  int nc = 0, nd = 0;
  for (int c = 0; c < ncand; ++c) {
    const int r = tl::core_direction(cx[c], cy[c], map.data(), w, h);
    if (r < 0 && r != -2) continue;
    const int index = (cy[c] / 8) * bw + cx[c] / 8;
    int kind = -1;
    for (int b = 0; b < nblocks; ++b)
      if (blocks[b] == index) {
        kind = kinds[b];
        break;
      }
    if (r >= 0 && kind == 1)
      core_pts[nc++] = {cx[c], cy[c], r, cs[c]};
    else if (r == -2 && kind == 0)
      delta_pts[nd++] = {cx[c], cy[c], 255, cs[c]};
  }

  nc = suppress(core_pts, nc, 99, 2);
  if (nc == 2) {
    Point& a = core_pts[0];
    Point& b = core_pts[1];
    int d = a.direction - b.direction;
    if (d < 0) d += 240;
    const bool rejected = d < 65 || d > 175 ||
                          direction_difference(direction_towards(a.x, a.y, b.x, b.y), a.direction) <= 59;
    if (rejected) {
      if (b.score > 30 && tl::outside_point(b.x, b.y, 15, map.data(), w, h) == 0 &&
          tl::outside_point(a.x, a.y, 15, map.data(), w, h) == 1)
        a = b;
      nc = 1;
    } else if (squared_distance(a.x, a.y, b.x, b.y) <= 899) {
      a.direction = direction_towards(b.x, b.y, a.x, a.y);
      b.direction = (a.direction + 120) % 240;
    }
  }

  suppress(delta_pts, nd, 6399, kMaxCandidates);
  if (nc == 1)
    for (int k = 0; k < nd; ++k)
      if (delta_pts[k].score != 0 &&
          direction_difference(direction_towards(delta_pts[k].x, delta_pts[k].y, core_pts[0].x, core_pts[0].y),
                                   core_pts[0].direction) > 60)
        delta_pts[k].score = 0;

  int out = 0;
  auto put = [&](const Point& p, int kind) {
    cores.x[out] = static_cast<std::int16_t>(p.x);
    cores.y[out] = static_cast<std::int16_t>(p.y);
    cores.direction[out] = static_cast<std::int16_t>(kind ? p.direction : 255);
    cores.kind[out] = static_cast<std::int16_t>(kind);
    ++out;
  };
  for (int k = 0; k < nc; ++k) put(core_pts[k], 1);
  int deltas = 0;
  for (int k = 0; k < nd && deltas < 2; ++k)
    if (delta_pts[k].score != 0) {
      put(delta_pts[k], 0);
      ++deltas;
    }
  cores.count = static_cast<std::int16_t>(out);
}

void copy_singular_points(const CoreList& cores, TypelineRecord& record) {
  const int n = std::clamp<int>(cores.count, 0, TYPELINE_MAX_SINGULAR_POINTS);
  for (int k = 0; k < n; ++k) {
    TypelineSingularPoint& p = record.singular.points[k];
    p.x = cores.x[k];
    p.y = cores.y[k];
    p.direction = static_cast<std::uint8_t>(cores.direction[k] & 0xFF);
    p.kind = static_cast<std::uint8_t>(cores.kind[k]);
  }
  record.singular.count = static_cast<std::int8_t>(n);
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API int get_deviation(int x, int y, int r, const std::uint8_t* map, int w, int h) {
  return tl::orientation_deviation(x, y, r, map, w, h);
}

ZYL_API int check_outof_point(int x, int y, int r, const std::uint8_t* map, int w, int h) {
  return tl::outside_point(x, y, r, map, w, h);
}

ZYL_API void check_core_cand(int x, int y, int score, std::int16_t* xs, std::int16_t* ys, std::int16_t* scores,
                             int* count) {
  tl::add_core_candidate(x, y, score, xs, ys, scores, count);
}

ZYL_API void get_singular_block(const std::uint8_t* map, int w, int h, int* count, std::int16_t* blocks,
                                std::uint8_t* kinds) {
  tl::singular_blocks(map, w, h, count, blocks, kinds);
}

ZYL_API int correct_orient_core(int direction, const std::int32_t* profile, int /*max*/, int /*min*/, int peaks,
                                int valley) {
  return tl::core_direction_from_profile(direction, profile, peaks, valley);
}

ZYL_API int get_orient_core(int x, int y, const std::uint8_t* map, int w, int h) {
  return tl::core_direction(x, y, map, w, h);
}

ZYL_API void get_core_points(CoreList* cores, const std::uint8_t* map, int w, int h) {
  if (!cores || !tl::image_ok(map, w, h)) return;
  tl::find_singular_points(*cores, {map, tl::pixels(w, h)}, w, h);
}

ZYL_API void copy_core(const CoreList* cores, TypelineRecord* record) {
  if (!cores || !record) return;
  tl::copy_singular_points(*cores, *record);
}

}  // extern "C"
