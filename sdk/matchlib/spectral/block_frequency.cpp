// Block spectral analysis: short-time Fourier analysis over a grid of
// windowed blocks, the dominant spectral peak of each block as ridge period,
// frequency, orientation and dominance, and the clean-up, fill and
// smoothing of the period map.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/spectral/spectral_peaks.h"
#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stft.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/block_stats.h"
#include "matchlib/spectral/block_frequency.h"
#include "matchlib/spectral/fft16_i16.h"
#include "matchlib/spectral/fft2d.h"

namespace zyl::matchlib {
namespace {

constexpr uint8_t kWindow32[32] = {0,   17,  33,  50,  66,  83,  99,  116, 132, 149, 165,
                                   182, 198, 215, 231, 248, 248, 231, 215, 198, 182, 165,
                                   149, 132, 116, 99,  83,  66,  50,  33,  17,  0};
constexpr uint8_t kWindow16[16] = {0,   34,  68,  102, 137, 171, 205, 239,
                                   239, 205, 171, 137, 102, 68,  34,  0};
constexpr uint32_t kLeastR32 = 47586034;
constexpr uint32_t kLeastR16 = 11896508;

inline uint8_t frequency_byte(uint32_t p) {
  return static_cast<uint8_t>(std::min<uint32_t>(255, (p / 2 + 262144) / p));
}

// Centroid of a peak from the 3 x 3 power entries around it, in
// 2^frac_bits of a frequency step relative to the map origin.
struct Centroid {
  int64_t x, y, v;
};

template <class PowerAt>
Centroid centroid(PowerAt power, int row, int col, int origin_row, int origin_col, int frac_bits) {
  int64_t v = 0, dx = 0, dy = 0;
  for (int a = -1; a <= 1; ++a)
    for (int b = -1; b <= 1; ++b) {
      const int64_t p = power(row + a, col + b);
      v += p;
      dx += b * p;
      dy += a * p;
    }
  const int64_t raw_v = v;
  const int s =
      30 - zyl::matchlib::fx_log2_floor(static_cast<uint32_t>(std::min<int64_t>(v, 0xFFFFFFFF)));
  if (s >= 0) {
    dx *= int64_t{1} << s;
    dy *= int64_t{1} << s;
  }
  const int down = frac_bits - s;
  v = down >= 0 ? v >> down : v << -down;
  if (v == 0) v = 1;
  return {(col - origin_col) * (int64_t{1} << frac_bits) + dx / v,
          (row - origin_row) * (int64_t{1} << frac_bits) + dy / v, raw_v};
}

struct Result32 {
  uint32_t period = 0;
  int orientation = 0;
  int dominance = 0;
};

class Analyzer32 {
 public:
  // Power map 32 x 20: entry [16 - fy][16 - fx].
  int64_t power[32][20] = {};
  int64_t peak[32][20] = {};

