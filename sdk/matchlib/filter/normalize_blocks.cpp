// Block normalisation: block statistics enlarged into a local mean image,
// then the per-block mapping; the filled and mid-range variants and the
// background flattening.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/image/filters3x3.h"
#include "matchlib/image/median3x3.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/filter/normalize.h"
#include "matchlib/filter/normalize_blocks.h"
#include "matchlib/image/block_stats.h"
#include "matchlib/image/segmentation.h"

namespace zyl::matchlib {
namespace {

bool bad_grid(const void* src, int h, int w, const void* dst, int block, int rows, int cols) {
  return !src || !dst || h < 0 || w < 0 || block < 1 || rows < 1 || cols < 1 ||
         std::int64_t{rows} * block > h || std::int64_t{cols} * block > w;
}

// What each block form prepares before the shared enlargement and mapping.
enum class BlockCentre { Mean, MidRange };

struct BlockMaps {
  Scratch<std::uint8_t> means;
  Scratch<std::uint16_t> vars;
  Scratch<std::uint8_t> local;
  bool ok() const { return means && vars && local; }
};

int map_blocks(const std::uint8_t* px, int h, int w, const std::uint8_t* mask, int block, int rows,
               int cols, int target_mean, int deviation, BlockMaps& maps, std::uint8_t* out) {
  const int st = zyl::matchlib::expand_bilinear<std::uint8_t>(maps.means.get(), rows, cols, block,
                                                              maps.local.get(), h, w);
  if (st != ML_OK) return st;
  return zyl::matchlib::imgproc_normalize_blocks_apply(px, w, mask, block, rows, cols, target_mean,
                                                       deviation, maps.local.get(), maps.vars.get(),
                                                       out);
}

int normalize_blocks(const std::uint8_t* px, int h, int w, const std::uint8_t* mask, int block,
                     int rows, int cols, int target_mean, int deviation, std::uint8_t* out,
                     BlockCentre centre) {
  if (bad_grid(px, h, w, out, block, rows, cols)) return ML_BAD_ARGUMENT;
  const std::size_t blocks = static_cast<std::size_t>(rows) * cols;
  const std::size_t n = static_cast<std::size_t>(h) * w;
  BlockMaps maps{Scratch<std::uint8_t>(blocks), Scratch<std::uint16_t>(blocks),
                 Scratch<std::uint8_t>(n)};
  Scratch<std::uint8_t> filtered, extremes;
  if (centre == BlockCentre::MidRange) {
    filtered = Scratch<std::uint8_t>(n);
    extremes = Scratch<std::uint8_t>(2 * blocks);
    if (!filtered || !extremes) return ML_NO_MEMORY;
  }
  if (!maps.ok()) return ML_NO_MEMORY;
  const std::uint8_t* stats_px = px;
  int st = ML_OK;
  if (centre == BlockCentre::Mean) {
    st = zyl::matchlib::block_mean<std::uint8_t>(px, w, block, rows, cols, maps.means.get());
  } else {
    st = zyl::matchlib::median3x3<std::uint8_t>(px, h, w, filtered.get());
    if (st == ML_OK)
      st = zyl::matchlib::median3x3<std::uint8_t>(filtered.get(), h, w, filtered.get());
    std::uint8_t* lo = extremes.get();
    std::uint8_t* hi = lo + blocks;
    if (st == ML_OK)
      st = zyl::matchlib::block_minmax<std::uint8_t>(filtered.get(), h, w, block, rows, cols, lo,
                                                     hi);
    if (st == ML_OK)
      for (std::size_t k = 0; k < blocks; ++k)
        maps.means[k] = static_cast<std::uint8_t>((lo[k] + hi[k]) / 2);
    stats_px = filtered.get();
  }
  if (st == ML_OK && mask)
    st = zyl::matchlib::masked_mean3x3<std::uint8_t>(maps.means.get(), mask, rows, cols,
                                                     maps.means.get());
  if (st == ML_OK)
    st = zyl::matchlib::img_block_variance_u8(stats_px, h, w, maps.means.get(), block, rows, cols,
                                              maps.vars.get());
  if (st == ML_OK && mask)
    st = zyl::matchlib::masked_mean3x3<std::uint16_t>(maps.vars.get(), mask, rows, cols,
                                                      maps.vars.get());
  if (st == ML_OK)
    st = zyl::matchlib::box3x3<std::uint16_t>(maps.vars.get(), rows, cols, maps.vars.get());
  if (st != ML_OK) return st;
  // A flat block takes variance 100: its gain stays finite and modest.
  for (std::size_t k = 0; k < blocks; ++k) maps.vars[k] = std::max<std::uint16_t>(maps.vars[k], 100);
  return map_blocks(px, h, w, mask, block, rows, cols, target_mean, deviation, maps, out);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::imgproc_normalize_blocks(const uint8_t* pixels, int height, int width,
                                            const uint8_t* block_mask, int block, int block_rows,
                                            int block_columns, int target_mean,
                                            int target_deviation, uint8_t* out) {
  return normalize_blocks(pixels, height, width, block_mask, block, block_rows, block_columns,
                          target_mean, target_deviation, out, BlockCentre::Mean);
}

extern "C" ZYL_API int imgproc_normalize_blocks_midrange(const uint8_t* pixels, int height,
                                                         int width, const uint8_t* block_mask,
                                                         int block, int block_rows,
                                                         int block_columns, int target_mean,
                                                         int target_deviation, uint8_t* out) {
  return normalize_blocks(pixels, height, width, block_mask, block, block_rows, block_columns,
                          target_mean, target_deviation, out, BlockCentre::MidRange);
}

int zyl::matchlib::imgproc_normalize_blocks_filled(const uint8_t* pixels, int height, int width,
                                                   uint8_t* block_mask, int block, int block_rows,
                                                   int block_columns, int target_mean,
                                                   int target_deviation, uint8_t* out) {
  if (bad_grid(pixels, height, width, out, block, block_rows, block_columns) || !block_mask)
    return ML_BAD_ARGUMENT;
  const int rows = block_rows, cols = block_columns;
  const std::size_t blocks = static_cast<std::size_t>(rows) * cols;
  BlockMaps maps{Scratch<uint8_t>(blocks), Scratch<uint16_t>(blocks),
                 Scratch<uint8_t>(static_cast<std::size_t>(height) * width)};
  Scratch<uint8_t> means_before(blocks);
  Scratch<uint16_t> vars_before(blocks);
  if (!maps.ok() || !means_before || !vars_before) return ML_NO_MEMORY;
  int st =
      zyl::matchlib::block_mean<std::uint8_t>(pixels, width, block, rows, cols, maps.means.get());
  if (st == ML_OK)
    st = zyl::matchlib::img_block_variance_u8(pixels, height, width, maps.means.get(), block, rows,
                                              cols, maps.vars.get());
  if (st != ML_OK) return st;
  // Background blocks take the foreground's average statistics.
  std::uint64_t mean_sum = 0, var_sum = 0, count = 0;
  for (std::size_t k = 0; k < blocks; ++k)
    if (block_mask[k]) mean_sum += maps.means[k], var_sum += maps.vars[k], ++count;
  if (count)
    for (std::size_t k = 0; k < blocks; ++k)
      if (!block_mask[k]) {
        maps.means[k] = static_cast<uint8_t>(mean_sum / count);
        maps.vars[k] = static_cast<uint16_t>(var_sum / count);
      }
  // Foreground blocks on the region's edge take the mean of their
  // neighbours inside (255 for both when there is none), read as they
  // were before this step.
  zyl::matchlib::img_mark_region_border(block_mask, rows, cols);
  std::memcpy(means_before.get(), maps.means.get(), blocks);
  std::memcpy(vars_before.get(), maps.vars.get(), blocks * sizeof(uint16_t));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * cols + j;
      if (!(block_mask[k] & 0x02)) continue;
      std::uint32_t ms = 0, vs = 0, c = 0;
      for (int y = std::max(i - 1, 0); y <= std::min(i + 1, rows - 1); ++y)
        for (int x = std::max(j - 1, 0); x <= std::min(j + 1, cols - 1); ++x) {
          const std::size_t q = static_cast<std::size_t>(y) * cols + x;
          if (q == k || (block_mask[q] & 0x02)) continue;
          ms += means_before[q], vs += vars_before[q], ++c;
        }
      maps.means[k] = static_cast<uint8_t>(c ? ms / c : 255);
      maps.vars[k] = static_cast<uint16_t>(c ? vs / c : 255);
    }
  st = zyl::matchlib::binomial3x3<std::uint8_t>(maps.means.get(), rows, cols, maps.means.get());
  if (st == ML_OK)
    st = zyl::matchlib::binomial3x3<std::uint16_t>(maps.vars.get(), rows, cols, maps.vars.get());
  if (st != ML_OK) return st;
  return map_blocks(pixels, height, width, block_mask, block, rows, cols, target_mean,
                    target_deviation, maps, out);
}

extern "C" ZYL_API int imgproc_flatten_background(const uint8_t* pixels, int height, int width,
                                                  int level, uint8_t* out) {
  const int rows = height / 8, cols = width / 8;
  if (bad_grid(pixels, height, width, out, 8, rows, cols)) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  Scratch<uint8_t> means(static_cast<std::size_t>(rows) * cols), local(n);
  if (!means || !local) return ML_NO_MEMORY;
  int st = zyl::matchlib::block_mean<std::uint8_t>(pixels, width, 8, rows, cols, means.get());
  for (int round = 0; round < 2 && st == ML_OK; ++round)
    st = zyl::matchlib::box3x3<std::uint8_t>(means.get(), rows, cols, means.get());
  if (st == ML_OK)
    st = zyl::matchlib::expand_bilinear<std::uint8_t>(means.get(), rows, cols, 8, local.get(),
                                                      height, width);
  if (st != ML_OK) return st;
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(std::clamp(level + pixels[i] - local[i], 0, 255));
  return ML_OK;
}

extern "C" {

ZYL_API int imgproc_normalize_blocks(const uint8_t* pixels, int height, int width,
                                     const uint8_t* block_mask, int block, int block_rows,
                                     int block_columns, int target_mean, int target_deviation,
                                     uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_blocks(pixels, height, width, block_mask, block,
                                                 block_rows, block_columns, target_mean,
                                                 target_deviation, out);
}
ZYL_API int imgproc_normalize_blocks_filled(const uint8_t* pixels, int height, int width,
                                            uint8_t* block_mask, int block, int block_rows,
                                            int block_columns, int target_mean,
                                            int target_deviation, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_blocks_filled(pixels, height, width, block_mask, block,
                                                        block_rows, block_columns, target_mean,
                                                        target_deviation, out);
}

}  // extern "C"
