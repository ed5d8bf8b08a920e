// The context API's extraction calls: a grey image of any resolution is
// brought to 500 dpi, its minutiae extracted and written as a native
// template or a standard minutiae record.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "zylscan/xw_operations.h"

extern "C" {

ZYL_API int32_t ComputeStretchedImageSize(int32_t width, int32_t height, int32_t resolution,
                                          int32_t* stretched_width, int32_t* stretched_height) {
  if (!stretched_width || !stretched_height) return XW_ERR_NULL_ARGUMENT;
  if (resolution < XW_MIN_RESOLUTION || resolution > XW_MAX_RESOLUTION) return XW_ERR_RESOLUTION;
  const std::int64_t w = std::int64_t{width} * XW_WORK_RESOLUTION / resolution;
  const std::int64_t h = std::int64_t{height} * XW_WORK_RESOLUTION / resolution;
  const auto inside = [](std::int64_t v) { return v >= XW_MIN_WORK_SIZE && v <= XW_MAX_WORK_SIZE; };
  *stretched_width = static_cast<std::int32_t>(std::clamp<std::int64_t>(w, INT32_MIN, INT32_MAX));
  *stretched_height = static_cast<std::int32_t>(std::clamp<std::int64_t>(h, INT32_MIN, INT32_MAX));
  return inside(w) && inside(h) ? XW_OK : XW_ERR_IMAGE_SIZE;
}

}  // extern "C"
