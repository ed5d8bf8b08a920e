// Exact reorientations of 8-bit images, rotation by any angle of 256 steps
// a turn into a buffer that holds the whole turned image, and pasting with
// an optional transparent grey value.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"
#include "zylscan/matchlib_sampling.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/subpixel.h"
#include "matchlib/image/reorient.h"

namespace zyl::matchlib {
namespace {

void flip_rotate(const uint8_t* src, int height, int width, int code, uint8_t* dst) {
  const std::size_t h = static_cast<std::size_t>(height), w = static_cast<std::size_t>(width);
  switch (code) {
    case IMG_ORIENT_MIRROR:
      for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) dst[y * w + x] = src[y * w + (w - 1 - x)];
      return;
    case IMG_ORIENT_REVERSE_ROWS:
      for (std::size_t y = 0; y < h; ++y) std::memcpy(dst + y * w, src + (h - 1 - y) * w, w);
      return;
    case IMG_ORIENT_HALF_TURN:
      for (std::size_t k = 0, n = h * w; k < n; ++k) dst[k] = src[n - 1 - k];
      return;
    case IMG_ORIENT_QUARTER_CW:  // width rows of height pixels
      for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) dst[x * h + (h - 1 - y)] = src[y * w + x];
      return;
    case IMG_ORIENT_QUARTER_CCW:
      for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) dst[(w - 1 - x) * h + y] = src[y * w + x];
      return;
    default:
      std::memcpy(dst, src, h * w);
  }
}

struct RotationOut {
  void** buffer;
  int* height;
  int* width;
  int* row;
  int* col;
  void set(void* b, int h, int w, int r, int c) const {
    *buffer = b;
    if (height) *height = h;
    if (width) *width = w;
    if (row) *row = r;
    if (col) *col = c;
  }
};

// Quarter turns by exact reorientation; answers false for other angles.
bool quarter_turn(const uint8_t* src, int height, int width, int angle, const RotationOut& out,
                  int* status) {
  if (angle % 64 != 0) return false;
  auto* buf = static_cast<uint8_t*>(ml_malloc(static_cast<std::size_t>(height) * width));
  if (!buf) {
    *status = ML_NO_MEMORY;
    return true;
  }
  *status = ML_OK;
  switch (angle) {
    case 0:
      flip_rotate(src, height, width, IMG_ORIENT_COPY, buf);
      out.set(buf, height, width, 0, 0);
      break;
    case 64:
      flip_rotate(src, height, width, IMG_ORIENT_QUARTER_CW, buf);
      out.set(buf, width, height, 0, height - 1);
      break;
    case 128:
      flip_rotate(src, height, width, IMG_ORIENT_HALF_TURN, buf);
      out.set(buf, height, width, height - 1, width - 1);
      break;
    default:
      flip_rotate(src, height, width, IMG_ORIENT_QUARTER_CCW, buf);
      out.set(buf, width, height, width - 1, 0);
      break;
  }
  return true;
}

// General rotation: every result pixel (i, j) maps back to the Q14 source
// position (x, y) and sample(x, y) writes it or leaves the background.
template <class P, class Sample>
int rotate_general(int height, int width, int angle, P background, const RotationOut& out,
                   Sample sample) {
  int rh = 0, rw = 0, r0 = 0, c0 = 0;
  zyl::matchlib::geom_rotated_box(height, width, angle, &rh, &rw, &r0, &c0);
  const std::size_t cells = static_cast<std::size_t>(rh) * static_cast<std::size_t>(rw);
  auto* buf = static_cast<P*>(ml_malloc(cells ? cells * sizeof(P) : 1));
  if (!buf) return ML_NO_MEMORY;
  std::memset(buf, static_cast<uint8_t>(background), cells * sizeof(P));
  const std::int64_t c = zyl::matchlib::fx_cos256_alt(-angle),
                     s = zyl::matchlib::fx_sin256_alt(-angle);
  for (int i = 0; i < rh; ++i) {
    for (int j = 0; j < rw; ++j) {
      const std::int64_t x = (j - c0) * c - (i - r0) * s;
      const std::int64_t y = (j - c0) * s + (i - r0) * c;
      sample(x, y, buf[static_cast<std::size_t>(i) * rw + j]);
    }
  }
  out.set(buf, rh, rw, r0, c0);
  return ML_OK;
}

bool bad_rotation_args(const void* src, int height, int width, const void* out) {
  return !src || !out || height <= 0 || width <= 0;
}

