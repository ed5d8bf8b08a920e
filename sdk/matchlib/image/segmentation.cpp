// Local-variance foreground segmentation, the window vote filters, the
// iterative histogram threshold, distances inside a mask, and region
// borders of byte maps.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"
#include "matchlib/image/checker.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/grey_morphology.h"
#include "matchlib/image/histogram.h"
#include "matchlib/image/segmentation.h"
#include "matchlib/image/window_stats.h"

namespace zyl::matchlib {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

template <class T>
Buffer<T> alloc_array(std::size_t n) {
  return Buffer<T>(static_cast<T*>(ml_malloc((n ? n : 1) * sizeof(T))));
}

// The window vote: out = 255 where the marked cells of the (2r+1)^2
// window, clipped at the borders, exceed `percent` % of its area, else 0.
// Counts come from an integral table, so the cost does not depend on the
// radius (and no count can overflow, whatever the window). `marked` is
// read completely before `out` is written, so both may be one buffer.
template <class IsMarked>
int vote(int height, int width, int radius, int percent, IsMarked is_marked, std::uint8_t* out) {
  const std::size_t h = height, w = width, stride = w + 1;
  auto sums = alloc_array<std::int32_t>((h + 1) * stride);
  if (!sums) return ML_NO_MEMORY;
  std::fill(sums.get(), sums.get() + stride, 0);
  for (std::size_t i = 0; i < h; ++i) {
    std::int32_t row = 0;
    sums[(i + 1) * stride] = 0;
    for (std::size_t j = 0; j < w; ++j) {
      row += is_marked(i * w + j) ? 1 : 0;
      sums[(i + 1) * stride + j + 1] = sums[i * stride + j + 1] + row;
    }
  }
  const long r = radius;
  for (long i = 0; i < height; ++i) {
    const long top = std::max(0L, i - r), bottom = std::min<long>(height - 1, i + r);
    for (long j = 0; j < width; ++j) {
      const long left = std::max(0L, j - r), right = std::min<long>(width - 1, j + r);
      const std::int64_t count = std::int64_t{sums[(bottom + 1) * stride + right + 1]} -
                                 sums[top * stride + right + 1] -
                                 sums[(bottom + 1) * stride + left] + sums[top * stride + left];
      const std::int64_t area = (bottom - top + 1) * (right - left + 1);
      out[i * w + j] = count * 100 > std::int64_t{percent} * area ? 255 : 0;
    }
  }
  return ML_OK;
}

bool sizes_ok(const void* a, const void* b, int height, int width) {
  return a && b && height > 0 && width > 0;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::imgproc_segment_local_variance(const uint8_t* pixels, int height, int width,
                                                  int threshold, int percent, uint8_t* out) {
  if (!sizes_ok(pixels, out, height, width)) return ML_BAD_ARGUMENT;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  std::memset(out, 255, n);
  auto variance = alloc_array<std::uint16_t>(n);
  if (!variance) return ML_NO_MEMORY;
  const int st = zyl::matchlib::filter_local_variance_u8(pixels, height, width, 4, variance.get());
  if (st != ML_OK) return st;
  const std::uint16_t* v = variance.get();
  return vote(height, width, 8, percent, [v, threshold](std::size_t i) { return v[i] >= threshold; },
              out);
}

int zyl::matchlib::filter_vote_percent_u8(const uint8_t* map, int height, int width, int radius,
                                          int percent, uint8_t* out) {
  if (!sizes_ok(map, out, height, width) || radius < 0) return ML_BAD_ARGUMENT;
  return vote(height, width, radius, percent, [map](std::size_t i) { return map[i] != 0; }, out);
}

extern "C" ZYL_API int img_binarize_u16_vote(const uint16_t* values, int height, int width,
                                             int radius, int threshold, int percent, uint8_t* out) {
  if (!sizes_ok(values, out, height, width)) return ML_BAD_ARGUMENT;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  for (std::size_t i = 0; i < n; ++i) out[i] = values[i] >= threshold ? 1 : 0;
  return zyl::matchlib::filter_vote_percent_u8(out, height, width, radius, percent, out);
}

int zyl::matchlib::hist_threshold_iterative(const uint8_t* pixels, int height, int width,
                                            int start) {
  if (!pixels || height <= 0 || width <= 0) return std::clamp(start, 0, 255);
  std::int32_t hist[256];
  zyl::matchlib::hist_build_u8(pixels, height, width, hist);
  auto mean = [&](int from, int to, int fallback) {
    std::int64_t sum = 0, count = 0;
    for (int k = from; k < to; ++k) {
      sum += std::int64_t{k} * hist[k];
      count += hist[k];
    }
    return count ? static_cast<int>(sum / count) : fallback;
  };
  int t = std::clamp(start, 0, 256);
  int next = t;
  // The threshold settles within a few rounds; the bound only guards
  // against a cycle of steps larger than 2.
  for (int round = 0; round < 256; ++round) {
    const int lower = mean(0, t, t);
    const int upper = mean(t, 256, t);
    next = (upper + 4 * lower) / 5;
    if (std::abs(next - t) <= 2) break;
    t = next;
  }
  return next;
}

int zyl::matchlib::img_distance_in_mask(int height, int width, const uint8_t* mask, int rounds,
                                        uint8_t* out) {
  if (!sizes_ok(mask, out, height, width)) return ML_BAD_ARGUMENT;
  const std::size_t h = height, w = width, n = h * w;
  std::memset(out, 255, n);
  auto next = alloc_array<std::uint8_t>(n);
  if (!next) return ML_NO_MEMORY;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < h; ++i) {
      for (std::size_t j = 0; j < w; ++j) {
        const std::size_t at = i * w + j;
        if (!mask[at]) {
          next[at] = 0;
          continue;
        }
        int smallest = 255;
        for (std::size_t y = i ? i - 1 : 0; y <= std::min(h - 1, i + 1); ++y)
          for (std::size_t x = j ? j - 1 : 0; x <= std::min(w - 1, j + 1); ++x)
            smallest = std::min<int>(smallest, out[y * w + x]);
        next[at] = static_cast<std::uint8_t>(std::min(int{out[at]}, smallest + 1));
      }
    }
    std::memcpy(out, next.get(), n);
  }
  return ML_OK;
}

