// Single Sobel gradients, the Laplacian, the general 3x3 convolution, 2x2
// halving and decimation by two.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zylscan/matchlib_gradient.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/image/gradient_kernels.h"

namespace zyl::matchlib {
namespace {

bool bad_image(const void* src, int h, int w, const void* dst) {
  return !src || !dst || h < 0 || w < 0;
}

// Writes f(up, mid, down, x) at every inner pixel of a cleared map.
template <class F>
void inner3x3(const std::uint8_t* src, int h, int w, std::int8_t* out, F f) {
  const std::size_t width = static_cast<std::size_t>(w);
  std::memset(out, 0, static_cast<std::size_t>(h) * width);
  for (int y = 1; y + 1 < h; ++y) {
    const std::uint8_t* up = src + (y - 1) * width;
    const std::uint8_t* mid = up + width;
    const std::uint8_t* down = mid + width;
    std::int8_t* o = out + y * width;
    for (int x = 1; x + 1 < w; ++x) o[x] = static_cast<std::int8_t>(f(up, mid, down, x));
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int filter_sobel_x_s8(const uint8_t* src, int height, int width, int8_t* gx) {
  if (bad_image(src, height, width, gx)) return ML_BAD_ARGUMENT;
  inner3x3(src, height, width, gx, [](const uint8_t* u, const uint8_t* m, const uint8_t* d, int x) {
    return ((u[x + 1] + 2 * m[x + 1] + d[x + 1]) - (u[x - 1] + 2 * m[x - 1] + d[x - 1])) / 8;
  });
  return ML_OK;
}

extern "C" ZYL_API int filter_sobel_y_s8(const uint8_t* src, int height, int width, int8_t* gy) {
  if (bad_image(src, height, width, gy)) return ML_BAD_ARGUMENT;
  inner3x3(src, height, width, gy, [](const uint8_t* u, const uint8_t*, const uint8_t* d, int x) {
    return ((d[x - 1] + 2 * d[x] + d[x + 1]) - (u[x - 1] + 2 * u[x] + u[x + 1])) / 8;
  });
  return ML_OK;
}

int zyl::matchlib::filter_laplace_s8(const uint8_t* src, int height, int width, int8_t* dst) {
  if (bad_image(src, height, width, dst)) return ML_BAD_ARGUMENT;
  inner3x3(src, height, width, dst, [](const uint8_t* u, const uint8_t* m, const uint8_t* d, int x) {
    return (4 * m[x] - u[x] - d[x] - m[x - 1] - m[x + 1]) / 8;
  });
  return ML_OK;
}

extern "C" ZYL_API int filter_conv3x3_u8(const uint8_t* src, int height, int width,
                                         const int8_t* kernel, uint8_t* dst) {
  if (bad_image(src, height, width, dst) || !kernel) return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int sum = 0, weight = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        if (y + dy < 0 || y + dy >= height) continue;
        for (int dx = -1; dx <= 1; ++dx) {
          if (x + dx < 0 || x + dx >= width) continue;
          const int tap = kernel[(dy + 1) * 3 + dx + 1];
          sum += tap * src[(y + dy) * w + x + dx];
          weight += std::abs(tap);
        }
      }
      // A window whose inside taps are all zero has nothing to weigh: 0.
      dst[y * w + x] = static_cast<uint8_t>(weight ? sum / weight : 0);
    }
  return ML_OK;
}

int zyl::matchlib::filter_halve2x2_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  if (bad_image(src, height, width, dst)) return ML_BAD_ARGUMENT;
  if (height % 2 || width % 2) return ML_WRONG_KIND;
  const std::size_t w = static_cast<std::size_t>(width), ow = w / 2;
  for (int y = 0; y < height / 2; ++y) {
    const uint8_t* a = src + 2 * y * w;
    const uint8_t* b = a + w;
    for (std::size_t x = 0; x < ow; ++x)
      dst[y * ow + x] = static_cast<uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1]) >> 2);
  }
  return ML_OK;
}

extern "C" ZYL_API int filter_decimate2_s8(const int8_t* src, int height, int width, int8_t* dst) {
  if (bad_image(src, height, width, dst)) return ML_BAD_ARGUMENT;
  if (width <= 1) return ML_OK;
  const std::size_t w = static_cast<std::size_t>(width), ow = w / 2;
  for (int y = 0; y < height / 2; ++y)
    for (std::size_t x = 0; x < ow; ++x) dst[y * ow + x] = src[2 * y * w + 2 * x];
  return ML_OK;
}

extern "C" {

ZYL_API int filter_laplace_s8(const uint8_t* src, int height, int width, int8_t* dst) {
  return zyl::matchlib::filter_laplace_s8(src, height, width, dst);
}
ZYL_API int filter_halve2x2_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::filter_halve2x2_u8(src, height, width, dst);
}

}  // extern "C"
