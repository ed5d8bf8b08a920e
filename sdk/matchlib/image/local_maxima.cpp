// Local maxima of a score map: non-zero pixels not below any of their eight
// neighbours inside a border, then touching maxima thinned to the one that
// has no non-zero pixel to its right or in the three below.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/alloc_check.h"
#include "matchlib/image/local_maxima.h"

using zyl::matchlib::ml_malloc;

int zyl::matchlib::img_local_maxima_u8(const uint8_t* src, int height, int width, int radius,
                                       uint8_t* dst, int* count) {
  if (!src || !dst || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const int b = radius > 0 ? radius : 1;
  const std::size_t w = static_cast<std::size_t>(width);
  auto* above = static_cast<uint8_t*>(ml_malloc(w ? w : 1));
  auto* current = static_cast<uint8_t*>(ml_malloc(w ? w : 1));
  if (zyl::matchlib::alloc_check(above, current, nullptr, nullptr, nullptr, nullptr, nullptr, 2) !=
      ML_OK)
    return ML_NO_MEMORY;
  int survivors = 0;
  if (height - b > b && width - b > b) {
    // First pass: copies of the source rows above and at y keep the
    // comparison on source values when dst is src.
    std::memcpy(above, src + (b - 1) * w, w);
    for (int y = b; y < height - b; ++y) {
      std::memcpy(current, src + y * w, w);
      const uint8_t* below = src + (y + 1) * w;
      for (int x = b; x < width - b; ++x) {
        const uint8_t c = current[x];
        bool keep = c != 0;
        for (int dx = -1; dx <= 1 && keep; ++dx)
          keep = above[x + dx] <= c && current[x + dx] <= c && below[x + dx] <= c;
        dst[y * w + x] = keep ? c : 0;
      }
      std::swap(above, current);
    }
    // Second pass over the destination in row order.
    for (int y = b; y < height - b; ++y) {
      for (int x = b; x < width - b; ++x) {
        uint8_t& p = dst[y * w + x];
        if (!p) continue;
        const uint8_t* next = dst + (y + 1) * w;
        if (dst[y * w + x + 1] || next[x - 1] || next[x] || next[x + 1]) p = 0;
        else ++survivors;
      }
    }
  }
  std::free(above);
  std::free(current);
  if (count) *count = survivors;
  return ML_OK;
}

extern "C" {

ZYL_API int img_local_maxima_u8(const uint8_t* src, int height, int width, int radius, uint8_t* dst,
                                int* count) {
  return zyl::matchlib::img_local_maxima_u8(src, height, width, radius, dst, count);
}

}  // extern "C"
