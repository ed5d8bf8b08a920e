// Contrast stretches: between histogram percentile levels, linear and
// min-max stretches, and the equalisation by recursive mean splitting.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_stretch.h"
#include "matchlib/image/stretch.h"
#include "matchlib/image/histogram.h"

namespace zyl::matchlib {
namespace {

bool bad_image(const void* src, int h, int w, const void* dst) {
  return !src || !dst || h < 0 || w < 0;
}

void percentile_range(const std::int32_t* hist, int percent, std::uint8_t* low,
                      std::uint8_t* high) {
  std::uint64_t total = 0;
  for (int i = 0; i < 256; ++i) total += static_cast<std::uint32_t>(hist[i]);
  const std::uint64_t t = static_cast<std::uint64_t>(std::max(percent, 0)) * total / 100;
  int lo = 0, hi = 0;
  std::uint64_t running = 0;
  for (int i = 0; i < 256; ++i) {
    running += static_cast<std::uint32_t>(hist[i]);
    if (running > t) {
      lo = i;
      break;
    }
  }
  running = 0;
  for (int j = 255; j >= 1; --j) {
    running += static_cast<std::uint32_t>(hist[j]);
    if (running > t) {
      hi = j;
      break;
    }
  }
  if (lo == hi) {
    if (lo == 0) hi = 1;
    else --lo;
  }
  *low = static_cast<std::uint8_t>(lo);
  *high = static_cast<std::uint8_t>(hi);
}

// Maps every pixel above low to min(255, (x - low) * 255 / range) in
// unsigned arithmetic (a negative range, from a downward scan that found
// nothing, maps everything to 0), the others to 0.
void stretch_levels(const std::uint8_t* src, std::size_t n, int low, int range,
                    std::uint8_t* out) {
  const std::uint32_t r = static_cast<std::uint32_t>(range);
  for (std::size_t i = 0; i < n; ++i) {
    const int x = src[i];
    out[i] = x > low ? static_cast<std::uint8_t>(
                           std::min<std::uint32_t>(255, static_cast<std::uint32_t>(x - low) * 255u / r))
                     : 0;
  }
}

// The stretch between the percentile levels of a prepared histogram.
int stretch_by_histogram(const std::uint8_t* src, int h, int w, const std::int32_t* hist,
                         int percent, std::uint8_t* out) {
  // From 50 % up the two levels meet or cross and the stretch would blank
  // the image; 100 % and more is the documented "no stretch".
  if (percent >= 50 && percent < 100) return ML_BAD_ARGUMENT;
  int low = 0, range = 255;
  if (percent < 100) {
    std::uint8_t lo = 0, hi = 0;
    percentile_range(hist, percent, &lo, &hi);
    low = lo;
    range = hi - lo;
  }
  stretch_levels(src, static_cast<std::size_t>(h) * w, low, range, out);
  return ML_OK;
}

template <class T, class Out>
int stretch_minmax(const T* src, int h, int w, Out* out, std::int64_t top, std::int64_t shift) {
  if (bad_image(src, h, w, out)) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(h) * w;
  if (n == 0) return ML_OK;
  const auto [mn, mx] = std::minmax_element(src, src + n);
  const std::int64_t lo = *mn, hi = *mx;
  if (hi <= lo) {
    if (static_cast<const void*>(src) != static_cast<const void*>(out))
      std::memmove(out, src, n * sizeof(T));
    return ML_OK;
  }
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<Out>((std::int64_t{src[i]} - lo) * top / (hi - lo) - shift);
  return ML_OK;
}

struct EqualizeTables {
  std::uint64_t count[256];  // pixels at levels 0..i
  std::uint64_t sum[256];    // sum of their levels
  std::uint8_t level[256];
};

void split(EqualizeTables& t, int low, int high, int bit) {
  if (low > high || t.count[high] == t.count[low]) return;
  const int b = static_cast<int>((t.sum[high] - t.sum[low]) / (t.count[high] - t.count[low]));
  if (b < high)
    for (int k = b + 1; k <= high; ++k) t.level[k] |= static_cast<std::uint8_t>(1u << bit);
  if (bit == 2) return;
  split(t, low, b, bit - 1);
  split(t, b + 1, high, bit - 1);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::hist_percentile_range(const int32_t* hist, int percent, uint8_t* low,
                                          uint8_t* high) {
  if (!hist || !low || !high || percent >= 100) return;
  percentile_range(hist, percent, low, high);
}

void zyl::matchlib::imgstat_percentile_range(const uint8_t* pixels, int height, int width,
                                             int percent, uint8_t* low, uint8_t* high) {
  if (!pixels || !low || !high || height < 0 || width < 0 || percent >= 100) return;
  int32_t hist[256];
  zyl::matchlib::hist_build_u8(pixels, height, width, hist);
  percentile_range(hist, percent, low, high);
}

int zyl::matchlib::imgproc_stretch_percentile(const uint8_t* pixels, int height, int width,
                                              int percent, uint8_t* out) {
  if (bad_image(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  int32_t hist[256];
  zyl::matchlib::hist_build_u8(pixels, height, width, hist);
  return stretch_by_histogram(pixels, height, width, hist, percent, out);
}

int zyl::matchlib::imgproc_stretch_percentile_below(const uint8_t* pixels, int height, int width,
                                                    int percent, int cutoff, uint8_t* out) {
  if (bad_image(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  int32_t hist[256];
  zyl::matchlib::hist_build_u8(pixels, height, width, hist);
  for (int i = static_cast<uint8_t>(cutoff); i < 256; ++i) hist[i] = 0;
  return stretch_by_histogram(pixels, height, width, hist, percent, out);
}

int zyl::matchlib::imgproc_stretch_percentile_masked(const uint8_t* pixels, int height, int width,
                                                     int percent, const uint8_t* block_mask,
                                                     int block_rows, int block_columns, int block,
                                                     uint8_t* out) {
  if (bad_image(pixels, height, width, out) || !block_mask || block_rows < 0 ||
      block_columns < 0 || block < 0)
    return ML_BAD_ARGUMENT;
  int32_t hist[256] = {};
  const std::size_t w = static_cast<std::size_t>(width);
  for (int bi = 0; bi < block_rows; ++bi)
    for (int bj = 0; bj < block_columns; ++bj) {
      if (!block_mask[bi * block_columns + bj]) continue;
      const int y1 = static_cast<int>(std::min<std::int64_t>(height, std::int64_t{bi + 1} * block));
      const int x1 = static_cast<int>(std::min<std::int64_t>(width, std::int64_t{bj + 1} * block));
      for (std::int64_t y = std::int64_t{bi} * block; y < y1; ++y)
        for (std::int64_t x = std::int64_t{bj} * block; x < x1; ++x) ++hist[pixels[y * w + x]];
    }
  return stretch_by_histogram(pixels, height, width, hist, percent, out);
}

int zyl::matchlib::imgproc_stretch_range(const uint8_t* pixels, int height, int width, int low,
                                         int high, int fill, int top, uint8_t* out) {
  if (bad_image(pixels, height, width, out) || high <= low) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  const std::int64_t range = std::int64_t{high} - low;
  for (std::size_t i = 0; i < n; ++i) {
    const int x = pixels[i];
    const std::int64_t v = static_cast<uint8_t>(x > low ? x - low : fill);
    out[i] = static_cast<uint8_t>(std::min<std::int64_t>(top, v * top / range));
  }
  return ML_OK;
}

extern "C" ZYL_API int imgproc_stretch_between(const uint8_t* pixels, int height, int width,
                                               int low, int high, uint8_t* out) {
  if (bad_image(pixels, height, width, out) || high <= low) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  const std::int64_t range = std::int64_t{high} - low;
  for (std::size_t i = 0; i < n; ++i) {
    const int x = pixels[i];
    out[i] = x > low ? static_cast<uint8_t>(std::min<std::int64_t>(255, (x - low) * 255 / range))
                     : 0;
  }
  return ML_OK;
}

extern "C" ZYL_API int imgproc_stretch_minmax_s8(const int8_t* pixels, int height, int width,
                                                 int8_t* out) {
  return stretch_minmax(pixels, height, width, out, 255, 128);
}

extern "C" ZYL_API int imgproc_stretch_minmax_u16(const uint16_t* pixels, int height, int width,
                                                  uint16_t* out) {
  return stretch_minmax(pixels, height, width, out, 65535, 0);
}

extern "C" ZYL_API int imgproc_stretch_minmax_s16(const int16_t* pixels, int height, int width,
                                                  int16_t* out) {
  return stretch_minmax(pixels, height, width, out, 65535, 32768);
}

int zyl::matchlib::imgproc_equalize_recursive(const uint8_t* pixels, int height, int width,
                                              uint8_t* out) {
  if (bad_image(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  Scratch<EqualizeTables> tables(1, true);
  if (!tables) return ML_NO_MEMORY;
  EqualizeTables& t = *tables.get();
  int32_t hist[256];
  zyl::matchlib::hist_build_u8(pixels, height, width, hist);
  std::uint64_t count = 0, sum = 0;
  for (int i = 0; i < 256; ++i) {
    count += static_cast<std::uint32_t>(hist[i]);
    sum += std::uint64_t{static_cast<std::uint32_t>(hist[i])} * i;
    t.count[i] = count;
    t.sum[i] = sum;
  }
  split(t, 0, 255, 7);
  const std::size_t n = static_cast<std::size_t>(height) * width;
  for (std::size_t i = 0; i < n; ++i) out[i] = t.level[pixels[i]];
  return ML_OK;
}

extern "C" {

ZYL_API void hist_percentile_range(const int32_t* hist, int percent, uint8_t* low, uint8_t* high) {
  zyl::matchlib::hist_percentile_range(hist, percent, low, high);
}
ZYL_API void imgstat_percentile_range(const uint8_t* pixels, int height, int width, int percent,
                                      uint8_t* low, uint8_t* high) {
  zyl::matchlib::imgstat_percentile_range(pixels, height, width, percent, low, high);
}
ZYL_API int imgproc_stretch_percentile(const uint8_t* pixels, int height, int width, int percent,
                                       uint8_t* out) {
  return zyl::matchlib::imgproc_stretch_percentile(pixels, height, width, percent, out);
}
ZYL_API int imgproc_stretch_percentile_below(const uint8_t* pixels, int height, int width,
                                             int percent, int cutoff, uint8_t* out) {
  return zyl::matchlib::imgproc_stretch_percentile_below(pixels, height, width, percent, cutoff,
                                                         out);
}
ZYL_API int imgproc_stretch_percentile_masked(const uint8_t* pixels, int height, int width,
                                              int percent, const uint8_t* block_mask,
                                              int block_rows, int block_columns, int block,
                                              uint8_t* out) {
  return zyl::matchlib::imgproc_stretch_percentile_masked(
      pixels, height, width, percent, block_mask, block_rows, block_columns, block, out);
}
ZYL_API int imgproc_stretch_range(const uint8_t* pixels, int height, int width, int low, int high,
                                  int fill, int top, uint8_t* out) {
  return zyl::matchlib::imgproc_stretch_range(pixels, height, width, low, high, fill, top, out);
}
ZYL_API int imgproc_equalize_recursive(const uint8_t* pixels, int height, int width, uint8_t* out) {
  return zyl::matchlib::imgproc_equalize_recursive(pixels, height, width, out);
}

}  // extern "C"
