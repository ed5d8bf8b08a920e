// Verification of two templates of any of the formats the dispatch accepts
// (native, ISO and ANSI minutiae records, identity-card feature), as stored
// templates reach it: no crash, and either a score 0..1000 or one of the
// documented statuses.
//
// Input: a selector byte, a 16-bit little-endian length n, then template A
// (n bytes, as far as the input goes) and template B (the rest); each is
// padded with zeros into a 1024-byte feature buffer. Selector bits 0-1 and
// 2-3 put a format's leading bytes in front of A and B (none, "FMR", 'C',
// "QXE"), so that the converters behind the detection get exercised.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "zylscan/devalg.h"
#include "zylscan/nuvel.h"

namespace {

using zyl::test::require;
using Buffer = std::array<std::uint8_t, ZYL_TEMPLATE_BUFFER_SIZE>;

XWContext* context() {
  static XWContext* c = [] {
    setAlgMode(0);
    return XWCreateContext();
  }();
  return c;
}

Buffer shaped(int kind, const std::uint8_t* data, std::size_t size) {
  static const char* const kPrefixes[4] = {"", "FMR", "C", "QXE"};
  Buffer b{};
  const std::size_t p = std::strlen(kPrefixes[kind]);
  std::memcpy(b.data(), kPrefixes[kind], p);
  std::memcpy(b.data() + p, data, std::min(size, b.size() - p));
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int selector = data[0];
  const std::size_t n = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
  const Buffer a = shaped(selector & 3, data + 3, n);
  const Buffer b = shaped(selector >> 2 & 3, data + 3 + n, size - 3 - n);
  const std::int32_t s = DevAlgVerify(a.data(), b.data(), context());
  require((s >= 0 && s <= 1000) || s == DEVALG_ERR_UNKNOWN_FORMAT || s == DEVALG_ERR_VERIFY_INCOMPLETE ||
          s == ZYL_ERR_BAD_TEMPLATE);
  return 0;
}
