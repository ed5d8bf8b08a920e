// The type-line matcher on two arbitrary templates: no crash, no read past
// either input, and every answer within its range. The first byte picks the
// mode; the rest is split into the two templates.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "fuzz_check.h"
#include "typeline/matching.h"
#include "zylscan/typeline_match.h"

namespace {

namespace tl = zyl::typeline;
using zyl::test::require;

bool valid_match_answer(int r, int t) { return r == -1 || r == 1 || r == 1000 || r >= t; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int mode = data[0] % 4 - 1;  // -1, 0, 1, 2
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  const std::size_t half = rest.size() / 2;
  const auto a = rest.first(half), b = rest.subspan(half);
  const int t = tl::acceptance_threshold(mode);

  // The bounded reader sees exactly the input's bytes.
  const int r = tl::matching_main(a, b, mode);
  require(valid_match_answer(r, t));

  // The exported entries take whole 750-byte buffers: the gallery holds
  // both templates, the probe is the first.
  std::array<std::uint8_t, 2 * TYPELINE_TEMPLATE_SIZE> gallery{};
  std::memcpy(gallery.data() + TYPELINE_TEMPLATE_SIZE, a.data(), std::min(a.size(), std::size_t{TYPELINE_TEMPLATE_SIZE}));
  std::memcpy(gallery.data(), b.data(), std::min(b.size(), std::size_t{TYPELINE_TEMPLATE_SIZE}));
  const std::uint8_t* pa = gallery.data() + TYPELINE_TEMPLATE_SIZE;
  const std::uint8_t* pb = gallery.data();
  const int score = finger_match(pb, pa, mode);
  require(score >= 0 && score <= 1000);
  require(valid_match_answer(matching_main(pa, pb, mode), t));

  const int found = finger_search(pa, gallery.data(), 2, mode);
  require(found == 0 || found == 1 || found == -11);
  return 0;
}
