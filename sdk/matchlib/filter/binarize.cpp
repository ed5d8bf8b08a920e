// Binarisers of signed grey maps: block percentiles (byte and bit-packed
// forms), the global mean, the directional line mean and the two-scale
// centre-surround test.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_binarize.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/binarize.h"

namespace zyl::matchlib {
namespace {

// Threshold of every block whose mask byte is set (every block without a
// mask): the value of the first histogram bin, from the lowest value up,
// at which reached(running count) holds; 127 when none does.
template <class Reached>
void block_thresholds(const std::int8_t* grey, int w, const std::uint8_t* mask, int block,
                      int rows, int cols, std::int8_t* thr, Reached reached) {
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj) {
      const int k = bi * cols + bj;
      if (mask && !mask[k]) continue;
      std::uint32_t hist[256] = {};
      for (int y = bi * block; y < (bi + 1) * block; ++y) {
        const std::int8_t* row = grey + static_cast<std::size_t>(y) * w + bj * block;
        for (int x = 0; x < block; ++x) ++hist[row[x] + 128];
      }
      int t = 127;
      std::uint32_t running = 0;
      for (int b = 0; b < 256; ++b) {
        running += hist[b];
        if (reached(running)) {
          t = b - 128;
          break;
        }
      }
      thr[k] = static_cast<std::int8_t>(t);
    }
}

bool bad_sizes(int h, int w, int block) { return h < 0 || w < 0 || block < 1; }

int blocks_percentile(const std::int8_t* grey, int h, int w, const std::uint8_t* mask, int block,
                      int percentile, std::uint8_t* first, std::uint8_t* second) {
  if (!grey || !first || !second || bad_sizes(h, w, block)) return ML_BAD_ARGUMENT;
  // Counts up to block x block must fit the 16-bit running count.
  if (std::int64_t{block} * block > 65535) return ML_BAD_ARGUMENT;
  const int rows = h / block, cols = w / block;
  Scratch<std::int8_t> thr(static_cast<std::size_t>(rows) * cols, true);
  if (!thr) return ML_NO_MEMORY;
  const std::size_t n = static_cast<std::size_t>(h) * w;
  std::memset(first, 1, n);
  std::memset(second, 1, n);
  if (rows < 1 || cols < 1) return ML_OK;
  const std::uint32_t area = static_cast<std::uint32_t>(block * block);
  const std::uint32_t pct = static_cast<std::uint8_t>(percentile);
  block_thresholds(grey, w, mask, block, rows, cols, thr.get(), [&](std::uint32_t running) {
    return static_cast<std::uint16_t>(running) * 100u / area > pct;
  });
  if (const int st = zyl::matchlib::binomial3x3<std::int8_t>(thr.get(), rows, cols, thr.get()))
    return st;
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj) {
      if (mask && !mask[bi * cols + bj]) continue;
      const int t = thr[static_cast<std::size_t>(bi) * cols + bj];
      for (int y = bi * block; y < (bi + 1) * block; ++y)
        for (int x = bj * block; x < (bj + 1) * block; ++x) {
          const std::size_t i = static_cast<std::size_t>(y) * w + x;
          const bool dark = grey[i] < t;
          first[i] = dark ? 0 : 1;
          second[i] = dark ? 1 : 0;
        }
    }
  return ML_OK;
}

