// Grid feature map matcher: parse, work size, rotation and shift search
// with coarse lattice and refinement, detail record, histogram similarity.
//
// Angles run in 512 steps a turn, so an angle adds directly to an
// orientation byte (256 steps a half turn). A shift (x, y) lays cell (i, j)
// of the resampled first map over cell (i + y, j + x) of the second.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/match/gridmap_view.h"
#include "matchlib/match/histogram_entropy.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/match/gridmap_match.h"

namespace zyl::matchlib::gridmap {
namespace {

constexpr int kMaxSide = 255;
constexpr int kMaxBoundRows = 80;
constexpr int kNoColumn = 1 << 16;  // above every column index
constexpr int kPad = 8;  // empty cells after every row of a work grid

constexpr int kAngles[24] = {0,    21,  -21, 43,  -43, 64,  -64, 85,  -85, 107, -107, 128,
                             -128, 149, -149, 171, -171, 192, -192, 213, -213, 235, -235, -256};
constexpr uint16_t kThresholdA[13] = {32768, 6078,  7050,  8630,  9147,  10137, 10507,
                                      11253, 11523, 12119, 12316, 12669, 12776};
constexpr uint16_t kThresholdB[13] = {32768, 6699,  7536,  8972,  9453,  10385, 10728,
                                      11420, 11698, 12277, 12475, 12843, 12962};

uint32_t isqrt(uint64_t v) {
  return zyl::matchlib::fx_isqrt32(static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu)));
}

// The first map's physical cell size in 1/32 of the second's, and the
// resampled first map's sides at full width.
struct Scale {
  int s = 0, rc = 0, rr = 0;
};

Scale scale_of(const MapView& a, const MapView& b, uint32_t flags) {
  Scale sc;
  sc.s = static_cast<uint16_t>(a.cell * b.resolution * 32 / b.cell / a.resolution);
  const int c = (flags & GRIDMAP_SQUARE) ? std::max(a.columns, a.rows) : a.columns;
  const int r = (flags & GRIDMAP_SQUARE) ? std::max(a.columns, a.rows) : a.rows;
  sc.rc = sc.s * c >> 5;
  sc.rr = sc.s * r >> 5;
  return sc;
}

uint32_t work_bytes(int rc, int rr, int c2, int r2) {
  const uint32_t n = static_cast<uint32_t>(rc + kPad) * rr + static_cast<uint32_t>(c2 + kPad) * r2;
  return n < 25 ? 48 : 2 * n;
}

// Work size for the two maps, counting the detail pass's threefold grids
// when the first map carries a detail layer; 0 when no match can run.
uint32_t work_size(const MapView& a, const MapView& b, uint32_t flags) {
  const Scale sc = scale_of(a, b, flags);
  // Sides over 255 are refused rather than taken modulo 256 (see match()).
  if (sc.rc > kMaxSide || sc.rr > kMaxSide) return 0;
  if (sc.rc == 0 || sc.rr == 0) return 1;
  const int k = a.detail ? 3 : 1;
  return work_bytes(k * sc.rc, k * sc.rr, k * b.columns, k * b.rows);
}

// A grid of 2-byte cells with `pad` empty cells after every row.
struct Grid {
  uint8_t* cells;
  int columns, rows;
  int stride() const { return columns + kPad; }
  uint8_t* at(int r, int c) const { return cells + 2 * (static_cast<size_t>(r) * stride() + c); }
};

void resample(const uint8_t* src, int columns, int rows, const Grid& out, int a, int ex, int ey,
              int s) {
  std::memset(out.cells, 0, 2 * static_cast<size_t>(out.stride()) * out.rows);
  const int64_t c = zyl::matchlib::fx_cos65536(a * 128), n = zyl::matchlib::fx_sin65536(a * 128);
  const int64_t dxx = c * 8 / s, dxy = -n * 8 / s, dyx = n * 8 / s, dyy = c * 8 / s;
  const int64_t e = ex + 16 * out.columns - 16, f = ey + 16 * out.rows - 16;
  const int64_t x0 = columns * int64_t{2048} + (-dxx * e - f * dyx) / 32 - 2048;
  const int64_t y0 = rows * int64_t{2048} + (-dxy * e - f * dyy) / 32 - 2048;
  for (int i = 0; i < out.rows; ++i)
    for (int j = 0; j < out.columns; ++j) {
      const int64_t x = x0 + j * dxx + i * dyx, y = y0 + j * dxy + i * dyy;
      const int64_t sc = (x + 2048) >> 12, sr = (y + 2048) >> 12;
      if (sc < 0 || sc >= columns || sr < 0 || sr >= rows) continue;
      const uint8_t* p = src + 2 * (sr * columns + sc);
      uint8_t* q = out.at(i, j);
      q[0] = static_cast<uint8_t>(p[0] + a);
      q[1] = p[1];
    }
}

