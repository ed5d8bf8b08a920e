// Resamplers of raw pixel buffers: the general 8-bit resize with its
// smoothed halving, nearest-neighbour and windowed-sinc resampling, pixel
// replication and resampling to 500 dpi.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/pixel_rows.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_gradient.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/gradient_kernels.h"
#include "matchlib/image/rescale.h"

namespace zyl::matchlib {

namespace {

// The binomial smoothing kernel of each pixel type.
inline int binomial3x3(const std::uint8_t* s, int h, int w, std::uint8_t* d) {
  return zyl::matchlib::binomial3x3<std::uint8_t>(s, h, w, d);
}
inline int binomial3x3(const std::int8_t* s, int h, int w, std::int8_t* d) {
  return zyl::matchlib::binomial3x3<std::int8_t>(s, h, w, d);
}
inline int binomial3x3(const std::uint16_t* s, int h, int w, std::uint16_t* d) {
  return zyl::matchlib::binomial3x3<std::uint16_t>(s, h, w, d);
}
inline int binomial3x3(const std::int16_t* s, int h, int w, std::int16_t* d) {
  return zyl::matchlib::binomial3x3<std::int16_t>(s, h, w, d);
}

// Smoothed halving: each output pixel is the mean of a 2x2 block of the
// binomially smoothed source; an odd last row or column only enters through
// the smoothing. The 8-bit member skips the smoothing when both sides are
// even.
template <class T>
int halve_smooth(const T* src, std::uint32_t h, std::uint32_t w, T* dst) {
  if (!src || !dst || h < 2 || w < 2 || h > INT32_MAX || w > INT32_MAX) return ML_BAD_ARGUMENT;
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    if (h % 2 == 0 && w % 2 == 0)
      return zyl::matchlib::filter_halve2x2_u8(src, int(h), int(w), dst);
  }
  Scratch<T> smooth(pixel_count(h, w));
  if (!smooth) return ML_NO_MEMORY;
  if (const int st = binomial3x3(src, int(h), int(w), smooth.get()); st != ML_OK) return st;
  const std::uint32_t oh = h / 2, ow = w / 2;
  for (std::uint32_t y = 0; y < oh; ++y) {
    const T* s0 = smooth.get() + static_cast<std::size_t>(2 * y) * w;
    const T* s1 = s0 + w;
    T* out = dst + static_cast<std::size_t>(y) * ow;
    for (std::uint32_t x = 0; x < ow; ++x) {
      const std::int32_t sum = std::int32_t{s0[2 * x]} + s0[2 * x + 1] + s1[2 * x] + s1[2 * x + 1];
      out[x] = static_cast<T>(sum / 4);  // toward zero; a shift for unsigned sums
    }
  }
  return ML_OK;
}

// Bilinear pass of the resize: 16.16 steps over the source with the sample
// at (i + 0.5) * step, two taps per direction weighted in 1/256.
struct Tap {
  std::uint32_t first, second;
  std::uint32_t w_first, w_second;
};

inline Tap tap_at(std::uint64_t g, std::uint32_t size) {
  const std::uint32_t i = static_cast<std::uint32_t>(g >> 16);
  const std::uint32_t f = static_cast<std::uint32_t>(g & 0xFFFF);
  Tap t;
  if (f >= 0x8000) {
    t.w_second = (f - 0x8000) >> 8;
    t.first = i;
    t.second = i + 1;
  } else {
    t.w_second = (f + 0x8000) >> 8;
    t.first = i - 1;
    t.second = i;
  }
  t.w_first = 256 - t.w_second;
  // A one-pixel side puts the second tap (weight 0) past the edge; it is
  // clamped so nothing outside the image is read.
  t.first = std::min(t.first, size - 1);
  t.second = std::min(t.second, size - 1);
  return t;
}

void bilinear(const std::uint8_t* src, std::uint32_t sh, std::uint32_t sw, std::uint8_t* dst,
              std::uint32_t h, std::uint32_t w, Scratch<Tap>& cols) {
  const std::uint64_t sx = (std::uint64_t{sw - 1} << 16) / w;
  const std::uint64_t sy = (std::uint64_t{sh - 1} << 16) / h;
  std::uint64_t gx = sx / 2 + 0x8000;
  for (std::uint32_t j = 0; j < w; ++j, gx += sx) cols[j] = tap_at(gx, sw);
  std::uint64_t gy = sy / 2 + 0x8000;
  for (std::uint32_t i = 0; i < h; ++i, gy += sy) {
    const Tap ty = tap_at(gy, sh);
    const std::uint8_t* a = src + static_cast<std::size_t>(ty.first) * sw;
    const std::uint8_t* b = src + static_cast<std::size_t>(ty.second) * sw;
    std::uint8_t* out = dst + static_cast<std::size_t>(i) * w;
    for (std::uint32_t j = 0; j < w; ++j) {
      const Tap& tx = cols[j];
      const std::uint32_t top = tx.w_first * a[tx.first] + tx.w_second * a[tx.second];
      const std::uint32_t bottom = tx.w_first * b[tx.first] + tx.w_second * b[tx.second];
      out[j] = static_cast<std::uint8_t>((ty.w_first * top + ty.w_second * bottom) >> 16);
    }
  }
}

int resize_u8(const std::uint8_t* src, std::uint32_t sh, std::uint32_t sw, std::uint8_t* dst,
              std::uint32_t h, std::uint32_t w) {
  if (h == 0 || w == 0) return ML_OK;
  // The halving kernels take int sides.
  if (!src || !dst || sh == 0 || sw == 0 || sh > INT32_MAX || sw > INT32_MAX) return ML_BAD_ARGUMENT;
  if (sh == h && sw == w) {
    std::memmove(dst, src, pixel_count(h, w));
    return ML_OK;
  }
  if (sh == std::uint64_t{2} * h && sw == std::uint64_t{2} * w)
    return zyl::matchlib::filter_halve2x2_u8(src, int(sh), int(sw), dst);
  Scratch<std::uint8_t> halved;  // the latest intermediate; the caller's source is never freed
  const std::uint8_t* cur = src;
  std::uint32_t ch = sh, cw = sw;
  if (sh != std::uint64_t{2} * h && std::uint64_t{2} * h < sh) {
    while (std::uint64_t{2} * w < cw) {
      Scratch<std::uint8_t> next(pixel_count(ch / 2, cw / 2));
      if (!next) return ML_NO_MEMORY;
      if (const int st = halve_smooth(cur, ch, cw, next.get()); st != ML_OK) return st;
      halved = std::move(next);
      cur = halved.get();
      ch /= 2;
      cw /= 2;
      if (std::uint64_t{2} * h >= ch) break;
    }
  }
  Scratch<Tap> cols(w);
  if (!cols) return ML_NO_MEMORY;
  bilinear(cur, ch, cw, dst, h, w, cols);
  return ML_OK;
}

// Windowed-sinc tap weight in Q8 for a distance d in 1/256 pixel.
int lanczos_weight(int d, int a) {
  if (d == 0) return 256;
  if (d < -256 * a || d >= 256 * a) return 0;
  const std::int16_t d16 = static_cast<std::int16_t>(d);
  const int s1 = zyl::matchlib::fx_sin_phase24(d16 * 0x8000) >> 17;
  const int s2 = zyl::matchlib::fx_sin_phase24(d16 * 0x8000 / a) >> 17;
  const int r = (d16 * 0x3243f7) >> 14;  // pi * x in Q14
  return a * s1 * s2 / r * 256 / r;
}

// Corner-aligned 8.8 position of output index i of n over a side of size.
inline int corner_position(std::uint32_t i, std::uint32_t size, std::uint32_t n) {
  const std::int64_t num = std::int64_t{i} * (size - 1) * 256;
  const std::int64_t den = n - 1;
  return static_cast<int>((num + den / 2) / den);  // non-negative: halves round up
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::img_resize_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                                 uint32_t new_height, uint32_t new_width) {
  return resize_u8(src, height, width, dst, new_height, new_width);
}

#define ZYL_HALVE_SMOOTH(suffix, T)                                                               \
  extern "C" ZYL_API int img_halve_smooth_##suffix(const T* src, uint32_t height, uint32_t width, \
                                                   T* dst) {                                      \
    return halve_smooth<T>(src, height, width, dst);                                              \
  }
