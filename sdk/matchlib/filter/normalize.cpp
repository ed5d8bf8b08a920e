// Grey-level normalisation over masked blocks, sliding windows and blocks
// with prepared maps, and the whole-image variants without callers.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/filter/normalize_gain.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/filter/normalize.h"
#include "matchlib/filter/normalize_global.h"
#include "matchlib/image/block_stats.h"
#include "matchlib/image/window_stats.h"

namespace zyl::matchlib {
namespace {

bool bad_image(const void* src, int h, int w, const void* dst) {
  return !src || !dst || h < 0 || w < 0;
}

// Window and block forms take the deviation's square modulo 2^16.
std::uint32_t square16(int deviation) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(deviation) *
                                    static_cast<std::uint32_t>(deviation));
}

void apply_gain(const std::uint8_t* src, std::size_t n, int centre, int target,
                std::uint32_t variance, std::uint32_t d, std::uint8_t* out) {
  const std::int64_t g = normalize_gain(d & 0xFFFFFFu, variance);
  for (std::size_t i = 0; i < n; ++i) out[i] = normalize_map(src[i], centre, target, g);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int imgproc_apply_gain(const uint8_t* pixels, int height, int width, int centre,
                                          int target, uint32_t variance, uint32_t squared_deviation,
                                          uint8_t* out) {
  if (bad_image(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  apply_gain(pixels, static_cast<std::size_t>(height) * width, centre, target, variance,
             squared_deviation, out);
  return ML_OK;
}

int zyl::matchlib::imgproc_normalize_global_masked(const uint8_t* pixels, int height, int width,
                                                   const uint8_t* block_mask, int block,
                                                   int block_rows, int block_columns,
                                                   int target_mean, int target_deviation,
                                                   uint8_t* out) {
  if (bad_image(pixels, height, width, out) || !block_mask || block < 1 || block_rows < 0 ||
      block_columns < 0 || std::int64_t{block_rows} * block > height ||
      std::int64_t{block_columns} * block > width)
    return ML_BAD_ARGUMENT;
  const std::size_t blocks = static_cast<std::size_t>(block_rows) * block_columns;
  Scratch<uint8_t> means(blocks);
  Scratch<uint16_t> vars(blocks);
  if (!means || !vars) return ML_NO_MEMORY;
  int st = zyl::matchlib::block_mean<std::uint8_t>(pixels, width, block, block_rows, block_columns,
                                                   means.get());
  if (st == ML_OK)
    st = zyl::matchlib::img_block_variance_u8(pixels, height, width, means.get(), block, block_rows,
                                              block_columns, vars.get());
  if (st != ML_OK) return st;
  std::uint64_t mean_sum = 0, var_sum = 0, count = 0;
  for (std::size_t k = 0; k < blocks; ++k)
    if (block_mask[k]) {
      mean_sum += means[k];
      var_sum += vars[k];
      ++count;
    }
  const int c = count ? static_cast<int>(mean_sum / count) : 0;
  const auto v = count ? static_cast<std::uint32_t>(var_sum / count) : 0u;
  const int t = (static_cast<uint8_t>(target_mean) + c) >> 1;
  // The full square: this form alone keeps deviations above 255 whole.
  const std::uint32_t d =
      static_cast<std::uint32_t>(target_deviation) * static_cast<std::uint32_t>(target_deviation);
  apply_gain(pixels, static_cast<std::size_t>(height) * width, c, t, v, d, out);
  return ML_OK;
}

int zyl::matchlib::imgproc_normalize_local(const uint8_t* pixels, int height, int width,
                                           const uint8_t* mask, int radius, int target_mean,
                                           int target_deviation, uint8_t* out) {
  if (bad_image(pixels, height, width, out) || radius < 0) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  if (n == 0) return ML_OK;
  Scratch<uint8_t> mean(n);
  Scratch<uint16_t> var(n);
  if (!mean || !var) return ML_NO_MEMORY;
  int st = zyl::matchlib::filter_box_mean_u8(pixels, height, width, radius, mean.get());
  if (st == ML_OK)
    st = zyl::matchlib::filter_local_variance_u8(pixels, height, width, radius, var.get());
  if (st != ML_OK) return st;
  const std::uint32_t d = square16(target_deviation);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t v = (mask && !mask[i]) ? 65025u : var[i];
    out[i] = normalize_map(pixels[i], mean[i], target_mean, normalize_gain(d, v));
  }
  return ML_OK;
}

int zyl::matchlib::imgproc_normalize_local_ring(const uint8_t* pixels, int height, int width,
                                                int radius, int target_mean, int target_deviation,
                                                uint8_t* out) {
  if (radius > 7) return ML_BAD_ARGUMENT;
  if (bad_image(pixels, height, width, out) || radius < 0) return ML_BAD_ARGUMENT;
  const std::size_t h = static_cast<std::size_t>(height), w = static_cast<std::size_t>(width);
  if (h == 0 || w == 0) return ML_OK;
  // Integral tables of sums and of squares; the windows are at most 15 x 15
  // pixels, so every window sum fits the 32-bit arithmetic of the rule.
  const std::size_t stride = w + 1;
  Scratch<std::uint32_t> sums((h + 1) * stride, true), squares((h + 1) * stride, true);
  if (!sums || !squares) return ML_NO_MEMORY;
  for (std::size_t y = 0; y < h; ++y) {
    std::uint32_t row = 0, row_sq = 0;
    for (std::size_t x = 0; x < w; ++x) {
      const std::uint32_t p = pixels[y * w + x];
      row += p;
      row_sq += p * p;
      sums[(y + 1) * stride + x + 1] = sums[y * stride + x + 1] + row;
      squares[(y + 1) * stride + x + 1] = squares[y * stride + x + 1] + row_sq;
    }
  }
  const std::uint32_t d = square16(target_deviation);
  // Rows above a pixel are read from the integrals, so the output may be
  // the input once the tables are built.
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(y - radius, 0), y1 = std::min(y + radius + 1, height);
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(x - radius, 0), x1 = std::min(x + radius + 1, width);
      auto box = [&](const std::uint32_t* t) {
        return static_cast<std::int32_t>(t[y1 * stride + x1] - t[y0 * stride + x1] -
                                         t[y1 * stride + x0] + t[y0 * stride + x0]);
      };
      const std::int32_t s = box(sums.get()), q = box(squares.get());
      const std::int32_t count = (y1 - y0) * (x1 - x0);
      const std::int32_t u = s * 16 / count;
      const std::int32_t spread = (q * 16 - s * u) / count;
      const std::uint16_t v = static_cast<std::uint16_t>(spread / 16);
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      out[i] = v == 0 ? static_cast<uint8_t>(target_mean)
                      : normalize_map(pixels[i], u / 16, target_mean, normalize_gain(d, v));
    }
  }
  return ML_OK;
}

