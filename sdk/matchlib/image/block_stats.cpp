// Block statistics over a grid of square blocks: mean (four pixel types),
// sampled variance and minimum/maximum. A map entry per block, row after row.
#include <cstdint>
#include <limits>
#include <type_traits>

#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/block_stats.h"

namespace zyl::matchlib {
namespace {

bool bad_grid_args(const void* pixels, const void* out, int row_length, int n, int rows,
                   int cols) {
  if (rows < 0 || cols < 0 || n < 0 || row_length < 0) return true;
  if (rows == 0 || cols == 0 || n == 0) return false;  // nothing is read
  return !pixels || !out;
}

}  // namespace

// Block sums are formed in 64 bits: a 32-bit sum of 16-bit pixels overflows
// for blocks above 256 x 256 pixels; for every smaller block the result is
// the 32-bit one.
template <class P>
int block_mean(const P* pixels, int row_length, int n, int rows, int cols, P* out) {
  if (bad_grid_args(pixels, out, row_length, n, rows, cols)) return ML_BAD_ARGUMENT;
  if (rows == 0 || cols == 0 || n == 0) return ML_OK;
  using Acc = std::conditional_t<std::is_signed_v<P>, std::int64_t, std::uint64_t>;
  const Acc count = static_cast<Acc>(n) * static_cast<Acc>(n);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      Acc sum = 0;
      const P* block = pixels + static_cast<std::size_t>(i) * n * row_length +
                       static_cast<std::size_t>(j) * n;
      for (int y = 0; y < n; ++y) {
        const P* row = block + static_cast<std::size_t>(y) * row_length;
        for (int x = 0; x < n; ++x) sum += row[x];
      }
      // C++ division truncates toward zero for the signed members.
      out[static_cast<std::size_t>(i) * cols + j] = static_cast<P>(sum / count);
    }
  }
  return ML_OK;
}

template <class P>
int block_minmax(const P* pixels, int height, int row_length, int n, int rows, int cols,
                 P* min_map, P* max_map) {
  if (!pixels || (!min_map && !max_map)) return ML_BAD_ARGUMENT;
  if (n < 0 || rows < 0 || cols < 0) return ML_BAD_ARGUMENT;
  if (static_cast<std::int64_t>(height) < std::int64_t{n} * rows ||
      static_cast<std::int64_t>(row_length) < std::int64_t{n} * cols)
    return ML_BAD_ARGUMENT;
  const std::size_t cells = static_cast<std::size_t>(rows) * cols;
  for (std::size_t k = 0; k < cells; ++k) {
    if (min_map) min_map[k] = std::numeric_limits<P>::max();
    if (max_map) max_map[k] = std::numeric_limits<P>::min();
  }
  if (rows == 0 || cols == 0 || n == 0) return ML_OK;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      P lo = std::numeric_limits<P>::max(), hi = std::numeric_limits<P>::min();
      for (int y = 0; y < n; ++y) {
        const P* row = pixels + static_cast<std::size_t>(i * n + y) * row_length +
                       static_cast<std::size_t>(j) * n;
        for (int x = 0; x < n; ++x) {
          if (row[x] < lo) lo = row[x];
          if (row[x] > hi) hi = row[x];
        }
      }
      const std::size_t k = static_cast<std::size_t>(i) * cols + j;
      if (min_map) min_map[k] = lo;
      if (max_map) max_map[k] = hi;
    }
  }
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

#define ZYL_BLOCK_MEAN(suffix, P)                                                                 \
  template int zyl::matchlib::block_mean<P>(const P*, int, int, int, int, P*);                    \
  extern "C" ZYL_API int img_block_mean_##suffix(const P* pixels, int /*height*/, int row_length, \
                                                 int n, int rows, int cols, P* out) {             \
    return block_mean<P>(pixels, row_length, n, rows, cols, out);                                 \
  }
ZYL_BLOCK_MEAN(u8, uint8_t)
ZYL_BLOCK_MEAN(s8, int8_t)
ZYL_BLOCK_MEAN(u16, uint16_t)
ZYL_BLOCK_MEAN(s16, int16_t)
#undef ZYL_BLOCK_MEAN

#define ZYL_BLOCK_MINMAX(suffix, P)                                                             \
  template int zyl::matchlib::block_minmax<P>(const P*, int, int, int, int, int, P*, P*);       \
  extern "C" ZYL_API int img_block_minmax_##suffix(const P* pixels, int height, int row_length, \
                                                   int n, int rows, int cols, P* min_map,       \
                                                   P* max_map) {                                \
    return block_minmax<P>(pixels, height, row_length, n, rows, cols, min_map, max_map);        \
  }
ZYL_BLOCK_MINMAX(u8, uint8_t)
ZYL_BLOCK_MINMAX(s8, int8_t)
#undef ZYL_BLOCK_MINMAX

int zyl::matchlib::img_block_variance_u8(const uint8_t* pixels, int /*height*/, int row_length,
                                         const uint8_t* means, int n, int rows, int cols,
                                         uint16_t* out) {
  if (bad_grid_args(pixels, out, row_length, n, rows, cols)) return ML_BAD_ARGUMENT;
  if (rows == 0 || cols == 0) return ML_OK;
  if (!out || (n > 0 && !means)) return ML_BAD_ARGUMENT;
  // Every second row and column of the block: f sampled rows and columns.
  const std::uint64_t f = (static_cast<std::uint64_t>(n) + 1) / 2;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * cols + j;
      if (n == 0) {
        out[k] = 0;
        continue;
      }
      const int m = means[k];
      std::uint64_t sum = 0;
      for (int y = 0; y < n; y += 2) {
        const uint8_t* row = pixels + static_cast<std::size_t>(i * n + y) * row_length +
                             static_cast<std::size_t>(j) * n;
        for (int x = 0; x < n; x += 2) {
          const int d = row[x] - m;
          sum += static_cast<std::uint64_t>(d * d);
        }
      }
      out[k] = static_cast<uint16_t>(sum / (f * f));
    }
  }
  return ML_OK;
}

extern "C" {

ZYL_API int img_block_variance_u8(const uint8_t* pixels, int arg1, int row_length,
                                  const uint8_t* means, int n, int rows, int cols, uint16_t* out) {
  return zyl::matchlib::img_block_variance_u8(pixels, arg1, row_length, means, n, rows, cols, out);
}

}  // extern "C"
