// The stored image record reader on arbitrary bytes: no crash, no read past
// the input; an image it accepts writes a record that reads back to the same
// record (one pass normalises what the writer stores differently: version
// and property bytes, the finger record's version).
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_image.h"

using zyl::test::require;

namespace {

std::vector<std::uint8_t> write_record(const GrayImage* img) {
  std::vector<std::uint8_t> out(image_write(nullptr, img));
  require(image_write(out.data(), img) == out.size());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto available = static_cast<std::uint32_t>(size);
  GrayImage* img = nullptr;
  const std::uint32_t used = image_read_bounded(data, available, &img);
  require(used <= available);
  if (!img) return 0;
  require(used >= 28);
  MaskPlane* mask = image_mask_plane(img);
  require(!mask || (mask_height(mask) == image_height(img) && mask_width(mask) == image_width(img)));
  const auto once = write_record(img);
  GrayImage* again = nullptr;
  require(image_read_bounded(once.data(), once.size(), &again) == once.size());
  require(again != nullptr);
  require(write_record(again) == once);
  image_release(again);
  image_release(img);
  return 0;
}
