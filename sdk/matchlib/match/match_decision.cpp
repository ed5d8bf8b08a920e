// The decision of a probe against a gallery through the engine's match
// operation: accepted or not, with the transform, gallery entry and view of
// the best match.
#include <cstdint>

#include "matchlib/core/match_engine.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_verify.h"
#include "matchlib/match/match_result.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/match_decision.h"

namespace zyl::matchlib {

template <>
struct RefTraits<MatchResult> {
  static void retain(MatchResult* r) { zyl::matchlib::match_result_retain(r); }
  static void release(MatchResult* r) { zyl::matchlib::match_result_release(r); }
};

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::engine_match_decide(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                       DataBlob* probe, int level, int32_t* out_decision,
                                       RigidTransform** out_transform, int32_t* out_gallery_index,
                                       int32_t* out_view_index) {
  if (out_decision) *out_decision = 0;
  if (out_transform) *out_transform = nullptr;
  if (out_gallery_index) *out_gallery_index = 0;
  if (out_view_index) *out_view_index = 0;
  if (!e || !gallery || count == 0 || !probe || !out_decision) return ML_BAD_ARGUMENT;
  Ref<MatchResult> r = Ref<MatchResult>::adopt(zyl::matchlib::match_result_create(count));
  if (!r) return ML_NO_MEMORY;
  const int status = e->match(e, gallery, count, probe, nullptr, level, r.get());
  if (status != ML_OK) return status;
  *out_decision = r->decision;
  if (out_transform) *out_transform = zyl::matchlib::xform_retain(r->transform);
  if (out_gallery_index) *out_gallery_index = r->best_candidate;
  if (out_view_index) *out_view_index = r->best_view;
  return ML_OK;
}

extern "C" {

ZYL_API int engine_match_decide(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                DataBlob* probe, int level, int32_t* out_decision,
                                RigidTransform** out_transform, int32_t* out_gallery_index,
                                int32_t* out_view_index) {
  return zyl::matchlib::engine_match_decide(e, gallery, count, probe, level, out_decision,
                                            out_transform, out_gallery_index, out_view_index);
}

}  // extern "C"
