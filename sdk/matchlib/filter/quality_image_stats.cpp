// Single-number statistics of 8-bit images that the image object caches:
// the bright-pixel share, the Laplacian spread, the robust block grey range
// and the ridge-presence test; and the normalised preview.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_gradient.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_segmentation.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/image/gradient_kernels.h"
#include "matchlib/filter/normalize.h"
#include "matchlib/filter/quality_image_stats.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/stretch.h"
#include "matchlib/filter/block_segmentation.h"
#include "matchlib/image/block_stats.h"
#include "matchlib/image/histogram.h"
#include "matchlib/image/image_stats.h"
#include "matchlib/image/median3x3.h"
#include "matchlib/image/rescale.h"
#include "matchlib/image/window_copy.h"

namespace zyl::matchlib {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool bad_image(const void* pixels, int h, int w) { return !pixels || h <= 0 || w <= 0; }

// 3x3 median of the image followed by a stretch between its 5 % percentiles.
int median_and_stretch(const std::uint8_t* pixels, int h, int w, Bytes& out) {
  const std::size_t n = static_cast<std::size_t>(h) * static_cast<std::size_t>(w);
  Bytes median(n);
  out.assign(n, 0);
  int rc = zyl::matchlib::median3x3<std::uint8_t>(pixels, static_cast<std::uint32_t>(h),
                                                  static_cast<std::uint32_t>(w), median.data());
  if (rc != ML_OK) return rc;
  return zyl::matchlib::imgproc_stretch_percentile(median.data(), h, w, 5, out.data());
}

std::uint8_t bright_share(std::uint64_t bright, std::uint64_t total) {
  return total ? static_cast<std::uint8_t>(bright * 100 / total) : 0;
}

// Mean block variance of the smoothed central window, or -1 when the window
// holds less than one whole block (the caller answers 2).
int mean_window_variance(const std::uint8_t* pixels, int h, int w, int scale) {
  const int b = 16 / scale;
  const int wh = std::min(h, 256 / scale);
  const int ww = std::min(w, 192 / scale);
  if (wh < b || ww < b) return -1;
  const std::size_t n = static_cast<std::size_t>(wh) * static_cast<std::size_t>(ww);
  Bytes window(n), work(n);
  zyl::matchlib::copy_centered<std::uint8_t>(
      pixels, static_cast<std::uint32_t>(h), static_cast<std::uint32_t>(w),
      static_cast<std::uint32_t>(wh), static_cast<std::uint32_t>(ww), window.data());
  zyl::matchlib::median3x3<std::uint8_t>(window.data(), static_cast<std::uint32_t>(wh),
                                         static_cast<std::uint32_t>(ww), work.data());
  if (scale == 1) {
    zyl::matchlib::box3x3<std::uint8_t>(work.data(), wh, ww, window.data());
    zyl::matchlib::box3x3<std::uint8_t>(window.data(), wh, ww, work.data());
  }
  const int rows = wh / b, cols = ww / b;
  Bytes means(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
  std::vector<std::uint16_t> variances(means.size());
  zyl::matchlib::block_mean<std::uint8_t>(work.data(), ww, b, rows, cols, means.data());
  zyl::matchlib::img_block_variance_u8(work.data(), wh, ww, means.data(), b, rows, cols,
                                       variances.data());
  std::uint64_t sum = 0;
  for (std::uint16_t v : variances) sum += v;
  return static_cast<int>(sum / variances.size());
}

struct BlockContrast {
  std::uint8_t range = 0, spread = 0;
};

// Range of the band-passed image and spread of the flattened image for
// each whole 16 x 16 block.
std::vector<BlockContrast> block_contrasts(const Bytes& band, const Bytes& flat, int h, int w) {
  constexpr int b = 16;
  const int rows = h / b, cols = w / b;
  std::vector<BlockContrast> blocks(static_cast<std::size_t>(rows) * cols);
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj) {
      std::int32_t hist[256] = {};
      int lo = 255, hi = 0;
      for (int y = bi * b; y < bi * b + b; ++y)
        for (int x = bj * b; x < bj * b + b; ++x) {
          const std::size_t i = static_cast<std::size_t>(y) * w + x;
          lo = std::min<int>(lo, band[i]);
          hi = std::max<int>(hi, band[i]);
          ++hist[flat[i]];
        }
      const int s = zyl::matchlib::hist_stddev(hist, zyl::matchlib::hist_mean(hist));
      blocks[static_cast<std::size_t>(bi) * cols + bj] = {
          static_cast<std::uint8_t>(hi - lo), static_cast<std::uint8_t>(s < 64 ? 4 * s : 255)};
    }
  return blocks;
}

void fill_block_maps(const std::vector<BlockContrast>& blocks, int h, int w, std::uint8_t* ratio,
                     std::uint8_t* range, std::uint8_t* spread) {
  constexpr int b = 16;
  const std::size_t n = static_cast<std::size_t>(h) * w;
  for (std::uint8_t* m : {ratio, range, spread})
    if (m) std::fill_n(m, n, 0);
  const int cols = w / b;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const BlockContrast& c = blocks[k];
    const std::uint8_t r =
        c.spread ? static_cast<std::uint8_t>(std::min(255, c.range * 8 / c.spread)) : 255;
    const int y0 = static_cast<int>(k / cols) * b, x0 = static_cast<int>(k % cols) * b;
    for (int y = y0; y < y0 + b; ++y) {
      const std::size_t row = static_cast<std::size_t>(y) * w + x0;
      if (ratio) std::fill_n(ratio + row, b, r);
      if (range) std::fill_n(range + row, b, c.range);
      if (spread) std::fill_n(spread + row, b, c.spread);
    }
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::imgstat_block_contrast(const uint8_t* pixels, int height, int width,
                                          int resolution, uint8_t* contrast, uint8_t* mean_range,
                                          uint8_t* mean_spread, uint8_t* ratio_map,
                                          uint8_t* range_map, uint8_t* spread_map) {
  if (contrast) *contrast = 0;
  if (!pixels || !contrast || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  if (height < 16 || width < 16) return ML_TOO_POOR;
  const std::size_t n = static_cast<std::size_t>(height) * static_cast<std::size_t>(width);
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    Bytes band(n), flat(n);
    int rc = zyl::matchlib::fftfilt_radial_u8(pixels, height, width, resolution, 64, 0, 1280, 128,
                                              0, band.data());
    if (rc != ML_OK) return rc;
    const int t = zyl::matchlib::image_mean<std::uint8_t>(band.data(), height, width);
    for (std::size_t i = 0; i < n; ++i)
      flat[i] = static_cast<std::uint8_t>(std::clamp(pixels[i] + t - band[i], 0, 255));
    const auto blocks = block_contrasts(band, flat, height, width);
    fill_block_maps(blocks, height, width, ratio_map, range_map, spread_map);
    // 64-bit sums and products: a large image's block sums pass 32 bits.
    std::uint64_t total_range = 0, spreads = 0;
    for (const BlockContrast& c : blocks) {
      total_range += c.range;
      spreads += c.spread;
    }
    const std::uint64_t blocks_n = blocks.size();
    const std::uint64_t g = total_range / blocks_n;
    std::uint64_t v = 0, i = 0;
    for (const BlockContrast& c : blocks)
      if (c.range > g / 2) {
        v += c.range;
        ++i;
      }
    if (mean_range) *mean_range = static_cast<std::uint8_t>(i ? v / i : 0);
    if (mean_spread) *mean_spread = static_cast<std::uint8_t>((spreads / 4) / blocks_n);
    if (i == 0)
      *contrast = 0;
    else if (spreads <= 3)
      *contrast = 255;
    else
      *contrast = static_cast<std::uint8_t>(
          std::min<std::uint64_t>(255, v * blocks_n * 8 / ((spreads / 4) * i)));
    return ML_OK;
  });
}

int zyl::matchlib::imgstat_bright_percent(const uint8_t* pixels, int height, int width,
                                          const uint8_t* mask, uint8_t* percent) {
  if (percent) *percent = 0;
  if (!percent || bad_image(pixels, height, width)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    Bytes s;
    if (int rc = median_and_stretch(pixels, height, width, s); rc != ML_OK) return rc;
    std::uint64_t bright = 0, total = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (mask && !mask[i]) continue;
      ++total;
      bright += s[i] >= 128;
    }
    *percent = bright_share(bright, total);
    return ML_OK;
  });
}

