// The one-stage pair chain an engine is rebuilt with by its
// reconfiguration hook: full keypoint extraction, the given match ops.
#include <cstdint>

#include "matchlib/engine/preset_build.h"

#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_prep_steps.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_stage_tables.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/preset_pair_chain.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/engine/static_profiles.h"
#include "matchlib/keypoint/keypoint_stage.h"
#include "matchlib/match/full_match_op.h"

namespace zyl::matchlib {
namespace {

constexpr int32_t kKindKeypoints = 79;
constexpr uint32_t kKeySmooth = 0x031185aau;
constexpr uint32_t kKeyNoImages = 0x03214c8eu;

// {match_keypoints, fuse_with_profile} of the keypoint-section table.
const StageMatchOps* const kPairOps = zyl::matchlib::keypoint_stage_ops(5);
// Placeholder profile: no fitted model or thresholds exist for this pair,
// so its fusion answers "not available" and the engine never reports a
// match it cannot back.
const ScoreProfile kPairProfile{kPairOps, 0, zyl::matchlib::score_model_unfitted(),
                                zyl::matchlib::far_table_neutral()};
const ScoreProfile* const kPairProfiles[] = {&kPairProfile, nullptr};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

StageChain* zyl::matchlib::preset_build_pair_chain(MatchContext* context,
                                                   const StageMatchOps* ops) {
  const ImagePrepRoutine* images = kKeypointImages;
  if (zyl::matchlib::param_get(context, kKeySmooth, 0))
    images = kSmoothKeypointImages;
  else if (zyl::matchlib::param_get(context, kKeyNoImages, 0))
    images = nullptr;
  StageChain* chain = zyl::matchlib::chain_create();
  if (!chain) return nullptr;
  StageObject* stage = zyl::matchlib::stage_create(&zyl::matchlib::keypoint_stage_extractors()[1],
                                                   kKindKeypoints, images, ops, 0, 0);
  if (!stage) {
    zyl::matchlib::chain_free(chain);
    return nullptr;
  }
  zyl::matchlib::chain_append(chain, stage);
  return chain;
}

extern "C" ZYL_API int preset_pair_chain_hook(void* engine, void*, void*, void*, void*) {
  auto* e = static_cast<MatchEngine*>(engine);
  MatchContext* context = e ? zyl::matchlib::engine_get_context(e) : nullptr;
  if (!context) return ML_CORRUPT;
  StageChain* chain = zyl::matchlib::preset_build_pair_chain(context, kPairOps);
  if (!chain) return ML_NO_MEMORY;
  zyl::matchlib::engine_set_chain(e, chain);
  zyl::matchlib::engine_set_score_profiles(e, kPairProfiles);
  return ML_OK;
}

extern "C" {

ZYL_API StageChain* preset_build_pair_chain(MatchContext* context, const StageMatchOps* ops) {
  return zyl::matchlib::preset_build_pair_chain(context, ops);
}

}  // extern "C"
