// The block-structured point record readers on arbitrary bytes (with two
// stand-in descriptor types so that extension lists are read too): no
// crash, no read past the input; an accepted record writes a stored form
// that reads back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "matchlib/keypoint/block_record.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

namespace {
std::uint32_t size16() { return 16; }
std::uint32_t size8() { return 8; }
std::uint32_t pattern() { return 0x47A12F37; }
const DescriptorType kType2 = {0x2, 0, nullptr, size16, nullptr, nullptr, nullptr, nullptr, pattern, size16};
const DescriptorType kType10 = {0x10, 0, nullptr, size8, nullptr, nullptr, nullptr, nullptr, pattern, size8};
const DescriptorType* const kKnown[] = {&kType2, &kType10};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto n = static_cast<std::uint32_t>(size);
  if (!data) return 0;
  std::uint8_t* pairs = nullptr;
  int count = 0;
  if (blockrec_read_points(data, n, &pairs, &count) == 0) require(pairs && count >= 0);
  std::free(pairs);

  BlockRecord* r = nullptr;
  const int status = zyl::matchlib::blockrec_parse_with({data, size}, data[0] & 1, 0, kKnown, &r);
  require((status == ML_OK) == (r != nullptr));
  if (!r) return 0;
  require(r->point_count <= r->capacity);
  std::uint8_t* out = nullptr;
  std::uint32_t out_size = 0;
  // The first write orders the points by type; from then on a write and a
  // read give the same bytes again.
  if (blockrec_write(r, &out, &out_size) == 0) {
    BlockRecord* back = nullptr;
    require(zyl::matchlib::blockrec_parse_with({out, out_size}, 0, 0, kKnown, &back) == 0);
    require(back->point_count <= r->point_count);
    std::uint8_t* second = nullptr;
    std::uint32_t second_size = 0;
    require(blockrec_write(back, &second, &second_size) == 0);
    BlockRecord* again = nullptr;
    require(zyl::matchlib::blockrec_parse_with({second, second_size}, 0, 0, kKnown, &again) == 0);
    std::uint8_t* third = nullptr;
    std::uint32_t third_size = 0;
    require(blockrec_write(again, &third, &third_size) == 0);
    require(third_size == second_size && std::memcmp(third, second, second_size) == 0);
    std::free(third);
    std::free(second);
    blockrec_free(again);
    blockrec_keep_best(back, back->point_count / 2);
    blockrec_free(back);
    std::free(out);
  }
  // The rest of the input as an extension byte string for this record.
  if (size > 8) zyl::matchlib::blockrec_read_extensions_with(r, {data + 8, size - 8}, kKnown);
  if (blockrec_write_extensions(r, &out, &out_size) == 0) std::free(out);
  blockrec_free(r);
  return 0;
}
