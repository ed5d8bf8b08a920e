// The serialised-blob reader on arbitrary bytes: no crash, no read past the
// input; a blob it accepts writes back to exactly the bytes it consumed, and
// the blob owns its copy.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_blob.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto available = static_cast<std::uint32_t>(size);
  DataBlob* blob = nullptr;
  const std::uint32_t used = blob_read_bounded(data, available, &blob);
  require(used <= available);
  if (used == 0) {
    require(blob == nullptr);
    return 0;
  }
  if (data[0] == 0) {
    require(used == 1 && blob == nullptr);
    return 0;
  }
  require(blob != nullptr && used == 6 + blob_size(blob));
  require(blob_owns_data(blob) == 1);
  require(blob_data(blob) != data + 6 || blob_size(blob) == 0);
  std::vector<std::uint8_t> again(blob_write(nullptr, blob));
  require(again.size() == used);
  blob_write(again.data(), blob);
  // Any non-zero marker reads as present; the writer puts 1.
  require(again[0] == 1);
  require(std::memcmp(again.data() + 1, data + 1, used - 1) == 0);
  DataBlob* copy = blob_copy(blob);
  require(blob_equal(blob, copy) == 1);
  blob_release(copy);
  blob_release(blob);
  return 0;
}
