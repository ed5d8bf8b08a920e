// Fixed-point maths of the matcher library: integer square roots, table
// sines and arctangents in the library's angle units, rounding helpers and
// the linear congruential generator. Results enter stored templates and
// scores, so every rounding rule and tie here is part of the contract.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "matchlib/core/fixed_tables.h"
#include "zylscan/matchlib_fixed.h"
#include "matchlib/core/fixed_math.h"

namespace zyl::matchlib {
namespace {

// Bit-by-bit square root, two bits per step, no division.
std::uint32_t isqrt_floor(std::uint32_t a) {
  std::uint32_t root = 0;
  std::uint32_t bit = 1u << 30;
  while (bit > a) bit >>= 2;
  while (bit) {
    if (a >= root + bit) {
      a -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return root;
}

// Round to nearest: an integer square root is never exactly halfway.
std::uint32_t isqrt_nearest(std::uint32_t a) {
  const std::uint32_t r = isqrt_floor(a);
  return a - r * r > r ? r + 1 : r;
}

int quarter_wave(const std::int16_t (&t)[65], int a) {
  a &= 255;
  if (a <= 64) return t[a];
  if (a <= 128) return t[128 - a];
  if (a <= 192) return -t[a - 128];
  return -t[256 - a];
}

constexpr int as_signed_byte(std::int64_t v) { return static_cast<std::int8_t>(v & 0xFF); }

// Table-free first-octant angle (0..32) of mn / mx, mx > 0.
int octant_angle(std::int64_t mx, std::int64_t mn) {
  if (mn >= 0x4000000) {
    mn >>= 6;
    mx >>= 6;
  }
  if (mx <= 0) return 0;
  const int r = static_cast<int>((mn * 32 + mx / 2) / mx);
  if (r <= 12) return r + (r > 1) + (r > 5) + (r > 10);
  return r + (r <= 30) + (r < 27) + (r < 22);
}

int sin_rad64(std::int64_t a) {
  auto index = [](std::int64_t b) { return static_cast<int>((b * 255 + 128) / 102943); };
  const std::int64_t m = (a < 0 ? -a : a) % 411774;
  int v;
  if (m < 102944)
    v = kFineQuarterSine[index(m)];
  else if (m <= 205887)
    v = kFineQuarterSine[index(205887 - m)];
  else if (m <= 308830)
    v = -kFineQuarterSine[index(m - 205887)];
  else
    v = -kFineQuarterSine[index(411774 - m)];
  return a < 0 ? -v : v;
}

std::uint32_t g_seed = 0;

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

// ---- square roots and bit counts ----

uint32_t zyl::matchlib::fx_isqrt32(uint32_t a) { return isqrt_floor(a); }
uint32_t zyl::matchlib::fx_isqrt32_alt(uint32_t a) { return isqrt_floor(a); }
uint32_t zyl::matchlib::fx_isqrt16(uint16_t a) {
  return a < 16384 ? isqrt_nearest(a) : isqrt_floor(a);
}
uint32_t zyl::matchlib::fx_isqrt16_alt(uint16_t a) { return zyl::matchlib::fx_isqrt16(a); }
int zyl::matchlib::fx_isqrt_round(int a) {
  return a <= 0 ? 0 : static_cast<int>(isqrt_nearest(static_cast<uint32_t>(a)));
}
uint32_t zyl::matchlib::fx_isqrt30_round(uint32_t a) { return isqrt_nearest(a & 0x3FFFFFFFu); }
uint32_t zyl::matchlib::fx_isqrt_shr7(uint32_t a) { return isqrt_floor(a) >> 7; }
int zyl::matchlib::fx_log2_floor(uint32_t a) { return a ? 31 - std::countl_zero(a) : 0; }
extern "C" ZYL_API int fx_clz32(uint32_t a) { return std::countl_zero(a); }

int zyl::matchlib::fx_exp(int x) {
  // Base-2 exponent in 1/256 units: 177/256 approximates ln 2.
  const int q = static_cast<int>(std::int64_t{x} * 256 / 177);
  if (q < -4096) return 0;
  const int t = kExp2Frac[(q >> 2) & 63];
  const int k = q >> 8;
  if (k <= 0) return t >> -k;
  // Callers pass x <= 0; saturate rather than shift past 32 bits.
  return k > 22 ? INT_MAX : t << k;
}

// ---- directions and orientations ----

int zyl::matchlib::fx_sin256(int a) { return quarter_wave(kQuarterSineTrunc, a); }
int zyl::matchlib::fx_sin256_alt(int a) { return zyl::matchlib::fx_sin256(a); }
int zyl::matchlib::fx_cos256(int a) { return zyl::matchlib::fx_sin256(a + 64); }
int zyl::matchlib::fx_cos256_alt(int a) { return zyl::matchlib::fx_cos256(a); }
int zyl::matchlib::fx_sin256_rounded(int a) { return quarter_wave(kQuarterSineRound, a); }
int zyl::matchlib::fx_cos256_rounded(int a) { return zyl::matchlib::fx_sin256_rounded(a + 64); }
extern "C" ZYL_API int fx_sin256_half_rounded(int a) {
  // Defined for a half turn; other directions fall back to the full wave
  // rather than indexing outside the table.
  if (a < 0 || a > 128) return zyl::matchlib::fx_sin256_rounded(a);
  return kQuarterSineRound[a <= 64 ? a : 128 - a];
}

int zyl::matchlib::fx_dir_absdiff(int a, int b) {
  return std::abs(as_signed_byte(std::int64_t{a} - b));
}
int zyl::matchlib::fx_dir_absdiff_alt(int a, int b) { return zyl::matchlib::fx_dir_absdiff(a, b); }
int zyl::matchlib::fx_dir_diff(int a, int b) {
  return static_cast<int>((std::int64_t{b} - a) & 255);
}
extern "C" ZYL_API int fx_dir_diff_alt(int a, int b) { return zyl::matchlib::fx_dir_diff(a, b); }
extern "C" ZYL_API int fx_dir_sdiff(int a, int b) {
  const int d = static_cast<int>((std::int64_t{a} - b) & 255);
  return d > 128 ? d - 256 : d;
}
int zyl::matchlib::fx_dir_mean(int a, int b) {
  a &= 255;
  b &= 255;
  int m = (a + b) / 2;
  if (std::abs(a - b) >= 128) m -= 128;
  return m & 255;
}
int zyl::matchlib::fx_dir_mean_alt(int a, int b) { return zyl::matchlib::fx_dir_mean(a, b); }
int zyl::matchlib::fx_orient_absdiff(int a, int b) {
  const int d = std::abs((a & 255) - (b & 255));
  return d < 64 ? d : 128 - d;
}
extern "C" ZYL_API int fx_orient_diff(int a, int b) {
  const int d = (b & 255) - (a & 255);
  return as_signed_byte(std::abs(d) <= 63 ? d : d - 128);
}
int zyl::matchlib::fx_orient_mean(int a, int b) {
  a &= 255;
  b &= 255;
  if (std::abs(a - b) <= 63) return (a + b) / 2;
  return ((a + b + 128) & 255) / 2;
}

// ---- arctangents ----

int zyl::matchlib::fx_atan2(int y, int x) {
  if (x == 0) return y > 0 ? 64 : (y < 0 ? -64 : 0);
  const std::int64_t ax = std::abs(std::int64_t{x});
  const std::int64_t ay = std::abs(std::int64_t{y});
  // Above 24 bits the ratio is formed as a / (b >> 7) so that the product
  // a * 128 is never needed.
  auto ratio = [](std::int64_t a, std::int64_t b) {
    const std::int64_t r = a > 0xFFFFFF ? a / (b >> 7) : a * 128 / b;
    return static_cast<int>(std::min<std::int64_t>(r, 128));
  };
  const int e = ax < ay ? 64 - kAtan256[ratio(ax, ay)] : kAtan256[ratio(ay, ax)];
  if (x > 0) return as_signed_byte(y > 0 ? e : -e);
  return as_signed_byte(y >= 0 ? 128 - e : e - 128);
}

int zyl::matchlib::fx_atan2_s16(int16_t y, int16_t x) {
  if (x == 0) return y > 0 ? 64 : (y < 0 ? -64 : 0);
  const int p = static_cast<uint16_t>(std::abs(int{y}));
  const int q = static_cast<uint16_t>(std::abs(int{x}));
  // The 45-degree split keeps the ratio in 0..1; the ratio is rounded.
  const int angle = p < q ? kAtan256[(p * 128 + q / 2) / q]
                          : 32 + kAtan256[((p - q) * 128 + (p + q) / 2) / (p + q)];
  if (x > 0) return as_signed_byte(y > 0 ? angle : -angle);
  return as_signed_byte(y > 0 ? 128 - angle : angle - 128);
}

extern "C" ZYL_API int fx_atan_octant(int larger, int smaller) {
  return octant_angle(larger, smaller);
}

int zyl::matchlib::fx_atan2_approx(int x, int y) {
  if (x == 0 && y == 0) return 0;
  const std::int64_t ax = std::abs(std::int64_t{x});
  const std::int64_t ay = std::abs(std::int64_t{y});
  const int e = octant_angle(std::max(ax, ay), std::min(ax, ay));
  const int a = ax < ay ? 64 - e : e;
  if (y >= 0) return as_signed_byte(x >= 0 ? a : 128 - a);
  return as_signed_byte(x >= 0 ? -a : a - 128);
}

extern "C" ZYL_API int fx_atan_slope(int s) {
  const std::int64_t v = s;
  if (v >= 0 && v <= 128) return kAtan256[v];
  if (v > 128) return 64 - kAtan256[16384 / v];
  if (v >= -128) return -kAtan256[-v];
  return kAtan256[16384 / -v] - 64;
}

extern "C" ZYL_API int fx_dir_between(int x1, int y1, int x2, int y2) {
  const std::int64_t dx = std::int64_t{x2} - x1;
  const std::int64_t dy = std::int64_t{y2} - y1;
  if (dx == 0 && dy == 0) return 0;
  const std::int64_t adx = std::abs(dx);
  const std::int64_t ady = std::abs(dy);
  // Measured from the +y axis.
  const int h = adx <= ady ? octant_angle(ady, adx) : 64 - octant_angle(adx, ady);
  if (dx >= 0) return dy >= 0 ? h : 128 - h;
  return dy < 0 ? 128 + h : 256 - h;
}

int zyl::matchlib::fx_atan2_phase24(int y_in, int x_in) {
  std::int64_t y = y_in;
  std::int64_t x = x_in;
  std::int64_t acc = 0;
  std::int64_t g = 1;
  // Fold the vector into the first octant, remembering the turn taken.
  while (!(0 <= y && y <= x)) {
    if (y < 0) {
      y = -y;
      x = -x;
      acc += g * 0x800000;
    }
    if (x < 0) {
      x = -x;
      acc += g * 0x800000;
      g = -g;
    }
    if (y > x) {
      acc += g * 0x400000;
      g = -g;
      std::swap(x, y);
    }
  }
  if (x == 0) return static_cast<int>(acc);
  while (y > 0x400000) {
    y >>= 1;
    x >>= 1;
  }
  const std::int64_t k = y * 256 / x;
  const std::uint64_t rem = static_cast<std::uint64_t>(y * 256 % x);
  std::int64_t t = kAtanPhase24[k];
  if (rem) {
    // rem is 0 whenever k is 256 (y = x), so the entry past the table is never read.
    const auto step = static_cast<std::uint64_t>(kAtanPhase24[k + 1] - kAtanPhase24[k]);
    t += static_cast<std::int64_t>(step * rem / static_cast<std::uint64_t>(x));
  }
  t &= 0xFFFFFF;
  return static_cast<int>(acc + g * t);
}

// ---- other angle forms ----

int zyl::matchlib::fx_sin_rad(int a) { return sin_rad64(a); }
int zyl::matchlib::fx_cos_rad(int a) { return sin_rad64(102943 - std::int64_t{a}); }

int zyl::matchlib::fx_sin65536(int a) {
  const int b = (a + 32) & 0xFFFF;
  if (b <= 0x4000) return b == 0x4000 ? 16384 : kFineQuarterSine[b >> 6];
  if (b <= 0x8000) return kFineQuarterSine[(0x8000 - b) >> 6];
  if (b <= 0xC000) return b == 0xC000 ? -16384 : -kFineQuarterSine[(b - 0x8000) >> 6];
  return -kFineQuarterSine[(0x10000 - b) >> 6];
}
int zyl::matchlib::fx_cos65536(int a) {
  return zyl::matchlib::fx_sin65536(static_cast<int>((0x4000 - std::int64_t{a}) & 0xFFFF));
}

int32_t zyl::matchlib::fx_sin_phase24(int32_t phase) {
  std::int64_t n = static_cast<std::uint32_t>(phase) & 0xFFFFFF;
  std::int64_t s = 1;
  while (n > 0x800000) {
    n -= 0x800000;
    s = -s;
  }
  if (n > 0x400000) n = 0x800000 - n;
  const std::int64_t i = n >> 14;
  const std::int64_t f = n & 0x3FFF;
  std::int64_t v = kPhaseSine[i];
  if (f) v += (std::int64_t{kPhaseSine[i + 1]} - kPhaseSine[i]) * f / 16383;
  return static_cast<int32_t>(s * v);
}
int32_t zyl::matchlib::fx_cos_phase24(int32_t phase) {
  return zyl::matchlib::fx_sin_phase24(
      static_cast<int32_t>(static_cast<uint32_t>(phase) + 0x400000u));
}

// ---- integers, rounding, random numbers ----

extern "C" ZYL_API int int_div_round(int a, int b) {
  if (b == 0) return 0;
  const std::int64_t la = a, lb = b;
  const bool same_sign = (la >= 0) == (lb > 0);
  return static_cast<int>(same_sign ? (la + lb / 2) / lb : (la - lb / 2) / lb);
}
// The absolute value of INT_MIN does not exist in an int; it saturates.
extern "C" ZYL_API int int_abs(int a) { return a == INT_MIN ? INT_MAX : std::abs(a); }
extern "C" ZYL_API int int_mod_pos(int a, int b) {
  if (b <= 0) return 0;
  const int m = a % b;
  return m < 0 ? m + b : m;
}
int zyl::matchlib::clamp_u8(int a) { return std::clamp(a, 0, 255); }
extern "C" ZYL_API int fx_q14_round(int a) {
  const std::int64_t v = a;
  return static_cast<int>(v >= 0 ? (v + 8192) >> 14 : -((-v + 8192) >> 14));
}
extern "C" ZYL_API int fx_round_f32(float x) {
  const float r = x > 0 ? x + 0.5f : x - 0.5f;
  // Out-of-range values and NaN would make the conversion undefined.
  if (!(r > -2147483648.0f)) return x > 0 ? INT_MAX : INT_MIN;
  if (r >= 2147483648.0f) return INT_MAX;
  return static_cast<int>(r);
}
int zyl::matchlib::fx_dist_sq(int x1, int y1, int x2, int y2) {
  const __int128 dx = std::int64_t{x1} - x2, dy = std::int64_t{y1} - y2;
  const __int128 d = dx * dx + dy * dy;
  // Pixel coordinates never come near this; a far point must not wrap to a near one.
  return d > INT_MAX ? INT_MAX : static_cast<int>(d);
}
extern "C" ZYL_API int fx_dist_round(int x1, int y1, int x2, int y2) {
  return zyl::matchlib::fx_isqrt_round(zyl::matchlib::fx_dist_sq(x1, y1, x2, y2));
}

uint32_t zyl::matchlib::rng_next(uint32_t* state) {
  if (!state) return 0;
  *state = *state * 1664525u + 1013904223u;
  return *state;
}
uint32_t zyl::matchlib::rng_next_alt(uint32_t* state) { return zyl::matchlib::rng_next(state); }
int zyl::matchlib::rng_next_range(uint32_t* state, int lo, int hi) {
  const std::int64_t span = std::int64_t{hi} - lo + 1;
  const std::uint32_t x = zyl::matchlib::rng_next(state);
  const auto offset = static_cast<std::int64_t>((static_cast<__int128>(span) * x) >> 32);
  return static_cast<int>(lo + offset);
}
extern "C" ZYL_API uint32_t rng_next_global(void) { return zyl::matchlib::rng_next(&g_seed); }
extern "C" ZYL_API void rng_seed_global(uint32_t seed) { g_seed = seed; }

extern "C" {

ZYL_API uint32_t fx_isqrt32(uint32_t a) { return zyl::matchlib::fx_isqrt32(a); }
ZYL_API uint32_t fx_isqrt32_alt(uint32_t a) { return zyl::matchlib::fx_isqrt32_alt(a); }
ZYL_API uint32_t fx_isqrt16(uint16_t a) { return zyl::matchlib::fx_isqrt16(a); }
ZYL_API uint32_t fx_isqrt16_alt(uint16_t a) { return zyl::matchlib::fx_isqrt16_alt(a); }
ZYL_API int fx_isqrt_round(int a) { return zyl::matchlib::fx_isqrt_round(a); }
ZYL_API uint32_t fx_isqrt30_round(uint32_t a) { return zyl::matchlib::fx_isqrt30_round(a); }
ZYL_API uint32_t fx_isqrt_shr7(uint32_t a) { return zyl::matchlib::fx_isqrt_shr7(a); }
ZYL_API int fx_log2_floor(uint32_t a) { return zyl::matchlib::fx_log2_floor(a); }
ZYL_API int fx_exp(int x) { return zyl::matchlib::fx_exp(x); }
ZYL_API int fx_sin256(int a) { return zyl::matchlib::fx_sin256(a); }
ZYL_API int fx_sin256_alt(int a) { return zyl::matchlib::fx_sin256_alt(a); }
ZYL_API int fx_cos256(int a) { return zyl::matchlib::fx_cos256(a); }
ZYL_API int fx_cos256_alt(int a) { return zyl::matchlib::fx_cos256_alt(a); }
ZYL_API int fx_sin256_rounded(int a) { return zyl::matchlib::fx_sin256_rounded(a); }
ZYL_API int fx_cos256_rounded(int a) { return zyl::matchlib::fx_cos256_rounded(a); }
ZYL_API int fx_dir_absdiff(int a, int b) { return zyl::matchlib::fx_dir_absdiff(a, b); }
ZYL_API int fx_dir_absdiff_alt(int a, int b) { return zyl::matchlib::fx_dir_absdiff_alt(a, b); }
ZYL_API int fx_dir_diff(int a, int b) { return zyl::matchlib::fx_dir_diff(a, b); }
ZYL_API int fx_dir_mean(int a, int b) { return zyl::matchlib::fx_dir_mean(a, b); }
ZYL_API int fx_dir_mean_alt(int a, int b) { return zyl::matchlib::fx_dir_mean_alt(a, b); }
ZYL_API int fx_orient_absdiff(int a, int b) { return zyl::matchlib::fx_orient_absdiff(a, b); }
ZYL_API int fx_orient_mean(int a, int b) { return zyl::matchlib::fx_orient_mean(a, b); }
ZYL_API int fx_atan2(int y, int x) { return zyl::matchlib::fx_atan2(y, x); }
ZYL_API int fx_atan2_s16(int16_t y, int16_t x) { return zyl::matchlib::fx_atan2_s16(y, x); }
ZYL_API int fx_atan2_approx(int x, int y) { return zyl::matchlib::fx_atan2_approx(x, y); }
ZYL_API int fx_atan2_phase24(int y_in, int x_in) {
  return zyl::matchlib::fx_atan2_phase24(y_in, x_in);
}
ZYL_API int fx_sin_rad(int a) { return zyl::matchlib::fx_sin_rad(a); }
ZYL_API int fx_cos_rad(int a) { return zyl::matchlib::fx_cos_rad(a); }
ZYL_API int fx_sin65536(int a) { return zyl::matchlib::fx_sin65536(a); }
ZYL_API int fx_cos65536(int a) { return zyl::matchlib::fx_cos65536(a); }
ZYL_API int32_t fx_sin_phase24(int32_t phase) { return zyl::matchlib::fx_sin_phase24(phase); }
ZYL_API int32_t fx_cos_phase24(int32_t phase) { return zyl::matchlib::fx_cos_phase24(phase); }
ZYL_API int clamp_u8(int a) { return zyl::matchlib::clamp_u8(a); }
ZYL_API int fx_dist_sq(int x1, int y1, int x2, int y2) {
  return zyl::matchlib::fx_dist_sq(x1, y1, x2, y2);
}
ZYL_API uint32_t rng_next(uint32_t* state) { return zyl::matchlib::rng_next(state); }
ZYL_API uint32_t rng_next_alt(uint32_t* state) { return zyl::matchlib::rng_next_alt(state); }
ZYL_API int rng_next_range(uint32_t* state, int lo, int hi) {
  return zyl::matchlib::rng_next_range(state, lo, hi);
}

}  // extern "C"
