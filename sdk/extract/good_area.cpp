// Bad-area tools of the pipeline: growing the good area of a direction image
// and blanking the bad area of an image.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/guarded_call.h"
#include "extract/byte_image.h"
#include "zylscan/extract_minutiae.h"
#include "extract/good_area.h"

namespace {

constexpr std::uint8_t kBadBit = 0x80;

}  // namespace

static void EnhanceGoodAreaUnguarded(int32_t width, int32_t height, ByteImage D, int32_t r) {
  if (!D || width <= 0 || height <= 0) return;
  r = std::max(r, 0);
  // Running column counts of good pixels over the window's rows, then a
  // sliding horizontal sum over them: linear in the pixel count whatever r.
  // The answers for a row go into a scratch image first, because rows of D
  // above it are still read by the window of later rows.
  zyl::extract::OwnedByteImage near_good(width, height);
  if (!near_good) return;
  std::vector<std::int32_t> column(static_cast<std::size_t>(width), 0);
  auto add_row = [&](std::int32_t y, std::int32_t sign) {
    const std::uint8_t* row = D[y];
    for (std::int32_t x = 0; x < width; ++x) column[x] += sign * ((row[x] & kBadBit) == 0);
  };
  for (std::int32_t y = 0; y <= std::min(r, height - 1); ++y) add_row(y, 1);
  for (std::int32_t y = 0; y < height; ++y) {
    if (y - r - 1 >= 0) add_row(y - r - 1, -1);
    if (y > 0 && y + r < height) add_row(y + r, 1);
    std::int32_t sum = 0;
    for (std::int32_t x = 0; x <= std::min(r, width - 1); ++x) sum += column[x];
    std::uint8_t* out = near_good[y];
    for (std::int32_t x = 0; x < width; ++x) {
      if (x - r - 1 >= 0) sum -= column[x - r - 1];
      if (x > 0 && x + r < width) sum += column[x + r];
      out[x] = sum > 0;
    }
  }
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = D[y];
    const std::uint8_t* good = near_good[y];
    for (std::int32_t x = 0; x < width; ++x)
      row[x] = static_cast<std::uint8_t>(good[x] ? (row[x] & 0x7F) : (row[x] | kBadBit));
  }
}

void zyl::extract::EnhanceGoodArea(int32_t width, int32_t height, ByteImage D, int32_t r) {
  zyl::GuardedCall([&] { EnhanceGoodAreaUnguarded(width, height, D, r); });
}

void zyl::extract::MapBadArea(int32_t width, int32_t height, ByteImage image, ByteImage D) {
  if (!image || !D) return;
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x)
      if (D[y][x] & kBadBit) image[y][x] = 255;
}

extern "C" {

ZYL_API void EnhanceGoodArea(int32_t width, int32_t height, ByteImage D, int32_t r) {
  zyl::extract::EnhanceGoodArea(width, height, D, r);
}
ZYL_API void MapBadArea(int32_t width, int32_t height, ByteImage image, ByteImage D) {
  zyl::extract::MapBadArea(width, height, image, D);
}

}  // extern "C"
