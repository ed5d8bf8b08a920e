// Grid feature front ends: a grid of square cells over a grey image, each
// cell described by the strongest peaks of the power spectrum of a windowed
// block around it, written into a grid feature block and serialised.
//
// Three forms share the peak analysis: 32 x 32 blocks of the working image
// (32-point transform), 16 x 16 blocks at 250 dpi (16-point transform) and
// 16 x 16 blocks of 16-bit samples at any resolution up to 400 dpi (the
// packed 16-bit transform). They differ in the map size, the least peak
// radius, how a radius turns into a period, and a few scale factors.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/spectral/spectral_peaks.h"
#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_frequency.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/extract/grid_frontend.h"
#include "matchlib/extract/grid_window.h"
#include "matchlib/image/border_extend.h"
#include "matchlib/spectral/fft16_i16.h"
#include "matchlib/spectral/fft2d.h"
#include "matchlib/spectral/fft32_lanes.h"
#include "matchlib/spectral/orientation.h"
#include "matchlib/spectral/tile_spectra.h"
#include "matchlib/template/grid_block.h"

namespace zyl::matchlib::grid {
namespace {

constexpr uint8_t kWindow16[16] = {0,   34,  68,  102, 137, 171, 205, 239,
                                   239, 205, 171, 137, 102, 68,  34,  0};

// Scale of the 250-dpi form: its variance and amplitude are referred to
// 500 dpi by sqrt(2).
constexpr int64_t kRootTwoNum = 141421, kRootTwoDen = 100000;

enum class Form { k32, k250, kI16 };

// Power map of one form: [origin - fy][origin - fx] holds the power at
// vertical frequency fy and horizontal frequency fx (cycles per block).
template <int N, int C>
struct SpectrumMaps {
  static constexpr int kOrigin = N / 2;
  int64_t power[N][C] = {};
  int64_t peak[N][C] = {};

  // The columns of fx = -1 and -2 by point symmetry (row index periodic).
  void mirror_columns() {
    for (int fy = 1 - kOrigin; fy <= kOrigin; ++fy)
      for (int f = 1; f <= 2; ++f)
        power[kOrigin - fy][kOrigin + f] = power[(kOrigin + fy) % N][kOrigin - f];
  }