extern "C" ZYL_API int img_smooth_foreground(const uint8_t* pixels, int height, int width,
                                             uint8_t* out) {
  if (!sizes_ok(pixels, out, height, width)) return ML_BAD_ARGUMENT;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  auto work = alloc_array<std::uint8_t>(n);
  auto range = alloc_array<std::uint8_t>(n);
  int st = work && range ? ML_OK : ML_NO_MEMORY;
  if (st == ML_OK)
    st = zyl::matchlib::imgproc_open_close_mean3x3(pixels, height, width, work.get());
  if (st == ML_OK)
    st = zyl::matchlib::filter_local_range_disk_u8(work.get(), height, width, 5, range.get());
  for (int round = 0; round < 10 && st == ML_OK; ++round)
    st = zyl::matchlib::binomial3x3<std::uint8_t>(static_cast<const std::uint8_t*>(range.get()),
                                                  height, width, range.get());
  if (st != ML_OK) {
    std::memset(out, 0, n);
    return st;
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = range[i] > 48 ? 1 : 0;
  return ML_OK;
}

extern "C" ZYL_API void img_clear_outside_rect(uint8_t* map, int height, int width, int first_row,
                                               int last_row, int first_column, int last_column) {
  if (!map || height <= 0 || width <= 0) return;
  for (int i = 0; i < height; ++i) {
    uint8_t* row = map + std::size_t(i) * width;
    if (i < first_row || i > last_row) {
      std::memset(row, 0, width);
      continue;
    }
    for (int j = 0; j < width; ++j)
      if (j < first_column || j > last_column) row[j] = 0;
  }
}

int zyl::matchlib::img_is_region_border(const uint8_t* map, int height, int width, int row,
                                        int column, int flags) {
  if (!map || row < 0 || column < 0 || row >= height || column >= width) return 0;
  auto at = [&](int r, int c) { return map[std::size_t(r) * width + c]; };
  const bool set = at(row, column) != 0;
  if (set && (flags & 2)) {
    if (row == 0 || column == 0 || row == height - 1 || column == width - 1) return 1;
    return !at(row - 1, column) || !at(row + 1, column) || !at(row, column - 1) ||
                   !at(row, column + 1)
               ? 1
               : 0;
  }
  if (!set && (flags & 4)) {
    return (row > 0 && at(row - 1, column)) || (row + 1 < height && at(row + 1, column)) ||
                   (column > 0 && at(row, column - 1)) ||
                   (column + 1 < width && at(row, column + 1))
               ? 1
               : 0;
  }
  return 0;
}

void zyl::matchlib::img_mark_region_border(uint8_t* map, int height, int width) {
  if (!map || height <= 0 || width <= 0) return;
  // Marking only ORs a bit into non-zero cells, so the zero tests below
  // see the map as it was.
  for (int i = 0; i < height; ++i)
    for (int j = 0; j < width; ++j)
      if (zyl::matchlib::img_is_region_border(map, height, width, i, j, 2))
        map[std::size_t(i) * width + j] |= 0x02;
}

extern "C" {

ZYL_API int imgproc_segment_local_variance(const uint8_t* pixels, int height, int width,
                                           int threshold, int percent, uint8_t* out) {
  return zyl::matchlib::imgproc_segment_local_variance(pixels, height, width, threshold, percent,
                                                       out);
}
ZYL_API int filter_vote_percent_u8(const uint8_t* map, int height, int width, int radius,
                                   int percent, uint8_t* out) {
  return zyl::matchlib::filter_vote_percent_u8(map, height, width, radius, percent, out);
}
ZYL_API int hist_threshold_iterative(const uint8_t* pixels, int height, int width, int start) {
  return zyl::matchlib::hist_threshold_iterative(pixels, height, width, start);
}
ZYL_API int img_distance_in_mask(int height, int width, const uint8_t* mask, int rounds,
                                 uint8_t* out) {
  return zyl::matchlib::img_distance_in_mask(height, width, mask, rounds, out);
}
ZYL_API int img_is_region_border(const uint8_t* map, int height, int width, int row, int column,
                                 int flags) {
  return zyl::matchlib::img_is_region_border(map, height, width, row, column, flags);
}
ZYL_API void img_mark_region_border(uint8_t* map, int height, int width) {
  zyl::matchlib::img_mark_region_border(map, height, width);
}

}  // extern "C"
