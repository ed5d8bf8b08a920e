// Learned match score of a template pair: the full matcher's sub-scores
// and the two templates' feature vectors through the quality network.
#include "common/guarded_call.h"
#include "matchlib/match/learned_match.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_learned_match.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_stage_tables.h"
#include "zylscan/matchlib_xform.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/filter/feature_vector.h"
#include "matchlib/filter/quality_network.h"
#include "matchlib/match/full_match_op.h"
#include "matchlib/template/container.h"

namespace zyl::matchlib {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
struct FeatureVectorDeleter {
  void operator()(FeatureVector* v) const { zyl::matchlib::featvec_free(v); }
};
using OwnedVector = std::unique_ptr<FeatureVector, FeatureVectorDeleter>;

// The kind-87 feature vector of a template container.
int template_vector(const DataBlob* blob, OwnedVector& out) {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  int rc = zyl::matchlib::container_find_entry(blob, 87, &data, &length);
  if (rc != ML_OK) return rc;
  FeatureVector* v = nullptr;
  rc = zyl::matchlib::featvec_read(data, length, &v);
  if (rc != ML_OK) return rc;
  out.reset(v);
  return ML_OK;
}

void drop_learned(MatchResult* r) {
  std::free(r->learned_inputs);
  r->learned_inputs = nullptr;
  r->learned_length = 0;
}

}  // namespace

int learned_match_inputs(const std::uint16_t* sub_scores, int count, const DataBlob* first,
                         const DataBlob* second, const MlpNetwork& network,
                         std::int32_t** out_values, std::int32_t* out_length) {
  *out_values = nullptr;
  *out_length = 0;
  if (count < 0 || (count > 0 && !sub_scores)) return ML_BAD_ARGUMENT;
  OwnedVector a, b;
  int rc = template_vector(first, a);
  if (rc == ML_OK) rc = template_vector(second, b);
  if (rc != ML_OK) return rc;
  if (a->count != b->count) return ML_UNAVAILABLE;
  const std::size_t c = a->count;
  const std::size_t length = static_cast<std::size_t>(count) + 2 * c;
  // The forward pass reads the network's whole input count: a shorter
  // vector is padded with zeros rather than read past its end.
  const std::size_t room =
      std::max<std::size_t>(length, std::max(zyl::matchlib::mlp_input_count(&network), 0));
  auto* values = static_cast<std::int32_t*>(ml_calloc(room ? room : 1, sizeof(std::int32_t)));
  if (!values) return ML_NO_MEMORY;
  std::int32_t* v = values;
  for (int i = 0; i < count; ++i) *v++ = sub_scores[i];
  v = std::copy_n(b->values, c, v);
  std::copy_n(a->values, c, v);
  *out_values = values;
  *out_length = static_cast<std::int32_t>(length);
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::learned_match_score(MatchEngine* engine, DataBlob* first, DataBlob* second,
                                       MatchResult* result) {
  if (!engine || !first || !second || !result) return ML_BAD_ARGUMENT;
  const QualityModelHolder* holder = zyl::matchlib::engine_get_quality_model(engine);
  if (!holder) return ML_BAD_ARGUMENT;
  const MlpNetwork* network = zyl::matchlib::quality_model_network(holder);
  if (!network) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::uint16_t* raw = nullptr;
    std::uint16_t count = 0;
    RigidTransform* alignment = nullptr;
    int rc = zyl::matchlib::match_full(zyl::matchlib::engine_get_context(engine), first, second,
                                       &raw, &count, &alignment);
    const std::unique_ptr<std::uint16_t, FreeDeleter> sub_scores(raw);
    zyl::matchlib::xform_release(alignment);
    if (rc != ML_OK) return rc;
    std::int32_t* values = nullptr;
    std::int32_t length = 0;
    rc = learned_match_inputs(sub_scores.get(), count, first, second, *network, &values, &length);
    if (rc == ML_NO_MEMORY) drop_learned(result);  // the vector could not be made
    if (rc != ML_OK) return rc;
    drop_learned(result);
    result->learned_inputs = values;
    result->learned_length = length;
    zyl::matchlib::mlp_set_error(0);
    const int score = zyl::matchlib::mlp_forward(values, network);
    if (const std::uint32_t error = zyl::matchlib::mlp_get_error(); error != 0) {
      drop_learned(result);
      return zyl::matchlib::mlp_error_status(error);
    }
    result->learned_score = score;
    return ML_OK;
  });
}

extern "C" {

ZYL_API int learned_match_score(MatchEngine* engine, DataBlob* first, DataBlob* second,
                                MatchResult* result) {
  return zyl::matchlib::learned_match_score(engine, first, second, result);
}

}  // extern "C"