int zyl::matchlib::imgproc_normalize_blocks_apply(const uint8_t* pixels, int width,
                                                  const uint8_t* block_mask, int block,
                                                  int block_rows, int block_columns,
                                                  int target_mean, int target_deviation,
                                                  const uint8_t* local_mean,
                                                  const uint16_t* block_variance, uint8_t* out) {
  if (!pixels || !local_mean || !block_variance || !out || width < 0 || block < 1 ||
      block_rows < 0 || block_columns < 0 || std::int64_t{block_columns} * block > width)
    return ML_BAD_ARGUMENT;
  const std::uint32_t d = square16(target_deviation);
  const std::size_t w = static_cast<std::size_t>(width);
  for (int bi = 0; bi < block_rows; ++bi)
    for (int bj = 0; bj < block_columns; ++bj) {
      const std::size_t k = static_cast<std::size_t>(bi) * block_columns + bj;
      const bool foreground = !block_mask || block_mask[k];
      const std::int64_t g = foreground ? normalize_gain(d, block_variance[k]) : 0;
      for (int y = bi * block; y < (bi + 1) * block; ++y)
        for (int x = bj * block; x < (bj + 1) * block; ++x) {
          const std::size_t i = y * w + x;
          out[i] = foreground ? normalize_map(pixels[i], local_mean[i], target_mean, g) : 255;
        }
    }
  return ML_OK;
}

