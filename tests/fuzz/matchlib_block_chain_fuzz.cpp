// Both block-chain walkers on arbitrary bytes: no crash, no read past the
// input; every block handed to a routine lies inside the buffer, after the
// block handed over before it.
#include <cstdint>

#include "fuzz_check.h"
#include "zylscan/matchlib_codec.h"

namespace {

using zyl::test::require;

struct Walk {
  const std::uint8_t* begin;
  const std::uint8_t* end;
  const std::uint8_t* next;  // where the next block must start
  std::uint32_t header;
};

int visit(void* target, const std::uint8_t* body, std::uint32_t length, void*,
          const std::uint8_t* header) {
  auto* w = static_cast<Walk*>(target);
  require(header >= w->next && body == header + w->header);
  require(body + length <= w->end);
  // Read every byte handed over, so the sanitizers see any over-read.
  volatile std::uint8_t sink = 0;
  for (std::uint32_t i = 0; i < length; ++i) sink = sink ^ body[i];
  w->next = body + length;
  return 0;
}

int tail(void* target, const std::uint8_t* body, std::uint32_t length, void* user,
         const std::uint8_t* header) {
  // A second type whose routine may stop the walk.
  visit(target, body, length, user, header);
  return length == 1 ? 17 : 0;
}

const BlockHandler kTable[] = {{0, visit}, {1, visit}, {2, tail}, {0x0101, visit}, {0, nullptr}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto length = static_cast<std::uint32_t>(size);
  Walk w6{data, data + size, data, 6};
  const int s6 = blocks_dispatch6(&w6, kTable, data, length, nullptr);
  require(s6 == 0 || s6 == 17);
  Walk w4{data, data + size, data, 4};
  const int s4 = blocks_dispatch4(&w4, kTable, data, length, nullptr);
  require(s4 == 0 || s4 == 17);
  return 0;
}
