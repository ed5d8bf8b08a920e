// The small pixel operations: the pixel count after a rescale, transposing,
// mirroring and reversing rows, and per-pixel gain and division.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"

extern "C" ZYL_API int img_scaled_pixel_count(int height, int width, int from_resolution,
                                              int to_resolution, uint32_t* out_count) {
  if (!out_count || height <= 0 || width <= 0 || to_resolution <= 0 ||
      to_resolution >= from_resolution)
    return ML_BAD_ARGUMENT;
  const std::int64_t from = from_resolution, to = to_resolution;
  if (from - to <= 8) {
    *out_count = static_cast<uint32_t>(std::int64_t{height} * width);
  } else {
    const std::int64_t h = (to * height + from / 2) / from;
    const std::int64_t w = (to * width + from / 2) / from;
    *out_count = static_cast<uint32_t>(h * w);
  }
  return ML_OK;
}

extern "C" ZYL_API void img_transpose_square(const uint8_t* pixels, int n, uint8_t* out) {
  if (!pixels || !out || n <= 0) return;
  const std::size_t s = n;
  if (out == pixels) {
    for (std::size_t i = 0; i < s; ++i)
      for (std::size_t j = i + 1; j < s; ++j) std::swap(out[i * s + j], out[j * s + i]);
    return;
  }
  for (std::size_t i = 0; i < s; ++i)
    for (std::size_t j = 0; j < s; ++j) out[i * s + j] = pixels[j * s + i];
}

extern "C" ZYL_API void img_mirror_rows(const uint8_t* pixels, int height, int width,
                                        uint8_t* out) {
  if (!pixels || !out || height <= 0 || width <= 0) return;
  const std::size_t w = width;
  for (std::size_t r = 0; r < std::size_t(height); ++r) {
    if (out != pixels) std::memcpy(out + r * w, pixels + r * w, w);
    std::reverse(out + r * w, out + (r + 1) * w);
  }
}

extern "C" ZYL_API void img_reverse_rows(const uint8_t* pixels, int height, int width,
                                         uint8_t* out) {
  if (!pixels || !out || height <= 0 || width <= 0) return;
  const std::size_t w = width, h = height;
  if (out != pixels) {
    for (std::size_t r = 0; r < h; ++r) std::memcpy(out + r * w, pixels + (h - 1 - r) * w, w);
    return;
  }
  for (std::size_t r = 0; r < h / 2; ++r)
    std::swap_ranges(out + r * w, out + (r + 1) * w, out + (h - 1 - r) * w);
}

extern "C" ZYL_API void img_gain_saturate(const uint8_t* pixels, int height, int width, int factor,
                                          uint8_t* out) {
  if (!pixels || !out || height <= 0 || width <= 0) return;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = static_cast<std::uint8_t>(
        std::clamp<std::int64_t>(std::int64_t{pixels[i]} * factor, 0, 255));
}

extern "C" ZYL_API void img_divide(const uint8_t* pixels, int height, int width, int divisor,
                                   uint8_t* out) {
  if (!pixels || !out || height <= 0 || width <= 0 || divisor <= 0) return;
  const std::size_t n = std::size_t(height) * std::size_t(width);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(pixels[i] / divisor);
}
