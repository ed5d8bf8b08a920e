// Removal of bad-area spots that good area encloses.
#include <cstdint>
#include <vector>

#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"
#include "zylscan/extract_filters.h"
#include "extract/spot_removal.h"

namespace zyl::extract {
namespace {

// A bad pixel stays bad exactly when a 4-connected path of bad pixels joins
// it to a bad pixel on the image border. A flood fill from the bad border
// pixels reaches the same fixpoint as repeated sweeps, in one visit per
// pixel.
void eliminate_spots(int width, int height, ByteImage flags) {
  constexpr std::uint8_t kBad = 0xFF, kKept = 0x7F, kGood = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) flags[y][x] = (flags[y][x] & kBadBit) ? kBad : kGood;

  std::vector<std::int64_t> pending;
  auto keep = [&](int x, int y) {
    if (flags[y][x] != kBad) return;
    flags[y][x] = kKept;
    pending.push_back(static_cast<std::int64_t>(y) * width + x);
  };
  for (int x = 0; x < width; ++x) {
    keep(x, 0);
    keep(x, height - 1);
  }
  for (int y = 0; y < height; ++y) {
    keep(0, y);
    keep(width - 1, y);
  }
  while (!pending.empty()) {
    const std::int64_t at = pending.back();
    pending.pop_back();
    const int y = static_cast<int>(at / width), x = static_cast<int>(at % width);
    if (x > 0) keep(x - 1, y);
    if (x + 1 < width) keep(x + 1, y);
    if (y > 0) keep(x, y - 1);
    if (y + 1 < height) keep(x, y + 1);
  }

  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) flags[y][x] = flags[y][x] == kKept ? 0xFF : 0;
}

}  // namespace
}  // namespace zyl::extract

int32_t zyl::extract::EliminateSpots(int32_t width, int32_t height, ByteImage flags) {
  if (zyl::extract::valid_image(width, height, flags)) zyl::extract::eliminate_spots(width, height, flags);
  return height;
}

extern "C" {

ZYL_API int32_t EliminateSpots(int32_t width, int32_t height, ByteImage flags) {
  return zyl::extract::EliminateSpots(width, height, flags);
}

}  // extern "C"