int zyl::matchlib::imgstat_bright_percent_blocks(const uint8_t* pixels, int height, int width,
                                                 int block_rows, int block_columns, int block,
                                                 const uint8_t* block_mask, uint8_t* percent) {
  if (percent) *percent = 0;
  if (!percent || bad_image(pixels, height, width) || block_rows < 1 || block_columns < 1 ||
      block < 1)
    return ML_BAD_ARGUMENT;
  // The grid must lie inside the image: a larger one would read past it.
  if (static_cast<std::int64_t>(block_rows) * block > height ||
      static_cast<std::int64_t>(block_columns) * block > width)
    return ML_BAD_ARGUMENT;
  if (block_rows < 3 || block_columns < 3) return ML_OK;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    Bytes s;
    if (int rc = median_and_stretch(pixels, height, width, s); rc != ML_OK) return rc;
    auto fg = [&](int i, int j) { return !block_mask || block_mask[i * block_columns + j]; };
    std::uint64_t bright = 0, total = 0;
    for (int i = 1; i + 1 < block_rows; ++i)
      for (int j = 1; j + 1 < block_columns; ++j) {
        if (!(fg(i, j) && fg(i - 1, j) && fg(i + 1, j) && fg(i, j - 1) && fg(i, j + 1))) continue;
        for (int y = i * block; y < (i + 1) * block; ++y) {
          const std::uint8_t* row = s.data() + static_cast<std::size_t>(y) * width;
          for (int x = j * block; x < (j + 1) * block; ++x) bright += row[x] >= 128;
        }
        total += static_cast<std::uint64_t>(block) * block;
      }
    *percent = bright_share(bright, total);
    return ML_OK;
  });
}

