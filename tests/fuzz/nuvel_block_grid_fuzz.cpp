// The block direction grid reader on arbitrary bytes: no crash, no read past
// the input, the grid within 128 x 128; coding what it read and reading that
// again gives a code that no longer changes.
#include <cstdint>
#include <memory>
#include <vector>

#include "api/nuvel_codec.h"
#include "fuzz_check.h"

namespace {

using namespace zyl::api;
using zyl::test::require;

std::vector<std::uint8_t> code_of(const FeatureRecord& r) {
  std::vector<std::uint8_t> out(2 + ZYL_MAX_BLOCKS * ZYL_MAX_BLOCKS);
  out.resize(compress_block_grid(r, out));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto grid = std::make_unique<FeatureRecord>();
  const std::size_t read = decompress_block_grid({data, size}, *grid);
  require(read <= size);
  require(grid->blockColumns <= ZYL_MAX_BLOCKS && grid->blockRows <= ZYL_MAX_BLOCKS);
  if (grid->blockColumns == 0) return 0;

  const std::vector<std::uint8_t> once = code_of(*grid);
  auto again = std::make_unique<FeatureRecord>();
  require(decompress_block_grid(once, *again) == once.size());
  require(again->blockColumns == grid->blockColumns && again->blockRows == grid->blockRows);
  require(code_of(*again) == once);
  return 0;
}