void copy_in(const uint8_t* src, const Grid& out) {
  std::memset(out.cells, 0, 2 * static_cast<size_t>(out.stride()) * out.rows);
  for (int r = 0; r < out.rows; ++r)
    std::memcpy(out.at(r, 0), src + 2 * static_cast<size_t>(r) * out.columns, 2 * out.columns);
}

// Per-row extents are 16-bit: the detail layers' grids reach 3 x 255
// columns.
struct Bounds {
  int first_col = 0, first_row = 0, last_col = -1, last_row = -1;
  int mode = 0;
  bool unbounded = false;  // a valid cell lies in row 80 or below
  uint16_t row_first[kMaxBoundRows] = {}, row_last[kMaxBoundRows] = {};
  bool row_empty(int r) const { return row_first[r] > row_last[r]; }
};

// Box of the valid cells (and per-row extents in mode 2; an empty row has
// first > last). Answers the box's area, 0 for no valid cell, a single
// cell (whose box is still recorded), or a valid cell in row 80 or below
// (marked unbounded: such a grid overlaps nothing).
int bound(const Grid& g, Bounds& b, int mode) {
  b = Bounds{};
  b.mode = mode;
  b.first_row = -1;
  int first_col = kNoColumn, last_col = -1;
  for (int r = 0; r < g.rows; ++r) {
    int rf = -1, rl = -1;
    for (int c = 0; c < g.columns; ++c)
      if (g.at(r, c)[1]) {
        if (rf < 0) rf = c;
        rl = c;
      }
    if (rf < 0) {
      if (r < kMaxBoundRows) b.row_first[r] = 0xFFFF, b.row_last[r] = 0;
      continue;
    }
    if (r >= kMaxBoundRows) {
      b.unbounded = true;
      return 0;
    }
    if (b.first_row < 0) b.first_row = r;
    b.last_row = r;
    first_col = std::min(first_col, rf);
    last_col = std::max(last_col, rl);
    b.row_first[r] = static_cast<uint16_t>(rf);
    b.row_last[r] = static_cast<uint16_t>(rl);
  }
  if (b.first_row < 0) return 0;
  b.first_col = first_col;
  b.last_col = last_col;
  const int area = (b.last_row - b.first_row + 1) * (b.last_col - b.first_col + 1);
  return area > 1 ? area : 0;
}

struct OverlapRows {
  int start = 0, count = 0;
};

// Overlapped rows (in the second map's rows) under row shift v; count <= 0
// when none, -1 when a row index reaches 80 (or either grid is
// unbounded). Narrows the column ranges of the copies to the overlapped
// rows when both keep per-row extents.
int bounds_overlap(Bounds& b2, Bounds& b1, int v, OverlapRows& rows) {
  if (b1.unbounded || b2.unbounded) return -1;
  rows.start = std::max(v + b1.first_row, b2.first_row);
  rows.count = std::min(b2.last_row - rows.start + 1, b1.last_row - (rows.start - v) + 1);
  if (rows.count <= 0) return rows.count;
  if (rows.start + rows.count - 1 >= kMaxBoundRows || rows.start - v + rows.count - 1 >= kMaxBoundRows)
    return -1;
  if (b1.mode == 2 && b2.mode == 2) {
    int f1 = kNoColumn, l1 = -1, f2 = kNoColumn, l2 = -1;
    for (int k = 0; k < rows.count; ++k) {
      const int r2 = rows.start + k, r1 = rows.start - v + k;
      if (!b2.row_empty(r2)) f2 = std::min<int>(f2, b2.row_first[r2]), l2 = std::max<int>(l2, b2.row_last[r2]);
      if (!b1.row_empty(r1)) f1 = std::min<int>(f1, b1.row_first[r1]), l1 = std::max<int>(l1, b1.row_last[r1]);
    }
    if (l1 >= 0) b1.first_col = f1, b1.last_col = l1;
    if (l2 >= 0) b2.first_col = f2, b2.last_col = l2;
  }
  return 1;
}