int zyl::matchlib::imgstat_laplacian_spread(const uint8_t* pixels, int height, int width,
                                            uint8_t* spread) {
  if (spread) *spread = 0;
  if (!spread || bad_image(pixels, height, width)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<std::int8_t> lap(static_cast<std::size_t>(height) * width);
    if (int rc = zyl::matchlib::filter_laplace_s8(pixels, height, width, lap.data()); rc != ML_OK)
      return rc;
    std::int32_t hist[256];
    zyl::matchlib::hist_build_s8(lap.data(), height, width, hist);
    *spread = static_cast<std::uint8_t>(std::min<std::uint32_t>(
        255, zyl::matchlib::hist_stddev_x4(hist, zyl::matchlib::hist_mean(hist))));
    return ML_OK;
  });
}

int zyl::matchlib::imgstat_block_range_mean(const uint8_t* pixels, int height, int width,
                                            uint8_t* range) {
  if (range) *range = 0;
  if (!range || !pixels || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const int rows = height / 16, cols = width / 16;
  if (rows == 0 || cols == 0) return ML_OK;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::vector<int> ranges;
    ranges.reserve(static_cast<std::size_t>(rows) * cols);
    std::int64_t total = 0;
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j) {
        std::int32_t hist[256] = {};
        for (int y = i * 16; y < i * 16 + 16; ++y) {
          const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * width + j * 16;
          for (int x = 0; x < 16; ++x) ++hist[row[x]];
        }
        std::uint8_t low = 0, high = 0;
        zyl::matchlib::hist_percentile_range(hist, 1, &low, &high);
        ranges.push_back(high - low);
        total += high - low;
      }
    const std::int64_t half = total / static_cast<std::int64_t>(ranges.size()) / 2;
    std::int64_t sum = 0, count = 0;
    for (int r : ranges)
      if (r > half) sum += r, ++count;
    *range = count ? static_cast<std::uint8_t>(sum / count) : 0;
    return ML_OK;
  });
}

int zyl::matchlib::imgstat_has_ridges_scaled(const uint8_t* pixels, int height, int width,
                                             int scale, int* flag) {
  if (flag) *flag = 0;
  if (!flag || bad_image(pixels, height, width) || (scale != 1 && scale != 2))
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    const int v = mean_window_variance(pixels, height, width, scale);
    if (v < 0) return ML_BAD_ARGUMENT;
    *flag = v > 20;
    return ML_OK;
  });
}

int zyl::matchlib::imgstat_has_ridges(const uint8_t* pixels, int height, int width, int* flag) {
  return zyl::matchlib::imgstat_has_ridges_scaled(pixels, height, width, 1, flag);
}

extern "C" ZYL_API int imgstat_has_ridges_nonempty(const uint8_t* pixels, int height, int width,
                                                   int scale, int* flag) {
  if (flag) *flag = 0;
  if (height == 0 || width == 0) return ML_BAD_ARGUMENT;
  return zyl::matchlib::imgstat_has_ridges_scaled(pixels, height, width, scale, flag);
}

