// The type-line template reader and the tools built on it, on arbitrary bytes:
// no crash, no read past the input, counts within the record, and whatever
// the reader makes of the input writes and reads back unchanged.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "typeline/template_codec.h"
#include "zylscan/typeline_template.h"
#include "zylscan/typeline_tools.h"

namespace {

namespace tl = zyl::typeline;
using Template = std::array<std::uint8_t, TYPELINE_TEMPLATE_SIZE>;

void require(bool condition) {
  if (!condition) std::abort();
}

void check_bounds(const TypelineRecord& r) {
  require(r.singular.count >= 0 && r.singular.count <= TYPELINE_MAX_SINGULAR_POINTS);
  require(r.minutiae.count >= 0 && r.minutiae.count <= TYPELINE_MAX_MINUTIAE);
  require(r.grid.columns * r.grid.rows <= TYPELINE_MAX_BLOCKS);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto record = std::make_unique<TypelineRecord>();
  tl::read_template({data, size}, *record);
  check_bounds(*record);

  // Written and read again, the record is stable: the second write repeats
  // the first byte for byte and keeps every minutia.
  Template first{}, second{};
  const int written = tl::write_template(*record, first);
  require(written / 100 <= 749);
  auto again = std::make_unique<TypelineRecord>();
  tl::read_template(first, *again);
  check_bounds(*again);
  require(again->minutiae.count == written % 100);
  require(tl::write_template(*again, second) == written);
  require(first == second);

  // The exported tools take whole 750-byte buffers.
  Template padded{};
  std::memcpy(padded.data(), data, std::min(size, padded.size()));
  std::array<std::uint8_t, TYPELINE_MINUTIA_LIST_SIZE> list{};
  ExtractTerrakMinutias(padded.data(), list.data());
  require(static_cast<std::int8_t>(list[0]) >= 0 && list[0] <= TYPELINE_MAX_MINUTIAE);
  Template merged{};
  const int shift = size > 4 ? static_cast<std::int8_t>(data[4]) * 4 : 0;
  require(MergeTerrakTemplate(padded.data(), first.data(), shift, merged.data()) == 1);
  tl::read_template(merged, *again);
  check_bounds(*again);
  return 0;
}