struct Score {
  int pairs = 0;
  int score = 0;
};

int score_of(uint64_t sum, int pairs, int count, int o) {
  const uint64_t a = sum * 32768 / (static_cast<uint64_t>(std::max(pairs, 20)) * 441);
  const uint64_t f = a * isqrt(static_cast<uint64_t>(o) * isqrt(static_cast<uint64_t>(count) * 4096));
  return f > 8388607 ? 32767 : static_cast<int>(f / 256);
}

// The overlap score of the resampled first map (g1, b1) on the second map
// (g2, b2) under shift (x, y).
Score overlap_score(const Grid& g2, const Grid& g1, const Bounds& b2_in, const Bounds& b1_in, int x,
                    int y, int least, bool coarse, int o) {
  Score out;
  const int ow = std::min(g2.columns, x + g1.columns) - std::max(0, x);
  const int oh = std::min(g2.rows, y + g1.rows) - std::max(0, y);
  if (ow <= 0 || oh <= 0 || ow * oh < least || b2_in.mode != b1_in.mode) return out;
  Bounds b2 = b2_in, b1 = b1_in;
  OverlapRows rows;
  if (bounds_overlap(b2, b1, y, rows) <= 0) return out;
  const bool per_row = b1.mode == 2 && b2.mode == 2;
  const int c_lo = std::max({0, b2.first_col, x + b1.first_col});
  const int c_hi = std::min({g2.columns - 1, b2.last_col, x + b1.last_col});
  uint64_t sum = 0;
  int pairs = 0;
  const int passes = coarse ? 4 : 1, step = coarse ? 2 : 1;
  int run = 0;
  for (int p = 0; p < passes; ++p) {
    const int r_off = coarse ? p >> 1 : 0, c_off = coarse ? p & 1 : 0;
    for (int k = r_off; k < rows.count; k += step) {
      const int r2 = rows.start + k, r1 = r2 - y;
      if (r2 < 0 || r2 >= g2.rows || r1 < 0 || r1 >= g1.rows) continue;
      int lo = c_lo, hi = c_hi;
      if (per_row) {
        if (b2.row_empty(r2) || b1.row_empty(r1)) continue;
        lo = std::max({lo, int{b2.row_first[r2]}, x + b1.row_first[r1]});
        hi = std::min({hi, int{b2.row_last[r2]}, x + b1.row_last[r1]});
      }
      for (int c2 = lo + c_off; c2 <= hi; c2 += step) {
        const uint8_t* q = g2.at(r2, c2);
        const uint8_t* p1 = g1.at(r1, c2 - x);
        if (!q[1] || !p1[1]) continue;
        const int d = std::abs(static_cast<int8_t>(static_cast<uint8_t>(p1[0] - q[0])));
        const int e = std::abs(p1[1] - q[1]);
        ++pairs;
        sum += static_cast<uint64_t>(std::max(0, 21 - d) * std::max(0, 21 - e));
      }
    }
    run = p + 1;
    if (coarse && pairs > 31 && 4 * pairs >= run * least) break;
  }
  const int count = coarse ? (4 * pairs + run - 1) / run : pairs;
  out.pairs = pairs;
  out.score = score_of(sum, pairs, count, o);
  return out;
}

uint32_t entropy(const uint32_t* counts, int n) { return piecewise_entropy(counts, n); }

int fullest_bin(const uint32_t* h, int n) {
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (h[i] > h[best]) best = i;
  return h[best] ? best : 0;
}

// The matcher's state: the two maps (or their detail layers), the work
// grids and the best pose so far.
struct Matcher {
  MapView m1, m2;
  uint32_t flags = 0;
  uint8_t* work = nullptr;
  // Current layer (normal or detail).
  const uint8_t* cells1 = nullptr;
  const uint8_t* cells2 = nullptr;
  int cols1 = 0, rows1 = 0, cols2 = 0, rows2 = 0, cell2 = 0, rc = 0, rr = 0, s = 0, o = 0;
  Grid g1{}, g2{};
  Bounds b1, b2;
  int mode = 0;
  // Best pose.
  int best = 0, angle = 0, bx = 0, by = 0, ex = 0, ey = 0;
  int threshold = 32768;
  bool done = false;

