// Foreground segmentation by blocks: each block of a grid is foreground or
// background from its darkness and its gradient energy, with thresholds
// found on the image's own block maps, and the block map is then cleaned
// by a fixed sequence of region operations.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/filter/block_segmentation.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_segmentation.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_rescale.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/bilevel_morphology.h"
#include "matchlib/image/gradient_variance.h"
#include "matchlib/filter/normalize_global.h"
#include "matchlib/image/region_tools.h"
#include "matchlib/image/rescale.h"
#include "matchlib/image/segmentation.h"

namespace zyl::matchlib {
namespace {

// Block boundaries along one side of `length` pixels cut into `count`
// blocks of side b, the leftover g = length - count*b (less than count)
// spread over the grid: block k covers start(k) .. start(k+1) - 1, and
// start(count) is the length. With no leftover these are the plain blocks.
struct Spread {
  long b, g, count;
  long start(long k) const { return k * b + (k + 1) * g / count; }
};

struct BlockGrid {
  Spread rows, cols;
  long row_begin(long i) const { return rows.start(i); }
  long row_end(long i) const { return rows.start(i + 1); }
  long col_begin(long j) const { return cols.start(j); }
  long col_end(long j) const { return cols.start(j + 1); }
};

// Clears a set border block that has at most 2 of the listed neighbours
// set; neighbours outside the grid do not count.
void clear_sparse(uint8_t* map, int rows, int cols, int i, int j,
                  std::initializer_list<std::pair<int, int>> neighbours) {
  if (i < 0 || j < 0 || i >= rows || j >= cols) return;
  uint8_t& cell = map[static_cast<std::size_t>(i) * cols + j];
  if (!cell) return;
  int set = 0;
  for (auto [dy, dx] : neighbours) {
    const int y = i + dy, x = j + dx;
    if (y >= 0 && x >= 0 && y < rows && x < cols) set += map[static_cast<std::size_t>(y) * cols + x] != 0;
  }
  if (set <= 2) cell = 0;
}

int segment(const uint8_t* pixels, int height, int width, int rows, int cols, int n,
            uint8_t* out, int half, int normalise) {
  if (!pixels || !out || rows <= 0 || cols <= 0 || n <= 0) return ML_BAD_ARGUMENT;
  if (static_cast<long>(height) != static_cast<long>(rows) * n ||
      static_cast<long>(width) != static_cast<long>(cols) * n)
    return ML_BAD_ARGUMENT;
  const std::size_t cells = static_cast<std::size_t>(rows) * cols;
  Scratch<uint8_t> means(cells), energies(cells);
  if (!means || !energies) return ML_NO_MEMORY;

  const int halved = half == 1 ? 1 : 0;
  const int hw = height / (1 + halved), ww = width / (1 + halved);
  int b = n;
  Scratch<uint8_t> working;
  const uint8_t* work = pixels;
  if (halved || normalise) {
    working = Scratch<uint8_t>(static_cast<std::size_t>(hw) * ww);
    if (!working) return ML_NO_MEMORY;
    if (halved) {
      const int st = zyl::matchlib::img_resize_u8(pixels, height, width, working.get(), hw, ww);
      if (st != ML_OK) return st;
      b = n / 2;
    } else {
      std::memcpy(working.get(), pixels, static_cast<std::size_t>(hw) * ww);
    }
    zyl::matchlib::imgproc_normalize_global(working.get(), hw, ww, 127, 80, working.get());
    work = working.get();
  }

  const BlockGrid grid{{b, hw - static_cast<long>(rows) * b, rows},
                       {b, ww - static_cast<long>(cols) * b, cols}};
  // Block means over the block rectangles (for an even side these are the
  // plain grid and the means those of img_block_mean_u8).
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      std::uint64_t sum = 0;
      for (long y = grid.row_begin(i); y < grid.row_end(i); ++y)
        for (long x = grid.col_begin(j); x < grid.col_end(j); ++x) sum += work[y * ww + x];
      const std::uint64_t count =
          static_cast<std::uint64_t>(grid.row_end(i) - grid.row_begin(i)) * (grid.col_end(j) - grid.col_begin(j));
      // A block of no pixels (a side of 1 at half size) counts as black.
      means[static_cast<std::size_t>(i) * cols + j] = count ? static_cast<uint8_t>(sum / count) : 0;
    }
  const int dark = zyl::matchlib::hist_threshold_iterative(means.get(), rows, cols, 128);