  Result32 analyse(const int32_t* re, const int32_t* im, bool want_dominance) {
    for (int fy = -9; fy <= 8; ++fy) {
      const int tr = fy >= 0 ? fy : 32 + fy;
      for (int fx = 0; fx <= 8; ++fx) {
        const int64_t a = re[tr * 17 + fx], b = im[tr * 17 + fx];
        power[16 - fy][16 - fx] = (a * a + b * b) >> 10;
      }
    }
    for (int fy = -8; fy <= 9; ++fy)
      for (int f = 1; f <= 3; ++f) power[16 - fy][16 + f] = power[16 + fy][16 - f];
    int64_t total = 0;
    for (int r = 8; r <= 24; ++r)
      for (int c = 8; c <= 15; ++c) total += power[r][c];
    for (int r = 8; r <= 15; ++r) total += power[r][16];
    std::memset(peak, 0, sizeof(peak));
    const uint64_t floor = static_cast<uint64_t>(total) >> 7;
    for (int r = 10; r <= 22; ++r)
      for (int c = 10; c <= 17; ++c) {
        const int64_t m = power[r][c];
        if (static_cast<uint64_t>(m) <= floor) continue;
        peak[r][c] = 16 * m - 2 * (power[r - 1][c] + power[r + 1][c] + power[r][c - 1] + power[r][c + 1]) -
                     (power[r - 2][c] + power[r + 2][c] + power[r][c - 2] + power[r][c + 2]) -
                     (power[r - 1][c - 1] + power[r - 1][c + 1] + power[r + 1][c - 1] + power[r + 1][c + 1]);
      }
    SpectralCandidateList list;
    for (int r = 10; r <= 22; ++r)
      for (int c = 10; c <= 16; ++c) {
        if (c == 16 && r > 15) continue;
        const int64_t v = peak[r][c];
        bool top = true;
        for (int a = -1; a <= 1 && top; ++a)
          for (int b = -1; b <= 1; ++b)
            if ((a || b) && peak[r + a][c + b] > v) {
              top = false;
              break;
            }
        if (top) list.offer(v, r, c);
      }
    Result32 out;
    auto at = [&](int r, int c) { return power[r][c]; };
    for (int k = 0; k < list.size; ++k) {
      const SpectralCandidate& cand = list.e[k];
      if (cand.value == 0) continue;
      const Centroid cg = centroid(at, cand.row, cand.col, 16, 16, 12);
      const int64_t r64 = cg.x * cg.x + cg.y * cg.y;
      if (r64 <= kLeastR32) continue;
      const uint32_t r = static_cast<uint32_t>(std::min<int64_t>(r64, 0xFFFFFFFF));
      if (cg.v >= (total >> 3)) {
        out.period = (uint32_t{1} << 25) / zyl::matchlib::fx_isqrt32_alt(r);
        out.orientation = doubled_angle(cg.x, cg.y, r);
        if (want_dominance && cand.value > 255) {
          int64_t next = 0;
          for (int q = k + 1; q < list.size; ++q)
            if (list.e[q].value != 0) {
              next = list.e[q].value >> 8;
              break;
            }
          const int64_t top = cand.value >> 8;
          out.dominance = static_cast<int>(static_cast<uint64_t>(top - next) * 255 / static_cast<uint64_t>(top));
        }
      }
      break;  // only the first qualifying entry is used
    }
    return out;
  }
};

struct Result16 {
  uint32_t period = 0;
  int frequency = 0;
  int orientation = 0;
};

// The 16-point form: rows packed in pairs through the 16-bit kernel, a
// 17 x 22 power map with entry [8 + fy][2 + fx], 11 fractional bits.
class Analyzer16 {
 public:
  int64_t power[17][11] = {};
  int64_t peak[17][11] = {};

