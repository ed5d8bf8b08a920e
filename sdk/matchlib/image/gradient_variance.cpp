// Sobel gradients into signed byte maps, and the local variance over
// clipped windows read from integral tables of sums and of squares (full
// tables, or 16-row rings that hold integral row k in slot k mod 16).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/gradient_variance.h"

namespace zyl::matchlib {
namespace {

// ((q*16 - s*((s*16)/n))/n)/16, formed in 64 bits so that wide windows do
// not overflow; for every window whose terms fit 32 bits the value is the
// 32-bit one.
inline std::int64_t clipped_variance(std::uint32_t s, std::uint32_t q, std::int64_t n) {
  const std::int64_t ss = s, qq = q;
  return ((qq * 16 - ss * ((ss * 16) / n)) / n) / 16;
}

template <class T, class Out, class RowOf>
void integral_variance(const T* sums, const T* squares, int first_col, int end_col,
                       int first_row, int end_row, int height, int width, int r, Out* out,
                       RowOf row_of) {
  const std::size_t stride = static_cast<std::size_t>(width) + 1;
  first_col = std::max(first_col, 0);
  first_row = std::max(first_row, 0);
  end_col = std::min(end_col, width);
  end_row = std::min(end_row, height);
  for (int y = first_row; y < end_row; ++y) {
    const int y0 = std::max(y - r, 0), y1 = std::min(y + r + 1, height);
    const T* s0 = sums + row_of(y0) * stride;
    const T* s1 = sums + row_of(y1) * stride;
    const T* q0 = squares + row_of(y0) * stride;
    const T* q1 = squares + row_of(y1) * stride;
    for (int x = first_col; x < end_col; ++x) {
      const int x0 = std::max(x - r, 0), x1 = std::min(x + r + 1, width);
      const std::int64_t n = std::int64_t{y1 - y0} * (x1 - x0);
      const std::uint32_t s = static_cast<std::uint32_t>(s1[x1]) + static_cast<std::uint32_t>(s0[x0]) -
                              static_cast<std::uint32_t>(s0[x1]) - static_cast<std::uint32_t>(s1[x0]);
      const std::uint32_t q = static_cast<std::uint32_t>(q1[x1]) + static_cast<std::uint32_t>(q0[x0]) -
                              static_cast<std::uint32_t>(q0[x1]) - static_cast<std::uint32_t>(q1[x0]);
      out[static_cast<std::size_t>(y) * width + x] = static_cast<Out>(clipped_variance(s, q, n));
    }
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::filter_sobel_s8(const uint8_t* src, int height, int width, int8_t* gx,
                                   int8_t* gy) {
  if (!src || !gx || !gy || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width);
  std::memset(gx, 0, static_cast<std::size_t>(height) * w);
  std::memset(gy, 0, static_cast<std::size_t>(height) * w);
  for (int y = 1; y + 1 < height; ++y) {
    const uint8_t* up = src + (y - 1) * w;
    const uint8_t* mid = src + y * w;
    const uint8_t* down = src + (y + 1) * w;
    for (int x = 1; x + 1 < width; ++x) {
      const int h = (up[x + 1] + 2 * mid[x + 1] + down[x + 1]) - (up[x - 1] + 2 * mid[x - 1] + down[x - 1]);
      const int v = (down[x - 1] + 2 * down[x] + down[x + 1]) - (up[x - 1] + 2 * up[x] + up[x + 1]);
      gx[y * w + x] = static_cast<int8_t>(h / 8);
      gy[y * w + x] = static_cast<int8_t>(v / 8);
    }
  }
  return ML_OK;
}

void zyl::matchlib::filter_local_variance_integral_u16(const uint32_t* sums,
                                                       const uint32_t* squares, int first_col,
                                                       int end_col, int first_row, int end_row,
                                                       int height, int width, int radius,
                                                       uint16_t* out) {
  if (!sums || !squares || !out || radius < 0) return;
  integral_variance(sums, squares, first_col, end_col, first_row, end_row, height, width,
                    radius, out, [](int k) { return static_cast<std::size_t>(k); });
}

void zyl::matchlib::filter_local_variance_integral_ring_s16(const int32_t* sums,
                                                            const int32_t* squares, int first_col,
                                                            int end_col, int first_row, int end_row,
                                                            int height, int width, int radius,
                                                            int16_t* out) {
  if (!sums || !squares || !out || radius < 0 || radius > 7) return;
  integral_variance(sums, squares, first_col, end_col, first_row, end_row, height, width,
                    radius, out, [](int k) { return static_cast<std::size_t>(k % 16); });
}

extern "C" {

ZYL_API int filter_sobel_s8(const uint8_t* src, int height, int width, int8_t* gx, int8_t* gy) {
  return zyl::matchlib::filter_sobel_s8(src, height, width, gx, gy);
}
ZYL_API void filter_local_variance_integral_u16(const uint32_t* sums, const uint32_t* squares,
                                                int first_col, int end_col, int first_row,
                                                int end_row, int height, int width, int radius,
                                                uint16_t* out) {
  zyl::matchlib::filter_local_variance_integral_u16(sums, squares, first_col, end_col, first_row,
                                                    end_row, height, width, radius, out);
}
ZYL_API void filter_local_variance_integral_ring_s16(const int32_t* sums, const int32_t* squares,
                                                     int first_col, int end_col, int first_row,
                                                     int end_row, int height, int width, int radius,
                                                     int16_t* out) {
  zyl::matchlib::filter_local_variance_integral_ring_s16(
      sums, squares, first_col, end_col, first_row, end_row, height, width, radius, out);
}

}  // extern "C"
