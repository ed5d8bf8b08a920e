// The stored score-model reader on arbitrary bytes: no crash, no read past
// the input; a model it accepts writes back to the bytes it read and
// evaluates any feature vector without fault.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_object.h"

using zyl::test::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto* model = static_cast<ScoreModel*>(std::calloc(1, sizeof(ScoreModel)));
  if (!model) return 0;
  const int status = score_model_read_bounded(data, static_cast<std::uint32_t>(size), model);
  if (status != ML_OK) {
    require(model->rows == nullptr && model->evaluate == nullptr);
    std::free(model);
    return 0;
  }
  require(score_model_kind(model) >= 1);
  std::vector<std::uint8_t> again(score_model_write(nullptr, model));
  require(again.size() >= 4 && again.size() <= size);
  score_model_write(again.data(), model);
  require(std::memcmp(again.data(), data, 4) == 0);
  if (score_model_kind(model) != 6) {
    require(std::memcmp(again.data(), data, again.size()) == 0);
  }
  std::int32_t features[256];
  for (int i = 0; i < 256; ++i) {
    features[i] = static_cast<std::int32_t>(data[i % size]) * (i % 3 == 0 ? -977 : 1013);
  }
  const int count = model->feature_count >= 0 ? (model->feature_count > 256 ? 256 : model->feature_count) : 256;
  std::int32_t score = 0;
  std::vector<ScoreTrace> trace(256);
  const int st = score_model_evaluate(model, features, count, &score, trace.data());
  require(st == ML_OK || st == ML_CORRUPT);
  std::vector<std::uint16_t> sub(256);
  for (int i = 0; i < 256; ++i) sub[i] = static_cast<std::uint16_t>(features[i]);
  std::uint16_t s16 = 0;
  score_model_evaluate_u16(model, sub.data(), count, &s16, nullptr);
  score_model_free(model);
  return 0;
}
