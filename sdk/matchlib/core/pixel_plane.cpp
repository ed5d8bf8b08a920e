// Plain multi-channel pixel buffer: header and pixels in one allocation.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_sampling.h"
#include "matchlib/core/pixel_plane.h"

using zyl::matchlib::ml_malloc;

PixelPlane* zyl::matchlib::plane_create(int rows, int width, int channels, int stride) {
  if (rows < 0 || width < 0 || channels < 0) return nullptr;
  if (std::int64_t{stride} < std::int64_t{width} * channels) return nullptr;
  const std::uint64_t bytes = std::uint64_t(rows) * std::uint64_t(stride);
  if (bytes > SIZE_MAX - sizeof(PixelPlane)) return nullptr;
  auto* p = static_cast<PixelPlane*>(ml_malloc(sizeof(PixelPlane) + bytes));
  if (!p) return nullptr;
  p->data = reinterpret_cast<uint8_t*>(p + 1);
  p->rows = rows;
  p->width = width;
  p->stride = stride;
  p->channels = channels;
  return p;
}

extern "C" ZYL_API PixelPlane* plane_create_packed(int rows, int width, int channels) {
  const std::int64_t stride = std::int64_t{width} * channels;
  if (stride > INT32_MAX) return nullptr;
  return zyl::matchlib::plane_create(rows, width, channels, static_cast<int>(stride));
}

extern "C" ZYL_API void plane_free(PixelPlane* plane) { std::free(plane); }

extern "C" ZYL_API void plane_clear(PixelPlane* plane) {
  if (plane && plane->rows > 0)
    std::memset(plane->data, 0, std::size_t(plane->rows) * std::size_t(plane->stride));
}

extern "C" ZYL_API uint8_t* plane_pixel_ptr(const PixelPlane* plane, int row, int column) {
  return plane ? plane->data + zyl::matchlib::plane_pixel_offset(plane, row, column) : nullptr;
}

int zyl::matchlib::plane_pixel_offset(const PixelPlane* plane, int row, int column) {
  return plane ? row * plane->stride + column * plane->channels : 0;
}

extern "C" {

ZYL_API PixelPlane* plane_create(int rows, int width, int channels, int stride) {
  return zyl::matchlib::plane_create(rows, width, channels, stride);
}
ZYL_API int plane_pixel_offset(const PixelPlane* plane, int row, int column) {
  return zyl::matchlib::plane_pixel_offset(plane, row, column);
}

}  // extern "C"
