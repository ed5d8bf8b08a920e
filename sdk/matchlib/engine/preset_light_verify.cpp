// The light verification preset of algorithm mode 4: image objects,
// keypoint stages with early rejection, the grid-block stage and the
// combined last stage.
#include <cstdint>

#include "matchlib/engine/preset_build.h"

#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_prep_steps.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_stage_tables.h"
#include "zylscan/matchlib_texture_algorithm.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/preset_light_verify.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/engine/static_profiles.h"
#include "matchlib/match/full_match_op.h"

namespace zyl::matchlib {
namespace {

constexpr int32_t kKindKeypoints = 79, kKindGridBlock = 77, kKindCard = 67, kKindTexture = 87;
constexpr int32_t kFormat = 79, kSensorType = 1, kSensorSize = 7;
constexpr uint32_t kKeyTexture = 0x79ce7252u;
constexpr uint32_t kKeySecondLimit = 0x522624e7u;
constexpr uint32_t kKeySecondEarlyCount = 0xc1c1874du;
constexpr uint32_t kKeyLateLimit = 0xdb4cd8b0u;
constexpr uint32_t kKeyLastEarlyCount = 0x1ba6e66cu;
constexpr const char* kKeyLightReject = "vn.morva_light.far.reject";
constexpr const char* kKeyLightEarly = "vn.morva_light.verify.reject_far";
constexpr const char* kKeyLastEarly = "vn.morva.verify.reject_far";

const StageMatchOps* const kCoarseOps = zyl::matchlib::keypoint_stage_ops(6);
const StageMatchOps* const kBundleOps = zyl::matchlib::keypoint_stage_ops(7);
const StageMatchOps* const kFullOps = zyl::matchlib::keypoint_stage_ops(9);

const StageExtractor* full_extractor() { return extractor_keypoints_full(); }

// The second stage's profile passes its score through; the last stage's
// maps its sub-scores through the 58-feature model.
const ScoreProfile kSecondProfile{kBundleOps,
                                  0,
                                  {nullptr, -1, score_model_eval_pass, nullptr},
                                  zyl::matchlib::far_table_light_verify()};
const ScoreProfile kLastProfile{kFullOps, 0, zyl::matchlib::score_model_light_verify(),
                                zyl::matchlib::far_table_light_verify_model()};
const ScoreProfile* const kProfiles[] = {&kSecondProfile, &kLastProfile, nullptr};

uint8_t limit_of(MatchContext* ctx, uint32_t key, int32_t fallback) {
  return static_cast<uint8_t>(zyl::matchlib::param_get(ctx, key, fallback));
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

StageChain* zyl::matchlib::preset_build_verify_chain(MatchContext* context, int card_switch) {
  const int32_t texture = zyl::matchlib::param_get(context, kKeyTexture, 0);
  StageChain* chain = zyl::matchlib::chain_create();
  if (!chain) return nullptr;
  const auto add = [&](StageObject* stage) {
    if (!stage) return false;
    zyl::matchlib::chain_append(chain, stage);
    return true;
  };
  bool ok = true;
  // 1: coarse orientation histogram; its scores are not carried on.
  if (StageObject* s = zyl::matchlib::stage_create(full_extractor(), kKindKeypoints,
                                                   kKeypointImages, kCoarseOps, 0, 0)) {
    zyl::matchlib::stage_set_flags(s, STAGE_FLAG_RESTART_SCORES);
    ok = add(s);
  } else {
    ok = false;
  }
  // 2: keypoint comparison with early rejection.
  if (ok) {
    StageObject* s =
        zyl::matchlib::stage_create(full_extractor(), kKindKeypoints, kKeypointImages, kBundleOps,
                                    3, zyl::matchlib::param_get_text(context, kKeyLightReject, 2));
    if (s) {
      zyl::matchlib::stage_set_flags(s, STAGE_FLAG_DROP_TRANSFORM);
      zyl::matchlib::stage_set_max_candidates(s, limit_of(context, kKeySecondLimit, 16));
      zyl::matchlib::stage_set_early_decision(
          s, zyl::matchlib::param_get_text(context, kKeyLightEarly, 0),
          limit_of(context, kKeySecondEarlyCount, 14));
      zyl::matchlib::stage_set_flags(s, STAGE_FLAG_RESTART_SCORES);
    }
    ok = add(s);
  }
  // 3: card template, extraction only.
  if (ok && (card_switch || texture)) {
    StageObject* s =
        zyl::matchlib::stage_create(extractor_card('D'), kKindCard, kCardImages, nullptr, 0, 0);
    if (s) {
      zyl::matchlib::stage_set_max_candidates(s, limit_of(context, kKeyLateLimit, 8));
      zyl::matchlib::stage_set_flags(s, STAGE_FLAG_SKIP_PAIR | STAGE_FLAG_RESTART_SCORES);
    }
    ok = add(s);
  }
  // 4: grid block, extraction only.
  if (ok) {
    StageObject* s = zyl::matchlib::stage_create(extractor_gridblock(), kKindGridBlock, kGridImages,
                                                 nullptr, 0, 0);
    if (s) {
      zyl::matchlib::stage_set_max_candidates(s, limit_of(context, kKeyLateLimit, 8));
      zyl::matchlib::stage_set_flags(s, STAGE_FLAG_SKIP_PAIR | STAGE_FLAG_RESTART_SCORES);
    }
    ok = add(s);
  }
  // 5: the combined last stage.
  if (ok) {
    StageObject* s = zyl::matchlib::stage_create(full_extractor(), kKindKeypoints, kKeypointImages,
                                                 kFullOps, 0, 0);
    if (s) {
      zyl::matchlib::stage_set_max_candidates(s, limit_of(context, kKeyLateLimit, 8));
      zyl::matchlib::stage_set_early_decision(
          s, zyl::matchlib::param_get_text(context, kKeyLastEarly, 4),
          limit_of(context, kKeyLastEarlyCount, 4));
    }
    ok = add(s);
  }
  // 6: texture template, extraction only, never for a single pair.
  if (ok && texture) {
    StageObject* s =
        zyl::matchlib::stage_create(extractor_texture(), kKindTexture, nullptr, nullptr, 0, 0);
    if (s) zyl::matchlib::stage_set_flags(s, STAGE_FLAG_SKIP_PAIR);
    ok = add(s);
  }
  if (!ok) {
    zyl::matchlib::chain_free(chain);
    return nullptr;
  }
  return chain;
}

MatchEngine* zyl::matchlib::preset_create_light_verify(MatchContext* context) {
  MatchContext* ctx = zyl::matchlib::ctx_create_or_retain(context);
  if (!ctx) return nullptr;
  // A failed write leaves the chain builder's read defaults in force.
  (void)zyl::matchlib::param_ensure(ctx, 0x94547f74u, 650);
  (void)zyl::matchlib::param_ensure_text(ctx, kKeyLightEarly, 0);
  (void)zyl::matchlib::param_ensure(ctx, kKeySecondEarlyCount, 255);
  (void)zyl::matchlib::param_ensure_text(ctx, kKeyLightReject, 1);
  (void)zyl::matchlib::param_ensure(ctx, kKeySecondLimit, 40);
  (void)zyl::matchlib::param_ensure_text(ctx, kKeyLastEarly, 6);
  (void)zyl::matchlib::param_ensure(ctx, kKeyLastEarlyCount, 16);
  (void)zyl::matchlib::param_ensure(ctx, kKeyLateLimit, 30);
  (void)zyl::matchlib::param_ensure(ctx, 0xaeeec432u, 6);
  (void)zyl::matchlib::param_set(ctx, 0x2a1d740fu, 0);

  EngineConfig config;
  zyl::matchlib::engine_config_init(&config);
  config.most_views = 96;
  config.unnamed_u8_1 = 32;
  config.unnamed_i32_2 = 80;
  config.unnamed_i32_3 = 81;
  config.unnamed_u8_2 = 20;
  config.quality_value = 0;
  static constexpr int32_t kFirst[] = {0, 1, 2};
  static constexpr int32_t kSecond[] = {0, 2};

  MatchEngine* engine = nullptr;
  if (StageChain* chain = zyl::matchlib::preset_build_verify_chain(ctx, 0)) {
    engine = zyl::matchlib::engine_create(ctx, chain, kFormat, kSensorType, kSensorSize, kFirst, 3,
                                          kSecond, 2, &config);
    if (!engine) zyl::matchlib::chain_free(chain);
  }
  if (engine) {
    zyl::matchlib::engine_set_score_profiles(engine, kProfiles);
    zyl::matchlib::engine_set_hook(engine, preset_pair_chain_hook);
  }
  zyl::matchlib::ctx_release(ctx);
  return engine;
}

extern "C" {

ZYL_API StageChain* preset_build_verify_chain(MatchContext* context, int card_switch) {
  return zyl::matchlib::preset_build_verify_chain(context, card_switch);
}
ZYL_API MatchEngine* preset_create_light_verify(MatchContext* context) {
  return zyl::matchlib::preset_create_light_verify(context);
}

}  // extern "C"
