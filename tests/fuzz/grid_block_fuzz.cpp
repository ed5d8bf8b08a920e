// The grid feature block reader on arbitrary bytes: no crash, no read past
// the input; a block it accepts stores and reads back to the same head and
// valid flags, and its stored form parses again.
#include <cstdint>
#include <cstdlib>

#include "fuzz_check.h"
#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  GridFeatureBlock* b = nullptr;
  const int status = gridblock_parse(data, static_cast<std::uint32_t>(size), &b);
  require(status == ML_OK || status == ML_CORRUPT);
  require((status == ML_OK) == (b != nullptr));
  if (!b) return 0;
  std::uint8_t* out = nullptr;
  std::uint16_t length = 0;
  const int written = gridblock_serialize(b, &out, &length, nullptr);
  require(written == ML_OK || written == ML_WRONG_KIND);
  if (written == ML_OK) {
    GridFeatureBlock* again = nullptr;
    require(gridblock_parse(out, length, &again) == ML_OK);
    require(again->rows == b->rows && again->columns == b->columns && again->cell_size == b->cell_size);
    for (int i = 0; i < b->rows * b->columns; ++i) require(again->cells[i].valid == (b->cells[i].valid & 1));
    gridblock_free(again);
    std::free(out);
  }
  gridblock_free(b);
  return 0;
}