int blocks_percentile_bits(const std::int8_t* grey, const std::uint8_t* pixel_mask, int h, int w,
                           const std::uint8_t* mask, int block, int percentile,
                           std::uint8_t* planes, int polarity) {
  if (!grey || !pixel_mask || !mask || !planes || bad_sizes(h, w, block)) return ML_BAD_ARGUMENT;
  if (std::int64_t{block} * block > 65535) return ML_BAD_ARGUMENT;
  const int rows = h / block, cols = w / block;
  const std::uint32_t scale = 12800u / static_cast<std::uint32_t>(block * block);
  Scratch<std::int8_t> thr(static_cast<std::size_t>(rows) * cols, true);
  if (!thr) return ML_NO_MEMORY;
  const std::size_t stride = (2 * static_cast<std::size_t>(w) + 7) / 8;
  std::memset(planes, 0xFF, 2 * static_cast<std::size_t>(h) * stride);
  if (rows < 1 || cols < 1) return ML_OK;
  const std::int64_t pct128 = std::int64_t{percentile} * 128;
  block_thresholds(grey, w, mask, block, rows, cols, thr.get(), [&](std::uint32_t running) {
    return pct128 < std::int64_t{scale} * running;
  });
  if (const int st = zyl::matchlib::binomial3x3<std::int8_t>(thr.get(), rows, cols, thr.get()))
    return st;
  // Samples right of the last column or below the last row only feed bits
  // that the caller's border frame overwrites; they are read at the
  // nearest pixel inside so that nothing is read past the image.
  auto p = [&](int y, int x) {
    return int{grey[static_cast<std::size_t>(std::min(y, h - 1)) * w + std::min(x, w - 1)]};
  };
  // Columns right of the last full block take the last block's threshold.
  auto threshold = [&](int y, int x) {
    return int{thr[static_cast<std::size_t>(y / block) * cols + std::min(x / block, cols - 1)]};
  };
  for (int y = 0; y < rows * block; ++y) {
    std::uint8_t* even = planes + 2 * static_cast<std::size_t>(y) * stride;
    std::uint8_t* odd = even + stride;
    for (int x = 0; x < w; x += 4) {
      if (!pixel_mask[static_cast<std::size_t>(y) * w + x]) {
        even[x / 4] = odd[x / 4] = 0xFF;
        continue;
      }
      const int m = threshold(y, x), u = threshold(y, std::min(x + 2, w - 1));
      std::uint8_t e = 0, o = 0;
      for (int k = 0; k < 4; ++k) {
        const int t = k < 2 ? m : u, c = x + k;
        const int a = p(y, c), b = p(y, c + 1), d = p(y + 1, c), f = p(y + 1, c + 1);
        // Right shifts of negative sums round toward minus infinity.
        e |= static_cast<std::uint8_t>((a < t) << (2 * k));
        e |= static_cast<std::uint8_t>((((a + b) >> 1) < t) << (2 * k + 1));
        o |= static_cast<std::uint8_t>((((a + d) >> 1) < t) << (2 * k));
        o |= static_cast<std::uint8_t>((((a + b + d + f) >> 2) < t) << (2 * k + 1));
      }
      if (!polarity) {
        e = static_cast<std::uint8_t>(~e);
        o = static_cast<std::uint8_t>(~o);
      }
      even[x / 4] = e;
      odd[x / 4] = o;
    }
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::binarize_blocks_percentile(const int8_t* grey, const void*, int height,
                                              int width, const uint8_t* block_mask, int block,
                                              int percentile, uint8_t* first, uint8_t* second) {
  return blocks_percentile(grey, height, width, block_mask, block, percentile, first, second);
}

int zyl::matchlib::binarize_blocks_percentile_bits(const int8_t* grey, const uint8_t* pixel_mask,
                                                   int height, int width, const uint8_t* block_mask,
                                                   int block, int percentile, uint8_t* planes,
                                                   int polarity) {
  return blocks_percentile_bits(grey, pixel_mask, height, width, block_mask, block, percentile,
                                planes, polarity);
}

int zyl::matchlib::binarize_blocks_mean_interp(const int8_t* grey, const uint8_t* quality,
                                               int height, int width, int block, uint8_t* first,
                                               uint8_t* second) {
  if (!grey || !quality || !first || !second || bad_sizes(height, width, block))
    return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  std::memset(first, 1, n);
  std::memset(second, 1, n);
  const int rows = height / block, cols = width / block;
  if (rows < 2 || cols < 2) return ML_BAD_ARGUMENT;
  Scratch<int8_t> thr(static_cast<std::size_t>(rows) * cols);
  Scratch<int8_t> pixel_thr(n);
  if (!thr || !pixel_thr) return ML_NO_MEMORY;
  const std::size_t w = static_cast<std::size_t>(width);
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj) {
      int sum = 0, count = 0;
      for (int y = bi * block; y < (bi + 1) * block; ++y)
        for (int x = bj * block; x < (bj + 1) * block; ++x)
          if (quality[y * w + x] > 15) sum += grey[y * w + x], ++count;
      thr[static_cast<std::size_t>(bi) * cols + bj] = static_cast<int8_t>(count ? sum / count : 127);
    }
  // Blocks without a value take the mean of their valued neighbours, in
  // grid order, so later blocks see the values given to earlier ones.
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj) {
      int8_t& t = thr[static_cast<std::size_t>(bi) * cols + bj];
      if (t != 127) continue;
      int sum = 0, count = 0;
      for (int i = std::max(bi - 1, 0); i <= std::min(bi + 1, rows - 1); ++i)
        for (int j = std::max(bj - 1, 0); j <= std::min(bj + 1, cols - 1); ++j) {
          const int v = thr[static_cast<std::size_t>(i) * cols + j];
          if (v != 127) sum += v, ++count;
        }
      t = static_cast<int8_t>(count ? sum / count : 0);
    }
  int st = zyl::matchlib::box3x3<std::int8_t>(thr.get(), rows, cols, thr.get());
  if (st == ML_OK)
    st = zyl::matchlib::expand_bilinear<std::int8_t>(thr.get(), rows, cols, block, pixel_thr.get(),
                                                     height, width);
  if (st != ML_OK) return st;
  for (std::size_t i = 0; i < n; ++i)
    if (quality[i] > 15) (grey[i] < pixel_thr[i] ? first : second)[i] = 0;
  return ML_OK;
}

