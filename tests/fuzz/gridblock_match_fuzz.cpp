// The grid-block matcher on arbitrary bytes: the first byte splits the
// rest into a probe and a gallery block, the next bytes vary the search.
// No crash; the alignment is consumed and a result is left only on success.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_xform.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6 || size > 6000) return 0;
  const std::size_t split = 5 + (data[0] * (size - 5)) / 256;
  const std::vector<std::uint8_t> probe(data + 5, data + split), gallery(data + split, data + size);
  const std::int16_t* d = gridblock_default_search();
  std::vector<std::int16_t> prm(d, d + GRIDBLOCK_SEARCH_PARAMS);
  prm[3] = static_cast<std::int16_t>(data[1] % 9);   // angle range
  prm[4] = static_cast<std::int16_t>(data[2] % 97);  // offset range
  prm[11] = static_cast<std::int16_t>(data[3] & 1);  // sub-score mode
  uint16_t scores[GRIDBLOCK_SUBSCORES];
  uint16_t count = GRIDBLOCK_SUBSCORES;
  RigidTransform* t = xform_create_dpi(static_cast<std::int8_t>(data[4]), 7, data[3], 500);
  const int st = gridblock_match(probe.data(), probe.size(), gallery.data(), gallery.size(), 500,
                                 scores, &count, &t, prm.data());
  if (st == ML_OK) {
    require(count == GRIDBLOCK_SUBSCORES);
    require(t != nullptr);
    require(scores[0] <= 32767 || prm[11] != 0);
  } else {
    require(count == 0);
  }
  xform_release(t);
  return 0;
}
