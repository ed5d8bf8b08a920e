// Region tools on byte maps: centroid, largest 4-connected component, hole
// filling, masked fills, 5 x 5 inpainting, and the blend towards a grey
// value by the step distance to a mask's zero cells. Breadth-first searches
// use flat coordinate queues sized to the map instead of recursion.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_segmentation.h"
#include "matchlib/image/region_tools.h"
#include "matchlib/image/segmentation.h"

namespace zyl::matchlib {
namespace {

int distance_checks(const uint8_t* image, const uint8_t* mask, int rows, int cols, int radius,
                    const uint8_t* out) {
  if (radius <= 0 || image == out) return ML_BAD_ARGUMENT;
  if (!image || !mask || !out || rows < 0 || cols < 0) return ML_BAD_ARGUMENT;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::img_mask_centroid(const uint8_t* map, int rows, int cols, int cell,
                                     int default_height, int default_width, int* row_out,
                                     int* col_out) {
  std::uint32_t count = 0, sum_r = 0, sum_c = 0;
  if (map && rows > 0 && cols > 0) {
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c)
        if (map[static_cast<std::size_t>(r) * cols + c]) {
          ++count;
          sum_r += static_cast<std::uint32_t>(r);
          sum_c += static_cast<std::uint32_t>(c);
        }
  }
  int row, col;
  if (count == 0) {
    row = default_height / 2;
    col = default_width / 2;
  } else {
    // Sums of up to 65536 x 65536 cells; the product is taken in 64 bits
    // so that a large cell does not wrap it.
    const std::uint64_t k = static_cast<std::uint32_t>(cell);
    row = static_cast<int>(k * sum_r / count + k / 2);
    col = static_cast<int>(k * sum_c / count + k / 2);
  }
  if (row_out) *row_out = row;
  if (col_out) *col_out = col;
  return ML_OK;
}

int zyl::matchlib::mask_keep_largest_component(uint8_t* map, int rows, int cols) {
  if (!map || rows < 0 || cols < 0) return ML_BAD_ARGUMENT;
  const std::size_t cells = static_cast<std::size_t>(rows) * cols;
  Scratch<uint8_t> best(cells);
  Scratch<uint8_t> work(cells);
  if (!best || !work) return ML_NO_MEMORY;
  std::memset(best.get(), 0, cells);
  std::size_t best_count = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (!map[static_cast<std::size_t>(r) * cols + c]) continue;
      // Queue coordinates are bytes.
      if (rows >= 256 || cols >= 256) return ML_WRONG_KIND;
      std::memset(work.get(), 0, cells);
      Scratch<uint8_t> qr(cells);
      Scratch<uint8_t> qc(cells);
      if (!qr || !qc) return ML_NO_MEMORY;
      std::size_t head = 0, tail = 0, count = 0;
      auto visit = [&](int y, int x) {
        const std::size_t k = static_cast<std::size_t>(y) * cols + x;
        map[k] = 0;
        work[k] = 1;
        qr[tail] = static_cast<uint8_t>(y);
        qc[tail] = static_cast<uint8_t>(x);
        ++tail;
        ++count;
      };
      visit(r, c);
      while (head < tail) {
        const int y = qr[head], x = qc[head];
        ++head;
        const int ny[4] = {y - 1, y + 1, y, y}, nx[4] = {x, x, x - 1, x + 1};  // up, down, left, right
        for (int d = 0; d < 4; ++d)
          if (ny[d] >= 0 && ny[d] < rows && nx[d] >= 0 && nx[d] < cols &&
              map[static_cast<std::size_t>(ny[d]) * cols + nx[d]])
            visit(ny[d], nx[d]);
      }
      if (count > best_count) {
        best_count = count;
        std::swap(best, work);
      }
    }
  }
  std::memcpy(map, best.get(), cells);
  return ML_OK;
}

int zyl::matchlib::img_fill_holes(uint8_t* map, int rows, int cols, uint8_t fill) {
  if (!map || rows < 0 || cols < 0) return ML_BAD_ARGUMENT;
  const std::size_t cells = static_cast<std::size_t>(rows) * cols;
  Scratch<uint8_t> work(cells);
  Scratch<uint8_t> region(cells);
  if (!work || !region) return ML_NO_MEMORY;
  std::memcpy(work.get(), map, cells);
  // Coordinates fit 16 bits in the queues only for maps below 65536 a side;
  // wider maps keep full ints (same searches).
  Scratch<int> qr(cells);
  Scratch<int> qc(cells);
  if (!qr || !qc) return ML_NO_MEMORY;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      if (work[static_cast<std::size_t>(r) * cols + c]) continue;
      std::memset(region.get(), 1, cells);
      std::size_t head = 0, tail = 0;
      bool top = false, bottom = false, left = false, right = false;
      auto visit = [&](int y, int x) {
        const std::size_t k = static_cast<std::size_t>(y) * cols + x;
        work[k] = 1;
        region[k] = 0;
        qr[tail] = y;
        qc[tail] = x;
        ++tail;
        top |= y == 0;
        bottom |= y == rows - 1;
        left |= x == 0;
        right |= x == cols - 1;
      };
      visit(r, c);
      while (head < tail) {
        const int y = qr[head], x = qc[head];
        ++head;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int yy = y + dy, xx = x + dx;
            if ((dy || dx) && yy >= 0 && yy < rows && xx >= 0 && xx < cols &&
                !work[static_cast<std::size_t>(yy) * cols + xx])
              visit(yy, xx);
          }
      }
      // A region touching two or more edges is background.
      if (top + bottom + left + right <= 1)
        for (std::size_t k = 0; k < cells; ++k)
          if (!region[k]) map[k] = fill;
    }
  }
  return ML_OK;
}