  Result16 analyse(const int16_t* spectrum) {  // 16 rows of 9 (re, im)
    for (int e = 0; e < 16; ++e) {
      const int fy = e <= 7 ? e : e - 16;
      for (int fx = 0; fx <= 8; ++fx) {
        const int64_t a = spectrum[e * 18 + 2 * fx], b = spectrum[e * 18 + 2 * fx + 1];
        power[8 + fy][2 + fx] = (a * a + b * b) >> 2;
      }
    }
    for (int c = 2; c <= 10; ++c) power[16][c] = power[0][c];
    for (int r = 0; r <= 16; ++r)
      for (int f = 1; f <= 2; ++f) power[r][2 - f] = power[16 - r][2 + f];
    int64_t total = 0;
    for (int r = 0; r <= 16; ++r)
      for (int c = 3; c <= 10; ++c) total += power[r][c];
    for (int r = 0; r <= 7; ++r) total += power[r][2];
    std::memset(peak, 0, sizeof(peak));
    const uint64_t floor = static_cast<uint64_t>(total) >> 7;
    for (int r = 2; r <= 14; ++r)
      for (int c = 2; c <= 8; ++c) {
        const int64_t m = power[r][c];
        if (static_cast<uint64_t>(m) <= floor) continue;
        peak[r][c] = 4 * m - (power[r - 1][c] + power[r + 1][c] + power[r][c - 1] + power[r][c + 1]);
      }
    SpectralCandidateList list;
    for (int r = 2; r <= 14; ++r)
      for (int c = 2; c <= 8; ++c) {
        if (c == 2 && r < 9) continue;
        const int64_t v = peak[r][c];
        if (peak[r - 1][c] > v || peak[r + 1][c] > v || peak[r][c - 1] > v || peak[r][c + 1] > v)
          continue;
        list.offer(v, r, c);
      }
    Result16 out;
    auto at = [&](int r, int c) { return power[r][c]; };
    for (int k = 0; k < list.size; ++k) {
      const SpectralCandidate& cand = list.e[k];
      if (cand.value == 0) continue;
      const Centroid cg = centroid(at, cand.row, cand.col, 8, 2, 11);
      const int64_t r64 = cg.x * cg.x + cg.y * cg.y;
      if (r64 <= kLeastR16) continue;
      const uint32_t r = static_cast<uint32_t>(std::min<int64_t>(r64, 0xFFFFFFFF));
      if (cg.v >= total / 8) {
        const uint32_t q = zyl::matchlib::fx_isqrt32_alt(r) * 250 / 500 + 16;
        const uint32_t f = q >= 8192 ? 255 : q >> 5;
        out.frequency = static_cast<int>(f);
        out.period = f ? static_cast<uint16_t>((f / 2 + 262144) / f) : 0;
        out.orientation = doubled_angle(cg.x, cg.y, r);
      }
      break;
    }
    return out;
  }
};

// One clean-up pass over a copy.
void clean_pass(uint16_t* map, const std::vector<uint16_t>& copy, int rows, int cols) {
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const uint32_t e = copy[static_cast<size_t>(i) * cols + j];
      if (!e) continue;
      uint32_t nb[4];
      int n = 0;
      const int off[4][2] = {{-1, 0}, {0, -1}, {0, 1}, {1, 0}};
      for (auto [di, dj] : off) {
        const int ii = i + di, jj = j + dj;
        if (ii < 0 || ii >= rows || jj < 0 || jj >= cols) continue;
        const uint32_t v = copy[static_cast<size_t>(ii) * cols + jj];
        if (v) nb[n++] = v;
      }
      uint32_t out = 0;
      if (n == 1) {
        out = (e + nb[0]) >> 1;
      } else if (n > 1) {
        uint32_t sum = e, lo = e, hi = e;
        for (int q = 0; q < n; ++q) {
          sum += nb[q];
          lo = std::min(lo, nb[q]);
          hi = std::max(hi, nb[q]);
        }
        out = (sum - lo - hi) / (n - 1);
      }
      map[static_cast<size_t>(i) * cols + j] = static_cast<uint16_t>(out);
    }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::stft_map_clean_u16(uint16_t* map, int rows, int columns) {
  if (!map || rows <= 0 || columns <= 0) return ML_BAD_ARGUMENT;
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    const std::vector<uint16_t> copy(map, map + static_cast<size_t>(rows) * columns);
    clean_pass(map, copy, rows, columns);
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  return ML_OK;
}

int zyl::matchlib::stft_map_finish_u16(uint16_t* map, int rows, int columns, uint8_t* out) {
  int st = zyl::matchlib::stft_map_clean_u16(map, rows, columns);
  if (st != ML_OK || !out) return st;
  st = zyl::matchlib::stft_map_clean_u16(map, rows, columns);
  if (st != ML_OK) return st;
  const size_t n = static_cast<size_t>(rows) * columns;
  if (std::all_of(map, map + n, [](uint16_t v) { return v == 0; })) map[0] = 2560;  // 10 pixels
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<uint16_t> copy(n);
    for (bool changed = true; changed;) {
      changed = false;
      copy.assign(map, map + n);
      for (int i = 0; i < rows; ++i)
        for (int j = 0; j < columns; ++j) {
          if (copy[static_cast<size_t>(i) * columns + j]) continue;
          uint32_t sum = 0, cnt = 0;
          for (int ii = std::max(0, i - 1); ii <= std::min(rows - 1, i + 1); ++ii)
            for (int jj = std::max(0, j - 1); jj <= std::min(columns - 1, j + 1); ++jj) {
              const uint16_t v = copy[static_cast<size_t>(ii) * columns + jj];
              if (v) sum += v, ++cnt;
            }
          if (cnt) {
            map[static_cast<size_t>(i) * columns + j] = static_cast<uint16_t>(sum / cnt);
            changed = true;
          }
        }
    }
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  st = zyl::matchlib::binomial3x3<std::uint16_t>(map, rows, columns, map);
  if (st != ML_OK) return st;
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((map[i] + 128) >> 8);
  return ML_OK;
}

int zyl::matchlib::stft_block_analysis32(const uint8_t* pixels, const uint8_t* usable, int height,
                                         int width, int step, int longest_period,
                                         int shortest_period, const void*, int block_rows,
                                         int block_columns, uint8_t* dominance, uint8_t* period,
                                         uint8_t* frequency, uint8_t* orientation) {
  if (!pixels || height <= 0 || width <= 0 || step <= 0 || block_rows <= 0 || block_columns <= 0)
    return ML_BAD_ARGUMENT;
  const int64_t pmax = int64_t{longest_period} * 256, pmin = int64_t{shortest_period} * 256;
  const size_t nb = static_cast<size_t>(block_rows) * block_columns;
  std::vector<int32_t> block, re, im;
  std::vector<uint16_t> periods;
  std::unique_ptr<Analyzer32> an;
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    block.resize(32 * 32);
    re.resize(32 * 17);
    im.resize(32 * 17);
    periods.assign(nb, 0);
    an = std::make_unique<Analyzer32>();
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  const int a = (32 - step) / 2;
  for (int i = 0; i < block_rows; ++i)
    for (int j = 0; j < block_columns; ++j) {
      const size_t k = static_cast<size_t>(i) * block_columns + j;
      const int top = i * step - a, left = j * step - a;
      const BlockStats st = block_stats(pixels, usable, height, width, top, left, 32);
      // Blocks without enough usable pixels or contrast are not analysed;
      // their orientation and dominance read 0 rather than stale bytes.
      if (st.n == 0 || st.inside == 0 || st.coverage() <= 127 || st.variance() <= 15) {
        if (frequency) frequency[k] = 0;
        if (orientation) orientation[k] = 0;
        if (dominance) dominance[k] = 0;
        continue;
      }
      const int m = st.mean();
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
          const int py = top + y, px = left + x;
          block[y * 32 + x] = py >= 0 && py < height && px >= 0 && px < width
                                  ? (pixels[static_cast<size_t>(py) * width + px] - m) *
                                        kWindow32[y] * kWindow32[x] / 16
                                  : 0;
        }
      zyl::matchlib::fft2d_forward32(block.data(), re.data(), im.data());
      const Result32 r = an->analyse(re.data(), im.data(), dominance != nullptr);
      const bool in_range = r.period != 0 && r.period <= pmax && r.period >= pmin;
      periods[k] = in_range ? static_cast<uint16_t>(r.period) : 0;
      if (frequency) frequency[k] = in_range ? frequency_byte(r.period) : 0;
      // A block without a usable period has no dominant peak either.
      if (dominance) dominance[k] = in_range ? static_cast<uint8_t>(r.dominance) : 0;
      if (orientation) orientation[k] = static_cast<uint8_t>(r.orientation);
    }
  return zyl::matchlib::stft_map_finish_u16(periods.data(), block_rows, block_columns, period);
}

int zyl::matchlib::stft_block_analysis16(const uint8_t* pixels, int height, int width, int step,
                                         int longest_period, int shortest_period, int block_rows,
                                         int block_columns, uint8_t* period, uint8_t* frequency,
                                         uint8_t* orientation) {
  if (!pixels || height <= 0 || width <= 0 || step <= 0 || block_rows <= 0 || block_columns <= 0)
    return ML_BAD_ARGUMENT;
  const int64_t pmax = int64_t{longest_period} * 256, pmin = int64_t{shortest_period} * 256;
  const size_t nb = static_cast<size_t>(block_rows) * block_columns;
  std::vector<uint16_t> periods;
  std::unique_ptr<Analyzer16> an;
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    periods.assign(nb, 0);
    an = std::make_unique<Analyzer16>();
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  const int a = (16 - step) / 2;
  int16_t rows[8][32], spectrum[16 * 18];
  for (int i = 0; i < block_rows; ++i)
    for (int j = 0; j < block_columns; ++j) {
      const size_t k = static_cast<size_t>(i) * block_columns + j;
      const int top = i * step - a, left = j * step - a;
      const BlockStats st = block_stats(pixels, nullptr, height, width, top, left, 16);
      if (st.n == 0 || static_cast<uint16_t>(st.variance()) <= 15) {
        if (frequency) frequency[k] = 0;
        if (orientation) orientation[k] = 0;  // not stale bytes
        continue;
      }
      const int m = st.mean();
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const int py = top + y, px = left + x;
          const int v = py >= 0 && py < height && px >= 0 && px < width
                            ? ((pixels[static_cast<size_t>(py) * width + px] - m) *
                               kWindow16[y] * kWindow16[x]) >> 9
                            : 0;
          rows[y / 2][2 * x + (y & 1)] = static_cast<int16_t>(v);
        }
      // Each packed row pair through the kernel, split into the half
      // spectra of its two rows, then each of the 9 columns.
      int16_t z[32], f[32];
      for (int r = 0; r < 8; ++r) {
        zyl::matchlib::fft16_complex_i16(rows[r], f);
        int16_t* row0 = spectrum + (2 * r) * 18;
        int16_t* row1 = row0 + 18;
        for (int c = 0; c <= 8; ++c) {
          const int ar = f[2 * c], ai = f[2 * c + 1];
          if (c == 0 || c == 8) {
            row0[2 * c] = static_cast<int16_t>(ar), row0[2 * c + 1] = 0;
            row1[2 * c] = static_cast<int16_t>(ai), row1[2 * c + 1] = 0;
            continue;
          }
          const int br = f[2 * (16 - c)], bi = f[2 * (16 - c) + 1];
          row0[2 * c] = static_cast<int16_t>((ar + br) >> 1);
          row0[2 * c + 1] = static_cast<int16_t>((ai - bi) >> 1);
          row1[2 * c] = static_cast<int16_t>((ai + bi) >> 1);
          row1[2 * c + 1] = static_cast<int16_t>((br - ar) >> 1);
        }
      }
      for (int c = 0; c <= 8; ++c) {
        for (int u = 0; u < 16; ++u) {
          z[2 * u] = spectrum[u * 18 + 2 * c];
          z[2 * u + 1] = spectrum[u * 18 + 2 * c + 1];
        }
        zyl::matchlib::fft16_complex_i16(z, f);
        for (int u = 0; u < 16; ++u) {
          spectrum[u * 18 + 2 * c] = f[2 * u];
          spectrum[u * 18 + 2 * c + 1] = f[2 * u + 1];
        }
      }
      const Result16 r = an->analyse(spectrum);
      const bool in_range = r.period >= pmin && r.period <= pmax && r.period != 0;
      periods[k] = in_range ? static_cast<uint16_t>(r.period) : 0;
      if (frequency) frequency[k] = static_cast<uint8_t>(r.frequency);
      if (orientation) orientation[k] = static_cast<uint8_t>(r.orientation);
    }
  return zyl::matchlib::stft_map_finish_u16(periods.data(), block_rows, block_columns, period);
}

