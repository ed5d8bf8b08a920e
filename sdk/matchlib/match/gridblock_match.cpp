// Grid-block matcher: the given alignment becomes a pose on the gallery's
// cell grid (angle in 1/512 turn, offsets in 1/32 cell), a small
// neighbourhood of poses is searched for the best agreement of direction
// and frequency, 27 sub-scores are taken at the final pose and a new
// alignment is built from it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/match/histogram_entropy.h"
#include "zylscan/matchlib_array.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_xform.h"
#include "matchlib/core/array_stats.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/gridblock_match.h"
#include "matchlib/template/grid_block.h"

namespace zyl::matchlib::gridblock {
namespace {

constexpr int16_t kDefaults[GRIDBLOCK_SEARCH_PARAMS] = {4, 16, 32, 7, 96, 256, 1,
                                                        21, 21, 21, 64, 0, 20, 10};
enum Param {
  kLeastByte2 = 0, kTolByte3, kTolByte4, kAngleRange, kOffsetRange, kPlaneScale, kLeastPairs,
  kTolByte1, kTolDirection, kTolByte2, kTolByte5, kMode, kLeastNorm, kNormPercent
};
constexpr int kCacheEntries = 32;
constexpr int kStoredPairs = 1024;
// Bounds of the search record from a caller. The angle sweep tries every
// angle within the range, so a range of half a turn either way already
// covers the whole turn. The probe plane is at most twice the probe's
// larger side (a turned probe needs 1.42 times): each of the 32 cached
// planes then stays within 2 x 510 x 510 bytes.
constexpr int kMaxAngleRange = 256;
constexpr int kMaxPlaneScale = 512;

uint32_t isqrt(uint64_t v) {
  return zyl::matchlib::fx_isqrt32(static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu)));
}
int floor_div(int64_t a, int64_t b) {
  return static_cast<int>(a >= 0 ? a / b : -((-a + b - 1) / b));
}
int dir_diff(int a, int b) { return std::abs(static_cast<int8_t>(static_cast<uint8_t>(a - b))); }

struct BlockDeleter {
  void operator()(GridFeatureBlock* b) const { zyl::matchlib::gridblock_free(b); }
};
using BlockPtr = std::unique_ptr<GridFeatureBlock, BlockDeleter>;
struct TransformRelease {
  void operator()(RigidTransform* t) const { zyl::matchlib::xform_release(t); }
};

struct Pose {
  int angle = 0, x = 0, y = 0;
  int score = 0, count = 0;
};

// A plane of 2-byte cells (direction, value byte 1).
struct Plane {
  int rows = 0, columns = 0;
  std::vector<uint8_t> cells;
  const uint8_t* at(int r, int c) const { return &cells[2 * (static_cast<size_t>(r) * columns + c)]; }
};

// Where plane cell (i, j) of an n x m plane falls in a block of br x bc
// cells at a pose; false outside the block.
struct Mapping {
  int64_t x0, y0, c, s;
  Mapping(const Pose& p, int n, int m, int br, int bc) {
    c = zyl::matchlib::fx_cos65536(p.angle * 128) / 4;
    s = zyl::matchlib::fx_sin65536(p.angle * 128) / 4;
    const int64_t fx = (p.x - 32 * int64_t{floor_div(p.x, 32)}) + 16 * int64_t{m - 1};
    const int64_t fy = (p.y - 32 * int64_t{floor_div(p.y, 32)}) + 16 * int64_t{n - 1};
    x0 = 2048 * int64_t{bc} + (-c * fx - s * fy) / 32 - 2048;
    y0 = 2048 * int64_t{br} + (s * fx - c * fy) / 32 - 2048;
  }
  bool cell(int i, int j, int br, int bc, int& row, int& column) const {
    const int64_t X = x0 + i * s + j * c, Y = y0 + i * c - j * s;
    column = floor_div(X + 2048, 4096);
    row = floor_div(Y + 2048, 4096);
    return row >= 0 && row < br && column >= 0 && column < bc;
  }
};