extern "C" ZYL_API int imgproc_normalize_global_127_80(const uint8_t* pixels, int height, int width,
                                                       uint8_t* out) {
  const int st = zyl::matchlib::imgproc_normalize_global(pixels, height, width, 127, 80, out);
  if (st != ML_OK) return st;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  for (std::size_t i = 0; i < n; ++i)
    if (out[i] == 255) out[i] = 254;
  return ML_OK;
}

int zyl::matchlib::imgproc_normalize_adaptive8(const uint8_t* pixels, int height, int width,
                                               int target_mean, int low_deviation,
                                               int high_deviation, uint8_t* out) {
  if (bad_image(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width);
  // Blocks of 8 x 8 pixels whose own variance exceeds 256 form the sample.
  std::uint64_t sum = 0, sum_sq = 0, count = 0;
  for (int by = 0; by + 8 <= height; by += 8)
    for (int bx = 0; bx + 8 <= width; bx += 8) {
      std::uint32_t s = 0, q = 0;
      for (int y = by; y < by + 8; ++y)
        for (int x = bx; x < bx + 8; ++x) {
          const std::uint32_t p = pixels[y * w + x];
          s += p;
          q += p * p;
        }
      const std::uint32_t m = s / 64;
      // Population variance about the block's truncated mean.
      const std::int64_t var = (std::int64_t{q} - 2 * std::int64_t{m} * s + 64 * std::int64_t{m} * m) / 64;
      if (var <= 256) continue;
      sum += s;
      sum_sq += q;
      count += 64;
    }
  int m = target_mean;
  std::uint32_t v = static_cast<std::uint32_t>(low_deviation * low_deviation);
  if (count) {
    m = static_cast<int>(sum / count);
    const std::int64_t mm = m;
    v = static_cast<std::uint32_t>(
        (static_cast<std::int64_t>(sum_sq) - 2 * mm * static_cast<std::int64_t>(sum) +
         static_cast<std::int64_t>(count) * mm * mm) /
        static_cast<std::int64_t>(count));
  }
  int dev = high_deviation;
  if (v < 500) dev = low_deviation;
  else if (v <= 2500) dev = low_deviation + (high_deviation - low_deviation) * (static_cast<int>(v) - 500) / 2000;
  apply_gain(pixels, static_cast<std::size_t>(height) * width, m, (target_mean + m) / 2, v,
             static_cast<std::uint32_t>(dev * dev), out);
  return ML_OK;
}

extern "C" {

ZYL_API int imgproc_normalize_global_masked(const uint8_t* pixels, int height, int width,
                                            const uint8_t* block_mask, int block, int block_rows,
                                            int block_columns, int target_mean,
                                            int target_deviation, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_global_masked(pixels, height, width, block_mask, block,
                                                        block_rows, block_columns, target_mean,
                                                        target_deviation, out);
}
ZYL_API int imgproc_normalize_local(const uint8_t* pixels, int height, int width,
                                    const uint8_t* mask, int radius, int target_mean,
                                    int target_deviation, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_local(pixels, height, width, mask, radius, target_mean,
                                                target_deviation, out);
}
ZYL_API int imgproc_normalize_local_ring(const uint8_t* pixels, int height, int width, int radius,
                                         int target_mean, int target_deviation, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_local_ring(pixels, height, width, radius, target_mean,
                                                     target_deviation, out);
}
ZYL_API int imgproc_normalize_blocks_apply(const uint8_t* pixels, int width,
                                           const uint8_t* block_mask, int block, int block_rows,
                                           int block_columns, int target_mean, int target_deviation,
                                           const uint8_t* local_mean,
                                           const uint16_t* block_variance, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_blocks_apply(pixels, width, block_mask, block, block_rows,
                                                       block_columns, target_mean, target_deviation,
                                                       local_mean, block_variance, out);
}
ZYL_API int imgproc_normalize_adaptive8(const uint8_t* pixels, int height, int width,
                                        int target_mean, int low_deviation, int high_deviation,
                                        uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_adaptive8(pixels, height, width, target_mean,
                                                    low_deviation, high_deviation, out);
}

}  // extern "C"