  // fx = 1..8 with |fy| <= 8, and fx = 0 with fy = 1..8.
  int64_t total() const {
    int64_t t = 0;
    for (int r = kOrigin - 8; r <= std::min(kOrigin + 8, N - 1); ++r)
      for (int c = kOrigin - 8; c < kOrigin; ++c) t += power[r][c];
    for (int r = kOrigin - 8; r < kOrigin; ++r) t += power[r][kOrigin];
    return t;
  }
};

// What differs between the forms in the peak analysis.
struct PeakRules {
  Form form;
  uint64_t least_r;      // a peak's squared radius must exceed this
  uint32_t period_num;   // period = period_num / isqrt(R), 1/256 pixel at 500 dpi
  bool scale_amplitude;  // the 250-dpi form's sqrt(2)
  bool fixed_amplitude;  // value >> 17 whatever amplitude_scale says (16-bit-sample form)
};

PeakRules rules_for(Form form, int resolution) {
  switch (form) {
    case Form::k32:
      return {form, 47586034, 1u << 25, false, false};
    case Form::k250:
      return {form, 0x3290000, 1u << 25, true, false};
    case Form::kI16: {
      const uint64_t q = static_cast<uint64_t>(resolution) * 19 / 500;  // >= 1: checked by caller
      return {form, ((65536 / q) << 16) / q,
              static_cast<uint32_t>(((1u << 24) / static_cast<uint32_t>(resolution)) * 500), false,
              true};
    }
  }
  return {form, 0, 1, false, false};
}

// Peak filter, maxima, and peak acceptance over a filled power map (steps
// 5.5 to 5.11); the peaks and counts go into the cell's work record.
template <int N, int C>
void find_peaks(SpectrumMaps<N, C>& m, const PeakRules& rules, const GridExtractParams& p,
                GridCellWork& work) {
  constexpr int O = SpectrumMaps<N, C>::kOrigin;
  const int64_t total = m.total();
  const uint64_t t1 = static_cast<uint64_t>(total) / std::max<uint32_t>(p.band_divisor, 1);
  const uint64_t t2 = t1 >> 4;
  std::memset(m.peak, 0, sizeof(m.peak));
  auto& P = m.power;
  for (int r = O - 6; r <= std::min(O + 6, N - 3); ++r)
    for (int c = O - 6; c <= O + 1; ++c) {
      const int64_t v = P[r][c];
      if (static_cast<uint64_t>(v) <= t2) continue;
      m.peak[r][c] = 16 * v - 2 * (P[r - 1][c] + P[r + 1][c] + P[r][c - 1] + P[r][c + 1]) -
                     (P[r - 2][c] + P[r + 2][c] + P[r][c - 2] + P[r][c + 2]) -
                     (P[r - 1][c - 1] + P[r - 1][c + 1] + P[r + 1][c - 1] + P[r + 1][c + 1]);
    }
  SpectralCandidateList list;
  for (int r = O - 6; r <= std::min(O + 6, N - 3); ++r)
    for (int c = O - 6; c <= O; ++c) {
      if (c == O && r > O - 1) continue;
      const int64_t v = m.peak[r][c];
      // A local top: no one of the eight neighbours is greater (all eight
      // compared without branches; the answer is the same as stopping at
      // the first greater one).
      const int64_t* up = m.peak[r - 1];
      const int64_t* mid = m.peak[r];
      const int64_t* down = m.peak[r + 1];
      const bool greater = (up[c - 1] > v) | (up[c] > v) | (up[c + 1] > v) | (mid[c - 1] > v) |
                           (mid[c + 1] > v) | (down[c - 1] > v) | (down[c] > v) | (down[c + 1] > v);
      if (!greater) list.offer(v, r, c);
    }
  work.maxima = list.insertions;
  work.accepted = 0;
  for (int k = 0; k < list.size; ++k) {
    const SpectralCandidate& cand = list.e[k];
    if (cand.value <= 0) continue;
    int64_t v = 0, dx = 0, dy = 0;
    for (int a = -1; a <= 1; ++a)
      for (int b = -1; b <= 1; ++b) {
        const int64_t q = P[cand.row + a][cand.col + b];
        v += q;
        dx += b * q;
        dy += a * q;
      }
    if (v < 0 || static_cast<uint64_t>(v) < t1) break;  // later entries are weaker still
    const int s =
        30 - zyl::matchlib::fx_log2_floor(static_cast<uint32_t>(std::min<int64_t>(v, 0xFFFFFFFF)));
    if (s >= 0) {
      dx *= int64_t{1} << s;
      dy *= int64_t{1} << s;
    }
    int64_t vs = s <= 11 ? v >> (12 - s) : v << (s - 12);
    if (vs == 0) vs = 1;
    const int64_t x = (cand.col - O) * int64_t{4096} + dx / vs;
    const int64_t y = (cand.row - O) * int64_t{4096} + dy / vs;
    const uint64_t r64 = static_cast<uint64_t>(x * x + y * y);
    if (r64 <= rules.least_r) continue;
    const uint32_t r = static_cast<uint32_t>(std::min<uint64_t>(r64, 0xFFFFFFFF));
    const uint32_t root = std::max<uint32_t>(zyl::matchlib::fx_isqrt32_alt(r), 1);
    const uint16_t period = static_cast<uint16_t>(rules.period_num / root);
    if (period < static_cast<uint16_t>(p.min_period) || period > static_cast<uint16_t>(p.max_period))
      continue;
    SpectralPeak& pk = work.peaks[work.accepted++];
    const bool scaled = p.amplitude_scale && total && !rules.fixed_amplitude;
    int64_t amp = scaled ? cand.value * p.amplitude_scale / total : cand.value >> 17;
    if (rules.scale_amplitude) amp = amp * kRootTwoNum / kRootTwoDen;
    pk.amplitude = static_cast<int32_t>(std::clamp<int64_t>(amp, INT32_MIN, INT32_MAX));
    pk.frequency = static_cast<uint8_t>(std::min<uint32_t>(255, (period / 2u + 262144u) / period));
    pk.orientation = static_cast<uint8_t>(doubled_angle(x, y, r));
    const int64_t top = cand.value >> 8;
    const int64_t next = k + 1 < list.size ? list.e[k + 1].value >> 8 : 0;
    pk.dominance = static_cast<uint8_t>(top ? (top - next) * 255 / top : 0);
    pk.map_column = cand.col;
    pk.map_row = cand.row;
    pk.value = static_cast<int32_t>(std::clamp<int64_t>(cand.value, INT32_MIN, INT32_MAX));
  }
}

// The 16 x 16 power map of a 16-point half spectrum (16 rows of 9).
template <class Entry>
void fill_power16(SpectrumMaps<16, 12>& m, Entry entry, int shift) {
  for (int t = 0; t < 16; ++t) {
    const int fy = t <= 8 ? t : t - 16;
    for (int fx = 0; fx <= 8; ++fx) {
      const auto [re, im] = entry(t, fx);
      m.power[8 - fy][8 - fx] = (int64_t{re} * re + int64_t{im} * im) >> shift;
    }
  }
  m.mirror_columns();
}

void analyse_i16(const uint8_t* px, int height, int width, int top, int left, int mean,
                 const uint8_t* w, const PeakRules& rules, const GridExtractParams& p,
                 SpectrumMaps<16, 12>& maps, GridCellWork& work) {
  int16_t packed[8 * 32], spectrum[16 * 18];
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const int py = top + y, pxl = left + x;
      // Positions outside the image read as the mean, i.e. sample 0.
      const int v = py >= 0 && py < height && pxl >= 0 && pxl < width
                        ? px[static_cast<size_t>(py) * width + pxl]
                        : mean;
      packed[(y / 2) * 32 + 2 * x + (y & 1)] = static_cast<int16_t>(((v - mean) * w[y] * w[x]) >> 9);
    }
  zyl::matchlib::fft2d_forward16_i16(packed, spectrum);
  fill_power16(
      maps, [&](int t, int fx) { return std::pair<int, int>{spectrum[t * 18 + 2 * fx], spectrum[t * 18 + 2 * fx + 1]}; },
      4);
  find_peaks(maps, rules, p, work);
}

GridBlockSettings settings_of(const GridExtractParams& p) {
  GridBlockSettings s{};
  for (int k = 0; k < GRIDBLOCK_VALUES; ++k) s.planes[k] = {p.plane_bits[k], p.plane_pooling[k]};
  return s;
}

struct BlockDeleter {
  void operator()(GridFeatureBlock* b) const { zyl::matchlib::gridblock_free(b); }
};
using BlockPtr = std::unique_ptr<GridFeatureBlock, BlockDeleter>;
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Bytes = std::unique_ptr<uint8_t, FreeDeleter>;

uint8_t contrast_byte(const GridCellWork& w, const GridExtractParams& p) {
  const int span = std::max(1, p.variance_ceiling - p.variance_floor);
  return static_cast<uint8_t>(std::clamp((w.contrast - p.variance_floor) * 255 / span, 0, 255));
}

void write_cell(GridCell& cell, const GridCellWork& w, int k, uint8_t coherence,
                const GridExtractParams& p) {
  const SpectralPeak& pk = w.peaks[k];
  cell.values[0] = pk.orientation;
  cell.values[1] = pk.frequency;
  cell.values[2] = pk.dominance;
  cell.values[3] = coherence;
  cell.values[4] = static_cast<uint8_t>(static_cast<uint32_t>(pk.amplitude) < 256 ? pk.amplitude : 255);
  cell.values[5] = contrast_byte(w, p);
  cell.valid = 1;
}

bool valid_cell_size(int c, int side) { return c >= 1 && c <= side; }

// The 32-point and 250-dpi forms: fitted grid, windowed int blocks, the
// 2-D int transform, agreement choice of the peak, coherence per cell.
int extract_fitted(Form form, const uint8_t* pixels, const uint8_t* usable, int height, int width,
                   const GridExtractParams& p, uint8_t** out, uint16_t* out_length) {
  const bool is32 = form == Form::k32;
  const int side = is32 ? 32 : 16;
  const int c = is32 ? p.cell_size : p.cell_size / 2;
  if (!valid_cell_size(c, side)) return ML_WRONG_KIND;
  uint8_t* fitted_raw = nullptr;
  uint8_t* mask_raw = nullptr;
  uint32_t H = 0, W = 0, mh = 0, mw = 0;
  int32_t row_off = 0, col_off = 0, mro = 0, mco = 0;
  int st = zyl::matchlib::img_fit_to_block_multiple(pixels, height, width, c, 0, &fitted_raw, &H,
                                                    &W, &row_off, &col_off);
  if (st != ML_OK) return st;
  Bytes fitted(fitted_raw);
  st = zyl::matchlib::img_fit_to_block_multiple(usable, height, width, c, 0, &mask_raw, &mh, &mw,
                                                &mro, &mco);
  if (st != ML_OK) return st;
  Bytes mask(mask_raw);
  const int rows = static_cast<int>(H) / c, cols = static_cast<int>(W) / c;
  if (rows > 255 || cols > 255) return ML_WRONG_KIND;  // the block's counts are bytes
  const int scale = is32 ? 1 : 2;  // offsets referred to the 500-dpi grid
  BlockPtr block(
      zyl::matchlib::gridblock_create(static_cast<uint8_t>(rows), static_cast<uint8_t>(cols), 0,
                                      static_cast<uint8_t>(static_cast<int8_t>(row_off * scale)),
                                      static_cast<uint8_t>(static_cast<int8_t>(col_off * scale))));
  if (!block) return ML_NO_MEMORY;
  block->cell_size = static_cast<uint8_t>(p.cell_size);
  const size_t ncell = static_cast<size_t>(rows) * cols;
  std::vector<GridCellWork> works(ncell);
  std::vector<uint8_t> coherence(ncell);
  std::vector<int32_t> samples(side * side), re(side * (side / 2 + 1)), im(side * (side / 2 + 1));
  auto maps32 = is32 ? std::make_unique<SpectrumMaps<32, 20>>() : nullptr;
  auto maps16 = is32 ? nullptr : std::make_unique<SpectrumMaps<16, 12>>();
  uint8_t w[32];
  if (p.gauss_width)
    zyl::matchlib::window_gauss(w, side, p.gauss_width);
  else
    zyl::matchlib::window_taper(w, side, side);
  const PeakRules rules = rules_for(form, 0);
  const int a = (side - c) / 2;
  const int Hi = static_cast<int>(H), Wi = static_cast<int>(W);
  const BlockStatsTable stats(fitted.get(), mask.get(), Hi, Wi);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      GridCellWork& work = works[static_cast<size_t>(i) * cols + j];
      const int top = i * c - a, left = j * c - a;
      const BlockStats bs = stats.at(top, left, side);
      uint64_t v = bs.variance();
      if (!is32) v = v * kRootTwoNum / kRootTwoDen;
      if (bs.coverage() < static_cast<uint64_t>(std::max<int>(p.min_coverage, 0)) ||
          v < static_cast<uint64_t>(std::max<int>(p.min_variance, 0)))
        continue;
      const int m = bs.mean();
      window_block(fitted.get(), Hi, Wi, top, left, m, w, samples.data(), side);
      if (is32) {
        // Only columns fx = 0..8 of the spectrum are read below. The
        // windowed samples lie within +-255^3 / 16 < 2^20 (pixel and mean
        // are bytes, the window's weights too), the bound of the lane
        // transform.
        static_assert(zyl::matchlib::kForward32LowColumns > 8);
        zyl::matchlib::fft2d_forward32_low_within_bound(samples.data(), re.data(), im.data());
        auto& P = maps32->power;
        for (int fy = -9; fy <= 8; ++fy) {
          const int t = fy >= 0 ? fy : 32 + fy;
          for (int fx = 0; fx <= 8; ++fx) {
            const int64_t x = re[t * 17 + fx], y = im[t * 17 + fx];
            P[16 - fy][16 - fx] = (x * x + y * y) >> 10;
          }
        }
        for (int fy = -8; fy <= 9; ++fy)
          for (int f = 1; f <= 2; ++f) P[16 - fy][16 + f] = P[16 + fy][16 - f];
        find_peaks(*maps32, rules, p, work);
      } else {
        zyl::matchlib::fft2d_forward16(samples.data(), re.data(), im.data());
        fill_power16(
            *maps16, [&](int t, int fx) { return std::pair<int64_t, int64_t>{re[t * 9 + fx], im[t * 9 + fx]}; },
            10);
        find_peaks(*maps16, rules, p, work);
      }
      if (work.accepted > 0 && work.maxima < p.max_maxima) {
        work.valid = 1;
        work.contrast = static_cast<int32_t>(std::clamp<uint64_t>(
            v, static_cast<uint64_t>(std::max<int>(p.variance_floor, 0)),
            static_cast<uint64_t>(std::max<int>(p.variance_ceiling, 0))));
        work.mean = m;
      }
    }
  st = zyl::matchlib::orient_block_coherence(fitted.get(), Hi, Wi, coherence.data(), nullptr, rows,
                                             cols, c, 1);
  if (st != ML_OK) return st;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const size_t n = static_cast<size_t>(i) * cols + j;
      const GridCellWork& work = works[n];
      if (!work.valid) continue;
      int k = 0;
      if (p.agreement_threshold <= 127 && work.accepted > 1) {
        const int a0 = zyl::matchlib::gridblock_peak_agreement(works.data(), 0, i, j, rows, cols);
        if (a0 > p.agreement_threshold &&
            zyl::matchlib::gridblock_peak_agreement(works.data(), 1, i, j, rows, cols) < a0)
          k = 1;
      }
      write_cell(block->cells[n], work, k, coherence[n], p);
    }
  const GridBlockSettings settings = settings_of(p);
  return zyl::matchlib::gridblock_serialize(block.get(), out, out_length, &settings);
}

