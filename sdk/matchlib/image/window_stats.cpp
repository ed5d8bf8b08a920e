// Per-pixel window statistics with windows clipped at the image border:
// local variance from integral tables (full and 16-row ring forms), box sum
// and mean by separable running sums, local minimum and maximum, and the
// noise-adaptive smoothing built on the local variance.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_local_stats.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/gradient_variance.h"
#include "matchlib/image/window_stats.h"

// The interior variance is defined in single precision; a fused multiply-add
// would change its rounding.
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace zyl::matchlib {
namespace {

bool bad_window_args(const void* pixels, const void* out, int height, int width, int radius) {
  return !pixels || !out || height < 0 || width < 0 || radius < 0;
}

// Integral tables: entry (y, x) sums rows 0..y-1 and columns 0..x-1.
// Unsigned wrap-around keeps every window difference exact as long as the
// window's own sum fits 32 bits.
void build_integrals(const uint8_t* pixels, int height, int width, std::uint32_t* s,
                     std::uint32_t* q) {
  const std::size_t stride = static_cast<std::size_t>(width) + 1;
  std::fill(s, s + stride, 0u);
  std::fill(q, q + stride, 0u);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + static_cast<std::size_t>(y) * width;
    std::uint32_t* s_row = s + (y + 1) * stride;
    std::uint32_t* q_row = q + (y + 1) * stride;
    const std::uint32_t* s_up = s_row - stride;
    const std::uint32_t* q_up = q_row - stride;
    s_row[0] = q_row[0] = 0;
    std::uint32_t run_s = 0, run_q = 0;
    for (int x = 0; x < width; ++x) {
      run_s += row[x];
      run_q += static_cast<std::uint32_t>(row[x]) * row[x];
      s_row[x + 1] = s_up[x + 1] + run_s;
      q_row[x + 1] = q_up[x + 1] + run_q;
    }
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::filter_local_variance_u8(const uint8_t* pixels, int height, int width,
                                            int radius, uint16_t* out) {
  if (bad_window_args(pixels, out, height, width, radius)) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  const std::size_t cells = (static_cast<std::size_t>(height) + 1) * (width + 1);
  Scratch<std::uint32_t> s(cells);
  Scratch<std::uint32_t> q(cells);
  if (!s || !q) return ML_NO_MEMORY;
  build_integrals(pixels, height, width, s.get(), q.get());
  const int r = radius;
  const int top_end = std::min(r, height);
  const int bottom_start = std::max(height - r, 0);
  // Border bands over clipped windows.
  zyl::matchlib::filter_local_variance_integral_u16(s.get(), q.get(), 0, width, 0, top_end, height,
                                                    width, r, out);
  zyl::matchlib::filter_local_variance_integral_u16(s.get(), q.get(), 0, width, bottom_start,
                                                    height, height, width, r, out);
  if (r < bottom_start) {
    zyl::matchlib::filter_local_variance_integral_u16(s.get(), q.get(), 0, std::min(r, width), r,
                                                      bottom_start, height, width, r, out);
    zyl::matchlib::filter_local_variance_integral_u16(
        s.get(), q.get(), std::max(width - r, 0), width, r, bottom_start, height, width, r, out);
  }
  // Interior: full windows in single precision.
  const std::size_t stride = static_cast<std::size_t>(width) + 1;
  const int n = (2 * r + 1) * (2 * r + 1);
  const float e = 1.0f / static_cast<float>(n);
  for (int y = r; y < height - r; ++y) {
    const std::uint32_t* s0 = s.get() + (y - r) * stride;
    const std::uint32_t* s1 = s.get() + (y + r + 1) * stride;
    const std::uint32_t* q0 = q.get() + (y - r) * stride;
    const std::uint32_t* q1 = q.get() + (y + r + 1) * stride;
    uint16_t* o = out + static_cast<std::size_t>(y) * width;
    for (int x = r; x < width - r; ++x) {
      const int a = x - r, b = x + r + 1;
      const std::uint32_t ws = s1[b] + s0[a] - s0[b] - s1[a];
      const std::uint32_t wq = q1[b] + q0[a] - q0[b] - q1[a];
      const float fs = static_cast<float>(ws);
      const float fq = static_cast<float>(wq);
      float v = (fq - fs * fs * e) * e;
      if (v < 0.0f) v = 0.0f;
      o[x] = static_cast<uint16_t>(static_cast<std::uint32_t>(v));
    }
  }
  return ML_OK;
}

int zyl::matchlib::filter_local_variance_ring_u8(const uint8_t* pixels, int height, int width,
                                                 int radius, int16_t* out) {
  if (radius > 7) return ML_BAD_ARGUMENT;
  if (bad_window_args(pixels, out, height, width, radius)) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  const std::size_t stride = static_cast<std::size_t>(width) + 1;
  Scratch<std::int32_t> s(16 * stride);
  Scratch<std::int32_t> q(16 * stride);
  if (!s || !q) return ML_NO_MEMORY;
  const int r = radius;
  // Integral row k lives in slot k mod 16; a window needs 2r + 2 <= 16 rows.
  auto build_row = [&](int k) {
    std::int32_t* s_row = s.get() + (k % 16) * stride;
    std::int32_t* q_row = q.get() + (k % 16) * stride;
    if (k == 0) {
      std::fill(s_row, s_row + stride, 0);
      std::fill(q_row, q_row + stride, 0);
      return;
    }
    const std::int32_t* s_up = s.get() + ((k - 1) % 16) * stride;
    const std::int32_t* q_up = q.get() + ((k - 1) % 16) * stride;
    const uint8_t* row = pixels + static_cast<std::size_t>(k - 1) * width;
    std::uint32_t run_s = 0, run_q = 0;
    s_row[0] = q_row[0] = 0;
    for (int x = 0; x < width; ++x) {
      run_s += row[x];
      run_q += static_cast<std::uint32_t>(row[x]) * row[x];
      s_row[x + 1] = static_cast<std::int32_t>(static_cast<std::uint32_t>(s_up[x + 1]) + run_s);
      q_row[x + 1] = static_cast<std::int32_t>(static_cast<std::uint32_t>(q_up[x + 1]) + run_q);
    }
  };
  int built = -1;
  const std::uint32_t n = static_cast<std::uint32_t>((2 * r + 1) * (2 * r + 1));
  for (int y = 0; y < height; ++y) {
    const int need = std::min(y + r + 1, height);
    while (built < need) build_row(++built);
    const bool inner_row = y >= r && y < height - r;
    if (!inner_row || width <= 2 * r) {
      zyl::matchlib::filter_local_variance_integral_ring_s16(s.get(), q.get(), 0, width, y, y + 1,
                                                             height, width, r, out);
      continue;
    }
    zyl::matchlib::filter_local_variance_integral_ring_s16(s.get(), q.get(), 0, r, y, y + 1, height,
                                                           width, r, out);
    const std::int32_t* s0 = s.get() + ((y - r) % 16) * stride;
    const std::int32_t* s1 = s.get() + ((y + r + 1) % 16) * stride;
    const std::int32_t* q0 = q.get() + ((y - r) % 16) * stride;
    const std::int32_t* q1 = q.get() + ((y + r + 1) % 16) * stride;
    int16_t* o = out + static_cast<std::size_t>(y) * width;
    for (int x = r; x < width - r; ++x) {
      const int a = x - r, b = x + r + 1;
      const std::uint32_t ws = static_cast<std::uint32_t>(s1[b]) + static_cast<std::uint32_t>(s0[a]) -
                               static_cast<std::uint32_t>(s0[b]) - static_cast<std::uint32_t>(s1[a]);
      const std::uint32_t wq = static_cast<std::uint32_t>(q1[b]) + static_cast<std::uint32_t>(q0[a]) -
                               static_cast<std::uint32_t>(q0[b]) - static_cast<std::uint32_t>(q1[a]);
      o[x] = static_cast<int16_t>((wq * 16 - ws * ((ws * 16) / n)) / n >> 4);
    }
    zyl::matchlib::filter_local_variance_integral_ring_s16(s.get(), q.get(), width - r, width, y,
                                                           y + 1, height, width, r, out);
  }
  return ML_OK;
}

namespace zyl::matchlib {
namespace {

// Separable clipped box sums: horizontal running sums into a table, then
// vertical running sums of the table, handed to emit(y, x, sum, count).
template <class Emit>
int box_sums(const uint8_t* pixels, int height, int width, int r, Emit emit) {
  const std::size_t cells = static_cast<std::size_t>(height) * width;
  Scratch<std::int32_t> table(cells);
  Scratch<std::int64_t> column(static_cast<std::size_t>(width));
  if (!table || !column) return ML_NO_MEMORY;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pixels + static_cast<std::size_t>(y) * width;
    std::int32_t* t = table.get() + static_cast<std::size_t>(y) * width;
    std::int64_t run = 0;
    for (int x = 0; x <= std::min(r, width - 1); ++x) run += row[x];
    for (int x = 0; x < width; ++x) {
      t[x] = static_cast<std::int32_t>(run);
      if (x + r + 1 < width) run += row[x + r + 1];
      if (x - r >= 0) run -= row[x - r];
    }
  }
  std::fill(column.get(), column.get() + width, 0);
  for (int y = 0; y <= std::min(r, height - 1); ++y)
    for (int x = 0; x < width; ++x) column[x] += table[static_cast<std::size_t>(y) * width + x];
  for (int y = 0; y < height; ++y) {
    const std::int64_t rows = std::min(height - 1, y + r) - std::max(0, y - r) + 1;
    for (int x = 0; x < width; ++x) {
      const std::int64_t cols = std::min(width - 1, x + r) - std::max(0, x - r) + 1;
      emit(static_cast<std::size_t>(y) * width + x, column[x], rows * cols);
    }
    if (y + r + 1 < height)
      for (int x = 0; x < width; ++x)
        column[x] += table[static_cast<std::size_t>(y + r + 1) * width + x];
    if (y - r >= 0)
      for (int x = 0; x < width; ++x)
        column[x] -= table[static_cast<std::size_t>(y - r) * width + x];
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

extern "C" ZYL_API int filter_box_sum_u8(const uint8_t* pixels, int height, int width, int radius,
                                         int32_t* out) {
  if (bad_window_args(pixels, out, height, width, radius)) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  return box_sums(pixels, height, width, radius, [out](std::size_t k, std::int64_t sum, std::int64_t) {
    out[k] = static_cast<int32_t>(sum);
  });
}

int zyl::matchlib::filter_box_mean_u8(const uint8_t* pixels, int height, int width, int radius,
                                      uint8_t* out) {
  if (bad_window_args(pixels, out, height, width, radius)) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  // The running sums read the source to the last row, so out may be pixels.
  return box_sums(pixels, height, width, radius, [out](std::size_t k, std::int64_t sum, std::int64_t count) {
    out[k] = static_cast<uint8_t>((sum + count / 2) / count);
  });
}

extern "C" ZYL_API int filter_local_minmax_u8(const uint8_t* pixels, int height, int width,
                                              int radius, uint8_t* min_map, uint8_t* max_map) {
  if (!pixels || !min_map || !max_map || height < 0 || width < 0 || radius < 0)
    return ML_BAD_ARGUMENT;
  const std::size_t cells = static_cast<std::size_t>(height) * width;
  std::memset(min_map, 255, cells);
  std::memset(max_map, 0, cells);
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(0, y - radius), y1 = std::min(height - 1, y + radius);
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(0, x - radius), x1 = std::min(width - 1, x + radius);
      uint8_t lo = 255, hi = 0;
      for (int v = y0; v <= y1; ++v) {
        const uint8_t* row = pixels + static_cast<std::size_t>(v) * width;
        for (int u = x0; u <= x1; ++u) {
          lo = std::min(lo, row[u]);
          hi = std::max(hi, row[u]);
        }
      }
      min_map[static_cast<std::size_t>(y) * width + x] = lo;
      max_map[static_cast<std::size_t>(y) * width + x] = hi;
    }
  }
  return ML_OK;
}

int zyl::matchlib::filter_adaptive_smooth_u8(const uint8_t* pixels, int height, int width,
                                             int noise, int radius, uint8_t* out) {
  if (bad_window_args(pixels, out, height, width, radius)) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  const std::size_t cells = static_cast<std::size_t>(height) * width;
  Scratch<uint8_t> smooth(cells);
  if (!smooth) return ML_NO_MEMORY;
  std::memcpy(smooth.get(), pixels, cells);
  for (int k = 0; k < radius; ++k) {
    const int st = zyl::matchlib::box3x3<std::uint8_t>(smooth.get(), height, width, smooth.get());
    if (st != ML_OK) return st;
  }
  Scratch<uint16_t> variance(cells);
  if (!variance) return ML_NO_MEMORY;
  const int st =
      zyl::matchlib::filter_local_variance_u8(pixels, height, width, radius, variance.get());
  if (st != ML_OK) return st;
  if (noise < 0) {
    // A 64-bit sum equals the 32-bit one wherever that cannot overflow.
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < cells; ++k) sum += variance[k];
    noise = static_cast<uint16_t>(sum / cells);
  }
  for (std::size_t k = 0; k < cells; ++k) {
    const int x = pixels[k], s = smooth[k], v = variance[k];
    const int m = std::max(v, noise);
    int value = x;
    if (m != 0) {
      const std::int64_t gain = std::max<std::int64_t>(std::int64_t{v} - noise, 0);
      value = static_cast<int>(s + gain * (x - s) / m);
    }
    out[k] = static_cast<uint8_t>(std::clamp(value, 0, 255));
  }
  return ML_OK;
}

extern "C" {

ZYL_API int filter_local_variance_u8(const uint8_t* pixels, int height, int width, int radius,
                                     uint16_t* out) {
  return zyl::matchlib::filter_local_variance_u8(pixels, height, width, radius, out);
}
ZYL_API int filter_local_variance_ring_u8(const uint8_t* pixels, int height, int width, int radius,
                                          int16_t* out) {
  return zyl::matchlib::filter_local_variance_ring_u8(pixels, height, width, radius, out);
}
ZYL_API int filter_box_mean_u8(const uint8_t* pixels, int height, int width, int radius,
                               uint8_t* out) {
  return zyl::matchlib::filter_box_mean_u8(pixels, height, width, radius, out);
}
ZYL_API int filter_adaptive_smooth_u8(const uint8_t* pixels, int height, int width, int noise,
                                      int radius, uint8_t* out) {
  return zyl::matchlib::filter_adaptive_smooth_u8(pixels, height, width, noise, radius, out);
}

}  // extern "C"
