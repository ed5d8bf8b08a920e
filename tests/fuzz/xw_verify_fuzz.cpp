// Verification and generalisation of arbitrary templates: no crash, a status
// from the documented set, a score that is never negative and detail pairs
// that name existing minutiae; a merged template reads back.
//
// Input: a 16-bit little-endian length n, then template A (n bytes, as far
// as the input goes) and template B (the rest); each is padded with zeros
// into a 1024-byte feature buffer as the SDK's callers hold them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

using zyl::test::require;
using Buffer = std::array<std::uint8_t, ZYL_TEMPLATE_BUFFER_SIZE>;

XWContext* context() {
  static XWContext* c = XWCreateContext();
  return c;
}

Buffer padded(const std::uint8_t* data, std::size_t size) {
  Buffer b{};
  std::memcpy(b.data(), data, std::min(size, b.size()));
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t n = std::min<std::size_t>(data[0] | data[1] << 8, size - 2);
  const Buffer a = padded(data + 2, n);
  const Buffer b = padded(data + 2 + n, size - 2 - n);
  auto ra = std::make_unique<FeatureRecord>(), rb = std::make_unique<FeatureRecord>();
  const bool a_ok = DecompressFeatures(a.data(), ra.get()) >= 0;
  const bool b_ok = DecompressFeatures(b.data(), rb.get()) >= 0;

  auto details = std::make_unique<MatchDetails>();
  details->size = XW_DETAILS_LONG;
  const std::int32_t status = XWVerify(a.data(), b.data(), details.get(), context());
  if (!a_ok || !b_ok) {
    require(status == XW_ERR_BAD_TEMPLATE);
    return 0;
  }
  require(status == XW_VERIFY_COMPLETED);
  require(details->score >= 0);
  require(details->pairCount >= 0 && details->pairCount <= XW_DETAILS_MAX_PAIRS);
  for (int i = 0; i < details->pairCount; ++i) {
    // Either direction may have written the pairs.
    const int t = details->testIndexes[i], s = details->sampleIndexes[i];
    require((t < ra->minutiaCount && s < rb->minutiaCount) || (t < rb->minutiaCount && s < ra->minutiaCount));
  }

  const std::uint8_t* set[3] = {a.data(), a.data(), b.data()};
  Buffer merged{};
  std::int32_t length = -1;
  const std::int32_t base = XWFGeneralize(set, merged.data(), &length, context());
  require(base >= -1 && base <= 2);
  if (base >= 0) {
    require(length > 0 && length <= static_cast<std::int32_t>(merged.size()));
    auto back = std::make_unique<FeatureRecord>();
    require(DecompressFeatures(merged.data(), back.get()) >= 0);
  }
  return 0;
}
