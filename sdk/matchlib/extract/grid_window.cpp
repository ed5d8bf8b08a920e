// The block statistics and the windowed block of the grid front ends.
#include "matchlib/extract/grid_window.h"

#include <algorithm>
#include <cstddef>

namespace zyl::matchlib::grid {

BlockStatsTable::BlockStatsTable(const uint8_t* px, const uint8_t* usable, int height, int width)
    : height_(height), width_(width),
      table_(static_cast<size_t>(height + 1) * (width + 1)) {
  const size_t stride = static_cast<size_t>(width) + 1;
  for (int y = 0; y < height; ++y) {
    Sums row;
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      if (!usable || (usable[i] & 0x80)) {
        ++row.n;
        row.sum += px[i];
        row.squares += uint64_t{px[i]} * px[i];
      }
      const Sums& up = table_[y * stride + x + 1];
      table_[(y + 1) * stride + x + 1] = {up.n + row.n, up.sum + row.sum, up.squares + row.squares};
    }
  }
}

BlockStats BlockStatsTable::at(int top, int left, int side) const {
  const int y0 = std::max(0, top), y1 = std::min(height_, top + side);
  const int x0 = std::max(0, left), x1 = std::min(width_, left + side);
  BlockStats b;
  if (y0 >= y1 || x0 >= x1) return b;
  const size_t stride = static_cast<size_t>(width_) + 1;
  const Sums &a = table_[y0 * stride + x0], &c = table_[y0 * stride + x1],
             &d = table_[y1 * stride + x0], &e = table_[y1 * stride + x1];
  b.inside = static_cast<uint64_t>(y1 - y0) * static_cast<uint64_t>(x1 - x0);
  b.n = e.n - c.n - d.n + a.n;
  b.sum = e.sum - c.sum - d.sum + a.sum;
  b.squares = e.squares - c.squares - d.squares + a.squares;
  return b;
}

// Row by row: the rows and columns outside the image are zeroed once, and
// the pixels inside are weighted in a loop without bounds checks. Each
// value is the same expression ((p - mean) * w[y] * w[x]) >> 4 as a
// position-by-position loop with a bounds check would compute.
namespace {

[[gnu::always_inline]] inline void window_rows(const uint8_t* px, int height, int width, int top,
                                               int left, int mean, const uint8_t* w, int32_t* out,
                                               int side) {
  const int x0 = std::clamp(-left, 0, side), x1 = std::clamp(width - left, x0, side);
  for (int y = 0; y < side; ++y) {
    int32_t* o = out + static_cast<size_t>(y) * side;
    const int py = top + y;
    if (py < 0 || py >= height) {
      std::fill(o, o + side, 0);
      continue;
    }
    std::fill(o, o + x0, 0);
    const uint8_t* row = px + static_cast<size_t>(py) * width;
    const int wy = w[y];
    for (int x = x0; x < x1; ++x) o[x] = ((row[left + x] - mean) * wy * w[x]) >> 4;
    std::fill(o + x1, o + side, 0);
  }
}


// The loop compiled for the generic processor and, on x86, for processors
// with AVX2 (32-bit lane products in one instruction); same integers.
void window_plain(const uint8_t* px, int height, int width, int top, int left, int mean,
                  const uint8_t* w, int32_t* out, int side) {
  window_rows(px, height, width, top, left, mean, w, out, side);
}

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZYL_GRID_WINDOW_AVX2 1
__attribute__((target("avx2"))) void window_avx2(const uint8_t* px, int height, int width, int top,
                                                 int left, int mean, const uint8_t* w,
                                                 int32_t* out, int side) {
  window_rows(px, height, width, top, left, mean, w, out, side);
}

bool have_avx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace

void window_block(const uint8_t* px, int height, int width, int top, int left, int mean,
                  const uint8_t* w, int32_t* out, int side) {
#ifdef ZYL_GRID_WINDOW_AVX2
  if (have_avx2()) {
    window_avx2(px, height, width, top, left, mean, w, out, side);
    return;
  }
#endif
  window_plain(px, height, width, top, left, mean, w, out, side);
}


bool window_block_variant(int variant, const uint8_t* px, int height, int width, int top, int left,
                          int mean, const uint8_t* w, int32_t* out, int side) {
  if (variant == 0) {
    window_plain(px, height, width, top, left, mean, w, out, side);
    return true;
  }
#ifdef ZYL_GRID_WINDOW_AVX2
  if (variant == 1 && have_avx2()) {
    window_avx2(px, height, width, top, left, mean, w, out, side);
    return true;
  }
#endif
  return false;
}

}  // namespace zyl::matchlib::grid
