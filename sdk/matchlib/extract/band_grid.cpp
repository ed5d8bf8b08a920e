// Band grid cell analysis: rows come in bands, only the rows that pending
// cells still need are held, and every cell is described by the dominant
// peak of the power spectrum of its 16 x 16 window.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/extract/band_grid_layout.h"
#include "zylscan/matchlib_bandgrid.h"
#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fixed.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/extract/band_grid.h"
#include "matchlib/spectral/fft_kernels.h"

namespace zyl::matchlib::bandgrid {
namespace {

constexpr int kTargetDpi = 250;
constexpr uint8_t kWeight[16] = {0,   34,  68,  102, 137, 171, 205, 239,
                                 239, 205, 171, 137, 102, 68,  34,  0};
constexpr uint64_t kLeastRadius = 11896508;  // about 1.68 frequency bins, squared, in 1/2048

// The pixel rows that the grid can see: rows received and still held.
struct HeldRows {
  const uint8_t* base;  // pixels of the first held row
  int first, count, width, stride;
  const uint8_t* row(int y) const {
    return y >= first && y < first + count ? base + static_cast<size_t>(y - first) * stride : nullptr;
  }
};

HeldRows held_rows(BandGrid* g) {
  const uint8_t* base = g->has_row_buffer ? row_buffer(g) : g->in_place;
  // Outside a feeding call a grid without a row buffer sees no pixels.
  return {base, g->first_row, base ? g->rows_held : uint16_t{0}, g->width, g->stride};
}

// P(u, v) with u = -2..8 by the symmetry P(-u, v) = P(u, -v); v mod 16.
uint32_t power(const BandGrid* g, int u, int v) {
  if (u < 0) {
    u = -u;
    v = -v;
  }
  if (u > 8) return 0;
  return spectrum(g)[u * 16 + ((v % 16) + 16) % 16];
}

void fill_spectrum(BandGrid* g, const HeldRows& held, int top, int left, int mean) {
  // Rows in pairs as the real and imaginary parts of one transform.
  int32_t half_re[16][9], half_im[16][9];
  for (int pair = 0; pair < 8; ++pair) {
    int32_t in_re[16], in_im[16], X[16], Y[16];
    for (int k = 0; k < 2; ++k) {
      const int i = 2 * pair + k;
      const uint8_t* row = held.row(top + i);
      for (int j = 0; j < 16; ++j) {
        const int x = left + j;
        const int v = row && top + i < g->height && x >= 0 && x < g->width
                          ? (row[x] - mean) * kWeight[i] * kWeight[j] / 16
                          : 0;
        (k == 0 ? in_re : in_im)[j] = v;
      }
    }
    zyl::matchlib::fft16_complex(in_re, in_im, X, Y);
    for (int k = 0; k <= 8; ++k) {
      const int m = (16 - k) & 15;
      const bool edge = k == 0 || k == 8;
      half_re[2 * pair][k] = (X[k] + X[m]) / 2;
      half_im[2 * pair][k] = edge ? 0 : (Y[k] - Y[m]) / 2;
      half_re[2 * pair + 1][k] = (Y[k] + Y[m]) / 2;
      half_im[2 * pair + 1][k] = edge ? 0 : (X[m] - X[k]) / 2;
    }
  }
  uint32_t* P = spectrum(g);
  for (int u = 0; u <= 8; ++u) {
    int32_t in_re[16], in_im[16], out_re[16], out_im[16];
    for (int i = 0; i < 16; ++i) {
      in_re[i] = half_re[i][u];
      in_im[i] = half_im[i][u];
    }
    zyl::matchlib::fft16_complex(in_re, in_im, out_re, out_im);
    for (int v = 0; v < 16; ++v)
      P[u * 16 + v] = static_cast<uint32_t>(
          (int64_t{out_re[v]} * out_re[v] + int64_t{out_im[v]} * out_im[v]) >> 10);
  }
}

// Normalised quotient (a << s) / d with s = 30 - floor(log2 d): the
// divisor shifted to keep `bits` fractional bits.
int64_t scaled_div(int64_t a, uint64_t d, int bits) {
  const int s =
      30 - zyl::matchlib::fx_log2_floor(static_cast<uint32_t>(std::min<uint64_t>(d, 0xFFFFFFFF)));
  const int64_t num = s >= 0 ? a * (int64_t{1} << s) : a;
  int64_t den = s > bits - 1 ? static_cast<int64_t>(d) << (s - bits)
                             : static_cast<int64_t>(d >> (bits - s));
  if (den == 0) den = 1;
  return num / den;
}

struct Peak {
  int64_t value = 0;
  int u = 0, v = 0;
};

void analyse_cell(BandGrid* g, const HeldRows& held, int top, int left, uint8_t* cell) {
  cell[0] = cell[1] = cell[2] = 0;
  uint32_t n = 0, S = 0, Q = 0;
  for (int i = 0; i < kWindow; ++i) {
    const int y = top + i;
    const uint8_t* row = y < g->height ? held.row(y) : nullptr;
    if (!row) continue;
    for (int x = std::max(0, left); x < std::min<int>(g->width, left + kWindow); ++x) {
      ++n;
      S += row[x];
      Q += uint32_t{row[x]} * row[x];
    }
  }
  if (n == 0) return;  // a window with no pixel in sight carries nothing
  const uint16_t V = static_cast<uint16_t>(((16 * Q - S * ((16 * S) / n)) / n) >> 4);
  if (V <= 15) return;
  const uint8_t contrast = static_cast<uint8_t>(zyl::matchlib::fx_isqrt32_alt(4u * V));
  cell[2] = contrast;
  fill_spectrum(g, held, top, left, static_cast<int>((S + n / 2) / n));

  uint64_t T = 0;
  for (int u = 1; u <= 8; ++u)
    for (int v = -8; v <= 8; ++v) T += power(g, u, v);
  for (int v = -8; v <= -1; ++v) T += power(g, 0, v);

  // Peak filter over v = -6..6, u = 0..6.
  int64_t L[13][7] = {};
  for (int v = -6; v <= 6; ++v)
    for (int u = 0; u <= 6; ++u) {
      const int64_t p = power(g, u, v);
      if (static_cast<uint64_t>(p) <= (T >> 7)) continue;
      L[v + 6][u] = 4 * p - power(g, u, v - 1) - power(g, u, v + 1) - power(g, u - 1, v) -
                    power(g, u + 1, v);
    }
  auto l_at = [&](int u, int v) -> int64_t {
    return u >= 0 && u <= 6 && v >= -6 && v <= 6 ? L[v + 6][u] : 0;
  };
  Peak kept[3];
  int nkept = 0;
  for (int v = -6; v <= 6; ++v)
    for (int u = 0; u <= 6; ++u) {
      if (u == 0 && v <= 0) continue;
      const int64_t l = l_at(u, v);
      if (l <= 0 || l < l_at(u - 1, v) || l < l_at(u + 1, v) || l < l_at(u, v - 1) ||
          l < l_at(u, v + 1))
        continue;
      int at = 0;
      while (at < nkept && kept[at].value >= l) ++at;  // the earlier wins a tie
      if (at >= 3) continue;
      for (int k = std::min(nkept, 2); k > at; --k) kept[k] = kept[k - 1];
      kept[at] = {l, u, v};
      nkept = std::min(nkept + 1, 3);
    }
  for (int k = 0; k < nkept; ++k) {
    const int u = kept[k].u, v = kept[k].v;
    int64_t M = 0, Dv = 0, Du = 0;
    for (int dv = -1; dv <= 1; ++dv)
      for (int du = -1; du <= 1; ++du) {
        const int64_t p = power(g, u + du, v + dv);
        M += p;
        Dv += dv * p;
        Du += du * p;
      }
    if (M <= 0) continue;
    const int64_t X = u * int64_t{2048} + scaled_div(Du, static_cast<uint64_t>(M), 11);
    const int64_t Y = v * int64_t{2048} + scaled_div(Dv, static_cast<uint64_t>(M), 11);
    const uint64_t K = static_cast<uint64_t>(X * X + Y * Y);
    if (K <= kLeastRadius) continue;
    if (static_cast<uint64_t>(M) < (T >> 3)) return;  // {0, 0, contrast}
    const int64_t I = X * X - Y * Y, J = 2 * X * Y;
    const int orientation = zyl::matchlib::fx_atan2(static_cast<int>(scaled_div(J, K, 15)),
                                                    static_cast<int>(scaled_div(I, K, 15)));
    const uint32_t f =
        zyl::matchlib::fx_isqrt32_alt(static_cast<uint32_t>(std::min<uint64_t>(K, 0xFFFFFFFF))) *
        kTargetDpi / 500;
    cell[0] = static_cast<uint8_t>(orientation);
    cell[1] = static_cast<uint8_t>(f + 16 > 8191 ? 255 : (f + 16) >> 5);
    g->ratio_sum +=
        static_cast<uint32_t>(zyl::matchlib::fx_log2_floor(static_cast<uint32_t>(std::min<uint64_t>(
            (T + static_cast<uint64_t>(M) / 2) / static_cast<uint64_t>(M), 0xFFFFFFFF))));
    return;
  }
}

// Analyses every cell row whose windows are complete (or all that remain
// once every image row has come).
void analyse_ready_rows(BandGrid* g) {
  const HeldRows held = held_rows(g);
  const int lead = window_lead(g->cell_size);
  const int received = g->first_row + g->rows_held;
  while (g->finished_rows < g->rows) {
    const int window_top = g->top_row - lead;
    if (window_top + kWindow - 1 >= received && received < g->height) break;
    uint8_t* row_cells = cells(g) + static_cast<size_t>(g->finished_rows) * g->columns * 3;
    for (int c = 0; c < g->columns; ++c)
      analyse_cell(g, held, window_top, g->x_offset + c * g->cell_size - lead, row_cells + 3 * c);
    ++g->finished_rows;
    g->top_row = static_cast<int16_t>(g->top_row + g->cell_size);
  }
}

// Drops the held rows above the first row the next cell row needs.
void drop_unneeded_rows(BandGrid* g) {
  const int need = std::max(0, g->top_row - window_lead(g->cell_size));
  const int drop = std::clamp(need - static_cast<int>(g->first_row), 0, static_cast<int>(g->rows_held));
  if (drop == 0) return;
  uint8_t* buf = row_buffer(g);
  std::memmove(buf, buf + static_cast<size_t>(drop) * g->stride,
               static_cast<size_t>(g->rows_held - drop) * g->stride);
  g->first_row = static_cast<uint16_t>(g->first_row + drop);
  g->rows_held = static_cast<uint16_t>(g->rows_held - drop);
}

}  // namespace
}  // namespace zyl::matchlib::bandgrid

