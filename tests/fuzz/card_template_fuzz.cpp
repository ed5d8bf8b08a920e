// Card template readers on arbitrary bytes: element lookups, the compact
// minutiae reader, the extended template split, image removal, A2 additions
// and the composite sections. No crash, no read past the input; what they
// hand out lies inside the input, and a stripped template parses again.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "fuzz_check.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

namespace {

bool inside(const std::uint8_t* p, std::uint32_t n, const std::uint8_t* data, std::size_t size) {
  return !p || (p >= data && p + n <= data + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto length = static_cast<std::uint32_t>(size);
  CompactMinutia m[CARD_MAX_MINUTIAE];
  std::uint32_t count = 0;
  int has_quality = 0;
  for (int reduce = 0; reduce < 2; ++reduce)
    if (card_read_minutiae(data, length, 40, reduce, nullptr, m, &count, &has_quality) == ML_OK) require(count <= 40);
  const std::uint8_t* v = nullptr;
  std::uint32_t n = 0;
  if (card_get_minutiae(data, length, &v, &n) == ML_OK) require(inside(v, n, data, size) && n % 3 == 0);
  TlvElement e{};
  if (card_find_element(data, length, 0x92, &e) == ML_OK) require(inside(e.value, e.length, data, size));
  require(card_template_size(data, length) <= size);

  TlvElement c1{}, c2{}, c3{};
  if (card_parse_extended(data, length, &v, &n, &c1, &c2, &c3) == ML_OK) {
    require(inside(v, n, data, size));
    for (const TlvElement* c : {&c1, &c2, &c3}) require(inside(c->value, c->length, data, size));
  }
  for (const int code : {2, 66, 67, 77, 78, 79, 83, 85}) {
    if (tmpl_card_section(data, length, code, &v, &n) == ML_OK) require(inside(v, n, data, size));
  }
  std::uint8_t* out = nullptr;
  std::uint32_t out_size = 0;
  if (card_strip_image(data, length, &out, &out_size) == ML_OK) {
    require(out_size < size);
    std::free(out);
  }
  const std::uint8_t value[2] = {1, 2};
  if (card_add_a2_element(data, length, 0xC9, value, 2, &out, &out_size) == ML_OK) {
    require(tmpl_card_section(out, out_size, 85, &v, &n) == ML_OK || out_size > 0);
    std::free(out);
  }
  // Card to record and the extended builders: every accepted card gives a
  // record of its own declared length, or an extended template that splits
  // again.
  for (auto convert : {card_to_iso2005, card_to_iso2011})
    if (convert(data, length, &out, &out_size) == ML_OK) {
      require(fmr_get_length(out, out_size) == out_size);
      std::free(out);
    }
  MinutiaeRecord* record = minrec_create();
  if (record) {
    if (card_to_minrec_any(data, length, record) == ML_OK) require(record->count <= MINREC_MAX_MINUTIAE);
    minrec_free(record);
  }
  std::uint8_t cells[6] = {70, 8, 80, 9, 90, 10};
  const CellMap map{cells, 2, 3, 12, 0, 0};
  if (card_build_extended(data, length, &map, &map, nullptr, nullptr, cells, 2, 3, 0, 0, &out, &out_size) ==
      ML_OK) {
    require(card_parse_extended(out, out_size, &v, &n, &c1, &c2, &c3) == ML_OK && c1.value && c3.value);
    std::free(out);
  }
  if (card_wrap_block_maps(data, length, &map, &map, &out, &out_size) == ML_OK) {
    require(out_size > 0);
    std::free(out);
  }
  return 0;
}
