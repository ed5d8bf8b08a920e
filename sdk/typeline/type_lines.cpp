// Type lines: the ridges that leave each core on both sides. Their traces
// refine the cores' directions, their end points go into the record, and
// their shape decides the pattern type.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "typeline/extract_common.h"
#include "typeline/stages.h"
#include "typeline/integer_geometry.h"
#include "typeline/tables.h"

namespace tl = zyl::typeline;

namespace {

constexpr int kMaxLinePoints = 96;

struct Singular {
  int x = 0, y = 0, direction = 0, index = 0;
};

using tl::squared_distance;
int distance(int x0, int y0, int x1, int y1) { return tl::rounded_sqrt(squared_distance(x0, y0, x1, y1)); }
// a - b brought into 0..239.
int turn(int a, int b) { return tl::wrap_direction(a - b); }

// Difference of two directions reduced modulo 120 and folded to 0..60.
int axis_difference(int a, int b) {
  int d = std::abs(a - b);
  if (d >= 120) d -= 120;
  return d > 60 ? 120 - d : d;
}

struct Tracer {
  const std::uint8_t* map;
  std::uint8_t* labels;
  int w, h;
  int nc;
  TypeLineSet& lines;
  int event = 0;

  int at(int x, int y) const { return map[static_cast<std::size_t>(y) * w + x]; }
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }

  // Follows line L from the start point S of a core at (cx, cy) with
  // direction d, first heading g.
  void trace(int L, int m, int sx, int sy, int cx, int cy, int d, int g) {
    int px = sx + tl::kRing5X[g], py = sy + tl::kRing5Y[g];
    int posx = 64 * px, posy = 64 * py;
    int hx[8], hy[8];
    std::fill(hx, hx + 8, sx);
    std::fill(hy, hy + 8, sy);
    int n = 0;
    bool armed = false;
    lines.count[L] = 0;
    for (;;) {
      int k = 1, dx = 0, dy = 0;
      for (;; ++k) {
        dx = (tl::kCosQ14[g] * k * 64) >> 14;
        dy = (tl::kSinQ14[g] * k * 64) >> 14;
        if (dx < -63 || dx > 63 || dy < -63 || dy > 63) break;
      }
      posx += dx;
      posy += dy;
      if (posx < 0 || posy < 0) break;
      const int x = posx / 64, y = posy / 64;
      std::copy(hx + 1, hx + 8, hx);
      std::copy(hy + 1, hy + 8, hy);
      hx[7] = x;
      hy[7] = y;
      if (!inside(x, y) || at(x, y) > 119) break;
      std::uint8_t& label = labels[static_cast<std::size_t>(y) * w + x];
      if (label == L + 1) {
        if (n > 10 && nc == 1) event = 1;
        break;
      }
      lines.x[L][n] = static_cast<std::int16_t>(x);
      lines.y[L][n] = static_cast<std::int16_t>(y);
      const int n1 = n + 1;
      lines.count[L] = static_cast<std::uint8_t>(n1);
      if (n1 > kMaxLinePoints - 1) break;
      const int a = tl::direction_towards(x, y, cx, cy);
      const int diff = tl::direction_difference(a, d);
      const int r2 = squared_distance(x, y, cx, cy);
      if (armed) {
        if (diff > 110 || r2 < 400) {
          // Back at the core's far side or close to it: a loop.
          event = 1;
          if (n1 > 10) {
            const int b = turn(tl::direction_towards(lines.x[L][n - 2], lines.y[L][n - 2], cx, cy), d);
            if (b > 60 && b < 180 && m == (b < 120 ? 1 : 0)) event = 2;
          }
          break;
        }
      } else if (diff < 60 && r2 > 625) {
        armed = true;
      }
      label = static_cast<std::uint8_t>(L + 1);
      const int o = at(x, y);
      // The previous pixel can lie outside the image only before the first
      // step; it then says nothing about a turn.
      int od = inside(px, py) ? std::abs(o - at(px, py)) : 0;
      if (od > 59) od = 120 - od;
      if (n1 > 20 && od > 45) {
        event = 3;
        break;
      }
      const int dd = tl::direction_difference(tl::direction_towards(x, y, hx[0], hy[0]), o);
      g = o;
      if (n1 > 10 && dd > 45 && dd < 75) {
        event = 3;
        break;
      }
      px = x;
      py = y;
      n = n1;
      if (dd > 60) g += 120;
    }
  }
};

}  // namespace

