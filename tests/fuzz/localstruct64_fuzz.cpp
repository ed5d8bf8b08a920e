// Local-structure forms and cards on arbitrary bytes (64- and 46-minutia
// forms): the form checks guard the comparisons (no read past the form, no
// neighbour index past its minutiae), and a card that prepares gives a form
// that passes the check.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_localstruct.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 2 || size > 8192) return 0;
  const std::size_t cut = std::min<std::size_t>(size, 2u * data[0] + 2u * data[1] * 8u);
  const std::uint8_t* form = data;
  const auto form_length = static_cast<std::uint32_t>(cut);
  const std::uint8_t* card = data + cut;
  const auto card_length = static_cast<std::uint32_t>(size - cut);
  std::vector<std::uint8_t> work(2064), out(LOCALSTRUCT64_SIZE);
  CardMatchResult result{};
  result.kind = CARD_RESULT_KIND;
  CardAlignment alignment{};
  localstruct64_compare(work.data(), 2064, form, form_length, card, card_length, &result, &alignment, data[0] & 3);
  require(result.count == 0 || result.count == 1 || result.count == 9);
  std::uint16_t length = 0;
  if (localstruct64_prepare(work.data(), 2064, card, card_length, out.data(), LOCALSTRUCT64_SIZE, &length,
                            localstruct64_copy) == 0) {
    require(length >= LOCALSTRUCT64_HEAD && length <= LOCALSTRUCT64_SIZE);
    require(localstruct64_form_check(out.data(), length) == 0);
    CardMatchResult self{};
    require(localstruct64_compare(work.data(), 2064, out.data(), length, card, card_length, &self, nullptr, 0) == 0);
  }
  CardMatchResult compact{};
  compact.kind = CARD_RESULT_KIND;
  localstruct46_compare_alt(work.data(), 2064, form, form_length, card, card_length, &compact, &alignment, data[1] & 3);
  localstruct64_compare_compact(work.data(), 2064, form, form_length, card, card_length, &compact, nullptr, 2);
  require(compact.count == 0 || compact.count == 1 || compact.count == 9);
  if (localstruct46_prepare(work.data(), 2064, card, card_length, out.data(), LOCALSTRUCT46_SIZE, &length,
                            localstruct64_copy) == 0) {
    require(length >= LOCALSTRUCT46_HEAD && length <= LOCALSTRUCT46_SIZE);
    require(localstruct46_form_check(out.data(), length) == 0);
    CardMatchResult self{};
    require(localstruct46_compare(work.data(), 2064, out.data(), length, card, card_length, &self, nullptr, 1) == 0);
  }
  return 0;
}
