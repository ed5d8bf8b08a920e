// Grey-level histograms, the statistics taken from them, and point-wise
// maps of 8-bit images.
#include <cstdint>
#include <cstring>

#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/histogram.h"

namespace zyl::matchlib {
namespace {

std::size_t pixel_count(int height, int width) {
  if (height <= 0 || width <= 0) return 0;
  return static_cast<std::size_t>(height) * static_cast<std::size_t>(width);
}

// Histogram sums in 64 bits: the same as 32-bit sums wherever those do not
// overflow (a 32-bit sum of squared distances overflows on large images of
// high contrast).
struct Moments {
  std::uint64_t n = 0, m1 = 0;
};

Moments moments(const int32_t* hist) {
  Moments m;
  for (int v = 0; v < 256; ++v) {
    const std::uint64_t c = static_cast<std::uint32_t>(hist[v]);
    m.n += c;
    m.m1 += c * static_cast<std::uint64_t>(v);
  }
  return m;
}

std::uint64_t spread(const int32_t* hist, uint8_t centre) {
  std::uint64_t v = 0;
  for (int k = 0; k < 256; ++k) {
    const std::int64_t d = k - centre;
    v += static_cast<std::uint32_t>(hist[k]) * static_cast<std::uint64_t>(d * d);
  }
  return v;
}

std::uint64_t isqrt64(std::uint64_t a) {
  std::uint64_t r = 0, bit = std::uint64_t{1} << 62;
  while (bit > a) bit >>= 2;
  while (bit) {
    if (a >= r + bit) {
      a -= r + bit;
      r = (r >> 1) + bit;
    } else {
      r >>= 1;
    }
    bit >>= 2;
  }
  return r;
}

// Whole-level root of a variance: the root of v << 18 taken down by 9 bits.
// In 64 bits the shift cannot wrap for variances of 16384 and more.
uint8_t root_levels(std::uint64_t v) { return static_cast<uint8_t>(isqrt64(v << 18) >> 9); }

// 16 x variance before it is cut to 16 bits.
std::uint64_t variance_x16_wide(const int32_t* hist, uint8_t centre) {
  const Moments m = moments(hist);
  if (m.n == 0) return 0;
  const std::uint64_t v = spread(hist, centre);
  if (v > 268435455u) {
    const std::uint64_t n16 = m.n >> 4;
    return n16 ? v / n16 : (v << 4) / m.n;
  }
  return (v << 4) / m.n;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::hist_build_u8(const uint8_t* pixels, int height, int width, int32_t* hist) {
  if (!hist) return;
  std::memset(hist, 0, 256 * sizeof(int32_t));
  if (!pixels) return;
  const std::size_t n = pixel_count(height, width);
  for (std::size_t k = 0; k < n; ++k) ++hist[pixels[k]];
}

void zyl::matchlib::hist_build_s8(const int8_t* pixels, int height, int width, int32_t* hist) {
  if (!hist) return;
  std::memset(hist, 0, 256 * sizeof(int32_t));
  if (!pixels) return;
  const std::size_t n = pixel_count(height, width);
  for (std::size_t k = 0; k < n; ++k) ++hist[128 + pixels[k]];
}

extern "C" ZYL_API void hist_build_bits_u8(const uint8_t* pixels, int height, int width, int bits,
                                           int32_t* hist) {
  // Bins for 1 .. 8 bits; other widths have no bins to count into.
  if (!hist || bits < 1 || bits > 8) return;
  std::memset(hist, 0, (std::size_t{1} << bits) * sizeof(int32_t));
  if (!pixels) return;
  const std::size_t n = pixel_count(height, width);
  for (std::size_t k = 0; k < n; ++k) ++hist[pixels[k] >> (8 - bits)];
}

// An empty histogram gives 0 from every statistic; the guard lives here so
// that no caller divides by zero.
uint8_t zyl::matchlib::hist_mean(const int32_t* hist) {
  if (!hist) return 0;
  const Moments m = moments(hist);
  return m.n ? static_cast<uint8_t>(m.m1 / m.n) : 0;
}

uint32_t zyl::matchlib::hist_variance(const int32_t* hist, uint8_t centre) {
  if (!hist) return 0;
  const Moments m = moments(hist);
  return m.n ? static_cast<uint32_t>(spread(hist, centre) / m.n) : 0;
}

extern "C" ZYL_API uint16_t hist_variance_x16(const int32_t* hist, uint8_t centre) {
  if (!hist) return 0;
  return static_cast<uint16_t>(variance_x16_wide(hist, centre));
}

uint8_t zyl::matchlib::hist_stddev(const int32_t* hist, uint8_t centre) {
  return root_levels(zyl::matchlib::hist_variance(hist, centre));
}

// The root is taken of 16 x variance before its cut to 16 bits, so that
// variances of 4096 and more give their true deviation instead of a wrapped
// one; below 4096 the value is the same.
uint32_t zyl::matchlib::hist_stddev_x4(const int32_t* hist, uint8_t centre) {
  if (!hist) return 0;
  std::uint64_t x16 = variance_x16_wide(hist, centre);
  if (x16 > 0x3FFFFFFFu) x16 = 0x3FFFFFFFu;
  return zyl::matchlib::fx_isqrt30_round(static_cast<uint32_t>(x16));
}

uint16_t zyl::matchlib::img_variance_hist_u8(const uint8_t* pixels, int height, int width,
                                             uint8_t* mean_out) {
  int32_t hist[256];
  zyl::matchlib::hist_build_u8(pixels, height, width, hist);
  const uint8_t m = zyl::matchlib::hist_mean(hist);
  if (mean_out) *mean_out = m;
  return static_cast<uint16_t>(zyl::matchlib::hist_variance(hist, m));
}

uint8_t zyl::matchlib::img_stddev_hist_u8(const uint8_t* pixels, int height, int width,
                                          uint8_t* mean_out) {
  return root_levels(zyl::matchlib::img_variance_hist_u8(pixels, height, width, mean_out));
}

void zyl::matchlib::img_invert_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  if (!src || !dst) return;
  const std::size_t n = pixel_count(height, width);
  for (std::size_t k = 0; k < n; ++k) dst[k] = static_cast<uint8_t>(255 - src[k]);
}

extern "C" ZYL_API void bilevel_invert(const uint8_t* src, int height, int width, uint8_t* dst) {
  if (!src || !dst) return;
  const std::size_t n = pixel_count(height, width);
  for (std::size_t k = 0; k < n; ++k) dst[k] = src[k] == 0;
}

extern "C" ZYL_API void map_not_equal_u8(const uint8_t* src, int height, int width, uint8_t value,
                                         uint8_t* dst) {
  if (!src || !dst) return;
  // Sizes are 16-bit counts here.
  const std::size_t n = std::size_t{static_cast<uint16_t>(height)} * static_cast<uint16_t>(width);
  for (std::size_t k = 0; k < n; ++k) dst[k] = src[k] != value;
}

extern "C" {

ZYL_API void hist_build_u8(const uint8_t* pixels, int height, int width, int32_t* hist) {
  zyl::matchlib::hist_build_u8(pixels, height, width, hist);
}
ZYL_API void hist_build_s8(const int8_t* pixels, int height, int width, int32_t* hist) {
  zyl::matchlib::hist_build_s8(pixels, height, width, hist);
}
ZYL_API uint8_t hist_mean(const int32_t* hist) { return zyl::matchlib::hist_mean(hist); }
ZYL_API uint32_t hist_variance(const int32_t* hist, uint8_t centre) {
  return zyl::matchlib::hist_variance(hist, centre);
}
ZYL_API uint8_t hist_stddev(const int32_t* hist, uint8_t centre) {
  return zyl::matchlib::hist_stddev(hist, centre);
}
ZYL_API uint32_t hist_stddev_x4(const int32_t* hist, uint8_t centre) {
  return zyl::matchlib::hist_stddev_x4(hist, centre);
}
ZYL_API uint16_t img_variance_hist_u8(const uint8_t* pixels, int height, int width,
                                      uint8_t* mean_out) {
  return zyl::matchlib::img_variance_hist_u8(pixels, height, width, mean_out);
}
ZYL_API uint8_t img_stddev_hist_u8(const uint8_t* pixels, int height, int width,
                                   uint8_t* mean_out) {
  return zyl::matchlib::img_stddev_hist_u8(pixels, height, width, mean_out);
}
ZYL_API void img_invert_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  zyl::matchlib::img_invert_u8(src, height, width, dst);
}

}  // extern "C"