extern "C" ZYL_API int binarize_global_mean(const int8_t* grey, const uint8_t* quality, int height,
                                            int width, uint8_t* first, uint8_t* second) {
  if (!grey || !quality || !first || !second || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  std::memset(first, 1, n);
  std::memset(second, 1, n);
  std::int64_t sum = 0, count = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (quality[i] > 15) {
      sum += grey[i];
      ++count;
    }
  const std::int64_t t = count ? sum / count : 0;
  for (std::size_t i = 0; i < n; ++i)
    if (quality[i] > 15) (grey[i] < t ? first : second)[i] = 0;
  return ML_OK;
}

int zyl::matchlib::binarize_directional_mean(const int8_t* grey, int height, int width,
                                             const uint8_t* directions, const uint8_t* lengths,
                                             const uint8_t* block_mask, int grid_rows,
                                             int grid_columns, int block, uint8_t* first,
                                             uint8_t* second) {
  if (!grey || !directions || !lengths || !block_mask || !first || !second || height < 0 ||
      width < 0 || grid_rows < 0 || grid_columns < 0 || block < 0)
    return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::size_t i = y * w + x;
      const int s = zyl::matchlib::fx_sin256(directions[i]),
                c = zyl::matchlib::fx_cos256(directions[i]);
      const int half = lengths[i] / 2;
      int sum = 0, count = 0;
      for (int k = -half; k <= half; ++k) {
        const int yy = y + ((k * s) >> 14), xx = x + ((k * c) >> 14);
        if (yy < 0 || yy >= height || xx < 0 || xx >= width) continue;
        sum += grey[yy * w + xx];
        ++count;
      }
      const bool dark = grey[i] < sum / count;
      first[i] = dark ? 0 : 1;
      second[i] = dark ? 1 : 0;
    }
  for (int bi = 0; bi < grid_rows; ++bi)
    for (int bj = 0; bj < grid_columns; ++bj) {
      if (block_mask[bi * grid_columns + bj]) continue;
      // Blocks are clipped to the image.
      const int y1 = std::min(height, (bi + 1) * block), x1 = std::min(width, (bj + 1) * block);
      for (int y = bi * block; y < y1; ++y)
        for (int x = bj * block; x < x1; ++x) first[y * w + x] = second[y * w + x] = 1;
    }
  return ML_OK;
}