void resample(const GridFeatureBlock& b, const Pose& p, int n, int m, Plane& out) {
  out.rows = n;
  out.columns = m;
  out.cells.assign(2 * static_cast<size_t>(n) * m, 0);
  const Mapping map(p, n, m, b.rows, b.columns);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) {
      int r = 0, c = 0;
      if (!map.cell(i, j, b.rows, b.columns, r, c)) continue;
      const GridCell& cell = b.cells[static_cast<size_t>(r) * b.columns + c];
      out.cells[2 * (static_cast<size_t>(i) * m + j)] = static_cast<uint8_t>(cell.values[0] + p.angle);
      out.cells[2 * (static_cast<size_t>(i) * m + j) + 1] = cell.values[1];
    }
}

// Resampled probe planes by (x mod 32, y mod 32, angle), most recent first.
class PlaneCache {
 public:
  PlaneCache(const GridFeatureBlock& probe, int side) : probe_(probe), side_(side) {
    entries_.resize(kCacheEntries);
  }
  const Plane& get(const Pose& p) {
    const std::array<int, 3> key{p.x - 32 * floor_div(p.x, 32), p.y - 32 * floor_div(p.y, 32), p.angle};
    for (auto& e : entries_)
      if (e.used && e.key == key) {
        ++hits_;
        return e.plane;
      }
    ++misses_;
    std::rotate(entries_.rbegin(), entries_.rbegin() + 1, entries_.rend());
    Entry& e = entries_.front();
    e.used = true;
    e.key = key;
    resample(probe_, p, side_, side_, e.plane);
    return e.plane;
  }
  int side() const { return side_; }

 private:
  struct Entry {
    std::array<int, 3> key{};
    bool used = false;
    Plane plane;
  };
  const GridFeatureBlock& probe_;
  int side_;
  std::vector<Entry> entries_;
  int hits_ = 0, misses_ = 0;
};

struct Overlap {
  int score = 0, count = 0;
};

Overlap overlap(const Plane& gallery, const Plane& probe, const Pose& p, int least_norm) {
  const int ax = floor_div(p.x, 32) - (probe.columns - gallery.columns) / 2;
  const int ay = floor_div(p.y, 32) - (probe.rows - gallery.rows) / 2;
  const int c0 = std::max(0, ax), c1 = std::min(gallery.columns - 1, ax + probe.columns - 1);
  const int r0 = std::max(0, ay), r1 = std::min(gallery.rows - 1, ay + probe.rows - 1);
  Overlap out;
  if (c1 - c0 + 1 < 2 || r1 - r0 + 1 < 2) return out;
  uint64_t sum = 0;
  for (int r = r0; r <= r1; ++r)
    for (int k = c0; k <= c1; ++k) {
      const uint8_t* g = gallery.at(r, k);
      const uint8_t* q = probe.at(r - ay, k - ax);
      if (!g[1] || !q[1]) continue;
      ++out.count;
      sum += static_cast<uint64_t>(std::max(0, 21 - dir_diff(q[0], g[0])) *
                                   std::max(0, 21 - std::abs(q[1] - g[1])));
    }
  const uint64_t N = static_cast<uint64_t>(std::max(out.count, least_norm));
  if (N == 0) return out;
  const uint64_t ratio = (sum * 32768 / (N * 441)) >> 1;
  out.score = static_cast<int>(std::min<uint64_t>(isqrt(uint64_t{isqrt(N << 12)} * 59) * ratio, INT32_MAX));
  return out;
}

class Search {
 public:
  Search(const Plane& gallery, PlaneCache& cache, const int16_t* prm, const Pose& initial)
      : gallery_(gallery), cache_(cache), prm_(prm), init_(initial) {
    ring_.fill(-1);
    const Overlap o = overlap(gallery_, cache_.get(init_), init_, prm_[kLeastNorm]);
    best_ = init_;
    best_.score = o.score;
    best_.count = o.count;
  }

  Pose run() {
    const int range = prm_[kAngleRange];
    for (int a = init_.angle - range; a <= init_.angle + range; ++a) try_pose({a, init_.x, init_.y});
    Pose centre = best_;
    for (int pass = 0; pass < 5; ++pass) {
      bool better = false;
      for (int da : {-1, 0, 1})
        for (int dy : {0, -32, 32})
          for (int dx : {0, -32, 32}) better |= try_pose({centre.angle + da, centre.x + dx, centre.y + dy});
      if (!better) break;
      centre = best_;
    }
    for (int pass = 0; pass < 5; ++pass) {
      bool better = false;
      for (int da : {-1, 0, 1})
        for (int dy : {-16, 0, 16})
          for (int dx : {-16, 0, 16}) better |= try_pose({centre.angle + da, centre.x + dx, centre.y + dy});
      if (!better) break;
      centre = best_;
    }
    return centre;
  }

