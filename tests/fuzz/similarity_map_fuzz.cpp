// Dense-descriptor similarity map on arbitrary record bytes: the first
// bytes choose the split of the rest into records A and B, the map size, the
// shifts and the invert check. No read past either record, nothing written
// past the map, and an accepted pair leaves no cell unpainted.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 7 || size > 0xffffffu) return 0;
  const std::size_t split = std::min<std::size_t>((std::size_t{data[0]} << 8 | data[1]), size - 7);
  const int rows = data[2] % 80 + 1, columns = data[3] % 80 + 1;
  const int y_shift = static_cast<std::int8_t>(data[4]), x_shift = static_cast<std::int8_t>(data[5]);
  const int invert = data[6] & 1;
  // Each record in a buffer of its own size, so that a read past it shows.
  const std::vector<std::uint8_t> a(data + 7, data + 7 + split), b(data + 7 + split, data + size);
  // The map with a guard cell on each side.
  std::vector<std::uint8_t> map(static_cast<std::size_t>(rows) * columns + 2, 0xA5);
  const int status = blockrec_similarity_map(a.data(), static_cast<std::uint32_t>(a.size()), b.data(),
                                             static_cast<std::uint32_t>(b.size()), map.data() + 1, rows,
                                             columns, y_shift, x_shift, invert);
  require(map.front() == 0xA5 && map.back() == 0xA5);
  if (status == ML_OK)
    for (std::size_t k = 1; k + 1 < map.size(); ++k) require(map[k] != 0);

  DataBlob* ba = blob_create(79, a.data(), static_cast<std::uint32_t>(a.size()));
  DataBlob* bb = blob_create(79, b.data(), static_cast<std::uint32_t>(b.size()));
  std::uint16_t* scores = nullptr;
  int count = 0;
  const int s = desc8_similarity_blob(ba, bb, &scores, &count);
  require((s == 0) == (scores != nullptr) && (s == 0 ? count == 1 : count == 0));
  if (s == 0) require(scores[0] <= 128 * 256);
  std::free(scores);
  blob_release(ba);
  blob_release(bb);
  return 0;
}