int zyl::matchlib::imgproc_normalize_preview(const uint8_t* pixels, int height, int width,
                                             int out_height, int out_width, uint8_t* out) {
  if (!out || bad_image(pixels, height, width) || out_height <= 0 || out_width <= 0)
    return ML_BAD_ARGUMENT;
  uint8_t* raw = nullptr;
  std::uint32_t ch = 0, cw = 0;
  std::int32_t ry = 0, rx = 0;
  int rc = zyl::matchlib::img_crop_to_block_multiple(pixels, static_cast<std::uint32_t>(height),
                                                     static_cast<std::uint32_t>(width), 12, &raw,
                                                     &ch, &cw, &ry, &rx);
  std::unique_ptr<uint8_t, decltype(&std::free)> crop(raw, &std::free);
  if (rc != ML_OK) return rc;
  if (cw == 0 || ch < 16 || cw < 16) return ML_BAD_ARGUMENT;
  const int h = static_cast<int>(ch), w = static_cast<int>(cw);
  const std::size_t n_out = static_cast<std::size_t>(out_height) * out_width;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    const int v = mean_window_variance(crop.get(), h, w, 1);
    if (v < 0) return ML_BAD_ARGUMENT;
    if (v <= 20) {
      std::fill(out, out + n_out, 255);
      return ML_OK;
    }
    const int rows = h / 12, cols = w / 12;
    Bytes mask(static_cast<std::size_t>(rows) * cols), smooth(static_cast<std::size_t>(h) * w),
        normal(smooth.size()), result(n_out);
    if ((rc = zyl::matchlib::imgproc_segment_blocks_half(crop.get(), h, w, rows, cols, 12,
                                                         mask.data())) != ML_OK)
      return rc;
    if ((rc = zyl::matchlib::box3x3<std::uint8_t>(crop.get(), h, w, smooth.data())) != ML_OK)
      return rc;
    if ((rc = zyl::matchlib::imgproc_normalize_global_masked(
             smooth.data(), h, w, mask.data(), 12, rows, cols, 150, 300, normal.data())) != ML_OK)
      return rc;
    // Resized into a scratch buffer first so that a failure leaves the
    // caller's output untouched.
    if ((rc = zyl::matchlib::img_resize_u8(normal.data(), ch, cw, result.data(),
                                           static_cast<std::uint32_t>(out_height),
                                           static_cast<std::uint32_t>(out_width))) != ML_OK)
      return rc;
    std::copy(result.begin(), result.end(), out);
    return ML_OK;
  });
}

extern "C" {

ZYL_API int imgstat_block_contrast(const uint8_t* pixels, int height, int width, int resolution,
                                   uint8_t* contrast, uint8_t* mean_range, uint8_t* mean_spread,
                                   uint8_t* ratio_map, uint8_t* range_map, uint8_t* spread_map) {
  return zyl::matchlib::imgstat_block_contrast(pixels, height, width, resolution, contrast,
                                               mean_range, mean_spread, ratio_map, range_map,
                                               spread_map);
}
ZYL_API int imgstat_bright_percent(const uint8_t* pixels, int height, int width,
                                   const uint8_t* mask, uint8_t* percent) {
  return zyl::matchlib::imgstat_bright_percent(pixels, height, width, mask, percent);
}
ZYL_API int imgstat_bright_percent_blocks(const uint8_t* pixels, int height, int width,
                                          int block_rows, int block_columns, int block,
                                          const uint8_t* block_mask, uint8_t* percent) {
  return zyl::matchlib::imgstat_bright_percent_blocks(pixels, height, width, block_rows,
                                                      block_columns, block, block_mask, percent);
}
ZYL_API int imgstat_laplacian_spread(const uint8_t* pixels, int height, int width,
                                     uint8_t* spread) {
  return zyl::matchlib::imgstat_laplacian_spread(pixels, height, width, spread);
}
ZYL_API int imgstat_block_range_mean(const uint8_t* pixels, int height, int width, uint8_t* range) {
  return zyl::matchlib::imgstat_block_range_mean(pixels, height, width, range);
}
ZYL_API int imgstat_has_ridges_scaled(const uint8_t* pixels, int height, int width, int scale,
                                      int* flag) {
  return zyl::matchlib::imgstat_has_ridges_scaled(pixels, height, width, scale, flag);
}
ZYL_API int imgstat_has_ridges(const uint8_t* pixels, int height, int width, int* flag) {
  return zyl::matchlib::imgstat_has_ridges(pixels, height, width, flag);
}
ZYL_API int imgproc_normalize_preview(const uint8_t* pixels, int height, int width, int out_height,
                                      int out_width, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_preview(pixels, height, width, out_height, out_width,
                                                  out);
}

}  // extern "C"
