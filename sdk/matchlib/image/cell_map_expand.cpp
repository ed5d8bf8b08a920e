// Cell maps back to pixel resolution: bilinear expansion between cell
// centres in four value types, with a fill border, for directions, and the
// bilinear value at one position.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/cell_map_expand.h"

namespace zyl::matchlib {
namespace {

struct ExpandGeometry {
  std::uint32_t o;         // offset of the first cell centre
  std::uint32_t end_row;   // first output row past the interpolated region
  std::uint32_t end_col;   // first output column past it
};

// Refuses what the interpolation cannot serve: it needs two cells each way,
// n >= 1, and an output that holds the whole interpolated region.
bool expand_geometry(const void* map, const void* out, std::uint32_t rows, std::uint32_t cols,
                     std::uint32_t n, std::uint32_t oh, std::uint32_t ow, ExpandGeometry& g) {
  if (!map || !out || rows < 2 || cols < 2 || n < 1) return false;
  const std::uint64_t o = n / 2;
  const std::uint64_t er = o + std::uint64_t{rows - 1} * n, ec = o + std::uint64_t{cols - 1} * n;
  if (er > oh || ec > ow) return false;
  g = {static_cast<std::uint32_t>(o), static_cast<std::uint32_t>(er),
       static_cast<std::uint32_t>(ec)};
  return true;
}

// Extends the interpolated region to the whole output: columns left and
// right of it take the row's first and last interpolated value, rows above
// and below copy the first and last interpolated row.
template <class T>
void fill_border(T* out, std::uint32_t oh, std::uint32_t ow, const ExpandGeometry& g) {
  for (std::uint32_t y = g.o; y < g.end_row; ++y) {
    T* row = out + static_cast<std::size_t>(y) * ow;
    std::fill(row, row + g.o, row[g.o]);
    std::fill(row + g.end_col, row + ow, row[g.end_col - 1]);
  }
  const T* first = out + static_cast<std::size_t>(g.o) * ow;
  const T* last = out + static_cast<std::size_t>(g.end_row - 1) * ow;
  for (std::uint32_t y = 0; y < g.o; ++y)
    std::memcpy(out + static_cast<std::size_t>(y) * ow, first, sizeof(T) * ow);
  for (std::uint32_t y = g.end_row; y < oh; ++y)
    std::memcpy(out + static_cast<std::size_t>(y) * ow, last, sizeof(T) * ow);
}

}  // namespace

template <class T>
int expand_bilinear(const T* map, std::uint32_t rows, std::uint32_t cols, std::uint32_t n, T* out,
                    std::uint32_t oh, std::uint32_t ow) {
  ExpandGeometry g;
  if (!expand_geometry(map, out, rows, cols, n, oh, ow, g)) return ML_BAD_ARGUMENT;
  const std::int64_t nn = std::int64_t{n} * n;
  for (std::uint32_t r = 0; r + 1 < rows; ++r)
    for (std::uint32_t c = 0; c + 1 < cols; ++c) {
      const std::int64_t tl = map[static_cast<std::size_t>(r) * cols + c];
      const std::int64_t tr = map[static_cast<std::size_t>(r) * cols + c + 1];
      const std::int64_t bl = map[static_cast<std::size_t>(r + 1) * cols + c];
      const std::int64_t br = map[static_cast<std::size_t>(r + 1) * cols + c + 1];
      for (std::uint32_t t = 0; t < n; ++t) {
        const std::int64_t top = tl * (n - t) + tr * t, bottom = bl * (n - t) + br * t;
        std::int64_t num = n * top;  // (n - l) * top + l * bottom, grown row by row
        T* px = out + static_cast<std::size_t>(g.o + std::uint64_t{r} * n) * ow + g.o +
                std::uint64_t{c} * n + t;
        for (std::uint32_t l = 0; l < n; ++l, num += bottom - top, px += ow)
          *px = static_cast<T>(num / nn);
      }
    }
  fill_border(out, oh, ow, g);
  return ML_OK;
}

namespace {

// Direction from a toward b at step s of n, the shorter way round the
// circle; a half turn goes down from a when b > a, up when b < a.
inline std::uint8_t angle_step(int a, int b, std::uint32_t s, std::uint32_t n) {
  const int d = (b - a) & 0xFF;
  const bool up = d < 128 || (d == 128 && b < a);
  const std::int64_t amount = up ? std::int64_t{s} * d / n : -(std::int64_t{s} * (256 - d) / n);
  return static_cast<std::uint8_t>((a + amount) & 0xFF);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

#define ZYL_EXPAND_BILINEAR(suffix, T)                                                            \
  template int zyl::matchlib::expand_bilinear<T>(const T*, uint32_t, uint32_t, uint32_t, T*,      \
                                                 uint32_t, uint32_t);                             \
  extern "C" ZYL_API int img_expand_bilinear_##suffix(const T* map, uint32_t rows, uint32_t cols, \
                                                      uint32_t n, T* out, uint32_t out_height,    \
                                                      uint32_t out_width) {                       \
    return expand_bilinear<T>(map, rows, cols, n, out, out_height, out_width);                    \
  }
ZYL_EXPAND_BILINEAR(u8, uint8_t)
ZYL_EXPAND_BILINEAR(s8, int8_t)
ZYL_EXPAND_BILINEAR(u16, uint16_t)
ZYL_EXPAND_BILINEAR(s16, int16_t)
#undef ZYL_EXPAND_BILINEAR

int zyl::matchlib::img_expand_bilinear_padded_u8(const uint8_t* map, uint32_t rows, uint32_t cols,
                                                 uint32_t n, uint8_t fill, uint8_t* out,
                                                 uint32_t out_height, uint32_t out_width) {
  if (!map || !out || rows < 1 || cols < 1 || n < 1) return ML_BAD_ARGUMENT;
  const uint64_t o = n / 2;
  if (o + uint64_t{rows - 1} * n > out_height || o + uint64_t{cols - 1} * n > out_width)
    return ML_BAD_ARGUMENT;
  const uint64_t prow = uint64_t{rows} + 2, pcol = uint64_t{cols} + 2;
  const uint64_t sh = uint64_t{out_height} + 2 * uint64_t{n}, sw = uint64_t{out_width} + 2 * uint64_t{n};
  if (prow > UINT32_MAX || pcol > UINT32_MAX || sh > UINT32_MAX || sw > UINT32_MAX)
    return ML_BAD_ARGUMENT;
  Scratch<uint8_t> padded(pixel_count(prow, pcol));
  if (!padded) return ML_NO_MEMORY;
  std::memset(padded.get(), fill, pixel_count(prow, pcol));
  for (uint32_t r = 0; r < rows; ++r)
    std::memcpy(padded.get() + (r + 1) * pcol + 1, map + static_cast<std::size_t>(r) * cols, cols);
  Scratch<uint8_t> scratch(pixel_count(sh, sw));
  if (!scratch) return ML_NO_MEMORY;
  const int st = expand_bilinear<uint8_t>(padded.get(), static_cast<uint32_t>(prow),
                                          static_cast<uint32_t>(pcol), n, scratch.get(),
                                          static_cast<uint32_t>(sh), static_cast<uint32_t>(sw));
  if (st != ML_OK) return st;
  for (uint32_t y = 0; y < out_height; ++y)
    std::memcpy(out + static_cast<std::size_t>(y) * out_width,
                scratch.get() + static_cast<std::size_t>(y + n) * sw + n, out_width);
  return ML_OK;
}

int zyl::matchlib::img_expand_bilinear_angle8(const uint8_t* map, uint32_t rows, uint32_t cols,
                                              uint32_t n, uint8_t* out, uint32_t out_height,
                                              uint32_t out_width) {
  ExpandGeometry g;
  if (!expand_geometry(map, out, rows, cols, n, out_height, out_width, g)) return ML_BAD_ARGUMENT;
  for (uint32_t r = 0; r + 1 < rows; ++r)
    for (uint32_t c = 0; c + 1 < cols; ++c) {
      const int tl = map[static_cast<std::size_t>(r) * cols + c];
      const int tr = map[static_cast<std::size_t>(r) * cols + c + 1];
      const int bl = map[static_cast<std::size_t>(r + 1) * cols + c];
      const int br = map[static_cast<std::size_t>(r + 1) * cols + c + 1];
      for (uint32_t t = 0; t < n; ++t) {
        // The edge values are truncated before the vertical step.
        const int f = angle_step(tl, tr, t, n), h = angle_step(bl, br, t, n);
        uint8_t* px = out + static_cast<std::size_t>(g.o + uint64_t{r} * n) * out_width + g.o +
                      uint64_t{c} * n + t;
        for (uint32_t l = 0; l < n; ++l, px += out_width) *px = angle_step(f, h, l, n);
      }
    }
  fill_border(out, out_height, out_width, g);
  return ML_OK;
}

uint8_t zyl::matchlib::img_sample_bilinear_u8(int32_t x, int32_t y, const uint8_t* map,
                                              uint32_t rows, uint32_t cols, uint32_t n) {
  if (!map || rows == 0 || cols == 0 || n == 0) return 0;
  const int64_t half = n / 2;
  const int64_t xs = std::clamp<int64_t>(int64_t{x} - half, 0, int64_t{n} * (cols - 1));
  const int64_t ys = std::clamp<int64_t>(int64_t{y} - half, 0, int64_t{n} * (rows - 1));
  const int64_t cx = xs / n, cy = ys / n, fx = xs % n, fy = ys % n;
  auto cell = [&](int64_t r, int64_t c) { return int64_t{map[r * cols + c]}; };
  const bool right = cx + 1 < cols, below = cy + 1 < rows;
  int64_t sum = cell(cy, cx) * (n - fx) * (n - fy);
  if (right) sum += cell(cy, cx + 1) * fx * (n - fy);
  if (below) sum += cell(cy + 1, cx) * (n - fx) * fy;
  if (right && below) sum += cell(cy + 1, cx + 1) * fx * fy;
  return static_cast<uint8_t>(sum / (int64_t{n} * n));
}

extern "C" {

ZYL_API int img_expand_bilinear_padded_u8(const uint8_t* map, uint32_t rows, uint32_t cols,
                                          uint32_t n, uint8_t fill, uint8_t* out,
                                          uint32_t out_height, uint32_t out_width) {
  return zyl::matchlib::img_expand_bilinear_padded_u8(map, rows, cols, n, fill, out, out_height,
                                                      out_width);
}
ZYL_API int img_expand_bilinear_angle8(const uint8_t* map, uint32_t rows, uint32_t cols, uint32_t n,
                                       uint8_t* out, uint32_t out_height, uint32_t out_width) {
  return zyl::matchlib::img_expand_bilinear_angle8(map, rows, cols, n, out, out_height, out_width);
}
ZYL_API uint8_t img_sample_bilinear_u8(int32_t x, int32_t y, const uint8_t* map, uint32_t rows,
                                       uint32_t cols, uint32_t n) {
  return zyl::matchlib::img_sample_bilinear_u8(x, y, map, rows, cols, n);
}

}  // extern "C"
