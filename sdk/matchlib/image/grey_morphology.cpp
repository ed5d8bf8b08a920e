// Grey-level morphology on 8-bit images: minimum and maximum over the
// clipped 3x3 square or 5-pixel cross, opening and closing, and the local
// grey range over a disk.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/alloc_check.h"
#include "matchlib/image/grey_morphology.h"

namespace zyl::matchlib {
namespace {

enum class Shape { kSquare, kCross };

// Extreme over the clipped 3 pixels of a row around x.
template <class Pick>
inline uint8_t row3(const uint8_t* row, int x, int width, Pick pick) {
  uint8_t v = row[x];
  if (x > 0) v = pick(v, row[x - 1]);
  if (x + 1 < width) v = pick(v, row[x + 1]);
  return v;
}

// One pass over the rows with two scratch rows, so that the destination may
// be the source. The square window is separable: the scratch rows hold the
// horizontal extremes of the source rows above and at the current row, and
// the row below is reduced as it is read. The cross keeps plain copies of
// the source rows above and at the current row.
template <class Pick>
int window_extreme(const uint8_t* src, int height, int width, uint8_t* dst, Shape shape,
                   Pick pick) {
  if (!src || !dst || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  const std::size_t w = static_cast<std::size_t>(width);
  auto* above = static_cast<uint8_t*>(ml_malloc(w));
  auto* current = static_cast<uint8_t*>(ml_malloc(w));
  if (zyl::matchlib::alloc_check(above, current, nullptr, nullptr, nullptr, nullptr, nullptr, 2) !=
      ML_OK)
    return ML_NO_MEMORY;
  const bool square = shape == Shape::kSquare;
  auto load = [&](uint8_t* into, const uint8_t* row) {
    if (square)
      for (int x = 0; x < width; ++x) into[x] = row3(row, x, width, pick);
    else
      std::memcpy(into, row, w);
  };
  load(current, src);
  for (int y = 0; y < height; ++y) {
    const uint8_t* below = y + 1 < height ? src + (y + 1) * w : nullptr;
    uint8_t* out = dst + y * w;
    if (square) {
      // above[x] is read for the last time here, so it takes the row
      // below's horizontal extreme, the next row's "current".
      for (int x = 0; x < width; ++x) {
        uint8_t v = current[x];
        if (y > 0) v = pick(v, above[x]);
        if (below) {
          const uint8_t b = row3(below, x, width, pick);
          v = pick(v, b);
          above[x] = b;
        }
        out[x] = v;
      }
    } else {
      for (int x = 0; x < width; ++x) {
        uint8_t v = row3(current, x, width, pick);
        if (y > 0) v = pick(v, above[x]);
        if (below) v = pick(v, below[x]);
        out[x] = v;
      }
      if (below) std::memcpy(above, below, w);  // becomes "current" after the swap
    }
    std::swap(above, current);
  }
  std::free(above);
  std::free(current);
  return ML_OK;
}

// Disk range of N consecutive interior pixels of output row y (no
// sideways clipping). The trip counts are constants, so the byte loops
// vectorise.
template <int N>
void chunk_range(const uint8_t* src, std::size_t w, int y, int y0, int y1, const int* reach,
                 uint8_t* out) {
  uint8_t lo[N], hi[N];
  for (int k = 0; k < N; ++k) {
    lo[k] = 255;
    hi[k] = 0;
  }
  for (int v = y0; v <= y1; ++v) {
    const int d = reach[std::abs(v - y)];
    const uint8_t* row = src + v * w;
    for (int u = -d; u <= d; ++u) {
      const uint8_t* p = row + u;
      for (int k = 0; k < N; ++k) {
        lo[k] = p[k] < lo[k] ? p[k] : lo[k];
        hi[k] = p[k] > hi[k] ? p[k] : hi[k];
      }
    }
  }
  for (int k = 0; k < N; ++k) out[k] = static_cast<uint8_t>(hi[k] - lo[k]);
}

constexpr auto kMin = [](uint8_t a, uint8_t b) { return std::min(a, b); };
constexpr auto kMax = [](uint8_t a, uint8_t b) { return std::max(a, b); };

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::filter_min3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  return window_extreme(src, height, width, dst, Shape::kSquare, kMin);
}
int zyl::matchlib::filter_max3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  return window_extreme(src, height, width, dst, Shape::kSquare, kMax);
}
extern "C" ZYL_API int filter_min_cross_u8(const uint8_t* src, int height, int width,
                                           uint8_t* dst) {
  return window_extreme(src, height, width, dst, Shape::kCross, kMin);
}
extern "C" ZYL_API int filter_max_cross_u8(const uint8_t* src, int height, int width,
                                           uint8_t* dst) {
  return window_extreme(src, height, width, dst, Shape::kCross, kMax);
}

int zyl::matchlib::filter_open3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  const int st = zyl::matchlib::filter_min3x3_u8(src, height, width, dst);
  return st != ML_OK ? st : zyl::matchlib::filter_max3x3_u8(dst, height, width, dst);
}

