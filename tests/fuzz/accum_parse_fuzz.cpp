// The accumulator's saved-form reader on arbitrary bytes, once as given and
// once with the version field forced to each form in turn by the first
// byte: no crash, no read past the input, no allocation the bytes do not
// vouch for; an accepted accumulator writes a version-7 form that parses
// back and writes the same bytes again.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_accum.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

namespace {

void check(const std::uint8_t* data, std::size_t size) {
  ImpressionAccumulator* a = nullptr;
  const int status = accum_parse(data, static_cast<std::uint32_t>(size), &a);
  require(status == ML_OK || status == ML_BAD_ARGUMENT || status == ML_CORRUPT);
  require((status == ML_OK) == (a != nullptr));
  if (!a) return;
  require(a->height > 0 && a->width > 0 && a->base_map);
  AccumState* first = nullptr;
  std::uint32_t n = 0;
  require(accum_serialize(a, &first, &n) == 0 && n == first->size);
  ImpressionAccumulator* again = nullptr;
  require(accum_parse(first->bytes, n, &again) == 0);
  std::vector<std::uint8_t> second(accum_write(nullptr, again));
  require(accum_write(second.data(), again) == n);
  require(std::vector<std::uint8_t>(first->bytes, first->bytes + n) == second);
  accum_release(again);
  accum_state_release(first);
  accum_release(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check(data, size);
  if (size >= 3) {
    std::vector<std::uint8_t> forced(data + 1, data + size);
    forced[0] = 0;
    forced[1] = static_cast<std::uint8_t>(data[0] % 7 + 1);
    check(forced.data(), forced.size());
  }
  return 0;
}
