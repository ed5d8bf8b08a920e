// The feature-vector reader on arbitrary bytes: no crash, no read past the
// input; an accepted vector fits the input and writes back the bytes it
// was read from.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto n = static_cast<std::uint32_t>(size);
  FeatureVector* v = nullptr;
  const int status = featvec_read(data, n, &v);
  require(status == ML_OK || status == ML_CORRUPT || (status == ML_BAD_ARGUMENT && !data));
  require((status == ML_OK) == (v != nullptr));
  if (!v) return 0;
  const std::size_t stored = 10 + 4 * std::size_t{v->count};
  require(stored <= size);
  std::uint8_t* out = nullptr;
  std::uint16_t out_size = 0;
  if (v->count <= FEATVEC_MAX_VALUES) {
    require(featvec_write(v, &out, &out_size) == 0);
    require(out_size == stored && std::memcmp(out, data, stored) == 0);
    std::free(out);
  }
  featvec_free(v);
  return 0;
}
