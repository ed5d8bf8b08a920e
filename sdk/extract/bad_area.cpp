// The bad-area map: pixels whose surroundings hold too few pixels with a
// clear orientation are marked bad in bit 7 of the direction image; the
// mean noise of the rest measures the image's quality.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "extract/derived_rows.h"
#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"
#include "zylscan/direction_image.h"
#include "extract/bad_area.h"
#include "extract/singular_points.h"

namespace zyl::extract {
namespace {

// Pixels within this distance of a singular point are never marked: the
// ridges there turn sharply and read as noise.
constexpr int kSingularGuard = 16;

// One row of the map: pixels with at most `limit` good pixels around them
// and not near a singular point get the bad bit; the noise of the others
// is summed. Returns that sum and the count of those pixels.
template <typename Sum>
std::pair<std::int64_t, std::int64_t> mark_row(const Sum* __restrict good, std::int64_t limit,
                                               const std::uint8_t* __restrict near, const std::uint8_t* noise,
                                               int width, std::uint8_t* dir) {
  // Window counts never exceed 2^31 - 1, so the limit compares as well in
  // 32 bits; a row's noise sum stays below 255 x width < 2^31.
  const auto limit32 = static_cast<std::int32_t>(std::min<std::int64_t>(limit, INT32_MAX));
  std::int32_t total = 0, count = 0;
  for (int x = 0; x < width; ++x) {
    // Every value read, then chosen: selects, not branches.
    const bool bad = (static_cast<std::int32_t>(good[x]) <= limit32) & (near[x] == 0);
    const std::int32_t n = noise[x];
    const std::uint8_t d = dir[x];
    dir[x] = static_cast<std::uint8_t>(d | (bad ? kBadBit : 0));
    total += bad ? 0 : n;
    count += bad ? 0 : 1;
  }
  return {total, count};
}

std::int32_t map_bad_area(int width, int height, ByteImage D, ByteImage W, const SingularPointList* points,
                          int radius, int threshold) {
  // The limit is half of the full window even where the image clips it.
  const std::int64_t side = 2 * static_cast<std::int64_t>(std::max(radius, 0)) + 1;
  const std::int64_t limit = side > 0xFFFFF ? std::numeric_limits<std::int64_t>::max() : side * side / 2;
  const int r = effective_radius(radius, width, height);
  // Each row's marks (1 = a good pixel: noise below the threshold), made
  // once as the row enters the window and read again as it leaves.
  auto marks_of = [&](int yy, std::uint8_t* __restrict out) {
    const std::uint8_t* __restrict noise = W[yy];
    for (int x = 0; x < width; ++x) out[x] = noise[x] < threshold ? 1 : 0;
  };
  DerivedRows<decltype(marks_of)> marks(width, height, ring_rows(r, 0, height), marks_of);
  // near[x]: column x of the current row lies within the guard of a point.
  std::vector<std::uint8_t> near(static_cast<std::size_t>(width), 0);
  std::int64_t total = 0, count = 0;
  with_window_sum_type(r, width, height, 1, [&](auto zero) {
    WindowSums<decltype(zero), 1> good(width, height, r);
    for (int y = 0; y < height; ++y) {
      good.advance_bytes(marks);
      if (points) zyl::extract::mark_singular_points_near_row(points, y, width, kSingularGuard, near.data());
      const auto [row_total, row_count] = mark_row(good.sums(0), limit, near.data(), W[y], width, D[y]);
      total += row_total;
      count += row_count;
    }
  });
  return count == 0 ? -1 : static_cast<std::int32_t>(total / count);
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

int32_t zyl::extract::ComputeBadArea(int32_t width, int32_t height, ByteImage D, ByteImage W,
                                     const SingularPointList* singular_points, int32_t radius, int32_t threshold) {
  if (!valid_image(width, height, D) || !W) return -1;
  return map_bad_area(width, height, D, W, singular_points, radius, threshold);
}

int32_t zyl::extract::ComputeBadAreaA(int32_t width, int32_t height, ByteImage D, ByteImage W, int32_t radius,
                                      int32_t threshold) {
  if (!valid_image(width, height, D) || !W) return -1;
  return map_bad_area(width, height, D, W, nullptr, radius, threshold);
}

extern "C" {

ZYL_API int32_t ComputeBadArea(int32_t width, int32_t height, ByteImage D, ByteImage W,
                               const SingularPointList* singular_points, int32_t radius, int32_t threshold) {
  return zyl::extract::ComputeBadArea(width, height, D, W, singular_points, radius, threshold);
}
ZYL_API int32_t ComputeBadAreaA(int32_t width, int32_t height, ByteImage D, ByteImage W, int32_t radius,
                                int32_t threshold) {
  return zyl::extract::ComputeBadAreaA(width, height, D, W, radius, threshold);
}

}  // extern "C"
