// The light preset (raw pixel buffers, two keypoint stages) and the
// indexed creation routine the table-driven presets share.
#include <cstdint>
#include <span>

#include "matchlib/engine/preset_build.h"

#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_prep_steps.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_stage_tables.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/preset_light.h"
#include "matchlib/engine/preset_table.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/engine/static_profiles.h"
#include "matchlib/keypoint/keypoint_stage.h"
#include "matchlib/match/full_match_op.h"

namespace zyl::matchlib {
namespace {

constexpr int32_t kKindKeypoints = 79;
constexpr int32_t kSensorType = 1;
constexpr int kLightRow = 10;
constexpr int32_t kInputPixels = 2;
constexpr uint32_t kKeySecondLimit = 0x522624e7u;
constexpr const char* kKeyLightReject = "vn.morva_light.far.reject";

// Rows of the keypoint-section operation table: the orientation histogram
// and the global light keypoint comparison.
const StageMatchOps* const kCoarseOps = zyl::matchlib::keypoint_stage_ops(6);
const StageMatchOps* const kLightOps = zyl::matchlib::keypoint_stage_ops(2);

// The light stage's one profile: its score passes through and the light
// threshold table maps it to the FAR scale.
const ScoreProfile kLightProfile{
    kLightOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, zyl::matchlib::far_table_light()};
const ScoreProfile* const kLightProfiles[] = {&kLightProfile, nullptr};

const StageExtractor* light_extractor() { return &zyl::matchlib::keypoint_stage_extractors()[0]; }

// Appends the stage or, when it could not be made, frees the chain.
bool append_or_free(StageChain*& chain, StageObject* stage) {
  if (!stage) {
    zyl::matchlib::chain_free(chain);
    chain = nullptr;
    return false;
  }
  zyl::matchlib::chain_append(chain, stage);
  return true;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API StageChain* preset_build_light_chain(MatchContext* context,
                                                        const AlgorithmPreset*) {
  StageChain* chain = zyl::matchlib::chain_create();
  if (!chain) return nullptr;
  StageObject* coarse =
      zyl::matchlib::stage_create(light_extractor(), kKindKeypoints, nullptr, kCoarseOps, 0, 0);
  if (coarse) zyl::matchlib::stage_set_flags(coarse, STAGE_FLAG_RESTART_SCORES);
  if (!append_or_free(chain, coarse)) return nullptr;
  StageObject* fine =
      zyl::matchlib::stage_create(light_extractor(), kKindKeypoints, nullptr, kLightOps, 0,
                                  zyl::matchlib::param_get_text(context, kKeyLightReject, 0));
  if (fine)
    zyl::matchlib::stage_set_max_candidates(
        fine, static_cast<uint8_t>(zyl::matchlib::param_get(context, kKeySecondLimit, 5)));
  if (!append_or_free(chain, fine)) return nullptr;
  return chain;
}

MatchEngine* zyl::matchlib::preset_create_indexed(MatchContext* context, int row,
                                                  const ScoreProfile* const* profiles,
                                                  PresetChainBuilder builder, EngineHook hook) {
  const AlgorithmPreset* p = zyl::matchlib::preset_table_row(row);
  if (!p || !builder) return nullptr;
  int32_t first[3] = {}, second[3] = {};
  const int first_count = zyl::matchlib::preset_option_list(row, 0, first);
  const int second_count = zyl::matchlib::preset_option_list(row, 1, second);
  const EngineShape shape{p->format, kSensorType, p->size_class, p->most_views, p->byte_b, p->d,
                          p->e, p->f, p->h, std::span<const int32_t>(first, first_count),
                          std::span<const int32_t>(second, second_count)};
  return engine_of(context, builder(context, p), shape, profiles, hook);
}

MatchEngine* zyl::matchlib::preset_create_light(MatchContext* context) {
  MatchContext* ctx = zyl::matchlib::ctx_create_or_retain(context);
  if (!ctx) return nullptr;
  static constexpr PresetDefault kDefaults[] = {
      {nullptr, 0x222432cdu, 2},    {nullptr, 0xdd9f4ee9u, 10},  {nullptr, 0x0461d4c7u, 4},
      {nullptr, 0xd35784c3u, 0},    {nullptr, 0x47664bccu, 363}, {nullptr, 0xa932dde5u, 508},
      {nullptr, 0x2d09c049u, 20},   {nullptr, kKeySecondLimit, 16},
      {nullptr, 0xaeeec432u, 16, true}, {nullptr, 0xc901dcadu, 175}, {nullptr, 0x641a9b75u, 4},
      {nullptr, 0x9d55e9b7u, 14},
  };
  if (write_defaults(ctx, kDefaults) != ML_OK) {
    zyl::matchlib::ctx_release(ctx);
    return nullptr;
  }
  (void)zyl::matchlib::param_ensure(ctx, 0x7ad82b4du, 0);
  MatchEngine* engine = zyl::matchlib::preset_create_indexed(ctx, kLightRow, kLightProfiles,
                                                             preset_build_light_chain, nullptr);
  if (engine) {
    zyl::matchlib::engine_set_input_mode(engine, kInputPixels);
    zyl::matchlib::engine_set_converters(engine,
                                         kRawImageList);  // raw buffers are normalised globally
  }
  zyl::matchlib::ctx_release(ctx);
  return engine;
}

extern "C" {

ZYL_API MatchEngine* preset_create_indexed(MatchContext* context, int row,
                                           const ScoreProfile* const* profiles,
                                           PresetChainBuilder builder, EngineHook hook) {
  return zyl::matchlib::preset_create_indexed(context, row, profiles, builder, hook);
}
ZYL_API MatchEngine* preset_create_light(MatchContext* context) {
  return zyl::matchlib::preset_create_light(context);
}

}  // extern "C"