int zyl::matchlib::filter_close3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  const int st = zyl::matchlib::filter_max3x3_u8(src, height, width, dst);
  return st != ML_OK ? st : zyl::matchlib::filter_min3x3_u8(dst, height, width, dst);
}

static int filter_local_range_disk_u8_unguarded(const uint8_t* src, int height, int width,
                                                int radius, uint8_t* dst) {
  if (!src || !dst || height < 0 || width < 0 || radius < 0) return ML_BAD_ARGUMENT;
  if (height == 0 || width == 0) return ML_OK;
  // Each row of the disk dy*dy + dx*dx <= r*r + r is one run |dx| <= reach[|dy|].
  const std::int64_t r = radius, limit = r * r + r;
  std::vector<int> reach(static_cast<std::size_t>(radius) + 1);
  for (int dy = 0; dy <= radius; ++dy) {
    std::int64_t dx = 0;
    while ((dx + 1) * (dx + 1) + std::int64_t{dy} * dy <= limit) ++dx;
    reach[dy] = static_cast<int>(dx);
  }
  const std::size_t w = static_cast<std::size_t>(width);
  // Clipped scan of one output pixel (the border columns).
  auto clipped = [&](int y, int x) {
    const int y0 = std::max(0, y - radius), y1 = std::min(height - 1, y + radius);
    uint8_t lo = 255, hi = 0;
    for (int v = y0; v <= y1; ++v) {
      const int d = reach[std::abs(v - y)];
      const int x0 = std::max(0, x - d), x1 = std::min(width - 1, x + d);
      const uint8_t* row = src + v * w;
      for (int u = x0; u <= x1; ++u) {
        lo = std::min(lo, row[u]);
        hi = std::max(hi, row[u]);
      }
    }
    return static_cast<uint8_t>(hi - lo);
  };
  // Interior columns radius .. width-radius-1 never clip sideways: they are
  // taken a chunk at a time with the offsets in the outer loops, which the
  // compiler turns into wide byte minimum and maximum operations.
  constexpr int kChunk = 256;
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(0, y - radius), y1 = std::min(height - 1, y + radius);
    uint8_t* out = dst + y * w;
    const int inner_end = width - radius;
    for (int x = 0; x < std::min(radius, width); ++x) out[x] = clipped(y, x);
    int x = radius;
    for (; x + kChunk <= inner_end; x += kChunk)
      chunk_range<kChunk>(src + x, w, y, y0, y1, reach.data(), out + x);
    for (; x + 16 <= inner_end; x += 16) chunk_range<16>(src + x, w, y, y0, y1, reach.data(), out + x);
    if (x < inner_end) {
      if (inner_end - radius >= 16) {
        // The last few columns are redone within a full chunk ending there.
        chunk_range<16>(src + inner_end - 16, w, y, y0, y1, reach.data(), out + inner_end - 16);
      } else {
        for (; x < inner_end; ++x) out[x] = clipped(y, x);
      }
    }
    for (int x = std::max(inner_end, std::min(radius, width)); x < width; ++x) out[x] = clipped(y, x);
  }
  return ML_OK;
}

int zyl::matchlib::filter_local_range_disk_u8(const uint8_t* src, int height, int width, int radius,
                                              uint8_t* dst) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return filter_local_range_disk_u8_unguarded(src, height, width, radius, dst);
  });
}

extern "C" {

ZYL_API int filter_min3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::filter_min3x3_u8(src, height, width, dst);
}
ZYL_API int filter_max3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::filter_max3x3_u8(src, height, width, dst);
}
ZYL_API int filter_open3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::filter_open3x3_u8(src, height, width, dst);
}
ZYL_API int filter_close3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst) {
  return zyl::matchlib::filter_close3x3_u8(src, height, width, dst);
}
ZYL_API int filter_local_range_disk_u8(const uint8_t* src, int height, int width, int radius,
                                       uint8_t* dst) {
  return zyl::matchlib::filter_local_range_disk_u8(src, height, width, radius, dst);
}

}  // extern "C"