using namespace zyl::matchlib::bandgrid;

int zyl::matchlib::bandgrid_target_dpi(void) { return kTargetDpi; }

BandGrid* zyl::matchlib::bandgrid_init(void* storage, uint32_t storage_size, int row_buffer_flag,
                                       uint16_t width, uint16_t height, uint8_t cell_size,
                                       uint32_t* required) {
  if (required) *required = 0;
  if (cell_size == 0) return nullptr;
  const int columns = (width + cell_size / 2) / cell_size;
  const int rows = (height + cell_size / 2) / cell_size;
  if (columns > BANDGRID_MAX_CELLS || rows > BANDGRID_MAX_CELLS) return nullptr;
  const uint64_t need = kHeadSize + cell_bytes(columns, rows) +
                        (row_buffer_flag ? uint64_t{kMaxHeld} * width : 0);
  if (required) *required = static_cast<uint32_t>(need);
  if (!storage || storage_size < need) return nullptr;
  auto* g = static_cast<BandGrid*>(storage);
  std::memset(g, 0, kHeadSize);
  g->width = width;
  g->height = height;
  g->stride = width;
  g->cell_size = cell_size;
  g->columns = static_cast<uint8_t>(columns);
  g->rows = static_cast<uint8_t>(rows);
  g->x_offset = static_cast<int16_t>((width - cell_size * columns) / 2);
  g->y_offset = static_cast<int16_t>((height - cell_size * rows) / 2);
  g->top_row = g->y_offset;
  g->has_row_buffer = row_buffer_flag ? 1 : 0;
  std::memset(cells(g), 0, cell_bytes(columns, rows));
  return g;
}