int extract_i16(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                int resolution, const GridExtractParams& p, uint8_t** out, uint16_t* out_length) {
  // Below 27 dpi the least peak radius would divide by zero.
  if (resolution < 27 || resolution > 0xFFFF) return ML_WRONG_KIND;
  const int c = p.cell_size;
  if (!valid_cell_size(c, 16)) return ML_WRONG_KIND;
  const int rows = (height + c / 2) / c, cols = (width + c / 2) / c;
  if (rows < 1 || cols < 1) return ML_BAD_ARGUMENT;
  if (rows > 255 || cols > 255) return ML_WRONG_KIND;
  BlockPtr block(zyl::matchlib::gridblock_create(static_cast<uint8_t>(rows),
                                                 static_cast<uint8_t>(cols),
                                                 static_cast<uint16_t>(resolution), 0, 0));
  if (!block) return ML_NO_MEMORY;
  block->cell_size = static_cast<uint8_t>(c);
  const size_t ncell = static_cast<size_t>(rows) * cols;
  std::vector<uint8_t> coherence(ncell, 0);
  if (p.coherence_flag) {
    const int st = zyl::matchlib::orient_block_coherence(
        pixels, height, width, coherence.data(), nullptr, rows, cols, c, resolution >= 400 ? 1 : 0);
    if (st != ML_OK) return st;
  }
  auto maps = std::make_unique<SpectrumMaps<16, 12>>();
  const PeakRules rules = rules_for(Form::kI16, resolution);
  const int a = (16 - c) / 2;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const size_t n = static_cast<size_t>(i) * cols + j;
      GridCell& cell = block->cells[n];
      cell.values[3] = coherence[n];
      const BlockStats bs = block_stats(pixels, usable, height, width, i * c - a, j * c - a, 16);
      const uint64_t v = bs.variance();
      if (bs.coverage() < static_cast<uint64_t>(std::max<int>(p.min_coverage, 0)) ||
          v < static_cast<uint64_t>(std::max<int>(p.min_variance, 0)))
        continue;
      GridCellWork work{};
      work.mean = bs.mean();
      analyse_i16(pixels, height, width, i * c - a, j * c - a, work.mean, kWindow16, rules, p,
                  *maps, work);
      if (work.accepted == 0) continue;
      work.valid = 1;
      work.contrast = static_cast<int32_t>(std::clamp<uint64_t>(
          v, static_cast<uint64_t>(std::max<int>(p.variance_floor, 0)),
          static_cast<uint64_t>(std::max<int>(p.variance_ceiling, 0))));
      write_cell(cell, work, 0, coherence[n], p);
    }
  const GridBlockSettings settings = settings_of(p);
  return zyl::matchlib::gridblock_serialize(block.get(), out, out_length, &settings);
}