  Scratch<int8_t> gx(static_cast<std::size_t>(hw) * ww), gy(static_cast<std::size_t>(hw) * ww);
  if (!gx || !gy) return ML_NO_MEMORY;
  zyl::matchlib::filter_sobel_s8(work, hw, ww, gx.get(), gy.get());
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      std::uint64_t sum = 0;
      for (long y = grid.row_begin(i); y < grid.row_end(i); ++y)
        for (long x = grid.col_begin(j); x < grid.col_end(j); ++x) {
          const int a = gx[y * ww + x], c = gy[y * ww + x];
          sum += zyl::matchlib::fx_isqrt16_alt(static_cast<uint16_t>(a * a + c * c));
        }
      const std::uint64_t count =
          static_cast<std::uint64_t>(grid.row_end(i) - grid.row_begin(i)) * (grid.col_end(j) - grid.col_begin(j));
      const std::uint64_t energy = count ? sum * 8 / count : 0;
      energies[static_cast<std::size_t>(i) * cols + j] = static_cast<uint8_t>(std::min<std::uint64_t>(energy, 255));
    }
  int busy = zyl::matchlib::hist_threshold_iterative(energies.get(), rows, cols, 64);
  if (busy >= 128) busy = 128;

  for (std::size_t k = 0; k < cells; ++k)
    out[k] = means[k] < dark ? 1 : energies[k] > busy ? 1 : 0;

  int st = zyl::matchlib::bilevel_remove_isolated(out, rows, cols, out);
  if (st != ML_OK) return st;
  clear_sparse_border(out, rows, cols);
  if ((st = zyl::matchlib::mask_keep_largest_component(out, rows, cols)) != ML_OK) return st;
  if ((st = zyl::matchlib::img_fill_holes(out, rows, cols, 1)) != ML_OK) return st;
  if ((st = zyl::matchlib::bilevel_open3x3(out, rows, cols, out)) != ML_OK) return st;
  return zyl::matchlib::bilevel_majority3x3(out, rows, cols, out);
}

}  // namespace

void clear_sparse_border(uint8_t* map, int rows, int cols) {
  const int last_r = rows - 1, last_c = cols - 1;
  clear_sparse(map, rows, cols, 0, 0, {{0, 1}, {1, 0}, {1, 1}});
  clear_sparse(map, rows, cols, 0, last_c, {{0, -1}, {1, 0}, {1, -1}});
  clear_sparse(map, rows, cols, last_r, 0, {{0, 1}, {-1, 0}, {-1, 1}});
  clear_sparse(map, rows, cols, last_r, last_c, {{0, -1}, {-1, 0}, {-1, -1}});
  for (int j = 1; j <= cols - 2; ++j) {
    clear_sparse(map, rows, cols, 0, j, {{0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}});
    clear_sparse(map, rows, cols, last_r, j, {{0, -1}, {0, 1}, {-1, -1}, {-1, 0}, {-1, 1}});
  }
  for (int i = 1; i <= rows - 2; ++i) {
    clear_sparse(map, rows, cols, i, 0, {{-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}});
    clear_sparse(map, rows, cols, i, last_c, {{-1, 0}, {1, 0}, {-1, -1}, {0, -1}, {1, -1}});
  }
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::imgproc_segment_blocks(const uint8_t* pixels, int height, int width, int rows,
                                          int cols, int n, uint8_t* out, int half, int normalise) {
  return segment(pixels, height, width, rows, cols, n, out, half, normalise);
}

int zyl::matchlib::imgproc_segment_blocks_half(const uint8_t* pixels, int height, int width,
                                               int rows, int cols, int n, uint8_t* out) {
  return segment(pixels, height, width, rows, cols, n, out, 1, 1);
}

extern "C" {

ZYL_API int imgproc_segment_blocks(const uint8_t* pixels, int height, int width, int rows, int cols,
                                   int n, uint8_t* out, int half, int normalise) {
  return zyl::matchlib::imgproc_segment_blocks(pixels, height, width, rows, cols, n, out, half,
                                               normalise);
}
ZYL_API int imgproc_segment_blocks_half(const uint8_t* pixels, int height, int width, int rows,
                                        int cols, int n, uint8_t* out) {
  return zyl::matchlib::imgproc_segment_blocks_half(pixels, height, width, rows, cols, n, out);
}

}  // extern "C"
