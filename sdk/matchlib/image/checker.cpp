// Checkerboard response and removal, the grey open-close mean and the
// random-position fill.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/checker.h"
#include "matchlib/image/grey_morphology.h"

namespace zyl::matchlib {
namespace {

bool bad_image(const void* src, int h, int w, const void* dst) {
  return !src || !dst || h < 0 || w < 0;
}

void checker_response(const std::uint8_t* src, int h, int w, std::int8_t* out) {
  static constexpr int kTap[3] = {1, -2, 1};
  const std::size_t width = static_cast<std::size_t>(w);
  auto at = [&](int y, int x) { return int{src[y * width + x]}; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool row_edge = y == 0 || y == h - 1, col_edge = x == 0 || x == w - 1;
      int v;
      if (row_edge && col_edge) {
        v = (2 * at(y, x) - at(y, x == 0 ? 1 : x - 1) - at(y == 0 ? 1 : y - 1, x)) / 4;
      } else {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          if (y + dy < 0 || y + dy >= h) continue;
          for (int dx = -1; dx <= 1; ++dx) {
            if (x + dx < 0 || x + dx >= w) continue;
            sum += kTap[dy + 1] * kTap[dx + 1] * at(y + dy, x + dx);
          }
        }
        v = sum / (row_edge || col_edge ? 12 : 16);
      }
      out[y * width + x] = static_cast<std::int8_t>(v);
    }
}

std::uint8_t mean_abs(const std::int8_t* r, std::size_t n) {
  if (n == 0) return 0;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += static_cast<std::uint64_t>(std::abs(int{r[i]}));
  return static_cast<std::uint8_t>(std::min<std::uint64_t>(255, 16 * sum / n));
}

void subtract(const std::uint8_t* src, const std::int8_t* r, std::size_t n, std::uint8_t* out) {
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(std::clamp(src[i] - r[i], 0, 255));
}

// (a + b) >> 1 of two images that make(a, b) computes from the source.
template <class Make>
int average_of_two(const std::uint8_t* src, int h, int w, std::uint8_t* out, Make make) {
  if (bad_image(src, h, w, out)) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(h) * w;
  Scratch<std::uint8_t> a(n), b(n);
  if (!a || !b) return ML_NO_MEMORY;
  if (const int st = make(a.get(), b.get())) return st;
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((a[i] + b[i]) >> 1);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::filter_checker_response_s8(const uint8_t* pixels, int height, int width,
                                              int8_t* response) {
  if (bad_image(pixels, height, width, response) || height < 2 || width < 2)
    return ML_BAD_ARGUMENT;
  checker_response(pixels, height, width, response);
  return ML_OK;
}

uint8_t zyl::matchlib::imgstat_mean_abs_s8(const int8_t* response, int height, int width) {
  if (!response || height <= 0 || width <= 0) return 0;
  return mean_abs(response, static_cast<std::size_t>(height) * width);
}

int zyl::matchlib::imgproc_remove_checker(const uint8_t* pixels, int height, int width,
                                          uint8_t* out) {
  if (bad_image(pixels, height, width, out) || height < 2 || width < 2) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  Scratch<int8_t> r(n);
  if (!r) return ML_NO_MEMORY;
  checker_response(pixels, height, width, r.get());
  subtract(pixels, r.get(), n, out);
  return ML_OK;
}

extern "C" ZYL_API int imgproc_remove_checker_repeat(const uint8_t* pixels, int height, int width,
                                                     uint8_t* out, int limit) {
  if (bad_image(pixels, height, width, out) || height < 2 || width < 2) return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  Scratch<int8_t> r(n);
  if (!r) return ML_NO_MEMORY;
  if (out != pixels) std::memmove(out, pixels, n);
  for (int pass = 0; pass < 5; ++pass) {
    checker_response(out, height, width, r.get());
    if (mean_abs(r.get(), n) < static_cast<uint8_t>(limit)) break;
    subtract(out, r.get(), n, out);
  }
  return ML_OK;
}

int zyl::matchlib::imgproc_open_close_mean3x3(const uint8_t* pixels, int height, int width,
                                              uint8_t* out) {
  return average_of_two(pixels, height, width, out, [&](uint8_t* a, uint8_t* b) {
    int st = zyl::matchlib::filter_open3x3_u8(pixels, height, width, a);
    if (st == ML_OK) st = zyl::matchlib::filter_close3x3_u8(a, height, width, a);
    if (st == ML_OK) st = zyl::matchlib::filter_close3x3_u8(pixels, height, width, b);
    if (st == ML_OK) st = zyl::matchlib::filter_open3x3_u8(b, height, width, b);
    return st;
  });
}

extern "C" ZYL_API int imgproc_open_close_mean3x3_single(const uint8_t* pixels, int height,
                                                         int width, uint8_t* out) {
  return average_of_two(pixels, height, width, out, [&](uint8_t* a, uint8_t* b) {
    const int st = zyl::matchlib::filter_open3x3_u8(pixels, height, width, a);
    return st == ML_OK ? zyl::matchlib::filter_close3x3_u8(pixels, height, width, b) : st;
  });
}

extern "C" ZYL_API int img_fill_random(const uint8_t* pixels, int height, int width, int count,
                                       uint8_t value, uint32_t* state, uint8_t* out) {
  if (bad_image(pixels, height, width, out) || !state) return ML_BAD_ARGUMENT;
  const std::int64_t n = std::int64_t{height} * width;
  if (out != pixels) std::memmove(out, pixels, static_cast<std::size_t>(n));
  // Positions are drawn as ints: an image past that range has no valid draw.
  if (n == 0 || n - 1 > 0x7FFFFFFF) return n == 0 ? ML_OK : ML_BAD_ARGUMENT;
  for (int k = 0; k < count; ++k)
    out[zyl::matchlib::rng_next_range(state, 0, static_cast<int>(n - 1))] = value;
  return ML_OK;
}

extern "C" {

ZYL_API int filter_checker_response_s8(const uint8_t* pixels, int height, int width,
                                       int8_t* response) {
  return zyl::matchlib::filter_checker_response_s8(pixels, height, width, response);
}
ZYL_API uint8_t imgstat_mean_abs_s8(const int8_t* response, int height, int width) {
  return zyl::matchlib::imgstat_mean_abs_s8(response, height, width);
}
ZYL_API int imgproc_remove_checker(const uint8_t* pixels, int height, int width, uint8_t* out) {
  return zyl::matchlib::imgproc_remove_checker(pixels, height, width, out);
}
ZYL_API int imgproc_open_close_mean3x3(const uint8_t* pixels, int height, int width, uint8_t* out) {
  return zyl::matchlib::imgproc_open_close_mean3x3(pixels, height, width, out);
}

}  // extern "C"
