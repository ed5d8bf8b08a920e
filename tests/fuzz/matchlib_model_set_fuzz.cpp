// The stored score-model set on arbitrary bytes: no crash, no read past the
// input; a set it accepts writes back to a set that reads again the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "zylscan/matchlib_model_set.h"

using zyl::test::require;

namespace {

// Ten pass-through profiles: the engine's profiles the set replaces.
const ScoreProfile kPass{nullptr, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile* const kCurrent[11] = {&kPass, &kPass, &kPass, &kPass, &kPass, &kPass,
                                          &kPass, &kPass, &kPass, &kPass, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ScoreModelSet* set = nullptr;
  if (model_set_parse(data, static_cast<std::uint32_t>(size), kCurrent, &set) != 0) {
    require(set == nullptr);
    return 0;
  }
  require(set != nullptr && set->count <= MODEL_SET_MAX_ENTRIES);
  std::uint8_t* bytes = nullptr;
  std::uint32_t length = 0;
  require(model_set_serialize(set, &bytes, &length) == 0);
  ScoreModelSet* again = nullptr;
  require(model_set_parse(bytes, length, kCurrent, &again) == 0);
  std::uint8_t* bytes2 = nullptr;
  std::uint32_t length2 = 0;
  require(model_set_serialize(again, &bytes2, &length2) == 0);
  require(length2 == length && std::memcmp(bytes, bytes2, length) == 0);
  std::free(bytes);
  std::free(bytes2);
  model_set_free(again);
  model_set_free(set);
  return 0;
}