template <class Combine>
void paste(uint8_t* dst, int dst_height, int dst_width, const uint8_t* src, int src_height,
           int src_width, int x, int y, int key, Combine combine) {
  if (!dst || !src) return;
  const int dh = static_cast<uint16_t>(dst_height), dw = static_cast<uint16_t>(dst_width);
  const int sh = static_cast<uint16_t>(src_height), sw = static_cast<uint16_t>(src_width);
  const unsigned k = static_cast<uint16_t>(key);
  for (int sy = 0; sy < sh; ++sy) {
    const long ty = static_cast<long>(y) + sy;
    if (ty < 0 || ty >= dh) continue;
    for (int sx = 0; sx < sw; ++sx) {
      const long tx = static_cast<long>(x) + sx;
      if (tx < 0 || tx >= dw) continue;
      const uint8_t v = src[static_cast<std::size_t>(sy) * sw + sx];
      if (k < 256 && v == k) continue;
      uint8_t& d = dst[static_cast<std::size_t>(ty) * dw + tx];
      d = combine(v, d);
    }
  }
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::img_flip_rotate_u8(const uint8_t* src, int height, int width, int code,
                                      uint8_t* dst) {
  if (!src || !dst) return ML_BAD_ARGUMENT;
  if (height <= 0 || width <= 0) return ML_OK;  // nothing to reorient
  flip_rotate(src, height, width, code, dst);
  return ML_OK;
}

int zyl::matchlib::img_rotate_u8(const uint8_t* src, int height, int width, int angle,
                                 uint8_t** out, int* out_height, int* out_width, int* origin_row,
                                 int* origin_col) {
  if (bad_rotation_args(src, height, width, out)) return ML_BAD_ARGUMENT;
  *out = nullptr;
  angle &= 255;
  const RotationOut ro{reinterpret_cast<void**>(out), out_height, out_width, origin_row,
                       origin_col};
  int status = ML_OK;
  if (quarter_turn(src, height, width, angle, ro, &status)) return status;
  return rotate_general<uint8_t>(
      height, width, angle, 255, ro, [&](std::int64_t x, std::int64_t y, uint8_t& px) {
        if (x < 0 || y < 0) return;
        const std::int64_t xi = x >> 14, yi = y >> 14;
        if (xi + 1 >= width || yi + 1 >= height) return;
        const std::int64_t fx = x & 16383, fy = y & 16383;
        const uint8_t* p0 = src + yi * width + xi;
        const uint8_t* p1 = p0 + width;
        const std::int64_t top = (16384 - fx) * p0[0] + fx * p0[1];
        const std::int64_t bottom = (16384 - fx) * p1[0] + fx * p1[1];
        px = static_cast<uint8_t>((top * (16384 - fy) + bottom * fy) >> 28);
      });
}

int zyl::matchlib::img_rotate_nearest_u8(const uint8_t* src, int height, int width, int angle,
                                         uint8_t fill, uint8_t** out, int* out_height,
                                         int* out_width, int* origin_row, int* origin_col) {
  if (bad_rotation_args(src, height, width, out)) return ML_BAD_ARGUMENT;
  *out = nullptr;
  angle &= 255;
  const RotationOut ro{reinterpret_cast<void**>(out), out_height, out_width, origin_row,
                       origin_col};
  int status = ML_OK;
  if (quarter_turn(src, height, width, angle, ro, &status)) return status;
  return rotate_general<uint8_t>(height, width, angle, fill, ro,
                                 [&](std::int64_t x, std::int64_t y, uint8_t& px) {
                                   if (x < 0 || y < 0) return;
                                   const std::int64_t xi = x >> 14, yi = y >> 14;
                                   if (xi < width && yi < height) px = src[yi * width + xi];
                                 });
}

extern "C" ZYL_API int img_rotate_nearest_s8(const int8_t* src, int height, int width, int angle,
                                             int8_t fill, int8_t** out, int* out_height,
                                             int* out_width, int* origin_row, int* origin_col) {
  if (bad_rotation_args(src, height, width, out)) return ML_BAD_ARGUMENT;
  *out = nullptr;
  const RotationOut ro{reinterpret_cast<void**>(out), out_height, out_width, origin_row,
                       origin_col};
  return rotate_general<int8_t>(height, width, angle & 255, fill, ro,
                                [&](std::int64_t x, std::int64_t y, int8_t& px) {
                                  if (x < 0 || y < 0) return;
                                  const std::int64_t xi = x >> 14, yi = y >> 14;
                                  if (xi < width && yi < height) px = src[yi * width + xi];
                                });
}

void zyl::matchlib::img_paste_keyed_u8(uint8_t* dst, int dst_height, int dst_width,
                                       const uint8_t* src, int src_height, int src_width, int x,
                                       int y, int key) {
  paste(dst, dst_height, dst_width, src, src_height, src_width, x, y, key,
        [](uint8_t s, uint8_t) { return s; });
}

extern "C" ZYL_API void img_paste_average_u8(uint8_t* dst, int dst_height, int dst_width,
                                             const uint8_t* src, int src_height, int src_width,
                                             int x, int y, int key) {
  paste(dst, dst_height, dst_width, src, src_height, src_width, x, y, key,
        [](uint8_t s, uint8_t d) { return static_cast<uint8_t>((s + d) >> 1); });
}

extern "C" ZYL_API void img_row_pointers(uint64_t base, int n, uint32_t stride, uint64_t* table) {
  if (!table) return;
  for (int i = 0; i < n; ++i) table[i] = base + static_cast<uint64_t>(i) * stride;
}

extern "C" {

ZYL_API int img_flip_rotate_u8(const uint8_t* src, int height, int width, int code, uint8_t* dst) {
  return zyl::matchlib::img_flip_rotate_u8(src, height, width, code, dst);
}
ZYL_API int img_rotate_u8(const uint8_t* src, int height, int width, int angle, uint8_t** out,
                          int* out_height, int* out_width, int* origin_row, int* origin_col) {
  return zyl::matchlib::img_rotate_u8(src, height, width, angle, out, out_height, out_width,
                                      origin_row, origin_col);
}
ZYL_API int img_rotate_nearest_u8(const uint8_t* src, int height, int width, int angle,
                                  uint8_t fill, uint8_t** out, int* out_height, int* out_width,
                                  int* origin_row, int* origin_col) {
  return zyl::matchlib::img_rotate_nearest_u8(src, height, width, angle, fill, out, out_height,
                                              out_width, origin_row, origin_col);
}
ZYL_API void img_paste_keyed_u8(uint8_t* dst, int dst_height, int dst_width, const uint8_t* src,
                                int src_height, int src_width, int x, int y, int key) {
  zyl::matchlib::img_paste_keyed_u8(dst, dst_height, dst_width, src, src_height, src_width, x, y,
                                    key);
}

}  // extern "C"
