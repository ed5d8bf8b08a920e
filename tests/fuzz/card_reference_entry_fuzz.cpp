// The probe as a new reference template on arbitrary bytes: a comparison
// input of two parts and a probe buffer with room behind the probe. Input:
// BE u16 sizes of part 0 and part 1, a byte picking the room (bits 0-1)
// and the mode (the rest), then part 0, part 1 and the probe. No crash, no
// write outside the probe buffer; an entry that is made lies inside the
// buffer and fits its part once appended.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_card_compare.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5 || size > 8000) return 0;
  const std::size_t s1 = std::min<std::size_t>(size, 5u + (data[0] << 8 | data[1]));
  const std::size_t s2 = std::min<std::size_t>(size, s1 + (data[2] << 8 | data[3]));
  std::vector<std::uint8_t> a(data + 5, data + s1), b(data + s1, data + s2);
  const std::uint8_t* parts[2] = {a.data(), b.data()};
  const std::uint32_t sizes[2] = {static_cast<std::uint32_t>(a.size()), static_cast<std::uint32_t>(b.size())};
  static constexpr std::uint32_t kRoom[4] = {8, 700, 1600, 3544};
  std::vector<std::uint8_t> buffer(data + s2, data + size);
  const std::size_t used = buffer.size();
  buffer.resize(used + kRoom[data[4] & 3], 0);
  const std::size_t guarded = buffer.size();
  buffer.resize(guarded + 32, 0x5A);
  CardReferenceEntry e{};
  const int st = card_probe_to_reference_entry(parts, sizes, 2, buffer.data(), static_cast<std::uint32_t>(guarded),
                                               0, (data[4] >> 2) % 12, &e);
  for (std::size_t i = guarded; i < buffer.size(); ++i) require(buffer[i] == 0x5A);
  if (st == ML_OK) {
    require(e.element >= buffer.data() && e.element + e.element_size <= buffer.data() + guarded);
    require(e.new_length >= buffer.data() && e.new_length + 2 <= buffer.data() + guarded);
    require(e.part == 1 && e.length_width == 2);
    require(e.content_end + e.element_size <= sizes[1]);
  } else {
    require(e.element == nullptr);
  }
  return 0;
}