uint32_t zyl::matchlib::bandgrid_feed_rows(BandGrid* g, uint32_t rows, const uint8_t* pixels) {
  if (!g) return 0;
  if (!g->has_row_buffer) {
    if (pixels && rows) {
      g->in_place = pixels;
      g->first_row = 0;
      g->rows_held = static_cast<uint16_t>(std::min<uint32_t>(rows, g->height));
      analyse_ready_rows(g);
      g->in_place = nullptr;  // the caller's pixels are not kept past the call
    }
    return g->first_row + g->rows_held;
  }
  if (!pixels) {
    analyse_ready_rows(g);
    return g->first_row + g->rows_held;
  }
  for (uint32_t taken = 0;;) {
    const uint32_t take = std::min({rows - taken, kMaxHeld - uint32_t{g->rows_held},
                                    g->height - (uint32_t{g->first_row} + g->rows_held)});
    std::memcpy(row_buffer(g) + static_cast<size_t>(g->rows_held) * g->stride,
                pixels + static_cast<size_t>(taken) * g->width, static_cast<size_t>(take) * g->width);
    g->rows_held = static_cast<uint16_t>(g->rows_held + take);
    taken += take;
    analyse_ready_rows(g);
    drop_unneeded_rows(g);
    if (taken >= rows || uint32_t{g->first_row} + g->rows_held >= g->height) break;
    if (take == 0 && g->rows_held == kMaxHeld) break;  // no room and nothing to analyse
  }
  return g->first_row + g->rows_held;
}