  // The resampled first map has no cells when the scale shrinks a side to
  // 0; the work size for such maps is then 1 byte, so nothing is laid out
  // (and no cell can pair).
  bool resampled_empty() const { return rc == 0 || rr == 0; }
  void layout(bool detail) {
    const int k = detail ? 3 : 1;
    cells1 = detail ? m1.detail : m1.cells;
    cells2 = detail ? m2.detail : m2.cells;
    cols1 = k * m1.columns;
    rows1 = k * m1.rows;
    cols2 = k * m2.columns;
    rows2 = k * m2.rows;
    cell2 = detail ? m2.cell / 3 : m2.cell;
    if (resampled_empty()) return;
    g1 = Grid{work, rc, rr};
    g2 = Grid{work + 2 * static_cast<size_t>(rc + kPad) * rr, cols2, rows2};
    copy_in(cells2, g2);
  }
  int rebound2(int m) {
    mode = m;
    return bound(g2, b2, m);
  }
  int resample1(int a, int oex, int oey) {
    resample(cells1, cols1, rows1, g1, a, oex, oey, s);
    return bound(g1, b1, mode);
  }
  Score at(int x, int y, int least, bool coarse) const {
    return overlap_score(g2, g1, b2, b1, x, y, least, coarse, o);
  }
  // Keeps a strictly better score; a new best above the threshold ends
  // the refinement.
  bool offer(const Score& sc, int a, int x, int y, int oex, int oey) {
    if (sc.score <= best) return false;
    best = sc.score;
    angle = a;
    bx = x;
    by = y;
    ex = oex;
    ey = oey;
    return true;
  }
};

int ceil_div(int a, int b) { return b > 0 ? (a + b - 1) / b : 0; }

