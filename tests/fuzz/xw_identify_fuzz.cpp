// Identification and generalisation over arbitrary templates: a probe and
// two candidates through XWIdentifyStart / XWIdentifyNext / XWIdentifyEnd,
// the three through XWGeneralize (with a count from the input), and the
// device API's slot copy. No crash, answers from the documented sets,
// scores within 0..1000, an identification always ended, a merged template
// that reads back, slots copied exactly.
//
// Input: a count byte, two 16-bit little-endian lengths n1 and n2, then the
// probe (n1 bytes), the first candidate (n2 bytes) and the second (the
// rest), each padded with zeros into a 1024-byte feature buffer.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylfpscan_status.h"

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

bool decodes(const Buffer& b) {
  auto r = std::make_unique<FeatureRecord>();
  return DecompressFeatures(b.data(), r.get()) >= 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const int count = static_cast<std::int8_t>(data[0]);
  std::size_t rest = size - 5;
  const std::size_t n1 = std::min<std::size_t>(data[1] | data[2] << 8, rest);
  rest -= n1;
  const std::size_t n2 = std::min<std::size_t>(data[3] | data[4] << 8, rest);
  rest -= n2;
  const std::uint8_t* p = data + 5;
  const std::array<Buffer, 3> t = {padded(p, n1), padded(p + n1, n2), padded(p + n1 + n2, rest)};

  // Identification: a probe that does not decode is refused and starts
  // nothing; otherwise every candidate gets an answer and the run ends.
  const std::int32_t start = XWIdentifyStart(t[0].data(), context());
  require(start == (decodes(t[0]) ? XW_OK : XW_ERR_BAD_TEMPLATE));
  if (start == XW_OK) {
    for (int i = 1; i < 3; ++i) {
      auto details = std::make_unique<MatchDetails>();
      details->size = XW_DETAILS_LONG;
      const std::int32_t r = XWIdentifyNext(t[i].data(), details.get(), context());
      if (!decodes(t[i])) {
        require(r == XW_ERR_BAD_TEMPLATE);
        continue;
      }
      require(r == 0 || r == -1);
      require(details->score >= 0 && details->score <= 1000);
    }
    require(XWIdentifyEnd(context()) == XW_OK);
  }
  require(XWIdentifyEnd(context()) != XW_OK);  // nothing is left running

  const std::uint8_t* set[3] = {t[0].data(), t[1].data(), t[2].data()};
  Buffer merged{};
  std::int32_t length = -1;
  const std::int32_t base = XWGeneralize(count, set, merged.data(), &length, context());
  if (count != 3) require(base < -1);
  require(base >= -1000 && base <= 2);
  if (base >= 0) {
    require(length > 0 && length <= static_cast<std::int32_t>(merged.size()));
    require(decodes(merged));
  }

  // The device API's generalisation copies whole slots.
  const int slots = std::clamp(count, -1, 3);
  std::vector<std::uint8_t> in(3 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
  for (int i = 0; i < 3; ++i) std::copy(t[i].begin(), t[i].end(), in.begin() + i * ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
  std::vector<std::uint8_t> out(3 * ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0xEE);
  const int status = ZYLFPSCAN_GeneralizeTemplate(in.data(), slots, out.data());
  if (slots < 0) {
    require(status == ZYLFPSCAN_ERR_PARAM);
  } else {
    require(status == ZYLFPSCAN_OK);
    const std::size_t copied = static_cast<std::size_t>(slots) * ZYLFPSCAN_TEMPLATE_SLOT_SIZE;
    require(std::equal(in.begin(), in.begin() + copied, out.begin()));
    require(std::all_of(out.begin() + copied, out.end(), [](std::uint8_t v) { return v == 0xEE; }));
  }
  return 0;
}