extern "C" ZYL_API int img_fill_masked_blocks(const uint8_t* src, int height, int width,
                                              const uint8_t* mask, int rows, int cols, int n,
                                              uint8_t value, uint8_t* dst) {
  if (!src || !dst || !mask || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const std::size_t cells = static_cast<std::size_t>(height) * width;
  if (src != dst) std::memmove(dst, src, cells);
  if (n < 2) {
    for (std::size_t k = 0; k < cells; ++k)
      if (!mask[k]) dst[k] = value;
    return ML_OK;
  }
  // Blocks are cut to the image so that a grid larger than it cannot write
  // past the destination.
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      if (mask[static_cast<std::size_t>(i) * cols + j]) continue;
      for (long y = static_cast<long>(i) * n; y < std::min<long>(static_cast<long>(i + 1) * n, height); ++y)
        for (long x = static_cast<long>(j) * n; x < std::min<long>(static_cast<long>(j + 1) * n, width); ++x)
          dst[y * width + x] = value;
    }
  return ML_OK;
}

int zyl::matchlib::img_inpaint_masked_5x5(const uint8_t* src, int height, int width,
                                          const uint8_t* mask, uint8_t* dst) {
  if (!src || !dst || !mask || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const std::size_t cells = static_cast<std::size_t>(height) * width;
  if (src != dst) std::memmove(dst, src, cells);
  Scratch<uint8_t> known(cells);
  Scratch<uint8_t> next(cells);
  if (!known || !next) return ML_NO_MEMORY;
  std::memcpy(known.get(), mask, cells);
  std::memcpy(next.get(), mask, cells);
  if (height <= 4) return ML_OK;
  static constexpr int kTaps[5] = {1, 4, 6, 4, 1};
  for (;;) {
    std::size_t filled = 0, starved = 0;
    for (int y = 2; y < height - 2; ++y)
      for (int x = 2; x < width - 2; ++x) {
        const std::size_t k = static_cast<std::size_t>(y) * width + x;
        if (known[k]) continue;
        int neighbours = 0;
        long weights = 0, sum = 0;
        for (int dy = -2; dy <= 2; ++dy)
          for (int dx = -2; dx <= 2; ++dx) {
            if (!dy && !dx) continue;
            const std::size_t kk = k + static_cast<std::ptrdiff_t>(dy) * width + dx;
            if (!known[kk]) continue;
            const int weight = kTaps[dy + 2] * kTaps[dx + 2];
            ++neighbours;
            weights += weight;
            sum += static_cast<long>(weight) * dst[kk];
          }
        if (neighbours >= 6) {
          dst[k] = static_cast<uint8_t>(sum / weights);
          next[k] = 1;
          ++filled;
        } else {
          ++starved;
        }
      }
    std::memcpy(known.get(), next.get(), cells);
    if (starved == 0 || filled == 0) break;
  }
  return ML_OK;
}

int zyl::matchlib::mask_distance_map(const uint8_t* image, int rows, int cols, const uint8_t* mask,
                                     int radius, uint8_t* out) {
  const int st = distance_checks(image, mask, rows, cols, radius, out);
  if (st != ML_OK) return st;
  return zyl::matchlib::img_distance_in_mask(rows, cols, mask, radius, out);
}

extern "C" ZYL_API int img_blend_by_mask_distance(const uint8_t* image, int rows, int cols,
                                                  const uint8_t* mask, int radius, uint8_t grey,
                                                  uint8_t* out) {
  int st = zyl::matchlib::mask_distance_map(image, rows, cols, mask, radius, out);
  if (st != ML_OK) return st;
  const std::int64_t r2 = std::int64_t{radius} * radius;
  const std::size_t cells = static_cast<std::size_t>(rows) * cols;
  for (std::size_t k = 0; k < cells; ++k) {
    const std::int64_t d = std::min<std::int64_t>(out[k], radius);
    const std::int64_t v = (grey * (r2 - d * d) + d * d * image[k]) / r2;
    out[k] = static_cast<uint8_t>(std::min<std::int64_t>(v, 255));
  }
  return ML_OK;
}

extern "C" {

ZYL_API int img_mask_centroid(const uint8_t* map, int rows, int cols, int cell, int default_height,
                              int default_width, int* row_out, int* col_out) {
  return zyl::matchlib::img_mask_centroid(map, rows, cols, cell, default_height, default_width,
                                          row_out, col_out);
}
ZYL_API int mask_keep_largest_component(uint8_t* map, int rows, int cols) {
  return zyl::matchlib::mask_keep_largest_component(map, rows, cols);
}
ZYL_API int img_fill_holes(uint8_t* map, int rows, int cols, uint8_t fill) {
  return zyl::matchlib::img_fill_holes(map, rows, cols, fill);
}
ZYL_API int img_inpaint_masked_5x5(const uint8_t* src, int height, int width, const uint8_t* mask,
                                   uint8_t* dst) {
  return zyl::matchlib::img_inpaint_masked_5x5(src, height, width, mask, dst);
}
ZYL_API int mask_distance_map(const uint8_t* image, int rows, int cols, const uint8_t* mask,
                              int radius, uint8_t* out) {
  return zyl::matchlib::mask_distance_map(image, rows, cols, mask, radius, out);
}

}  // extern "C"