int zyl::matchlib::binarize_center_surround_bits_s16(const int16_t* image, int height, int width,
                                                     const uint16_t* scale, uint8_t* plane_a,
                                                     uint8_t* plane_b) {
  if (!image || !scale || !plane_a || !plane_b || height < 0 || width < 0)
    return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width), stride = (w + 7) / 8;
  std::memset(plane_a, 0, stride * height);
  std::memset(plane_b, 0, stride * height);
  auto p = [&](int y, int x) { return int{image[y * w + x]}; };
  static constexpr int kWideInner[8][2] = {{-1, -2}, {-1, 2}, {1, -2}, {1, 2},
                                           {-2, -1}, {-2, 1}, {2, -1}, {2, 1}};
  static constexpr int kWideOuter[16][2] = {{-5, -2}, {-5, 0}, {-5, 2}, {5, -2}, {5, 0}, {5, 2},
                                            {-2, -5}, {0, -5}, {2, -5}, {-2, 5}, {0, 5}, {2, 5},
                                            {-4, -4}, {-4, 4}, {4, -4}, {4, 4}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int sc = scale[y * w + x];
      bool b = false;
      if (sc <= 2303 && y >= 2 && x >= 2 && y + 2 < height && x + 2 < width) {
        int c = 0, ring = 0;
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx) {
            if (dy >= -1 && dy <= 1 && dx >= -1 && dx <= 1) c += p(y + dy, x + dx);
            else ring += p(y + dy, x + dx);
          }
        b = 16 * c - 9 * ring >= 1;
      } else if (sc > 2303 && x >= 5 && x < width - 5 && y >= 5 && y <= height - 6) {
        // The wide pattern reaches 5 columns to the left as well: pixels
        // closer to the left edge than that fit neither case.
        int c = p(y, x), ring = 0;
        for (const auto& o : kWideInner) c += p(y + o[0], x + o[1]);
        for (const auto& o : kWideOuter) ring += p(y + o[0], x + o[1]);
        b = 16 * c - 9 * ring >= 1;
      }
      uint8_t* plane = b ? plane_b : plane_a;
      plane[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  return ML_OK;
}

extern "C" {

ZYL_API int binarize_blocks_percentile(const int8_t* grey, const void* arg1, int height, int width,
                                       const uint8_t* block_mask, int block, int percentile,
                                       uint8_t* first, uint8_t* second) {
  return zyl::matchlib::binarize_blocks_percentile(grey, arg1, height, width, block_mask, block,
                                                   percentile, first, second);
}
ZYL_API int binarize_blocks_percentile_bits(const int8_t* grey, const uint8_t* pixel_mask,
                                            int height, int width, const uint8_t* block_mask,
                                            int block, int percentile, uint8_t* planes,
                                            int polarity) {
  return zyl::matchlib::binarize_blocks_percentile_bits(grey, pixel_mask, height, width, block_mask,
                                                        block, percentile, planes, polarity);
}
ZYL_API int binarize_blocks_mean_interp(const int8_t* grey, const uint8_t* quality, int height,
                                        int width, int block, uint8_t* first, uint8_t* second) {
  return zyl::matchlib::binarize_blocks_mean_interp(grey, quality, height, width, block, first,
                                                    second);
}
ZYL_API int binarize_directional_mean(const int8_t* grey, int height, int width,
                                      const uint8_t* directions, const uint8_t* lengths,
                                      const uint8_t* block_mask, int grid_rows, int grid_columns,
                                      int block, uint8_t* first, uint8_t* second) {
  return zyl::matchlib::binarize_directional_mean(grey, height, width, directions, lengths,
                                                  block_mask, grid_rows, grid_columns, block, first,
                                                  second);
}
ZYL_API int binarize_center_surround_bits_s16(const int16_t* image, int height, int width,
                                              const uint16_t* scale, uint8_t* plane_a,
                                              uint8_t* plane_b) {
  return zyl::matchlib::binarize_center_surround_bits_s16(image, height, width, scale, plane_a,
                                                          plane_b);
}

}  // extern "C"
