// Clean-ups of 0/1 byte maps: isolated cells, 3x3 majority, 3x3 erosion and
// dilation and the opening. The window operations keep copies of the rows
// above and at the current row, so the destination may be the source.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/alloc_check.h"
#include "matchlib/filter/bilevel_morphology.h"

namespace zyl::matchlib {
namespace {

// Runs cell(window_sum, window_count, centre) -> new value over the clipped
// 3x3 windows of the map, reading the source as it was.
template <class Cell>
int window3x3(const uint8_t* src, int height, int width, uint8_t* dst, Cell cell) {
  if (!src || !dst || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  const std::size_t w = static_cast<std::size_t>(width);
  auto* above = static_cast<uint8_t*>(ml_malloc(w));
  auto* current = static_cast<uint8_t*>(ml_malloc(w));
  if (zyl::matchlib::alloc_check(above, current, nullptr, nullptr, nullptr, nullptr, nullptr, 2) !=
      ML_OK)
    return ML_NO_MEMORY;
  std::memcpy(current, src, w);
  for (int y = 0; y < height; ++y) {
    const uint8_t* below = y + 1 < height ? src + (y + 1) * w : nullptr;
    const int rows = 1 + (y > 0) + (below != nullptr);
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(0, x - 1), x1 = std::min(width - 1, x + 1);
      int sum = 0, nonzero = 0;
      for (int u = x0; u <= x1; ++u) {
        sum += current[u];
        nonzero += current[u] != 0;
        if (y > 0) {
          sum += above[u];
          nonzero += above[u] != 0;
        }
        if (below) {
          sum += below[u];
          nonzero += below[u] != 0;
        }
      }
      dst[y * w + x] = cell(sum, nonzero, rows * (x1 - x0 + 1), current[x]);
    }
    std::swap(above, current);
    if (below) std::memcpy(current, below, w);
  }
  std::free(above);
  std::free(current);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::bilevel_remove_isolated(const uint8_t* src, int height, int width,
                                           uint8_t* dst) {
  if (!src || !dst || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  const std::size_t w = static_cast<std::size_t>(width);
  if (src != dst) std::memmove(dst, src, static_cast<std::size_t>(height) * w);
  if (width <= 2) return ML_OK;
  // Reads come from the source; in place, earlier changes are seen.
  for (int y = 1; y + 1 < height; ++y) {
    for (int x = 1; x + 1 < width; ++x) {
      int ones = 0, zeros = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (!dy && !dx) continue;
          const uint8_t v = src[(y + dy) * w + x + dx];
          ones += v == 1;
          zeros += v == 0;
        }
      const uint8_t c = src[y * w + x];
      if (c == 1 && zeros == 8) dst[y * w + x] = 0;
      else if (c != 1 && ones == 8) dst[y * w + x] = 1;
    }
  }
  return ML_OK;
}

int zyl::matchlib::bilevel_majority3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  // A corner cell needs all 4 of its cells; edges and the interior more than 4.
  return window3x3(src, height, width, dst, [](int sum, int, int count, uint8_t) -> uint8_t {
    return count == 4 ? sum >= 4 : sum > 4;
  });
}

int zyl::matchlib::bilevel_erode3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  return window3x3(src, height, width, dst, [](int, int nonzero, int count, uint8_t c) -> uint8_t {
    return nonzero < count ? 0 : c;
  });
}

int zyl::matchlib::bilevel_dilate3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  return window3x3(src, height, width, dst, [](int, int nonzero, int, uint8_t c) -> uint8_t {
    return c == 0 && nonzero > 0 ? 1 : c;
  });
}

int zyl::matchlib::bilevel_open3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  const int st = zyl::matchlib::bilevel_erode3x3(src, height, width, dst);
  if (st != ML_OK) return st;
  return zyl::matchlib::bilevel_dilate3x3(dst, height, width, dst);
}

extern "C" {

ZYL_API int bilevel_remove_isolated(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::bilevel_remove_isolated(src, height, width, dst);
}
ZYL_API int bilevel_majority3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::bilevel_majority3x3(src, height, width, dst);
}
ZYL_API int bilevel_erode3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::bilevel_erode3x3(src, height, width, dst);
}
ZYL_API int bilevel_dilate3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::bilevel_dilate3x3(src, height, width, dst);
}
ZYL_API int bilevel_open3x3(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::bilevel_open3x3(src, height, width, dst);
}

}  // extern "C"