 private:
  bool try_pose(Pose p) {
    const int dA = p.angle - init_.angle, dx = p.x - init_.x, dy = p.y - init_.y;
    if (std::abs(dA) > prm_[kAngleRange] || std::abs(dx) > prm_[kOffsetRange] ||
        std::abs(dy) > prm_[kOffsetRange] || (dA == 0 && dx == 0 && dy == 0))
      return false;
    const int key = dA * 4096 + (dy / 16) * 64 + dx / 16 + 133152;
    if (std::find(ring_.begin(), ring_.end(), key) != ring_.end()) return false;
    ring_[next_] = key;
    next_ = (next_ + 1) % static_cast<int>(ring_.size());
    const Overlap o = overlap(gallery_, cache_.get(p), p, prm_[kLeastNorm]);
    if (o.count < prm_[kLeastPairs] || o.score <= best_.score) return false;
    best_ = p;
    best_.score = o.score;
    best_.count = o.count;
    return true;
  }

  const Plane& gallery_;
  PlaneCache& cache_;
  const int16_t* prm_;
  Pose init_, best_;
  std::array<int, 16> ring_{};
  int next_ = 0;
};

// Median of a 22-bin histogram in 1/16 bin; 0 when empty.
int median22(const uint32_t* h) {
  uint64_t total = 0;
  for (int i = 0; i < 22; ++i) total += h[i];
  if (!total) return 0;
  uint64_t before = 0;
  for (int d = 0; d < 22; ++d) {
    if (before + h[d] >= (total + 1) / 2) {
      if (!h[d]) return d * 16;
      const int64_t part = static_cast<int64_t>(total / 2) - static_cast<int64_t>(before);
      return static_cast<int>(d * 16 + part * 16 / h[d]);
    }
    before += h[d];
  }
  return -1;
}

uint16_t u16(int64_t v) { return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535)); }

void entropies_of(const uint32_t* g32, const uint32_t* p32, uint16_t* out) {
  const uint64_t E1 = piecewise_entropy(g32, 32), E2 = piecewise_entropy(p32, 32);
  uint32_t g8[8] = {}, p8[8] = {};
  for (int i = 0; i < 32; ++i) g8[i / 4] += g32[i], p8[i / 4] += p32[i];
  const uint64_t F1 = piecewise_entropy(g8, 8), F2 = piecewise_entropy(p8, 8);
  auto spread = [](uint64_t a, uint64_t b) { return isqrt(((a > b ? a - b : b - a) << 16) / (a + b + 1)); };
  out[0] = u16(spread(E1, E2));
  out[1] = u16(std::min(E1, E2));
  out[2] = u16(spread(F1, F2));
  out[3] = u16(std::min(F1, F2));
}

