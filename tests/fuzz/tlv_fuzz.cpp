// The BER-TLV readers on arbitrary bytes: no crash, no read past the input;
// a parsed tree encodes to a canonical form that parses and encodes again to
// the same bytes, and validation never accepts what the parser refuses.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "zylscan/matchlib_tlv.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto n = static_cast<std::uint32_t>(size);
  TlvElement e{};
  const std::uint32_t used = tlv_read_element(data, &e, n);
  require(used <= n);
  if (used) require(e.value >= data && e.value + e.length <= data + size);

  const std::uint16_t path[] = {0x7F2E, 0xA2, 0xC6};
  if (tlv_find_path(data, n, path, 3, &e)) require(e.value + e.length <= data + size);
  tlv_next_element(data, n, 0x81, &e);

  const int valid = tlv_validate(data, n);
  TlvNode* root = nullptr;
  const int status = tlv_parse(data, n, &root);
  require(status == ML_OK || status == ML_UNAVAILABLE);
  require((status == ML_OK) == (root != nullptr));
  // One complete element that validates also parses.
  if (valid == 0 && used == n) require(status == ML_OK);
  if (root) {
    std::uint8_t* first = nullptr;
    std::uint32_t first_size = 0;
    require(tlv_encode(root, &first, &first_size) == 0);
    require(first_size <= used);  // canonical lengths are never longer
    TlvNode* again = nullptr;
    require(tlv_parse(first, first_size, &again) == 0);
    std::uint8_t* second = nullptr;
    std::uint32_t second_size = 0;
    require(tlv_encode(again, &second, &second_size) == 0);
    require(second_size == first_size && std::memcmp(first, second, first_size) == 0);
    std::free(second);
    tlv_node_free(again);
    std::free(first);
    tlv_node_free(root);
  }
  return 0;
}
