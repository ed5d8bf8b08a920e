// Spectrum utilities around the fixed-point transforms: magnitude bytes,
// centred spectra of windowed tiles, magnitude and phase, byte windows, and
// the dominant-band tile callback.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_frequency.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/spectral/fft2d.h"
#include "matchlib/spectral/tile_spectra.h"

namespace zyl::matchlib {
namespace {

inline uint64_t uabs(int32_t v) { return v < 0 ? uint64_t(0) - int64_t{v} : uint64_t(v); }
inline int mod(int a, int n) { return ((a % n) + n) % n; }

// Half-spectrum index of frequency (fy, fx): its own position for fx >= 0,
// the conjugate position otherwise (the magnitude is the same).
inline int half_index(int fy, int fx, int n) {
  if (fx < 0 && fx != -n / 2) {
    fy = -fy;
    fx = -fx;
  }
  return mod(fy, n) * (n / 2 + 1) + (fx < 0 ? n / 2 : fx);
}

void make_window(uint8_t* w, int n, int type) {
  std::fill(w, w + n, uint8_t{128});
  for (int k = 0; k < n / 2; ++k) {
    int v = 128;
    if (type == 1) {
      v = (1024 * k + (n - 1)) / (2 * (n - 1));  // 512 k / (n - 1) to nearest
    } else if (type == 2) {
      const int b = (256 * k - 128 * n) / (3 * n / 16);
      v = std::min(255, zyl::matchlib::fx_exp(-(b * b) / 512));
    } else {
      continue;
    }
    w[k] = w[n - 1 - k] = static_cast<uint8_t>(v);
  }
}

template <int N>
int spectrum_tile(const uint8_t* image, int height, int width, int top, int left, int type,
                  int32_t* out_re, int32_t* out_im, FftForwardFn forward) {
  if (!image || !out_re || !out_im || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  constexpr int W = N / 2 + 1;
  std::unique_ptr<int32_t[]> block(new (std::nothrow) int32_t[N * N]);
  std::unique_ptr<int32_t[]> re(new (std::nothrow) int32_t[N * W]);
  std::unique_ptr<int32_t[]> im(new (std::nothrow) int32_t[N * W]);
  if (!block || !re || !im) return ML_NO_MEMORY;
  uint8_t w[N];
  make_window(w, N, type);
  auto inside = [&](int y, int x) { return y >= 0 && y < height && x >= 0 && x < width; };
  int64_t sum = 0, count = 0;
  for (int y = 0; y < N; ++y)
    for (int x = 0; x < N; ++x)
      if (inside(top + y, left + x)) {
        sum += image[static_cast<size_t>(top + y) * width + left + x];
        ++count;
      }
  const int mean = count ? static_cast<int>(sum / count) : 0;
  for (int y = 0; y < N; ++y)
    for (int x = 0; x < N; ++x) {
      const bool in = inside(top + y, left + x);
      const int p = in ? image[static_cast<size_t>(top + y) * width + left + x] : 0;
      block[y * N + x] = in ? (p - mean) * w[y] * w[x] / 16 : 0;
    }
  forward(block.get(), re.get(), im.get());
  constexpr int S = N + 1;
  for (int i = 0; i <= N; ++i)
    for (int j = N / 2; j <= N; ++j) {
      const int idx = mod(i - N / 2, N) * W + (j - N / 2);
      const int sign = ((i + j) & 1) ? -1 : 1;
      out_re[i * S + j] = sign * re[idx];
      out_im[i * S + j] = sign * im[idx];
    }
  for (int i = 0; i <= N; ++i)
    for (int j = 0; j < N / 2; ++j) {
      out_re[i * S + j] = out_re[(N - i) * S + (N - j)];
      out_im[i * S + j] = -out_im[(N - i) * S + (N - j)];
    }
  return ML_OK;
}

uint32_t isqrt64(uint64_t v) {
  if (v <= 0xFFFFFFFFu) return zyl::matchlib::fx_isqrt32(static_cast<uint32_t>(v));
  uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<long double>(v)));
  while (r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return static_cast<uint32_t>(r);
}

inline int sector_of(int dy, int dx) { return (zyl::matchlib::fx_atan2(dy, dx) >> 3) & 15; }

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

// Magnitude t = 4 (|re| + |im|) shown as t >> 10, 255 above 0x3FFFF. The sum
// is formed in 64 bits so a huge coefficient saturates instead of wrapping
// to a small byte.
void zyl::matchlib::spectrum_to_bytes(uint8_t* out, const int32_t* re, const int32_t* im, int n) {
  if (!out || !re || !im || n < 2) return;
  for (int i = 0; i < n; ++i)
    for (int x = 0; x < n; ++x) {
      const int k = half_index(i - n / 2, x - n / 2, n);
      const uint64_t t = (uabs(re[k]) + uabs(im[k])) * 4;
      out[i * n + x] = t > 0x3FFFF ? 255 : static_cast<uint8_t>(t >> 10);
    }
}

int zyl::matchlib::spectrum_tile16(const uint8_t* image, int height, int width, int top, int left,
                                   int window_type, int32_t* out_re, int32_t* out_im) {
  return spectrum_tile<16>(image, height, width, top, left, window_type, out_re, out_im,
                           zyl::matchlib::fft2d_forward16);
}
extern "C" ZYL_API int spectrum_tile32(const uint8_t* image, int height, int width, int top,
                                       int left, int window_type, int32_t* out_re,
                                       int32_t* out_im) {
  return spectrum_tile<32>(image, height, width, top, left, window_type, out_re, out_im,
                           zyl::matchlib::fft2d_forward32);
}
extern "C" ZYL_API int spectrum_tile64(const uint8_t* image, int height, int width, int top,
                                       int left, int window_type, int32_t* out_re,
                                       int32_t* out_im) {
  return spectrum_tile<64>(image, height, width, top, left, window_type, out_re, out_im,
                           zyl::matchlib::fft2d_forward64);
}

// Squares of the absolute values are summed in 64 bits: coefficients of
// 2^16 or more would wrap a 32-bit sum.
void zyl::matchlib::spectrum_magnitude(const int32_t* re, const int32_t* im, int n, uint32_t* out) {
  if (!re || !im || !out || n < 2) return;
  const int s = n + 1;
  for (int i = 0; i <= n / 2; ++i)
    for (int j = 0; j <= n; ++j) {
      const uint64_t a = uabs(re[i * s + j]), b = uabs(im[i * s + j]);
      out[i * s + j] = isqrt64(a * a + b * b);
    }
  for (int i = n / 2 + 1; i <= n; ++i)
    for (int j = 0; j <= n; ++j) out[i * s + j] = out[(n - i) * s + (n - j)];
}

extern "C" ZYL_API void spectrum_phase(const int32_t* re, const int32_t* im, int n, uint8_t* out) {
  if (!re || !im || !out || n < 2) return;
  const int s = n + 1;
  for (int i = 0; i <= n / 2; ++i)
    for (int j = 0; j <= n; ++j)
      out[i * s + j] = static_cast<uint8_t>(zyl::matchlib::fx_atan2(im[i * s + j], re[i * s + j]));
  for (int i = n / 2 + 1; i <= n; ++i)
    for (int j = 0; j <= n; ++j) out[i * s + j] = static_cast<uint8_t>(~out[(n - i) * s + (n - j)]);
}

// A window narrower than two samples has no slope (the slope divides by
// a - 1); it stays all 0 like the two-sample one.
void zyl::matchlib::window_taper(uint8_t* out, int length, int a) {
  if (!out || length <= 0) return;
  std::memset(out, 0, length);
  if (length < 2 || a < 2) return;
  const int64_t b = 131072 / (a - 1);
  const int64_t f = -((length - a) / 2);
  for (int i = 0; i < length / 2; ++i) {
    const int64_t v = std::clamp<int64_t>(((f + i) * b + 127) >> 8, 0, 255);
    out[i] = out[length - 1 - i] = static_cast<uint8_t>(v);
  }
}

void zyl::matchlib::window_gauss(uint8_t* out, int length, int a) {
  if (!out || length <= 0) return;
  std::memset(out, 0, length);
  const int64_t s = int64_t{length} * a / 512;
  if (s <= 0) return;
  for (int i = 0; i < length / 2; ++i) {
    const int64_t x = (256 * int64_t{i} - 256 * int64_t{length / 2}) / s;
    const int64_t e = -(x * x) / 512;
    const int v = e < INT32_MIN ? 0 : zyl::matchlib::fx_exp(static_cast<int>(e));
    out[i] = out[length - 1 - i] = static_cast<uint8_t>(std::min(255, v));
  }
}

int zyl::matchlib::fftfilt_keep_dominant_cb(int32_t* re, int32_t* im, int n, void*, int, void*) {
  constexpr int N = 32, C = N / 2;
  if (!re || !im) return ML_BAD_ARGUMENT;
  if (n != N) return ML_WRONG_KIND;
  uint8_t mag[N * N];
  zyl::matchlib::spectrum_to_bytes(mag, re, im, N);
  auto at = [&](int dy, int dx) { return int64_t{mag[(C + dy) * N + C + dx]}; };

  // Radial histogram and the ring holding the middle 40 % of the energy.
  int64_t radial[17] = {};
  int64_t total = 0;
  for (int dy = -8; dy <= 8; ++dy)
    for (int dx = -8; dx <= 8; ++dx) {
      const int r2 = dy * dy + dx * dx;
      if (r2 > 63) continue;
      radial[zyl::matchlib::fx_isqrt30_round(r2)] += at(dy, dx);
      total += at(dy, dx);
    }
  const int64_t u = total * 30 / 100;
  int inner = 16, outer = 0;
  for (int64_t run = 0, i = 0; i <= 16; ++i) {
    run += radial[i];
    if (run > u) {
      inner = static_cast<int>(i);
      break;
    }
  }
  for (int64_t run = 0, i = 16; i >= 0; --i) {
    run += radial[i];
    if (run > u) {
      outer = static_cast<int>(i);
      break;
    }
  }
  const int lo2 = inner * inner, hi2 = outer * outer;
  auto in_ring = [&](int r2) { return r2 >= lo2 && r2 <= hi2; };

  // Angular histogram of the ring in 16 sectors.
  int64_t sum[16] = {}, count[16] = {}, value[16] = {};
  for (int dy = -8; dy <= 8; ++dy)
    for (int dx = -8; dx <= 8; ++dx) {
      if (!in_ring(dy * dy + dx * dx)) continue;
      const int s = sector_of(dy, dx);
      sum[s] += at(dy, dx);
      ++count[s];
    }
  for (int s = 0; s < 16; ++s) value[s] = count[s] ? sum[s] / count[s] : 0;
  for (int s = 0; s < 16; ++s)
    if (!count[s]) value[s] = (value[(s + 15) & 15] + value[(s + 1) & 15]) >> 1;

  // Grow a run of sectors from the strongest one until it holds over 40 %.
  int64_t all = 0;
  int best = 0;
  for (int s = 0; s < 16; ++s) {
    all += value[s];
    if (value[s] > value[best]) best = s;
  }
  bool keep[16] = {};
  keep[best] = true;
  int lo = best, hi = best, length = 1;
  int64_t acc = value[best];
  for (int steps = 0; acc * 10 <= all * 4 && steps < 16 && length < 16; ++steps) {
    const int up = (hi + 1) & 15, down = (lo + 15) & 15;
    if (value[up] >= value[down]) {
      hi = up;
      acc += value[up];
      keep[up] = true;
    } else {
      lo = down;
      acc += value[down];
      keep[down] = true;
    }
    ++length;
  }

  for (int dy = -16; dy < 16; ++dy)
    for (int dx = -16; dx < 16; ++dx) {
      if (dy == 0 && dx == 0) continue;
      if (in_ring(dy * dy + dx * dx) && keep[sector_of(dy, dx)]) continue;
      // The coefficient that holds the frequency: its own, or for every
      // negative horizontal frequency the conjugate one.
      const int k = dx < 0 ? mod(-dy, N) * (C + 1) - dx : mod(dy, N) * (C + 1) + dx;
      re[k] = 0;
      im[k] = 0;
    }
  return ML_OK;
}

extern "C" {

ZYL_API void spectrum_to_bytes(uint8_t* out, const int32_t* re, const int32_t* im, int n) {
  zyl::matchlib::spectrum_to_bytes(out, re, im, n);
}
ZYL_API int spectrum_tile16(const uint8_t* image, int height, int width, int top, int left,
                            int window_type, int32_t* out_re, int32_t* out_im) {
  return zyl::matchlib::spectrum_tile16(image, height, width, top, left, window_type, out_re,
                                        out_im);
}
ZYL_API void spectrum_magnitude(const int32_t* re, const int32_t* im, int n, uint32_t* out) {
  zyl::matchlib::spectrum_magnitude(re, im, n, out);
}
ZYL_API void window_taper(uint8_t* out, int length, int a) {
  zyl::matchlib::window_taper(out, length, a);
}
ZYL_API void window_gauss(uint8_t* out, int length, int a) {
  zyl::matchlib::window_gauss(out, length, a);
}
ZYL_API int fftfilt_keep_dominant_cb(int32_t* re, int32_t* im, int n, void* arg3, int arg4,
                                     void* arg5) {
  return zyl::matchlib::fftfilt_keep_dominant_cb(re, im, n, arg3, arg4, arg5);
}

}  // extern "C"
