// The 3x3 mean of an 8-bit image over the window clipped to the image
// (9 pixels inside, 6 on an edge, 4 at a corner), truncated. Copies of the
// previous and current source rows let the destination be the source.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_object.h"

extern "C" {

ZYL_API int filter_box3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  if (!src || !dst || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  const std::size_t w = static_cast<std::size_t>(width);
  auto* above = static_cast<uint8_t*>(std::malloc(w));
  auto* current = static_cast<uint8_t*>(std::malloc(w));
  if (alloc_check(above, current, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != ML_OK)
    return ML_NO_MEMORY;
  std::memcpy(current, src, w);
  for (int y = 0; y < height; ++y) {
    const uint8_t* below = y + 1 < height ? src + (y + 1) * w : nullptr;
    const int rows = 1 + (y > 0) + (below != nullptr);
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(0, x - 1), x1 = std::min(width - 1, x + 1);
      int sum = 0;
      for (int u = x0; u <= x1; ++u) {
        sum += current[u];
        if (y > 0) sum += above[u];
        if (below) sum += below[u];
      }
      dst[y * w + x] = static_cast<uint8_t>(sum / (rows * (x1 - x0 + 1)));
    }
    std::swap(above, current);
    if (below) std::memcpy(current, below, w);
  }
  std::free(above);
  std::free(current);
  return ML_OK;
}

}  // extern "C"
