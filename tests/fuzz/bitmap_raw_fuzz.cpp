// The bitmap reader behind ZYLFPSCAN_BitmapToRaw on arbitrary bytes and
// sizes: no read past the bitmap, no write past the image, and an accepted
// bitmap gives its rows back bottom row last.
//
// Input: width and height as 16-bit little-endian signed values (so that
// negative and oversized ones occur), then the bitmap bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "device/image_calls.h"
#include "device/image_records.h"
#include "fuzz_check.h"
#include "zylscan/zylfpscan_status.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int width = static_cast<std::int16_t>(data[0] | data[1] << 8);
  const int height = static_cast<std::int16_t>(data[2] | data[3] << 8);
  const std::span<const std::uint8_t> bitmap(data + 4, size - 4);
  const bool valid = zyl::device::ValidImageSize(width, height);
  // An image buffer of exactly the pixel count (none for invalid sizes), so
  // that a write past it is caught.
  std::vector<std::uint8_t> raw(valid ? zyl::device::PixelCount(width, height) : 0, 0xEE);
  const int status = zyl::device::BitmapToRaw(bitmap, width, height, raw);
  const bool accepted = valid && bitmap.size() >= zyl::device::BitmapSize(width, height) &&
                        (bitmap[0] == 'B' || bitmap[0] == 'M');
  require(status == (accepted ? ZYLFPSCAN_OK : ZYLFPSCAN_ERR_PARAM));
  if (!accepted) {
    require(std::all_of(raw.begin(), raw.end(), [](std::uint8_t v) { return v == 0xEE; }));
    return 0;
  }
  const auto w = static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y)
    require(std::memcmp(raw.data() + y * w,
                        bitmap.data() + zyl::device::kBitmapHeaderSize + (height - 1 - y) * w, w) == 0);
  return 0;
}