namespace zyl::typeline {

int distance_to_line(const TypeLineSet* lines, int x, int y, int line) {
  if (!lines || line < 0 || line > 3) return 100;
  int best = 10000;
  const int n = std::min<int>(lines->count[line], TYPELINE_TYPE_LINE_POINTS);
  for (int i = 0; i < n; ++i) best = std::min(best, squared_distance(x, y, lines->x[line][i], lines->y[line][i]));
  return best < 10000 ? tl::rounded_sqrt(best) : 100;
}

int near_line_index(const TypeLineSet* lines, int line, int limit) {
  if (!lines || line < 0 || line > 2) return 1000;
  const int n = std::min<int>(lines->count[line + 1], TYPELINE_TYPE_LINE_POINTS);
  for (int i = 10; i < n; ++i)
    if (distance_to_line(lines, lines->x[line + 1][i], lines->y[line + 1][i], line) < limit) return i;
  return 1000;
}

int line_side(int x0, int y0, int x1, int y1, const std::int16_t* xs, const std::int16_t* ys, int n) {
  if (!xs || !ys) return 0;
  // Positions are 16-bit throughout the engine; clamped so that the
  // products below stay within 64 bits.
  auto c16 = [](int v) { return static_cast<std::int64_t>(std::clamp(v, -32768, 32767)); };
  const std::int64_t ax = c16(x0), ay = c16(y0), bx = c16(x1), by = c16(y1);
  bool neg = false, pos = false;
  for (int i = 0; i < n; ++i) {
    const std::int64_t s = (xs[i] - ax) * (by - ay) - (ys[i] - ay) * (bx - ax);
    neg |= s < 0;
    pos |= s > 0;
  }
  if (neg && !pos) return -1;
  if (pos && !neg) return 1;
  return 0;
}

int is_whorl(const CoreList* cores, const TypeLineSet* lines) {
  if (!cores || !lines) return 0;
  const int xa = cores->x[0], ya = cores->y[0], xb = cores->x[1], yb = cores->y[1];
  const int mx = (xa + xb) / 2, my = (ya + yb) / 2;
  const std::int64_t vx = xb - xa, vy = yb - ya;
  const int len = tl::rounded_sqrt(squared_distance(xa, ya, xb, yb));
  if (len == 0) return 1;
  const int g = (tl::direction_towards(xb, yb, xa, ya) + 60) % 240;
  int c[4];
  for (int i = 0; i < 4; ++i) {
    c[i] = -1000;
    int best = 10, j0 = -1;
    const int n = std::min<int>(lines->count[i], TYPELINE_TYPE_LINE_POINTS);
    for (int j = 0; j < n; ++j) {
      const int px = lines->x[i][j], py = lines->y[i][j];
      const std::int64_t t = std::abs(vx * px + vy * py - (vx * mx + vy * my)) / len;
      if (t >= best) continue;
      if (j0 > 0 && j - j0 > 3) break;
      c[i] = tl::rounded_sqrt(squared_distance(px, py, mx, my));
      if (tl::direction_difference(tl::direction_towards(px, py, mx, my), g) > 60) c[i] = -c[i];
      j0 = j;
      best = t;
      if (t == 0) break;
    }
  }
  auto crossed = [&](int i) { return c[i] > -900; };
  int T = 10;
  if (crossed(0) && crossed(1) && crossed(2) && crossed(3)) {
    const int lo1 = std::min(c[0], c[1]), hi1 = std::max(c[0], c[1]);
    const int lo2 = std::min(c[2], c[3]), hi2 = std::max(c[2], c[3]);
    if (hi1 < lo2 || hi2 < lo1) return 0;
    const int m = std::min(std::abs(c[0] - c[1]), std::abs(c[2] - c[3]));
    if (len > 80 && (std::abs(c[0] - c[2]) < m / 2 || std::abs(c[1] - c[3]) < m / 2)) return 0;
    T = m / 3;
  }
  if (crossed(0) && crossed(2) && std::abs(c[0] - c[2]) < T) return 0;
  if (crossed(1) && crossed(3) && std::abs(c[1] - c[3]) < T) return 0;
  return 1;
}

int is_arch(const TypeLineSet* lines, const TypelinePoint* core, const TypelinePoint* delta) {
  if (!lines || !core || !delta) return 0;
  const int c0 = std::min<int>(lines->count[0], TYPELINE_TYPE_LINE_POINTS);
  const int c1 = std::min<int>(lines->count[1], TYPELINE_TYPE_LINE_POINTS);
  const int e = distance(core->x, core->y, delta->x, delta->y);
  auto last_sq = [&](int L, int n) {
    return n ? squared_distance(core->x, core->y, lines->x[L][n - 1], lines->y[L][n - 1]) : 0;
  };
  const int f = last_sq(1, c1), g = last_sq(0, c0);
  if (e < tl::rounded_sqrt(std::min(f, g)) && c0 > 20 && c1 > 20) {
    const int s0 = line_side(core->x, core->y, delta->x, delta->y, lines->x[0] + 10, lines->y[0] + 10, c0 - 10);
    const int s1 = line_side(core->x, core->y, delta->x, delta->y, lines->x[1] + 10, lines->y[1] + 10, c1 - 10);
    if (s0 * s1 < 0) return 1;
  }
  for (int L = 0; L < 2; ++L)
    for (int i = 0; i < (L ? c1 : c0); ++i)
      if (squared_distance(lines->x[L][i], lines->y[L][i], delta->x, delta->y) <= 214) return 1;
  return 0;
}

int trace_type_lines(TypelineRecord& record, CoreList& cores, std::span<const std::uint8_t> map, std::span<std::uint8_t> work,
                     int w, int h) {
  std::fill(record.typeLines, record.typeLines + 8, 0);
  Singular core[2], delta[2];
  int nc = 0, nd = 0;
  const int listed = std::clamp<int>(cores.count, 0, 4);
  for (int k = 0; k < listed; ++k) {
    const Singular s{cores.x[k], cores.y[k], cores.direction[k], k};
    if (cores.kind[k] == 1 && nc < 2 && s.direction >= 0 && s.direction < 240)
      core[nc++] = s;
    else if (cores.kind[k] == 0 && nd < 2)
      delta[nd++] = s;
  }
  if (nc == 0) return 10;
  if (nc == 2 && squared_distance(core[0].x, core[0].y, core[1].x, core[1].y) < 2500) return 1;

  const int s = (nc == 1 && nd == 1 && squared_distance(core[0].x, core[0].y, delta[0].x, delta[0].y) < 2500) ? 8 : 4;
  TypeLineSet lines{};
  std::memset(work.data(), 0, pixels(w, h));
  Tracer tracer{map.data(), work.data(), w, h, nc, lines};
  for (int k = 0; k < nc; ++k) {
    const int d = core[k].direction;
    const int sx = core[k].x - step_x(d, s), sy = core[k].y - step_y(d, s);
    for (int m = 0; m < 2; ++m)
      tracer.trace(2 * k + m, m, sx, sy, core[k].x, core[k].y, d, wrap_direction(m ? d + 60 : d - 60));
    const int La = 2 * k, Lb = 2 * k + 1;
    const int ca = lines.count[La], cb = lines.count[Lb];
    int q = -1;
    if (ca < 31 || cb < 31) {
      if (std::min(ca, cb) > 14) q = std::min(ca, cb) - 1;
    } else {
      q = 30;
    }
    if (q >= 0) {
      const int mx = (lines.x[La][q] + lines.x[Lb][q]) / 2, my = (lines.y[La][q] + lines.y[Lb][q]) / 2;
      core[k].direction = direction_towards(mx, my, sx, sy);
      cores.direction[core[k].index] = static_cast<std::int16_t>(core[k].direction);
    }
  }
  for (int L = 0; L < 4; ++L) {
    const int n = lines.count[L];
    record.typeLines[L] = n ? lines.x[L][n - 1] : 0;
    record.typeLines[4 + L] = n ? lines.y[L][n - 1] : 0;
  }

  const int E = tracer.event;
  const int c0 = lines.count[0], c1 = lines.count[1];
  if (nc == 2) {
    for (int L = 0; L < 4; ++L)
      if (lines.count[L] < 10) return 3;
    const int a = direction_towards(core[1].x, core[1].y, core[0].x, core[0].y);
    const int e0 = axis_difference(a, core[0].direction), e1 = axis_difference(a, core[1].direction);
    CoreList pair{};
    pair.count = 2;
    for (int k = 0; k < 2; ++k) {
      pair.x[k] = static_cast<std::int16_t>(core[k].x);
      pair.y[k] = static_cast<std::int16_t>(core[k].y);
      pair.direction[k] = static_cast<std::int16_t>(core[k].direction);
      pair.kind[k] = 1;
    }
    if ((e0 + e1) / 2 < 17) return tl::is_whorl(&pair, &lines) == 1 ? 0 : 2;
    return 2;
  }

  const int cx = core[0].x, cy = core[0].y, d = core[0].direction;
  if (c0 < 40 || c1 < 40) {
    if (E == 0) return 8;
    if (c0 < 40 && c1 < 40) return 3;
    if (E == 1) return 0;
    if (E == 2) return 1;
    return 3;
  }
  if (E != 0) {
    int M = 0;
    for (int L = 0; L < 2; ++L)
      for (int i = 0; i < lines.count[L]; ++i) M = std::max(M, squared_distance(lines.x[L][i], lines.y[L][i], cx, cy));
    if (M < 2500) return 1;
    if (E == 1) return 0;
    if (E == 3) return 3;
    return 2;
  }
  if (nd == 2) return 0;
  const int e0x = lines.x[0][c0 - 1], e0y = lines.y[0][c0 - 1];
  const int e1x = lines.x[1][c1 - 1], e1y = lines.y[1][c1 - 1];
  const int span = distance(e0x, e0y, e1x, e1y);
  const int a0 = direction_towards(e0x, e0y, cx, cy), a1 = direction_towards(e1x, e1y, cx, cy);
  const int ad = direction_difference(a0, a1);
  if (c0 > 20 && c1 > 20 && span > 80 && ad > 50) {
    const int t0 = turn(d, a0), t1 = turn(a1, d);
    if (t0 > 20 && t0 < 60 && t1 > 20 && t1 < 60) return 7;
  }
  const int d0 = distance(e0x, e0y, cx, cy), d1 = distance(e1x, e1y, cx, cy);
  int R = 0;
  bool with_delta = nd == 1;
  if (with_delta) {
    const int b = direction_towards(delta[0].x, delta[0].y, cx, cy);
    const int bd = direction_difference(b, d);
    if (bd > 80) {
      if (std::max(d0, d1) < 120) return 0;
      with_delta = false;
    }
    if (with_delta) {
      if (bd < 10) return 7;
      if (distance(cx, cy, delta[0].x, delta[0].y) > 214) return 0;
      const TypelinePoint cp{static_cast<std::int16_t>(cx), static_cast<std::int16_t>(cy)};
      const TypelinePoint dp{static_cast<std::int16_t>(delta[0].x), static_cast<std::int16_t>(delta[0].y)};
      if (tl::is_arch(&lines, &cp, &dp) == 1) return 7;
      const int r = turn(b, d);
      if (r < 110) R = 5;
      else if (r > 129) R = 4;
    }
  }
  if (d0 < 50 || d1 < 50) return 8;
  const int i = tl::near_line_index(&lines, 0, 15);
  if (i < 1000 && distance(lines.x[1][i], lines.y[1][i], cx, cy) < rounded_sqrt(std::min(d0, d1)) - 20) return 0;
  const int mx = std::max(d0, d1);
  if (mx < 100 && span < 16) return 8;
  const int tol = std::clamp((200 - mx) / 30 + 5, 5, 10);
  if (mx < 100 && ad < tol / 2) return 8;
  // The delta and the core on the same side as seen from both line ends.
  auto same_side = [&] {
    auto dot = [&](std::int64_t ex, std::int64_t ey) {
      return (delta[0].x - ex) * (cx - ex) + (delta[0].y - ey) * (cy - ey);
    };
    return dot(e0x, e0y) > 0 && dot(e1x, e1y) > 0;
  };
  if (R != 5) {
    const int r0 = turn(a0, d);
    if (r0 < 120) {
      const int q = direction_difference(d, a1);
      if (r0 > 10 && q > 70) return 2;
      if (q < 4) return 0;
      if (q < 15 && d1 < 81) return 8;
      return 4;
    }
    if (R == 4 && same_side()) return 4;
  }
  if (R != 4) {
    const int r1 = turn(d, a1);
    if (r1 < 120) {
      const int q = direction_difference(a0, d);
      if (r1 > 10 && q > 70) return 2;
      if (q < 4) return 0;
      if (q < 15 && d0 < 81) return 8;
      return 5;
    }
    if (R == 5 && same_side()) return 5;
  }
  return 8;
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API int get_distance_to_line(const TypeLineSet* lines, int x, int y, int line) {
  return tl::distance_to_line(lines, x, y, line);
}

ZYL_API int check_near_line(const TypeLineSet* lines, int line, int limit) {
  return tl::near_line_index(lines, line, limit);
}

ZYL_API int check_line_lr(int x0, int y0, int x1, int y1, const std::int16_t* xs, const std::int16_t* ys, int n) {
  return tl::line_side(x0, y0, x1, y1, xs, ys, n);
}

ZYL_API int check_whorl(const CoreList* cores, const TypeLineSet* lines) {
  return tl::is_whorl(cores, lines);
}

ZYL_API int check_arch(const TypeLineSet* lines, const TypelinePoint* core, const TypelinePoint* delta) {
  return tl::is_arch(lines, core, delta);
}

ZYL_API int get_type_line(TypelineRecord* record, CoreList* cores, const std::uint8_t* map, std::uint8_t* work, int w,
                          int h) {
  if (!record || !cores || !work || !tl::image_ok(map, w, h)) return 10;
  const std::size_t n = tl::pixels(w, h);
  return tl::trace_type_lines(*record, *cores, {map, n}, {work, n}, w, h);
}

}  // extern "C"