ZYL_HALVE_SMOOTH(u8, uint8_t)
ZYL_HALVE_SMOOTH(s8, int8_t)
ZYL_HALVE_SMOOTH(u16, uint16_t)
ZYL_HALVE_SMOOTH(s16, int16_t)
#undef ZYL_HALVE_SMOOTH

int zyl::matchlib::img_resize_nearest_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                         uint8_t* dst, uint32_t new_height, uint32_t new_width) {
  if (new_height == 0 || new_width == 0) return ML_OK;
  if (!src || !dst || height == 0 || width == 0) return ML_BAD_ARGUMENT;
  for (uint32_t i = 0; i < new_height; ++i) {
    const uint8_t* row = src + static_cast<std::size_t>(uint64_t{i} * height / new_height) * width;
    uint8_t* out = dst + static_cast<std::size_t>(i) * new_width;
    for (uint32_t j = 0; j < new_width; ++j) out[j] = row[uint64_t{j} * width / new_width];
  }
  return ML_OK;
}

extern "C" ZYL_API int img_scale_nearest_s8(const int8_t* src, uint32_t height, uint32_t width,
                                            uint32_t den, int8_t* dst, uint32_t new_height,
                                            uint32_t new_width, uint32_t num) {
  if (new_height == 0 || new_width == 0) return ML_OK;
  if (!src || !dst || den == 0) return ML_BAD_ARGUMENT;
  for (uint32_t i = 0; i < new_height; ++i) {
    const uint64_t y = uint64_t{i} * num / den;
    int8_t* out = dst + static_cast<std::size_t>(i) * new_width;
    for (uint32_t j = 0; j < new_width; ++j) {
      const uint64_t x = uint64_t{j} * num / den;
      out[j] = (y < height && x < width) ? src[static_cast<std::size_t>(y) * width + x] : 0;
    }
  }
  return ML_OK;
}