void sub_scores(const GridFeatureBlock& probe, const GridFeatureBlock& gallery, const Pose& p,
                const int16_t* prm, uint16_t* out) {
  const int side = std::max(probe.rows, probe.columns);
  // The probe block's own rows and columns centre the mapping, as in the
  // search, so that the scored cells are the ones the search compared.
  const Mapping map(p, side, side, probe.rows, probe.columns);
  const int ax = floor_div(p.x, 32) - (side - gallery.columns) / 2;
  const int ay = floor_div(p.y, 32) - (side - gallery.rows) / 2;
  const bool stats = prm[kMode] == 0;
  uint64_t n = 0, sJ = 0, sAB = 0, sVD = 0, sA = 0, sB = 0, agree[4] = {}, weighted[4] = {};
  uint64_t sK = 0, sL = 0, positive = 0;
  uint32_t gdir[32] = {}, pdir[32] = {}, gval[32] = {}, pval[32] = {}, hV[22] = {}, hD[22] = {}, hJ[22] = {};
  std::vector<uint8_t> stored_g(kStoredPairs, 0), stored_p(kStoredPairs, 0), stored_L(kStoredPairs, 0),
      stored_K(kStoredPairs, 0), stored_sK(kStoredPairs, 0);
  const int kBytes[4] = {5, 2, 4, 3};  // order of the weighted products
  for (int r = 0; r < gallery.rows; ++r)
    for (int k = 0; k < gallery.columns; ++k) {
      int pr = 0, pc = 0;
      if (!map.cell(r - ay, k - ax, probe.rows, probe.columns, pr, pc)) continue;
      if (r - ay < 0 || r - ay >= side || k - ax < 0 || k - ax >= side) continue;
      const GridCell& g = gallery.cells[static_cast<size_t>(r) * gallery.columns + k];
      const GridCell& q = probe.cells[static_cast<size_t>(pr) * probe.columns + pc];
      if (!g.valid || !q.valid || !g.values[1] || !q.values[1] ||
          std::min(g.values[2], q.values[2]) < prm[kLeastByte2])
        continue;
      const int pdirection = static_cast<uint8_t>(q.values[0] + p.angle);
      const int D = dir_diff(pdirection, g.values[0]);
      const int V = std::abs(q.values[1] - g.values[1]);
      const int a = std::max(0, prm[kTolDirection] - D), b = std::max(0, prm[kTolByte1] - V);
      const int J = a * b;
      ++gdir[g.values[0] / 8];
      ++pdir[pdirection / 8];
      ++gval[g.values[1] / 8];
      ++pval[q.values[1] / 8];
      if (stats) {
        sJ += J;
        sAB += a + b;
        sVD += static_cast<uint64_t>(V * D);
        sA += a;
        sB += b;
        agree[0] += std::max(0, prm[kTolByte2] - std::abs(q.values[2] - g.values[2]));
        agree[1] += std::max(0, prm[kTolByte3] - std::abs(q.values[3] - g.values[3]));
        agree[2] += isqrt(static_cast<uint64_t>(std::max(0, prm[kTolByte4] - std::abs(q.values[4] - g.values[4]))) << 12);
        agree[3] += std::max(0, prm[kTolByte5] - std::abs(q.values[5] - g.values[5]));
        for (int i = 0; i < 4; ++i)
          weighted[i] += (uint64_t{q.values[kBytes[i]]} * g.values[kBytes[i]] * static_cast<uint64_t>(J)) >> 8;
        ++hV[std::min(21, V * 22 / 256)];
        ++hD[std::min(21, D * 22 / 256)];
        ++hJ[std::min(21, J / 21)];
      } else {
        const int K = static_cast<int>(isqrt(static_cast<uint64_t>(V) << 6));
        const int L = static_cast<int>(isqrt(static_cast<uint64_t>(D) << 6));
        sJ += J;
        sK += K;
        sL += L;
        positive += J > 0;
        if (n < kStoredPairs) {
          stored_g[n] = g.values[1];
          stored_p[n] = q.values[1];
          stored_L[n] = static_cast<uint8_t>(L);
          stored_K[n] = static_cast<uint8_t>(K);
          stored_sK[n] = static_cast<uint8_t>((q.values[1] < g.values[1] ? K : -K) - 128);
        }
        if (K <= 40 && L <= 40) {
          const int64_t w = static_cast<int64_t>(K - 40) * (L - 40) / 2;
          for (int i = 0; i < 4; ++i)
            weighted[i] += static_cast<uint64_t>((w * q.values[kBytes[i]] * g.values[kBytes[i]]) >> 8);
        }
      }
      ++n;
    }
  if (n < static_cast<uint64_t>(std::max<int>(prm[kLeastPairs], 0))) return;
  const uint64_t cells = std::max(static_cast<uint64_t>(probe.rows) * probe.columns,
                                  static_cast<uint64_t>(gallery.rows) * gallery.columns);
  const uint64_t T = std::max({n, static_cast<uint64_t>(std::max<int>(prm[kLeastNorm], 1)),
                               (cells * static_cast<uint64_t>(std::max<int>(prm[kNormPercent], 0)) + 50) / 100});
  if (stats) {
    const uint64_t tol = static_cast<uint64_t>(std::max(1, prm[kTolDirection] * prm[kTolByte1]));
    out[0] = u16(std::min<uint64_t>(
        32767, (((sJ * 32768 / (tol * T)) >> 1) * isqrt(uint64_t{isqrt(n << 12)} * 59)) >> 8));
    out[1] = u16(static_cast<int64_t>(n));
    out[2] = u16(sJ / T);
    out[3] = u16(sAB * 256 / T);
    out[4] = u16(isqrt(sVD * 64 / T));
    entropies_of(gdir, pdir, out + 5);  // 5, 6, 7, 8
    out[9] = u16(piecewise_entropy(hV, 22));
    out[10] = u16(piecewise_entropy(hD, 22));
    out[11] = u16(piecewise_entropy(hJ, 22));
    out[12] = static_cast<uint16_t>(median22(hV));
    out[13] = static_cast<uint16_t>(median22(hD));
    out[14] = static_cast<uint16_t>(median22(hJ));
    out[15] = u16(sJ / T);
    out[16] = u16(sVD / T);
    out[17] = u16(sA * 256 / T);
    out[18] = u16(sB * 256 / T);
    out[19] = u16(agree[0] * 256 / T);
    out[20] = u16(agree[1] * 256 / T);
    out[21] = u16(agree[2] / T);
    out[22] = u16(agree[3] * 256 / T);
    for (int i = 0; i < 4; ++i) out[23 + i] = u16(weighted[i] / 8 / T);
    return;
  }
  const uint64_t root = std::max<uint32_t>(isqrt(T * 256), 1);
  out[0] = u16(sJ * 16 / root);
  out[1] = u16(positive * 4096 / root);
  out[2] = u16(sK * 16 / root);
  out[3] = u16(sL * 16 / root);
  const int m = static_cast<int>(std::min<uint64_t>(T, kStoredPairs));
  out[4] = u16(zyl::matchlib::array_variance_u8(stored_L.data(), m));
  out[5] = u16(zyl::matchlib::array_variance_u8(stored_K.data(), m));
  out[6] =
      u16(std::abs(static_cast<int64_t>(zyl::matchlib::array_skewness_u8(stored_sK.data(), m))));
  const int64_t kurt = zyl::matchlib::array_kurtosis_u8(stored_sK.data(), m);
  out[8] = u16(isqrt(static_cast<uint64_t>(std::max<int64_t>(kurt + 768, 0)) << 4));
  const int64_t F1 = zyl::matchlib::array_mean_u8(stored_g.data(), m),
                F2 = zyl::matchlib::array_mean_u8(stored_p.data(), m);
  out[10] = u16((std::abs(F1 - F2) << 8) / std::max<int64_t>({F1, F2, 1}));
  const uint64_t root10 = std::max<uint32_t>(isqrt(T << 10), 1);
  for (int i = 0; i < 4; ++i) out[23 + i] = u16(static_cast<int64_t>(weighted[i] / root10));
}

