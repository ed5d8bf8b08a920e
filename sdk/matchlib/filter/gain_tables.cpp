// Radial band-pass gain tables: byte tables for 64 x 64 tiles, float
// tables for 256 x 256 frames, and the nine ready byte tables.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_gain_table.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/gain_tables.h"

namespace zyl::matchlib {
namespace {

// GainEdgeCurve: an S-shaped rise from 0 to 256.
constexpr int kEdge[64] = {0,   0,   1,   1,   2,   4,   6,   7,   10,  12,  15,  18,  22,
                           25,  29,  33,  37,  42,  47,  52,  57,  62,  68,  73,  79,  85,
                           91,  97,  103, 109, 115, 122, 128, 134, 141, 147, 153, 159, 165,
                           171, 177, 183, 188, 194, 199, 204, 209, 214, 219, 223, 227, 231,
                           234, 238, 241, 244, 246, 249, 250, 252, 254, 255, 255, 256};

// x * 127 / q to the nearest whole number, halves away from zero.
int to_cycles_per_inch(int x, int q) {
  const std::int64_t v = std::int64_t{x} * 127;
  return static_cast<int>(x >= 1 ? (v + q / 2) / q : (v - q / 2) / q);
}

struct Band {
  int centre, cut, low_width, high_width;
  bool gaussian;
};

// The band in curve steps: `scale` steps per cycle per tile (256 for the
// 64-pixel tiles' four steps per unit, 1024 for the 256-pixel frames').
Band band(int r, int b, int c, int d, int e, int scale) {
  const int bp = to_cycles_per_inch(b, 80), cp = to_cycles_per_inch(c, 1280);
  const int dp = to_cycles_per_inch(d, 1280), ep = to_cycles_per_inch(e, 1280);
  const int h = r / 2;
  auto steps = [&](int f) { return static_cast<int>((std::int64_t{f} * scale + h) / r); };
  return {steps(bp), dp > 0 ? steps(dp) : -1, steps(cp), steps(ep), cp == 0};
}

int floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return static_cast<int>(q);
}

// Radial curves, int (256 = unity, 256 entries) or float (1.0, 1024).
template <class T>
void shape_curve(T* curve, int n, T unity, const Band& bd) {
  for (int k = 0; k < n; ++k) curve[k] = unity;
  if (bd.centre != 0) {
    if (bd.gaussian) {
      for (int k = 0; k < n; ++k) {
        if constexpr (std::is_same_v<T, float>) {
          const float x = 16.0f * k / bd.centre;
          curve[k] = 1.0f - std::exp(-0.5f * x * x);
        } else {
          const std::int64_t t = std::int64_t{k} * 65536 / bd.centre;
          if (t <= 14198) curve[k] = 256 - zyl::matchlib::fx_exp(floor_div(-(t * t), 131072));
        }
      }
    } else {
      const int c16 = bd.centre >> 4, w = bd.low_width;
      for (int k = 0; k <= std::min(c16 - w, n - 1); ++k) curve[k] = 0;
      for (int u = 0; u < 2 * w; ++u) {
        const int k = c16 - w + u;
        if (k < 0 || k >= n) continue;
        const int edge = kEdge[63 - (32 * u) / w];
        if constexpr (std::is_same_v<T, float>) curve[k] = 1.0f - edge / 256.0f;
        else curve[k] = 256 - edge;
      }
    }
  }
  if (bd.cut >= 0) {
    const int w2 = bd.high_width;
    for (int k = std::max(bd.cut + w2, 0); k < n; ++k) curve[k] = 0;
    for (int u = std::max(bd.cut - w2, 0); u <= std::min(bd.cut + w2 - 1, n - 1); ++u) {
      const int edge = kEdge[63 - (32 * (u - bd.cut + w2)) / w2];
      if constexpr (std::is_same_v<T, float>) curve[u] = edge * curve[u] / 256.0f;
      else curve[u] = curve[u] * edge / 256;
    }
  }
}

// Fills a half-spectrum table of `side` rows from a radial curve indexed by
// floor(sqrt(16 (i^2 + j^2))); row side - i mirrors row i.
template <class T, class C, class Clamp>
void fill_table(T* table, int side, const C* curve, Clamp clamp) {
  const int cols = side / 2 + 1;
  auto row_of = [&](int i, T* row) {
    for (int j = 0; j < cols; ++j)
      row[j] = clamp(
          curve[zyl::matchlib::fx_isqrt32_alt(static_cast<std::uint32_t>(16 * (i * i + j * j)))]);
  };
  for (int i = 0; i < side / 2; ++i) row_of(i, table + static_cast<std::size_t>(i) * cols);
  for (int i = 1; i <= side / 2; ++i) row_of(i, table + static_cast<std::size_t>(side - i) * cols);
}

// Ready tables: a radial profile at whole radii 0..32 of each nominal
// resolution; every entry is the profile at its radius sqrt(i^2 + j^2),
// linear between whole radii, and beyond radius 32 continued with the last
// step's slope down to 0.
struct ReadyProfile {
  int dpi;
  std::array<std::uint8_t, 33> row0;
};

constexpr ReadyProfile kReady[9] = {
    {250, {0, 5, 19, 41, 68, 98, 129, 158, 184, 206, 223, 236, 246, 253, 255, 251, 243,
           230, 213, 193, 171, 148, 124, 101, 78, 57, 39, 23, 12, 4, 0, 0, 0}},
    {339, {0, 9, 33, 68, 108, 147, 181, 208, 227, 239, 247, 251, 253, 254, 255, 254, 251,
           244, 233, 220, 205, 187, 168, 148, 127, 106, 86, 67, 49, 34, 21, 11, 4}},
    {374, {0, 10, 39, 80, 124, 165, 199, 222, 238, 247, 251, 254, 255, 255, 253, 247, 237,
           224, 207, 188, 167, 144, 121, 99, 77, 57, 39, 24, 12, 4, 0, 0, 0}},
    {397, {0, 12, 44, 88, 135, 177, 208, 230, 243, 250, 253, 254, 255, 254, 248, 238, 224,
           206, 186, 163, 139, 115, 91, 68, 48, 30, 16, 6, 1, 0, 0, 0, 0}},
    {508, {0, 19, 68, 128, 181, 218, 239, 249, 253, 255, 255, 248, 234, 213, 188, 159, 128,
           97, 67, 42, 22, 7, 1, 0}},
    {547, {0, 22, 77, 141, 194, 228, 245, 252, 254, 255, 250, 236, 215, 188, 156, 123, 90,
           59, 33, 14, 3, 0}},
    {594, {0, 26, 88, 156, 208, 237, 249, 254, 255, 252, 239, 216, 187, 152, 116, 81, 49,
           24, 7, 0}},
    {667, {0, 32, 105, 178, 225, 246, 253, 255, 252, 237, 210, 175, 135, 95, 57, 27, 7, 0}},
    {1000, {0, 66, 178, 238, 253, 255, 237, 194, 136, 75, 27, 2, 0}},
};

double profile_at(const std::array<std::uint8_t, 33>& p, double r) {
  if (r >= 32) return std::max(0.0, p[32] + (p[32] - p[31]) * (r - 32));
  const int k = static_cast<int>(r);
  return p[k] + (p[k + 1] - p[k]) * (r - k);
}

using ReadyTables = std::array<std::array<std::uint8_t, 64 * 33>, 9>;

const ReadyTables& ready_tables() {
  static const ReadyTables tables = [] {
    ReadyTables t{};
    for (int k = 0; k < 9; ++k)
      for (int row = 0; row < 64; ++row)
        for (int j = 0; j < 33; ++j) {
          const int i = row <= 32 ? row : row - 64;
          const double v = profile_at(kReady[k].row0, std::sqrt(double(i * i + j * j)));
          t[k][row * 33 + j] = static_cast<std::uint8_t>(std::lround(std::min(255.0, v)));
        }
    return t;
  }();
  return tables;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

uint8_t* zyl::matchlib::fftfilt_gain_table_u8(int resolution, int b, int c, int d, int e) {
  if (resolution <= 0) return nullptr;
  Scratch<uint8_t> table(GAIN_TABLE64_ROWS * GAIN_TABLE64_COLUMNS);
  Scratch<int> curve(256);
  if (!table || !curve) return nullptr;
  shape_curve(curve.get(), 256, 256, band(resolution, b, c, d, e, 256));
  fill_table(table.get(), 64, curve.get(),
             [](int v) { return static_cast<uint8_t>(v >= 256 ? 255 : std::max(v, 0)); });
  return table.release();
}

float* zyl::matchlib::fftfilt_gain_table_float(int resolution, int b, int c, int d, int e) {
  if (resolution <= 0) return nullptr;
  Scratch<float> table(GAIN_TABLE256F_ROWS * GAIN_TABLE256F_COLUMNS);
  Scratch<float> curve(1024);
  if (!table || !curve) return nullptr;
  shape_curve(curve.get(), 1024, 1.0f, band(resolution, b, c, d, e, 1024));
  fill_table(table.get(), 256, curve.get(), [](float v) { return std::min(1.0f, v); });
  return table.release();
}

const uint8_t* zyl::matchlib::fftfilt_gain_table_ready_u8(int resolution) {
  for (int k = 0; k < 9; ++k)
    if (std::abs(resolution - kReady[k].dpi) <= 16) return ready_tables()[k].data();
  return nullptr;
}

extern "C" {

ZYL_API uint8_t* fftfilt_gain_table_u8(int resolution, int b, int c, int d, int e) {
  return zyl::matchlib::fftfilt_gain_table_u8(resolution, b, c, d, e);
}
ZYL_API float* fftfilt_gain_table_float(int resolution, int b, int c, int d, int e) {
  return zyl::matchlib::fftfilt_gain_table_float(resolution, b, c, d, e);
}
ZYL_API const uint8_t* fftfilt_gain_table_ready_u8(int resolution) {
  return zyl::matchlib::fftfilt_gain_table_ready_u8(resolution);
}

}  // extern "C"