void coarse_search(Matcher& mt, int T, int Tb, int step, bool coarse) {
  uint32_t h1[12], v1[12], h2[12], v2[12];
  histograms(mt.m1, h1, v1);
  histograms(mt.m2, h2, v2);
  uint32_t I[12], M = 0;
  for (int k = 0; k < 12; ++k) M = std::max(M, I[k] = intersection(h1, h2, k));
  const bool strict = mt.flags & GRIDMAP_STRICT;
  const int nangles = (mt.flags & GRIDMAP_FULL_TURN) ? 24 : 3;
  const int min_side_c = std::min(mt.rc, mt.cols2);
  for (int ai = 0; ai < nangles; ++ai) {
    const int g = kAngles[ai];
    const int gm = ((g % 256) + 256) % 256;
    const int kg = gm < 242 ? (gm + 10) / 21 : 0;
    if (I[kg] < (strict ? M * 50 / 60 : M * 50 / 100)) continue;
    if (mt.m1.element && mt.m2.element) {
      const uint8_t *e1 = mt.m1.element, *e2 = mt.m2.element;
      const int D = std::abs(e1[2] - e2[2]) * 100;
      const int S1 = e1[1] + e2[1] ? e1[1] + e2[1] : 1, S2 = e1[3] + e2[3] ? e1[3] + e2[3] : 1;
      const int turn = std::abs(static_cast<int8_t>(static_cast<uint8_t>(g / 2 + e1[0] - e2[0])));
      if (turn * 100 / S1 + D / S2 > (strict ? 90 : 180)) continue;
    }
    if (mt.resample1(g, 0, 0) == 0) continue;
    const int b = std::abs(g) <= 128 ? 128 - std::abs(g) : std::abs(g) - 128;
    const int m = Tb + (T - Tb) * b / 128;
    const int edge = ceil_div(T, min_side_c);
    const int y_first = edge - mt.rr + 1, y_last = mt.rows2 - edge;
    int phase = 1;
    for (int y = y_first; y <= y_last; y += step, phase = (phase + 1) % step) {
      Bounds b2 = mt.b2, b1 = mt.b1;
      OverlapRows rows;
      if (bounds_overlap(b2, b1, y, rows) <= 0) continue;
      const int W = std::min({std::min(mt.rr, mt.rows2), mt.rows2 - y, y + mt.rr});
      const int cedge = ceil_div(m, W);
      const int x_lo = cedge - mt.rc, x_hi = mt.cols2 - cedge;
      for (int x = x_lo + phase; x <= x_hi; x += step) {
        const Score sc = mt.at(x, y, m, coarse);
        if (!(80 * int64_t{mt.best} < 100 * int64_t{sc.score})) continue;
        mt.offer(sc, g, x, y, 0, 0);
        const int probe[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (auto [px, py] : probe) {
          if (px < x_lo || px >= x_hi || py < y_first - 1 || py >= y_last) continue;
          mt.offer(mt.at(px, py, m, coarse), g, px, py, 0, 0);
        }
      }
    }
  }
}

// Scores the neighbourhood of the best pose at the given angle offsets.
void refine(Matcher& mt, std::initializer_list<int> angle_steps, int reach, int least, bool coarse) {
  const int a0 = mt.angle, x0 = mt.bx, y0 = mt.by;
  for (int da : angle_steps) {
    if (mt.done) return;
    const int a = a0 + da;
    if (mt.resample1(a, mt.ex, mt.ey) == 0) continue;
    for (int y = y0 - reach; y <= y0 + reach && !mt.done; ++y)
      for (int x = x0 - reach; x <= x0 + reach && !mt.done; ++x)
        if (mt.offer(mt.at(x, y, least, coarse), a, x, y, mt.ex, mt.ey) && mt.best > mt.threshold)
          mt.done = true;
  }
}

// The detail record's comparison at the final pose; answers its score.
int detail_pass(Matcher& mt, GridMatchDetail& rec) {
  uint64_t n = 0, prod = 0, agree = 0, sd = 0, se = 0, sde = 0;
  uint32_t o1[32] = {}, o2[32] = {}, hv[22] = {}, ho[22] = {}, hp[22] = {};
  if (!mt.resampled_empty()) mt.resample1(mt.angle, mt.ex, mt.ey);
  for (int r2 = 0; r2 < mt.g2.rows && !mt.resampled_empty(); ++r2) {
    const int r1 = r2 - mt.by;
    if (r1 < 0 || r1 >= mt.g1.rows) continue;
    for (int c2 = 0; c2 < mt.g2.columns; ++c2) {
      const int c1 = c2 - mt.bx;
      if (c1 < 0 || c1 >= mt.g1.columns) continue;
      const uint8_t* q = mt.g2.at(r2, c2);
      const uint8_t* p = mt.g1.at(r1, c1);
      if (!q[1] || !p[1]) continue;
      const int d = std::abs(static_cast<int8_t>(static_cast<uint8_t>(p[0] - q[0])));
      const int e = std::abs(p[1] - q[1]);
      const int ad = std::max(0, 21 - d), ae = e > 21 ? 0 : 21 - e;
      ++n;
      prod += static_cast<uint64_t>(ad * ae);
      agree += static_cast<uint64_t>(ad + ae);
      sd += static_cast<uint64_t>(d);
      se += static_cast<uint64_t>(e);
      sde += static_cast<uint64_t>(d * e);
      ++o1[p[0] / 8];
      ++o2[q[0] / 8];
      ++hv[ae];
      ++ho[ad];
      ++hp[ad * ae / 21];
    }
  }
  const uint64_t N = std::max<uint64_t>(n, 20);
  uint32_t g1[8] = {}, g2[8] = {};
  for (int i = 0; i < 32; ++i) g1[i / 4] += o1[i], g2[i / 4] += o2[i];
  const uint64_t E1 = entropy(o1, 32), E2 = entropy(o2, 32);
  const uint64_t F1 = entropy(g1, 8), F2 = entropy(g2, 8);
  auto spread = [](uint64_t a, uint64_t b) {
    return isqrt((a > b ? a - b : b - a) * 65536 / (a + b + 1));
  };
  const uint64_t v[GRIDMAP_DETAIL_VALUES] = {
      n,
      prod / N,
      agree / N,
      isqrt(sde * 64 / N),
      isqrt(sd * 256 / N),
      isqrt(se * 256 / N),
      spread(E1, E2),
      std::min(E1, E2),
      spread(F1, F2),
      std::min(F1, F2),
      entropy(hv, 22),
      entropy(ho, 22),
      entropy(hp, 22),
      static_cast<uint64_t>(fullest_bin(hv, 22)),
      static_cast<uint64_t>(fullest_bin(ho, 22)),
      static_cast<uint64_t>(fullest_bin(hp, 22)),
  };
  for (int i = 0; i < GRIDMAP_DETAIL_VALUES; ++i)
    rec.values[i] = static_cast<uint16_t>(std::min<uint64_t>(v[i], 65535));
  return score_of(prod, static_cast<int>(n), static_cast<int>(n), mt.o);
}

void write_alignment(const Matcher& mt, GridAlignment* out) {
  if (!out) return;
  const int64_t c = zyl::matchlib::fx_cos65536(mt.angle * 128),
                n = zyl::matchlib::fx_sin65536(mt.angle * 128);
  const int64_t W1 = int64_t{mt.cols1} * mt.cell2 - 1, H1 = int64_t{mt.rows1} * mt.cell2 - 1;
  const int64_t cell = mt.cell2;
  const int64_t dx = (cell * (32 * mt.bx + mt.ex) / 32 -
                      (c * W1 - n * H1 - (cell * mt.rc - 1) * 16384) / 32768) *
                     500 / mt.m2.resolution;
  const int64_t dy = (cell * (32 * mt.by + mt.ey) / 32 -
                      (n * W1 + c * H1 - (cell * mt.rr - 1) * 16384) / 32768) *
                     500 / mt.m2.resolution;
  out->angle = static_cast<uint8_t>(mt.angle / 2);
  out->dx = static_cast<int32_t>(dx);
  out->dy = static_cast<int32_t>(dy);
}

// Rounds a / b to nearest, halves away from zero.
int round_div(int64_t a, int64_t b) {
  return static_cast<int>(a >= 0 ? (a + b / 2) / b : -((-a + b / 2) / b));
}

int match(void* work, uint32_t work_size_given, const uint8_t* map1, uint16_t length1,
          const uint8_t* map2, uint16_t length2, int decision_index, uint16_t* score_record,
          uint8_t* decision, GridAlignment* alignment, uint32_t flags) {
  if (score_record) *score_record = 0;
  if (decision) *decision = 0;
  if (decision_index < 0 || decision_index > 12) return ML_BAD_ARGUMENT;
  Matcher mt;
  mt.flags = flags;
  mt.threshold = (flags & GRIDMAP_FULL_TURN) ? kThresholdB[decision_index] : kThresholdA[decision_index];
  if (!parse(map1, length1, mt.m1) || !parse(map2, length2, mt.m2)) return ML_WRONG_KIND;
  if (!mt.m1.columns || !mt.m1.rows || !mt.m2.columns || !mt.m2.rows) return ML_OK;
  const Scale sc = scale_of(mt.m1, mt.m2, flags);
  // A resampled side over 255 cells is refused (status 1) instead of being
  // taken modulo 256: a wrapped side would cover only a sliver of the first
  // map, or none of it, and its score would stand for a comparison that did
  // not take place.
  if (sc.rc > kMaxSide || sc.rr > kMaxSide) return ML_WRONG_KIND;
  if (!work || work_size_given < work_size(mt.m1, mt.m2, flags)) return ML_BAD_ARGUMENT;
  mt.work = static_cast<uint8_t*>(work);
  mt.s = sc.s;
  mt.rc = sc.rc;
  mt.rr = sc.rr;
  GridMatchDetail* detail = nullptr;
  if ((flags & GRIDMAP_DETAIL) && score_record) {
    auto* rec = reinterpret_cast<GridMatchDetail*>(score_record);
    if (rec->kind == GRIDMAP_DETAIL_KIND && rec->count == 0) {
      detail = rec;
      rec->count = 1;
    }
  }
  int h1 = 0, h2 = 0;
  for (int k = 0; k < mt.m1.columns * mt.m1.rows; ++k) h1 += mt.m1.cells[2 * k + 1] != 0;
  for (int k = 0; k < mt.m2.columns * mt.m2.rows; ++k) h2 += mt.m2.cells[2 * k + 1] != 0;
  const int a1 = static_cast<uint16_t>(static_cast<int64_t>(h1) * mt.s * mt.s >> 10);
  if (a1 == 0 || h2 == 0) return ML_OK;
  const int T = (a1 + h2) * 21 / 121;
  const int q = std::clamp(std::min(mt.m2.columns, mt.m2.rows) * 54 /
                                   std::max(mt.m2.columns, mt.m2.rows) - 3,
                           12, 21);
  const int Tb = (a1 + h2) * q / (q + 100);
  const int step = a1 < 169 ? 2 : 3;
  const bool coarse = a1 >= 169 && h2 >= 169 && !(flags & GRIDMAP_NO_COARSE);
  const int res1 = mt.m1.resolution;
  auto weight = [&](int cell2) { return ((32000 * cell2 + 13 * res1 / 2) / 13) / res1; };
  mt.o = weight(mt.m2.cell);
  mt.layout(false);
  // A second map whose valid cells reach row 80 stays unbounded and so
  // overlaps nothing: every score of the search is 0.
  if (!mt.resampled_empty()) mt.rebound2((flags & GRIDMAP_SQUARE) ? 2 : 0);
  const bool can_search = T > 0 && (a1 + h2) * q >= q + 100 &&
                          std::min(mt.rc, mt.cols2) * std::min(mt.rr, mt.rows2) >= T;
  if (!can_search) {
    if (detail) mt.best = detail_pass(mt, *detail);
  } else if (alignment && (flags & GRIDMAP_GIVEN_ONLY)) {
    const int a = 2 * alignment->angle;
    const int64_t c = zyl::matchlib::fx_cos65536(a * 128), n = zyl::matchlib::fx_sin65536(a * 128);
    const int64_t W1 = int64_t{mt.cols1} * mt.cell2 - 1, H1 = int64_t{mt.rows1} * mt.cell2 - 1;
    const int64_t u = alignment->dx + (c * W1 - n * H1 - (int64_t{mt.cell2} * mt.rc - 1) * 16384) / 32768;
    const int64_t w = alignment->dy + (c * H1 + n * W1 - (int64_t{mt.cell2} * mt.rr - 1) * 16384) / 32768;
    const int x = round_div(u, mt.cell2), y = round_div(w, mt.cell2);
    mt.angle = a;
    mt.bx = x;
    mt.by = y;
    mt.ex = static_cast<int>((u - int64_t{x} * mt.cell2) * 32 / mt.cell2);
    mt.ey = static_cast<int>((w - int64_t{y} * mt.cell2) * 32 / mt.cell2);
    if (mt.resample1(a, mt.ex, mt.ey) != 0) mt.best = mt.at(x, y, 1, false).score;
    if (detail) mt.best = detail_pass(mt, *detail);
  } else {
    coarse_search(mt, T, Tb, step, coarse);
    const int abs_angle = std::min(std::abs(mt.angle), 256);
    int m1 = (abs_angle * Tb + (256 - abs_angle) * T) >> 8;
    refine(mt, {0, -7, 7, -14, 14}, 2, m1, coarse);
    int reach = 1;
    // The detail grids (up to 765 cells a side) fit the work size, which
    // counts both maps threefold when the first has a detail layer, and the
    // 16-bit per-row extents. A second-map cell size under 3 gives a detail
    // cell size of 0, which only the alignment's arithmetic reads (nothing
    // divides by it).
    if (!mt.done && mt.m1.detail && mt.m2.detail) {
      mt.rc *= 3;
      mt.rr *= 3;
      mt.layout(true);
      mt.rebound2(mt.mode);
      mt.bx = 3 * mt.bx + 1;
      mt.by = 3 * mt.by + 1;
      m1 *= 9;
      mt.o = weight(mt.m2.cell / 3) + 1;
      reach = (flags & GRIDMAP_WIDE_DETAIL) ? 2 : 1;
      // The coarse best score stands: a detail pose replaces the coarse
      // one only by scoring above it (maps whose detail grids reach row 80
      // keep the coarse result whole).
    }
    refine(mt, {0, -3, 3}, reach, m1, false);
    if (!mt.done) {
      mt.rebound2(0);
      const int a = mt.angle, x = mt.bx, y = mt.by;
      for (int oey : {0, -16, 16})
        for (int oex : {0, -16, 16}) {
          if (mt.done) break;
          if (mt.resample1(a, oex, oey) == 0) continue;
          if (mt.offer(mt.at(x, y, m1, false), a, x, y, oex, oey) && mt.best > mt.threshold)
            mt.done = true;
        }
    }
    if (detail) mt.best = detail_pass(mt, *detail);
  }
  if (decision) *decision = decision_index == 0 ? 0 : (mt.best > mt.threshold ? 1 : 2);
  uint32_t score = static_cast<uint32_t>(mt.best);
  if (!(flags & GRIDMAP_RAW_SCORE)) {
    const int Q = std::max(mt.m1.quality, mt.m2.quality);
    score = std::min<uint32_t>(65535, static_cast<uint32_t>(
                                          uint64_t{score} * isqrt(56320) /
                                          isqrt(static_cast<uint64_t>(std::max(Q - 35, 40)) * 1024)));
  }
  if (score_record) *score_record = static_cast<uint16_t>(score);
  if (detail) detail->count = 17;  // every path above ran the detail pass
  write_alignment(mt, alignment);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib::gridmap

using namespace zyl::matchlib::gridmap;

extern "C" ZYL_API int gridmap_parse(const uint8_t* bytes, uint16_t length, uint8_t* columns,
                                     uint8_t* rows, uint8_t* cell_size, uint16_t* resolution,
                                     const uint8_t** cells, const uint8_t** detail,
                                     uint8_t* quality, const uint8_t** element) {
  MapView m;
  if (!parse(bytes, length, m)) return ML_WRONG_KIND;
  if (columns) *columns = static_cast<uint8_t>(m.columns);
  if (rows) *rows = static_cast<uint8_t>(m.rows);
  if (cell_size) *cell_size = static_cast<uint8_t>(m.cell);
  if (resolution) *resolution = static_cast<uint16_t>(m.resolution);
  if (cells) *cells = m.cells;
  if (detail) *detail = m.detail;
  if (quality) *quality = static_cast<uint8_t>(m.quality);
  if (element) *element = m.element;
  return ML_OK;
}

uint32_t zyl::matchlib::gridmap_match_work_size(const uint8_t* map1, uint16_t length1,
                                                const uint8_t* map2, uint16_t length2,
                                                uint32_t flags) {
  MapView a, b;
  if (!parse(map1, length1, a) || !parse(map2, length2, b)) return 0;
  return work_size(a, b, flags);
}

int zyl::matchlib::gridmap_match(void* work, uint32_t work_size, const uint8_t* map1,
                                 uint16_t length1, const uint8_t* map2, uint16_t length2,
                                 int decision_index, uint16_t* score_record, uint8_t* decision,
                                 GridAlignment* alignment, uint32_t flags) {
  return match(work, work_size, map1, length1, map2, length2, decision_index, score_record,
               decision, alignment, flags);
}

int zyl::matchlib::gridmap_histogram_similarity(const uint8_t* map1, uint16_t length1,
                                                const uint8_t* map2, uint16_t length2,
                                                uint16_t* out) {
  if (out) out[0] = out[1] = 0;
  MapView a, b;
  if (!parse(map1, length1, a) || !parse(map2, length2, b)) return ML_WRONG_KIND;
  if (!a.columns || !a.rows) return ML_OK;
  uint32_t h1[12], v1[12], h2[12], v2[12];
  histograms(a, h1, v1);
  histograms(b, h2, v2);
  uint32_t best = 0;
  for (int k = 0; k < 12; ++k) best = std::max(best, intersection(h1, h2, k));
  if (out) {
    out[0] = static_cast<uint16_t>(std::min<uint32_t>(best, 65535));
    out[1] = static_cast<uint16_t>(std::min<uint32_t>(intersection(v1, v2, 0), 65535));
  }
  return ML_OK;
}

extern "C" ZYL_API uint32_t histogram_entropy(const uint32_t* counts, int n) {
  return counts && n > 0 ? entropy(counts, n) : 0;
}

extern "C" {

ZYL_API uint32_t gridmap_match_work_size(const uint8_t* map1, uint16_t length1, const uint8_t* map2,
                                         uint16_t length2, uint32_t flags) {
  return zyl::matchlib::gridmap_match_work_size(map1, length1, map2, length2, flags);
}
ZYL_API int gridmap_match(void* work, uint32_t work_size, const uint8_t* map1, uint16_t length1,
                          const uint8_t* map2, uint16_t length2, int decision_index,
                          uint16_t* score_record, uint8_t* decision, GridAlignment* alignment,
                          uint32_t flags) {
  return zyl::matchlib::gridmap_match(work, work_size, map1, length1, map2, length2, decision_index,
                                      score_record, decision, alignment, flags);
}
ZYL_API int gridmap_histogram_similarity(const uint8_t* map1, uint16_t length1, const uint8_t* map2,
                                         uint16_t length2, uint16_t* out) {
  return zyl::matchlib::gridmap_histogram_similarity(map1, length1, map2, length2, out);
}

}  // extern "C"
