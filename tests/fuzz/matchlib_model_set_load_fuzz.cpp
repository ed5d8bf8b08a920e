// Loading a stored score-model set into an engine on arbitrary bytes: no
// crash, no read past the input; a refused load leaves the engine's
// profiles; an accepted set loads again into a fresh engine with the same
// stored form.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "zylscan/matchlib_engine.h"

using zyl::test::require;

namespace {

const ScoreProfile kPass{nullptr, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile* const kCurrent[11] = {&kPass, &kPass, &kPass, &kPass, &kPass, &kPass,
                                          &kPass, &kPass, &kPass, &kPass, nullptr};

MatchEngine* fresh_engine() {
  MatchEngine* e = engine_create(nullptr, nullptr, 79, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  require(e != nullptr);
  engine_set_score_profiles(e, kCurrent);
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MatchEngine* engine = fresh_engine();
  if (model_set_load(engine, data, static_cast<std::uint32_t>(size)) != 0) {
    require(engine_get_score_profiles(engine) == kCurrent && engine_get_model_set(engine) == nullptr);
    engine_release(engine);
    return 0;
  }
  std::uint8_t* bytes = nullptr;
  std::uint32_t length = 0;
  require(model_set_serialize(engine_get_model_set(engine), &bytes, &length) == 0);
  MatchEngine* again = fresh_engine();
  require(model_set_load(again, bytes, length) == 0);
  std::uint8_t* bytes2 = nullptr;
  std::uint32_t length2 = 0;
  require(model_set_serialize(engine_get_model_set(again), &bytes2, &length2) == 0);
  require(length2 == length && std::memcmp(bytes, bytes2, length) == 0);
  std::free(bytes);
  std::free(bytes2);
  engine_release(again);
  engine_release(engine);
  return 0;
}