struct Geometry {
  int w, gc, gr, gox, goy, pox, poy;
};

Pose pose_from(const Geometry& g, int dx, int dy, int m) {
  const int64_t c8 = zyl::matchlib::fx_cos256(m), s8 = zyl::matchlib::fx_sin256(m);
  const int64_t c16 = zyl::matchlib::fx_cos65536(m * 256),
                s16 = zyl::matchlib::fx_sin65536(m * 256);
  const int64_t px = dx + ((g.pox * c8 - g.poy * s8) >> 14) - g.gox;
  const int64_t py = dy + ((g.poy * c8 + g.pox * s8) >> 14) - g.goy;
  const int64_t A = int64_t{g.w} * g.gc - 1, B = int64_t{g.w} * g.gr - 1;
  Pose p;
  p.x = static_cast<int>(((px * 256 + (c16 * A - s16 * B - A * 16384) / 128) * 32) / g.w / 256);
  p.y = static_cast<int>(((py * 256 + (c16 * B + s16 * A - B * 16384) / 128) * 32) / g.w / 256);
  p.angle = 2 * m;
  return p;
}

RigidTransform* alignment_from(const Geometry& g, const Pose& p, int resolution) {
  const int J = static_cast<uint8_t>(p.angle / 2);
  const int64_t c16 = zyl::matchlib::fx_cos65536(p.angle * 128),
                s16 = zyl::matchlib::fx_sin65536(p.angle * 128);
  const int64_t c8 = zyl::matchlib::fx_cos256(J), s8 = zyl::matchlib::fx_sin256(J);
  const int64_t A = int64_t{g.w} * g.gc - 1, B = int64_t{g.w} * g.gr - 1;
  const int64_t tx = (c16 * A - s16 * B - A * 16384) / 128 * 32 / g.w;
  const int64_t ty = (s16 * A + (c16 - 16384) * B) / 128 * 32 / g.w;
  const int64_t dx = g.w * (int64_t{p.x} * 256 - tx) / 8192 + g.gox - ((g.pox * c8 - g.poy * s8) >> 14);
  const int64_t dy = g.goy + g.w * (int64_t{p.y} * 256 - ty) / 8192 - ((g.poy * c8 + g.pox * s8) >> 14);
  return zyl::matchlib::xform_create_dpi(
      static_cast<int16_t>(std::clamp<int64_t>(dx, INT16_MIN, INT16_MAX)),
      static_cast<int16_t>(std::clamp<int64_t>(dy, INT16_MIN, INT16_MAX)), static_cast<uint8_t>(J),
      static_cast<int16_t>(resolution));
}