int zyl::matchlib::img_resize_lanczos_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                         uint8_t* dst, uint32_t new_height, uint32_t new_width,
                                         int32_t support) {
  // The corner-aligned positions divide by the target size minus one, and
  // supports above 2 overflow the Q14 products of the tap weight.
  if (!src || !dst || height == 0 || width == 0 || new_height < 2 || new_width < 2 ||
      support < 1 || support > 2)
    return ML_BAD_ARGUMENT;
  const int a = support;
  for (uint32_t i = 0; i < new_height; ++i) {
    const int py = corner_position(i, height, new_height);
    for (uint32_t j = 0; j < new_width; ++j) {
      const int px = corner_position(j, width, new_width);
      int32_t total = 0, sum = 0;
      for (int k = (py >> 8) - a + 1; k <= (py >> 8) + a; ++k) {
        if (k < 0 || k >= static_cast<int64_t>(height)) continue;
        const int wy = lanczos_weight(py - 256 * k, a);
        for (int l = (px >> 8) - a + 1; l <= (px >> 8) + a; ++l) {
          if (l < 0 || l >= static_cast<int64_t>(width)) continue;
          const int wx = lanczos_weight(px - 256 * l, a);
          const int32_t weight = wy * wx;
          total += weight;
          sum += weight * src[static_cast<std::size_t>(k) * width + l];
        }
      }
      int value;
      if (total == 0) {
        value = src[static_cast<std::size_t>(py >> 8) * width + (px >> 8)];
      } else if ((sum >= 0) == (total > 0)) {
        value = (sum + total / 2) / total;
      } else {
        value = (sum - total / 2) / total;
      }
      dst[static_cast<std::size_t>(i) * new_width + j] = static_cast<uint8_t>(std::clamp(value, 0, 255));
    }
  }
  return ML_OK;
}