extern "C" ZYL_API void bandgrid_cell_spectrum(BandGrid* g, int top, int left, int rows, int mean) {
  if (!g) return;
  HeldRows held = held_rows(g);
  held.count = std::min(held.count, std::max(0, rows));
  fill_spectrum(g, held, top, left, mean);
}

extern "C" ZYL_API uint32_t bandgrid_spectrum_at(const BandGrid* g, int u, int v) {
  if (!g || u < 0 || u > 8 || v < -8 || v > 7) return 0;
  return spectrum(g)[u * 16 + ((v + 16) & 15)];
}

extern "C" ZYL_API const uint8_t* bandgrid_cell(const BandGrid* g, int row, int column) {
  if (!g || row < 0 || column < 0 || row >= g->rows || column >= g->columns) return nullptr;
  return cells(g) + (static_cast<size_t>(row) * g->columns + column) * 3;
}

extern "C" ZYL_API void bandgrid_size(const BandGrid* g, int* columns, int* rows, int* x_offset,
                                      int* y_offset) {
  if (!g) return;
  if (columns) *columns = g->columns;
  if (rows) *rows = g->rows;
  if (x_offset) *x_offset = g->x_offset;
  if (y_offset) *y_offset = g->y_offset;
}

extern "C" ZYL_API void img_reduce_contrast_u8(const uint8_t* pixels, int height, int width,
                                               int strength, uint8_t* out) {
  if (!pixels || !out || height <= 0 || width <= 0) return;
  const size_t n = static_cast<size_t>(height) * width;
  uint64_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += pixels[i];
  const int mean = static_cast<int>(sum / n);
  const int s = std::clamp(strength, 0, 100);
  for (size_t i = 0; i < n; ++i) {
    const int x = (pixels[i] - mean) * (100 - s);
    out[i] = static_cast<uint8_t>(mean + (x > 0 ? (x + 50) / 100 : (x - 50) / 100));
  }
}

extern "C" {

ZYL_API int bandgrid_target_dpi(void) { return zyl::matchlib::bandgrid_target_dpi(); }
ZYL_API BandGrid* bandgrid_init(void* storage, uint32_t storage_size, int row_buffer_flag,
                                uint16_t width, uint16_t height, uint8_t cell_size,
                                uint32_t* required) {
  return zyl::matchlib::bandgrid_init(storage, storage_size, row_buffer_flag, width, height,
                                      cell_size, required);
}
ZYL_API uint32_t bandgrid_feed_rows(BandGrid* g, uint32_t rows, const uint8_t* pixels) {
  return zyl::matchlib::bandgrid_feed_rows(g, rows, pixels);
}

}  // extern "C"
