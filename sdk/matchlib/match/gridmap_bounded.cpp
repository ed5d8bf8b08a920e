// Bounded grid-map comparison for the card path: strict header check,
// histogram similarity for pre-selection, and the cell-by-cell comparison
// of a reference map resampled into the probe's frame under a known
// alignment, in a caller buffer of bounded size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/match/gridmap_view.h"
#include "matchlib/match/histogram_entropy.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/match/gridmap_bounded.h"

namespace zyl::matchlib::gridmap {
namespace {

// Card maps carry no 4-byte element: only the cells, optionally the detail
// layer, optionally a trailing byte.
bool validate(const uint8_t* b, uint32_t len, MapView& m) {
  if (len <= 9 || !parse(b, len, m)) return false;
  const uint32_t c = static_cast<uint32_t>(m.columns) * m.rows;
  return len == 2 * c + 10 || len == 2 * c + 11 || len == 20 * c + 10 || len == 20 * c + 11;
}

// Reference cell size in 1/32 of a probe cell (kept to 8 bits as stored).
int scale_in(const MapView& ref, const MapView& probe) {
  return (ref.cell * probe.resolution * 32 / probe.cell / ref.resolution) & 0xFF;
}

int valid_cells(const MapView& m) {
  int n = 0;
  for (int k = 0; k < m.columns * m.rows; ++k) n += m.cells[2 * k + 1] != 0;
  return n;
}

uint32_t isqrt(uint64_t v) {
  return zyl::matchlib::fx_isqrt32(static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu)));
}

// Difference of two bytes read as signed, made positive: 0..128.
int byte_distance(int a, int b) {
  return std::abs(static_cast<int>(static_cast<int8_t>(static_cast<uint8_t>(a - b))));
}

int fullest_bin(const uint32_t* h, int n) {
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (h[i] > h[best]) best = i;
  return best;
}

int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

struct Histograms {
  uint32_t probe32[32] = {}, ref32[32] = {}, value[22] = {}, orient[22] = {}, joint[28] = {};
};

// Entropy pair of two orientation histograms: scaled relative difference
// and the smaller entropy.
void entropy_pair(const uint32_t* a, const uint32_t* b, int n, uint16_t* out) {
  const uint64_t ha = piecewise_entropy(a, n), hb = piecewise_entropy(b, n);
  out[0] = static_cast<uint16_t>(
      std::min<uint64_t>(65535, isqrt((ha > hb ? ha - hb : hb - ha) * 65536 / (ha + hb + 1))));
  out[1] = static_cast<uint16_t>(std::min(ha, hb));
}

void group8(const uint32_t* h32, uint32_t* h8) {
  for (int i = 0; i < 8; ++i) h8[i] = h32[4 * i] + h32[4 * i + 1] + h32[4 * i + 2] + h32[4 * i + 3];
}