bool bad_front_end_args(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                        uint8_t** out, uint16_t* out_length, const GridExtractParams* params) {
  return !pixels || !usable || height <= 0 || width <= 0 || !out || !out_length || !params;
}

}  // namespace
}  // namespace zyl::matchlib::grid

using namespace zyl::matchlib::grid;

int zyl::matchlib::gridblock_extract32(const uint8_t* pixels, const uint8_t* usable, int height,
                                        int width, int, uint8_t** out, uint16_t* out_length,
                                        const GridExtractParams* params) {
  if (bad_front_end_args(pixels, usable, height, width, out, out_length, params))
    return ML_BAD_ARGUMENT;
  *out = nullptr;
  *out_length = 0;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return extract_fitted(Form::k32, pixels, usable, height, width, *params, out, out_length);
  });
}

int zyl::matchlib::gridblock_extract(const uint8_t* pixels, const uint8_t* usable, int height,
                                      int width, int, uint8_t** out, uint16_t* out_length,
                                      const GridExtractParams* params) {
  if (bad_front_end_args(pixels, usable, height, width, out, out_length, params))
    return ML_BAD_ARGUMENT;
  *out = nullptr;
  *out_length = 0;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return extract_fitted(Form::k250, pixels, usable, height, width, *params, out, out_length);
  });
}

