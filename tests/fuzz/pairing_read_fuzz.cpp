// Stored keypoint pairings on arbitrary bytes: no read past the input, every
// stored index inside the point counts, and an accepted pairing writes back
// the bytes it was read from.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_pair_matcher.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!data || size > 0xffffffffu) return 0;
  MinutiaPairing* p = nullptr;
  const std::uint32_t n = pairing_read(data, static_cast<std::uint32_t>(size), &p);
  require((n != 0) == (p != nullptr));
  if (!p) return 0;
  require(n <= size);
  const NearestMatch& m = *p->nearest;
  for (int i = 0; i < m.count_a; ++i) require(m.match_a[i] == PAIR_NONE || m.match_a[i] < m.count_b);
  for (int j = 0; j < m.count_b; ++j) require(m.match_b[j] == PAIR_NONE || m.match_b[j] < m.count_a);
  for (int k = 0; k < p->pair_count; ++k)
    require(p->pairs[k].index_a < m.count_a && p->pairs[k].index_b < m.count_b);
  // Version 1 input writes back the same bytes (version 0 comes back as 1).
  std::vector<std::uint8_t> out(pairing_write(p, nullptr));
  require(out.size() == n);
  pairing_write(p, out.data());
  if (data[0] == 1) require(std::memcmp(out.data(), data, n) == 0);
  pairing_free(p);
  return 0;
}