int bounded(void* work, uint32_t work_size, const uint8_t* ref_bytes, uint32_t ref_len,
            const uint8_t* probe_bytes, uint32_t probe_len, uint16_t* e, GridAlignment* al,
            int mode) {
  // Only the card comparison's form of call is served.
  if (!work || !e || !al || (mode & 9) != 9 || e[1] != GRIDMAP_DETAIL_KIND || e[2] != 0)
    return ML_BAD_ARGUMENT;
  e[0] = 0;
  e[2] = 1;
  MapView ref, probe;
  if (!validate(ref_bytes, ref_len, ref) || !validate(probe_bytes, probe_len, probe))
    return ML_WRONG_KIND;
  if (!ref.columns || !ref.rows) return ML_OK;
  const int K = scale_in(ref, probe);
  const int rc = ref.columns * K >> 5, rr = ref.rows * K >> 5;
  const int probe_cells = probe.columns * probe.rows;
  if (work_size < 2 * static_cast<uint32_t>(rc) * rr + GRIDMAP_BOUNDED_HEAD ||
      probe_cells > GRIDMAP_BOUNDED_MAX_PROBE)
    return ML_BAD_ARGUMENT;

  const int J = valid_cells(ref), I = valid_cells(probe);
  const int Jr = static_cast<int>(static_cast<int64_t>(K) * K * J >> 10);
  if (Jr == 0 || I == 0) return ML_OK;
  const int X = (Jr + I) * 21 / 121;
  if (X == 0 || std::min(rc, probe.columns) * std::min(rr, probe.rows) < X) {
    *al = GridAlignment{0, 0, 0};
    return ML_OK;
  }

  // Place the resampled grid: the alignment puts the reference's corner at
  // (u, v) probe pixels; shifting by the rotated half extent and back by
  // the resampled half extent gives the resampled grid's corner.
  const int d = al->angle;
  const int64_t s = zyl::matchlib::fx_sin256(d), c = zyl::matchlib::fx_cos256(d);
  const int R = probe.cell;
  const int64_t wr = int64_t{R} * ref.columns - 1, hr = int64_t{R} * ref.rows - 1;
  const int64_t extent_u = floor_div(c * wr - s * hr - int64_t{rc} * R * 16384 + 16384, 32768);
  const int64_t extent_v = floor_div(s * wr + c * hr - int64_t{rr} * R * 16384 + 16384, 32768);
  const int64_t u = int64_t{al->dx} + extent_u, v = int64_t{al->dy} + extent_v;
  const int64_t whole_u = floor_div(2 * u + R, 2 * R), whole_v = floor_div(2 * v + R, 2 * R);
  const int64_t frac_u = (u - whole_u * R) * 32 / R, frac_v = (v - whole_v * R) * 32 / R;

  // Resample: cell (i, j) of the grid lies (j + 1/2 - frac/32, i + 1/2 -
  // frac/32) probe cells from the true corner; scaled by 32 / K into
  // reference cells and turned back by the direction about the centres.
  uint8_t* out = static_cast<uint8_t*>(work) + GRIDMAP_BOUNDED_HEAD;
  std::memset(out, 0, 2 * static_cast<size_t>(rc) * rr);
  // Step per output cell in 1/4096 reference cell, rotated by -d.
  const int64_t step = int64_t{4096} * 32 / K;
  const int64_t dxx = c * step >> 14, dxy = -s * step >> 14;  // along a row
  const int64_t dyx = s * step >> 14, dyy = c * step >> 14;   // down a column
  // Offset of the first output cell centre from the resampled grid's centre,
  // in 1/4096 probe cell.
  const int64_t ox = (int64_t{2048} - frac_u * 128) - int64_t{rc} * 2048;
  const int64_t oy = (int64_t{2048} - frac_v * 128) - int64_t{rr} * 2048;
  const int64_t x0 = int64_t{ref.columns} * 2048 + ((ox * c + oy * s) >> 14) * 32 / K;
  const int64_t y0 = int64_t{ref.rows} * 2048 + ((-ox * s + oy * c) >> 14) * 32 / K;
  for (int i = 0; i < rr; ++i) {
    int64_t x = x0 + i * dyx, y = y0 + i * dyy;
    for (int j = 0; j < rc; ++j, x += dxx, y += dxy) {
      if (x < 0 || y < 0) continue;
      const int64_t sc = x >> 12, sr = y >> 12;
      if (sc >= ref.columns || sr >= ref.rows) continue;
      const uint8_t* p = ref.cells + 2 * (sr * ref.columns + sc);
      uint8_t* q = out + 2 * (static_cast<size_t>(i) * rc + j);
      q[0] = static_cast<uint8_t>(p[0] + 2 * d);
      q[1] = p[1];
    }
  }

  // Cell-by-cell agreement over the overlap.
  Histograms h;
  uint64_t sum_sv = 0, sum_joint = 0, sum_dd = 0, sum_dv = 0, sum_ds = 0;
  uint32_t S = 0;
  for (int i = 0; i < rr; ++i) {
    const int64_t pr = i + whole_v;
    if (pr < 0 || pr >= probe.rows) continue;
    for (int j = 0; j < rc; ++j) {
      const int64_t pc = j + whole_u;
      if (pc < 0 || pc >= probe.columns) continue;
      const uint8_t* a = out + 2 * (static_cast<size_t>(i) * rc + j);
      const uint8_t* b = probe.cells + 2 * (pr * probe.columns + pc);
      if (!a[1] || !b[1]) continue;
      const int dv = byte_distance(a[0], b[0]), ds = byte_distance(a[1], b[1]);
      const int av = dv < 22 ? 21 - dv : 0, as = ds < 22 ? 21 - ds : 0;
      ++h.probe32[b[0] >> 3];
      ++h.ref32[a[0] >> 3];
      ++h.value[as];
      ++h.orient[av];
      ++h.joint[(av * as) >> 4];
      sum_sv += av + as;
      sum_joint += av * as;
      sum_dd += dv * ds;
      sum_dv += dv;
      sum_ds += ds;
      ++S;
    }
  }

  uint32_t score = 0;
  if (S >= static_cast<uint32_t>(X)) {
    const uint64_t M = sum_joint * 32768 / (uint64_t{S} * 441);
    const int G = ((R * 32000 + ref.resolution * 13 / 2) / 13 / ref.resolution) & 0xFF;
    const uint64_t f = M * isqrt(uint64_t{static_cast<uint32_t>(G)} * isqrt(uint64_t{S} << 12));
    score = f >= 0x800000 ? 0x7FFF : static_cast<uint32_t>(f >> 8);
    uint16_t* sv = e + 3;  // entries 12..27
    sv[0] = static_cast<uint16_t>(S);
    sv[1] = static_cast<uint16_t>(sum_joint / S);
    sv[2] = static_cast<uint16_t>(sum_sv / S);
    sv[3] = static_cast<uint16_t>(isqrt(sum_dd * 64 / S));
    sv[4] = static_cast<uint16_t>(isqrt(sum_dv * 256 / S));
    sv[5] = static_cast<uint16_t>(isqrt(sum_ds * 256 / S));
    entropy_pair(h.ref32, h.probe32, 32, sv + 6);
    uint32_t r8[8], p8[8];
    group8(h.ref32, r8);
    group8(h.probe32, p8);
    entropy_pair(r8, p8, 8, sv + 8);
    sv[10] = static_cast<uint16_t>(piecewise_entropy(h.value, 22));
    sv[11] = static_cast<uint16_t>(piecewise_entropy(h.orient, 22));
    sv[12] = static_cast<uint16_t>(piecewise_entropy(h.joint, 28));
    sv[13] = static_cast<uint16_t>(fullest_bin(h.value, 22));
    sv[14] = static_cast<uint16_t>(fullest_bin(h.orient, 22));
    sv[15] = static_cast<uint16_t>(fullest_bin(h.joint, 28));
    e[2] = ML_CORRUPT;  // "sub-values written"
  }
  e[0] = static_cast<uint16_t>(score);

  // Back to the reference corner, in 500-dpi pixels.
  const int64_t corner_u = whole_u * R + frac_u * R / 32 - extent_u;
  const int64_t corner_v = whole_v * R + frac_v * R / 32 - extent_v;
  al->angle = static_cast<uint8_t>(d);
  al->dx = static_cast<int32_t>(corner_u * 500 / probe.resolution);
  al->dy = static_cast<int32_t>(corner_v * 500 / probe.resolution);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib::gridmap

using namespace zyl::matchlib::gridmap;

extern "C" ZYL_API int gridmap_validate(const uint8_t* bytes, uint32_t length, uint8_t* columns,
                                        uint8_t* rows, uint8_t* cell_size, uint16_t* resolution,
                                        const uint8_t** cells) {
  MapView m;
  if (!validate(bytes, length, m)) return ML_WRONG_KIND;
  if (columns) *columns = static_cast<uint8_t>(m.columns);
  if (rows) *rows = static_cast<uint8_t>(m.rows);
  if (cell_size) *cell_size = static_cast<uint8_t>(m.cell);
  if (resolution) *resolution = static_cast<uint16_t>(m.resolution);
  if (cells) *cells = m.cells;
  return ML_OK;
}

extern "C" ZYL_API uint32_t gridmap_bounded_work_size(const uint8_t* a, uint32_t length_a,
                                                      const uint8_t* b, uint32_t length_b) {
  MapView ma, mb;
  if (!validate(a, length_a, ma) || !validate(b, length_b, mb)) return 0;
  const int K = scale_in(ma, mb);
  // Full resampled sides: a size cut to 8-bit factors would under-state
  // what gridmap_match_bounded then asks for.
  const uint32_t rc = static_cast<uint32_t>(ma.columns * K >> 5);
  const uint32_t rr = static_cast<uint32_t>(ma.rows * K >> 5);
  if (!rc || !rr) return 1;
  return 2 * rc * rr + GRIDMAP_BOUNDED_HEAD;
}

extern "C" ZYL_API uint32_t gridmap_cell_entropy(const uint8_t* histogram22) {
  if (!histogram22) return 0;
  uint32_t h[22];
  for (int i = 0; i < 22; ++i) h[i] = histogram22[i];
  return zyl::matchlib::piecewise_entropy(h, 22);
}

int zyl::matchlib::gridmap_histogram_similarity_card(const uint8_t* a, uint32_t length_a,
                                                     const uint8_t* b, uint32_t length_b,
                                                     uint16_t* out) {
  if (!out) return ML_BAD_ARGUMENT;
  MapView ma, mb;
  if (!validate(a, length_a, ma) || !validate(b, length_b, mb)) {
    out[0] = 0;
    return ML_CORRUPT;
  }
  out[0] = 0;
  if (!ma.columns || !ma.rows) return ML_OK;
  // Value bytes 1..46 fall below the first value bin; they are counted in it.
  uint32_t h1[12], v1[12], h2[12], v2[12];
  histograms(ma, h1, v1);
  histograms(mb, h2, v2);
  uint32_t best = 0;
  for (int k = 0; k < 12; ++k) best = std::max(best, intersection(h1, h2, k));
  out[0] = static_cast<uint16_t>(std::min<uint32_t>(best, 65535));
  out[1] = static_cast<uint16_t>(std::min<uint32_t>(intersection(v1, v2, 0), 65535));
  return ML_OK;
}

int zyl::matchlib::gridmap_match_bounded(void* work, uint32_t work_size, const uint8_t* reference,
                                         uint32_t reference_length, const uint8_t* probe,
                                         uint32_t probe_length, int /*reserved*/, uint16_t* scores,
                                         void* /*reserved_out*/, GridAlignment* alignment,
                                         int mode) {
  return bounded(work, work_size, reference, reference_length, probe, probe_length, scores,
                 alignment, mode);
}

extern "C" {

ZYL_API int gridmap_histogram_similarity_card(const uint8_t* a, uint32_t length_a, const uint8_t* b,
                                              uint32_t length_b, uint16_t* out) {
  return zyl::matchlib::gridmap_histogram_similarity_card(a, length_a, b, length_b, out);
}
ZYL_API int gridmap_match_bounded(void* work, uint32_t work_size, const uint8_t* reference,
                                  uint32_t reference_length, const uint8_t* probe,
                                  uint32_t probe_length, int arg6, uint16_t* scores, void* arg8,
                                  GridAlignment* alignment, int mode) {
  return zyl::matchlib::gridmap_match_bounded(work, work_size, reference, reference_length, probe,
                                              probe_length, arg6, scores, arg8, alignment, mode);
}

}  // extern "C"