int zyl::matchlib::gridblock_extract_i16(const uint8_t* pixels, const uint8_t* usable,
                                          int height, int width, int resolution, uint8_t** out,
                                          uint16_t* out_length, const GridExtractParams* params) {
  if (bad_front_end_args(pixels, usable, height, width, out, out_length, params))
    return ML_BAD_ARGUMENT;
  *out = nullptr;
  *out_length = 0;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return extract_i16(pixels, usable, height, width, resolution, *params, out, out_length);
  });
}

extern "C" ZYL_API void gridblock_cell_spectrum_i16(const uint8_t* pixels, int height, int width,
                                                    int row, int column, int mean,
                                                    const uint8_t* window, int resolution,
                                                    const GridExtractParams* params,
                                                    GridCellWork* work) {
  if (!pixels || height <= 0 || width <= 0 || !params || !work || resolution < 27 ||
      !valid_cell_size(params->cell_size, 16))
    return;
  SpectrumMaps<16, 12> maps;
  const int a = (16 - params->cell_size) / 2;
  analyse_i16(pixels, height, width, row - a, column - a, mean, window ? window : kWindow16,
              rules_for(Form::kI16, resolution), *params, maps, *work);
}

int zyl::matchlib::gridblock_peak_agreement(const GridCellWork* works, int k, int row, int column,
                                            int rows, int columns) {
  if (!works || k < 0 || k >= 5 || row < 0 || column < 0 || row >= rows || column >= columns)
    return 0;
  const GridCellWork& cell = works[static_cast<size_t>(row) * columns + column];
  if (!cell.valid || cell.accepted <= k) return 0;
  // A neighbour counts when it is valid with at least one accepted peak;
  // the four direct neighbours are all looked at.
  int sum = 0, count = 0;
  const int off[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
  for (auto [di, dj] : off) {
    const int i = row + di, j = column + dj;
    if (i < 0 || i >= rows || j < 0 || j >= columns) continue;
    const GridCellWork& nb = works[static_cast<size_t>(i) * columns + j];
    if (!nb.valid || nb.accepted < 1) continue;
    sum += std::abs(static_cast<int8_t>(cell.peaks[k].orientation - nb.peaks[0].orientation));
    ++count;
  }
  return count ? sum / count : 0;
}

extern "C" ZYL_API void plane_window_block(const uint8_t* pixels, int height, int width, int row,
                                           int column, int cell_size, int mean,
                                           const uint8_t* window, int32_t* out, int side) {
  if (!pixels || !window || !out || side <= 0 || height <= 0 || width <= 0) return;
  const int a = (side - cell_size) / 2;
  window_block(pixels, height, width, row - a, column - a, mean, window, out, side);
}

extern "C" {

ZYL_API int gridblock_peak_agreement(const GridCellWork* works, int k, int row, int column,
                                     int rows, int columns) {
  return zyl::matchlib::gridblock_peak_agreement(works, k, row, column, rows, columns);
}

}  // extern "C"

extern "C" {

ZYL_API int gridblock_extract32(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                                int resolution, uint8_t** out, uint16_t* out_length,
                                const GridExtractParams* params) {
  return zyl::matchlib::gridblock_extract32(pixels, usable, height, width, resolution, out,
                                            out_length, params);
}
ZYL_API int gridblock_extract(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                              int resolution, uint8_t** out, uint16_t* out_length,
                              const GridExtractParams* params) {
  return zyl::matchlib::gridblock_extract(pixels, usable, height, width, resolution, out,
                                          out_length, params);
}
ZYL_API int gridblock_extract_i16(const uint8_t* pixels, const uint8_t* usable, int height,
                                  int width, int resolution, uint8_t** out, uint16_t* out_length,
                                  const GridExtractParams* params) {
  return zyl::matchlib::gridblock_extract_i16(pixels, usable, height, width, resolution, out,
                                              out_length, params);
}

}  // extern "C"