int match(const uint8_t* probe_bytes, uint32_t probe_length, const uint8_t* gallery_bytes,
          uint32_t gallery_length, int resolution, uint16_t* scores, uint16_t* count,
          RigidTransform** alignment, const int16_t* prm) {
  GridFeatureBlock* raw = nullptr;
  int st = zyl::matchlib::gridblock_parse(probe_bytes, probe_length, &raw);
  if (st != ML_OK) return st;
  BlockPtr probe(raw);
  raw = nullptr;
  st = zyl::matchlib::gridblock_parse(gallery_bytes, gallery_length, &raw);
  if (st != ML_OK) return st;
  BlockPtr gallery(raw);
  const int dpi = gallery->resolution ? gallery->resolution : resolution;
  int16_t dx = 0, dy = 0;
  uint8_t m = 0;
  if (alignment && *alignment) {
    zyl::matchlib::xform_get_dpi(*alignment, &dx, &dy, &m, dpi);
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
  }
  // The gallery's cell size divides the pose arithmetic. A block without
  // rows or columns is matched all the same: it pairs no cell, so the
  // sub-scores stay 0 and the alignment is rebuilt from the pose.
  if (!gallery->cell_size) return ML_CORRUPT;
  const Geometry geo{gallery->cell_size,
                     gallery->columns,
                     gallery->rows,
                     static_cast<int8_t>(gallery->origin_x),
                     static_cast<int8_t>(gallery->origin_y),
                     static_cast<int8_t>(probe->origin_x),
                     static_cast<int8_t>(probe->origin_y)};
  const Pose initial = pose_from(geo, dx, dy, m);
  Plane gallery_plane;
  resample(*gallery, Pose{}, gallery->rows, gallery->columns, gallery_plane);
  const int side = std::max(1, std::max(probe->rows, probe->columns) * std::max<int>(prm[kPlaneScale], 0) / 256);
  PlaneCache cache(*probe, side);
  Search search(gallery_plane, cache, prm, initial);
  const Pose final_pose = search.run();
  std::unique_ptr<RigidTransform, TransformRelease> out(alignment_from(geo, final_pose, dpi));
  if (!out) return ML_NO_MEMORY;  // the sub-scores stay cleared
  sub_scores(*probe, *gallery, final_pose, prm, scores);
  *count = GRIDBLOCK_SUBSCORES;
  if (alignment) *alignment = out.release();
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib::gridblock

using namespace zyl::matchlib::gridblock;

extern "C" ZYL_API const int16_t* gridblock_default_search(void) { return kDefaults; }

int zyl::matchlib::gridblock_match(const uint8_t* probe, uint32_t probe_length,
                                   const uint8_t* gallery, uint32_t gallery_length, int resolution,
                                   uint16_t* scores, uint16_t* count, RigidTransform** alignment,
                                   const int16_t* search_params) {
  if (!scores || !count || *count != GRIDBLOCK_SUBSCORES) return ML_WRONG_KIND;
  std::fill(scores, scores + GRIDBLOCK_SUBSCORES, 0);
  *count = 0;
  const int16_t* prm = search_params ? search_params : kDefaults;
  if (prm[kAngleRange] < 0 || prm[kAngleRange] > kMaxAngleRange || prm[kPlaneScale] < 0 ||
      prm[kPlaneScale] > kMaxPlaneScale)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return match(probe, probe_length, gallery, gallery_length, resolution, scores, count,
                 alignment, prm);
  });
}

extern "C" {

ZYL_API int gridblock_match(const uint8_t* probe, uint32_t probe_length, const uint8_t* gallery,
                            uint32_t gallery_length, int resolution, uint16_t* scores,
                            uint16_t* count, RigidTransform** alignment,
                            const int16_t* search_params) {
  return zyl::matchlib::gridblock_match(probe, probe_length, gallery, gallery_length, resolution,
                                        scores, count, alignment, search_params);
}

}  // extern "C"