extern "C" {

ZYL_API int stft_map_clean_u16(uint16_t* map, int rows, int columns) {
  return zyl::matchlib::stft_map_clean_u16(map, rows, columns);
}
ZYL_API int stft_map_finish_u16(uint16_t* map, int rows, int columns, uint8_t* out) {
  return zyl::matchlib::stft_map_finish_u16(map, rows, columns, out);
}
ZYL_API int stft_block_analysis32(const uint8_t* pixels, const uint8_t* usable, int height,
                                  int width, int step, int longest_period, int shortest_period,
                                  const void* arg7, int block_rows, int block_columns,
                                  uint8_t* dominance, uint8_t* period, uint8_t* frequency,
                                  uint8_t* orientation) {
  return zyl::matchlib::stft_block_analysis32(pixels, usable, height, width, step, longest_period,
                                              shortest_period, arg7, block_rows, block_columns,
                                              dominance, period, frequency, orientation);
}
ZYL_API int stft_block_analysis16(const uint8_t* pixels, int height, int width, int step,
                                  int longest_period, int shortest_period, int block_rows,
                                  int block_columns, uint8_t* period, uint8_t* frequency,
                                  uint8_t* orientation) {
  return zyl::matchlib::stft_block_analysis16(pixels, height, width, step, longest_period,
                                              shortest_period, block_rows, block_columns, period,
                                              frequency, orientation);
}

}  // extern "C"