extern "C" ZYL_API int8_t* img_enlarge_replicate_s8(const int8_t* src, uint32_t height,
                                                    uint32_t width, uint32_t factor,
                                                    uint32_t* out_height, uint32_t* out_width) {
  const uint64_t oh = uint64_t{height} * factor, ow = uint64_t{width} * factor;
  if (!src || oh == 0 || ow == 0 || oh > UINT32_MAX || ow > UINT32_MAX) return nullptr;
  Scratch<int8_t> out(pixel_count(oh, ow));
  if (!out) return nullptr;
  for (uint64_t y = 0; y < oh; ++y) {
    const int8_t* row = src + static_cast<std::size_t>(y / factor) * width;
    int8_t* o = out.get() + static_cast<std::size_t>(y * ow);
    for (uint64_t x = 0; x < ow; ++x) o[x] = row[x / factor];
  }
  if (out_height) *out_height = static_cast<uint32_t>(oh);
  if (out_width) *out_width = static_cast<uint32_t>(ow);
  return out.release();
}

int zyl::matchlib::img_resample_to_500dpi_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                             uint32_t resolution, uint8_t** out,
                                             uint32_t* out_height, uint32_t* out_width) {
  if (out) *out = nullptr;
  if (!src || !out || !out_height || !out_width || resolution == 0 || height < 2 || width < 2)
    return ML_BAD_ARGUMENT;
  const uint64_t d = uint64_t{resolution} * 512 / 500;  // step in 1/512 pixel
  uint64_t n = uint64_t{height} * 512 / d, m = uint64_t{width} * 512 / d;
  // Every sample needs a lower and a right neighbour.
  while (n > 0 && ((n - 1) * d >> 9) >= height - 1) --n;
  while (m > 0 && ((m - 1) * d >> 9) >= width - 1) --m;
  if (n > UINT32_MAX || m > UINT32_MAX) return ML_BAD_ARGUMENT;
  Scratch<uint8_t> buf(pixel_count(n, m));
  if (!buf) return ML_NO_MEMORY;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t gy = i * d;
    const int fy = static_cast<int>((gy >> 1) & 0xFF);
    const uint8_t* r0 = src + static_cast<std::size_t>(gy >> 9) * width;
    const uint8_t* r1 = r0 + width;
    for (uint64_t j = 0; j < m; ++j) {
      const uint64_t gx = j * d;
      const int fx = static_cast<int>((gx >> 1) & 0xFF);
      const std::size_t x = static_cast<std::size_t>(gx >> 9);
      const int top = r0[x] + (((r0[x + 1] - r0[x]) * fx) >> 8);
      const int bottom = r1[x] + (((r1[x + 1] - r1[x]) * fx) >> 8);
      buf[static_cast<std::size_t>(i * m + j)] = static_cast<uint8_t>(top + (((bottom - top) * fy) >> 8));
    }
  }
  *out = buf.release();
  *out_height = static_cast<uint32_t>(n);
  *out_width = static_cast<uint32_t>(m);
  return ML_OK;
}

extern "C" {

ZYL_API int img_resize_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                          uint32_t new_height, uint32_t new_width) {
  return zyl::matchlib::img_resize_u8(src, height, width, dst, new_height, new_width);
}
ZYL_API int img_resize_nearest_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                                  uint32_t new_height, uint32_t new_width) {
  return zyl::matchlib::img_resize_nearest_u8(src, height, width, dst, new_height, new_width);
}
ZYL_API int img_resize_lanczos_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                                  uint32_t new_height, uint32_t new_width, int32_t support) {
  return zyl::matchlib::img_resize_lanczos_u8(src, height, width, dst, new_height, new_width,
                                              support);
}
ZYL_API int img_resample_to_500dpi_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t resolution, uint8_t** out, uint32_t* out_height,
                                      uint32_t* out_width) {
  return zyl::matchlib::img_resample_to_500dpi_u8(src, height, width, resolution, out, out_height,
                                                  out_width);
}

}  // extern "C"
