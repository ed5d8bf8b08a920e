// Chains and engine builders of the preset catalogue: the card, keypoint
// and grid-block chain, the verification chain with a grid-block stage,
// the card verification chain, the card-and-grid engine, the indexed light
// and card engines, two further reconfiguration hooks and the catalogue's
// placeholder score profiles.
#include <cstdint>
#include <span>

#include "matchlib/engine/preset_build.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_preset_catalogue.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_stage_pairs.h"
#include "zylscan/matchlib_stage_tables.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/preset_catalogue_chains.h"
#include "matchlib/engine/preset_light.h"
#include "matchlib/engine/preset_pair_chain.h"
#include "matchlib/engine/static_profiles.h"
#include "matchlib/match/full_match_op.h"
#include "matchlib/match/stage_pairs.h"

namespace zyl::matchlib {
namespace {

constexpr int32_t kKindKeypoints = 79, kKindGridBlock = 77, kKindCard = 67, kKindTexture = 87;
constexpr int32_t kInputPixels = 2;
constexpr uint32_t kKeyTexture = 0x79ce7252u;
constexpr uint32_t kKeyLateLimit = 0xdb4cd8b0u;
constexpr uint32_t kKeyGridLimit = 0xda569574u;
constexpr uint32_t kKeyLastEarlyCount = 0x1ba6e66cu;
constexpr uint32_t kKeyKeypointSettings = 0xaeeec432u;
constexpr const char* kKeyReject = "vn.morva.far.reject";
constexpr const char* kKeyLastEarly = "vn.morva.verify.reject_far";
constexpr uint16_t kExtractOnly = STAGE_FLAG_SKIP_PAIR | STAGE_FLAG_RESTART_SCORES;

const StageMatchOps* coarse_ops() { return zyl::matchlib::keypoint_stage_ops(6); }
const StageMatchOps* keypoint_ops() { return zyl::matchlib::keypoint_stage_ops(5); }
const StageMatchOps* gridblock_ops() { return zyl::matchlib::keypoint_stage_ops(4); }

// Placeholder profile of one match ops pair: no fitted model or
// thresholds exist for the catalogue's engines, so the fusion answers "not
// available" and no comparison through it reports a match.
ScoreProfile placeholder(const StageMatchOps* ops) {
  return ScoreProfile{ops, 0, zyl::matchlib::score_model_unfitted(),
                      zyl::matchlib::far_table_neutral()};
}

// The card-and-grid engine's grid stage refines the card alignment in
// place.
const StageMatchOps* second_grid_ops() { return zyl::matchlib::refine_stage_ops(2); }

constexpr int32_t kFirstAll[] = {0, 1, 2};
constexpr int32_t kSecond02[] = {0, 2};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

const ScoreProfile* const* zyl::matchlib::preset_catalogue_profiles(void) {
  // Every match ops pair of the catalogue whose fusion reads a profile.
  static const ScoreProfile kProfiles[] = {
      placeholder(zyl::matchlib::keypoint_stage_ops(2)),
      placeholder(zyl::matchlib::keypoint_stage_ops(4)),
      placeholder(zyl::matchlib::keypoint_stage_ops(5)),
      placeholder(zyl::matchlib::keypoint_stage_ops(7)),
      placeholder(zyl::matchlib::keypoint_stage_ops(9)),
      placeholder(zyl::matchlib::card_stage_ops(3)),
      placeholder(zyl::matchlib::card_stage_ops(4)),
      placeholder(zyl::matchlib::card_stage_ops(5)),
      placeholder(zyl::matchlib::refine_stage_ops(2)),
      placeholder(zyl::matchlib::stage_pair_ops(2)),
      placeholder(texture_stage_ops()),
  };
  static const ScoreProfile* const kList[] = {
      &kProfiles[0], &kProfiles[1], &kProfiles[2], &kProfiles[3], &kProfiles[4],  &kProfiles[5],
      &kProfiles[6], &kProfiles[7], &kProfiles[8], &kProfiles[9], &kProfiles[10], nullptr};
  return kList;
}

StageChain* zyl::matchlib::preset_build_card_keypoint_grid_chain(const StageMatchOps* ops,
                                                                 const StageExtractor* grid) {
  constexpr uint16_t kPairOnly = STAGE_FLAG_RESTART_SCORES | STAGE_FLAG_SKIP_PAIR;
  return chain_of({
      {.extractor = extractor_card('D'),
       .kind = kKindCard,
       .images = kCardImages,
       .ops = zyl::matchlib::card_stage_ops(4),
       .flags = kPairOnly},
      {.extractor = extractor_keypoints_full(),
       .kind = kKindKeypoints,
       .images = kKeypointImages,
       .ops = keypoint_ops(),
       .flags = kPairOnly},
      {.extractor = grid, .kind = kKindGridBlock, .images = kGridImages, .ops = ops},
  });
}

StageChain* zyl::matchlib::preset_build_verify_chain_grid(MatchContext* context) {
  const StageSpec head[] = {
      {.extractor = extractor_keypoints_full(),
       .kind = kKindKeypoints,
       .images = kKeypointImages,
       .ops = coarse_ops(),
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.extractor = extractor_keypoints_full(),
       .kind = kKindKeypoints,
       .images = kKeypointImages,
       .ops = keypoint_ops(),
       .offset = 3,
       .level = zyl::matchlib::param_get_text(context, kKeyReject, 3),
       .limit = zyl::matchlib::param_get(context, kKeyLateLimit, 24)},
      {.extractor = extractor_gridblock(),
       .kind = kKindGridBlock,
       .images = kGridImages,
       .ops = gridblock_ops(),
       .limit = zyl::matchlib::param_get(context, kKeyGridLimit, 16)},
  };
  if (!zyl::matchlib::param_get(context, kKeyTexture, 0))
    return chain_of({head[0], head[1], head[2]});
  return chain_of(
      {head[0],
       head[1],
       head[2],
       {.extractor = extractor_card('D'),
        .kind = kKindCard,
        .images = kCardImages,
        .limit = zyl::matchlib::param_get(context, kKeyLateLimit, 8),
        .flags = kExtractOnly},
       {.extractor = extractor_texture(), .kind = kKindTexture, .flags = STAGE_FLAG_SKIP_PAIR}});
}

StageChain* zyl::matchlib::preset_build_card_verify_chain(MatchContext* context,
                                                          const AlgorithmPreset*) {
  (void)zyl::matchlib::param_ensure(context, kKeyKeypointSettings, 16);
  const StageSpec coarse{.extractor = extractor_keypoints_light(),
                         .kind = kKindKeypoints,
                         .ops = coarse_ops(),
                         .flags = STAGE_FLAG_RESTART_SCORES};
  const StageSpec card{.extractor = extractor_card('E'),
                       .kind = kKindCard,
                       .limit = zyl::matchlib::param_get(context, kKeyLateLimit, 8),
                       .flags = kExtractOnly};
  // match_full then runs its card-and-grid part with the grid map alone
  // and skips its grid-block part.
  (void)zyl::matchlib::param_set(context, FULL_KEY_GRID_BLOCK, 0);
  (void)zyl::matchlib::param_set(context, FULL_KEY_VARIANT, 1);
  return chain_of({coarse,
                   card,
                   {.extractor = extractor_keypoints_light(),
                    .kind = kKindKeypoints,
                    .ops = zyl::matchlib::keypoint_stage_ops(9),
                    .limit = zyl::matchlib::param_get(context, kKeyLateLimit, 8),
                    .early = true,
                    .early_level = zyl::matchlib::param_get_text(context, kKeyLastEarly, 4),
                    .early_count = zyl::matchlib::param_get(context, kKeyLastEarlyCount, 4)}});
}

StageChain* zyl::matchlib::preset_build_pair_chain_alt(MatchContext* context) {
  return zyl::matchlib::preset_build_pair_chain(context, keypoint_ops());
}

MatchEngine* zyl::matchlib::preset_create_card_grid(MatchContext* context,
                                                    const StageExtractor* card) {
  if (!card) return nullptr;
  MatchContext* ctx = zyl::matchlib::ctx_create_or_retain(context);
  if (!ctx) return nullptr;
  StageChain* chain = chain_of({
      {.extractor = card,
       .kind = kKindCard,
       .images = kCardImages,
       .ops = zyl::matchlib::stage_pair_ops(1),
       .flags = STAGE_FLAG_RESTART_SCORES},
      {.kind = kKindCard,
       .ops = zyl::matchlib::card_stage_ops(4),
       .offset = 2,
       .level = 2,
       .limit = 24},
      {.extractor = extractor_gridblock(),
       .kind = kKindGridBlock,
       .images = kGridImages,
       .ops = second_grid_ops(),
       .limit = 8},
  });
  const EngineShape shape{78, 1, 4, 64, 24, 70, 81, 20, 77, kFirstAll, kSecond02};
  MatchEngine* engine =
      engine_of(ctx, chain, shape, zyl::matchlib::preset_catalogue_profiles(), nullptr);
  zyl::matchlib::ctx_release(ctx);
  return engine;
}

MatchEngine* zyl::matchlib::preset_create_indexed_light(MatchContext* context,
                                                        const ScoreProfile* const* profiles,
                                                        int row) {
  MatchContext* ctx = zyl::matchlib::ctx_create_or_retain(context);
  if (!ctx) return nullptr;
  MatchEngine* engine = nullptr;
  if (write_defaults(ctx, {{nullptr, 0x222432cdu, 2},
                           {nullptr, 0xd35784c3u, 0},
                           {nullptr, 0x47664bccu, 363},
                           {nullptr, 0xa932dde5u, 363},
                           {nullptr, 0x2d09c049u, 20},
                           {nullptr, kKeyKeypointSettings, 16, true},
                           {nullptr, 0x641a9b75u, 4},
                           {nullptr, 0x9d55e9b7u, 14},
                           {nullptr, 0x7ad82b4du, 0}}) == ML_OK)
    engine =
        zyl::matchlib::preset_create_indexed(ctx, row, profiles, preset_build_light_chain, nullptr);
  if (engine) {
    zyl::matchlib::engine_set_expected_dpi(engine, 363);
    zyl::matchlib::engine_set_input_mode(engine, kInputPixels);
    zyl::matchlib::engine_set_converters(engine, kRawImageList);
  }
  zyl::matchlib::ctx_release(ctx);
  return engine;
}

MatchEngine* zyl::matchlib::preset_create_indexed_card(MatchContext* context,
                                                       const ScoreProfile* const* profiles,
                                                       int row) {
  MatchContext* ctx = zyl::matchlib::ctx_create_or_retain(context);
  if (!ctx) return nullptr;
  MatchEngine* engine = nullptr;
  if (write_defaults(ctx, {{nullptr, 0xdd9f4ee9u, 1},
                           {nullptr, 0x0461d4c7u, 0},
                           {nullptr, 0x222432cdu, 1},
                           {nullptr, 0x21d91b23u, 8},
                           {nullptr, 0x641a9b75u, 4},
                           {nullptr, 0x9d55e9b7u, 14},
                           {nullptr, kKeyKeypointSettings, 16, true},
                           {nullptr, 0x8916c384u, 20, true},
                           {nullptr, 0xc901dcadu, 300},
                           {nullptr, 0x47664bccu, 363},
                           {nullptr, 0x142ccb9bu, 0},
                           {nullptr, 0x7ad82b4du, 0}}) == ML_OK)
    engine = zyl::matchlib::preset_create_indexed(
        ctx, row, profiles, ::preset_build_card_verify_chain, preset_pair_chain_hook);
  if (engine) {
    zyl::matchlib::engine_set_expected_dpi(engine, 363);
    zyl::matchlib::engine_set_input_mode(engine, kInputPixels);
    zyl::matchlib::engine_set_converters(engine, kSecondRawImageList);
  }
  zyl::matchlib::ctx_release(ctx);
  return engine;
}

extern "C" ZYL_API int preset_card_grid_hook(void* engine, void*, void*, void*, void*) {
  auto* e = static_cast<MatchEngine*>(engine);
  if (!e || !zyl::matchlib::engine_get_context(e)) return ML_CORRUPT;
  StageChain* chain = zyl::matchlib::preset_build_card_keypoint_grid_chain(
      zyl::matchlib::stage_pair_ops(4), extractor_gridblock());
  if (!chain) return ML_NO_MEMORY;
  zyl::matchlib::engine_set_chain(e, chain);
  zyl::matchlib::engine_set_score_profiles(e, zyl::matchlib::preset_catalogue_profiles());
  return ML_OK;
}

extern "C" ZYL_API int preset_pair_chain_hook_alt(void* engine, void*, void*, void*, void*) {
  auto* e = static_cast<MatchEngine*>(engine);
  MatchContext* context = e ? zyl::matchlib::engine_get_context(e) : nullptr;
  if (!context) return ML_CORRUPT;
  StageChain* chain = zyl::matchlib::preset_build_pair_chain_alt(context);
  if (!chain) return ML_NO_MEMORY;
  zyl::matchlib::engine_set_chain(e, chain);
  zyl::matchlib::engine_set_score_profiles(e, zyl::matchlib::preset_catalogue_profiles());
  return ML_OK;
}

extern "C" {

ZYL_API const ScoreProfile* const* preset_catalogue_profiles(void) {
  return zyl::matchlib::preset_catalogue_profiles();
}
ZYL_API StageChain* preset_build_card_keypoint_grid_chain(const StageMatchOps* ops,
                                                          const StageExtractor* grid) {
  return zyl::matchlib::preset_build_card_keypoint_grid_chain(ops, grid);
}
ZYL_API StageChain* preset_build_verify_chain_grid(MatchContext* context) {
  return zyl::matchlib::preset_build_verify_chain_grid(context);
}
ZYL_API StageChain* preset_build_card_verify_chain(MatchContext* context,
                                                   const AlgorithmPreset* arg1) {
  return zyl::matchlib::preset_build_card_verify_chain(context, arg1);
}
ZYL_API StageChain* preset_build_pair_chain_alt(MatchContext* context) {
  return zyl::matchlib::preset_build_pair_chain_alt(context);
}
ZYL_API MatchEngine* preset_create_card_grid(MatchContext* context, const StageExtractor* card) {
  return zyl::matchlib::preset_create_card_grid(context, card);
}
ZYL_API MatchEngine* preset_create_indexed_light(MatchContext* context,
                                                 const ScoreProfile* const* profiles, int row) {
  return zyl::matchlib::preset_create_indexed_light(context, profiles, row);
}
ZYL_API MatchEngine* preset_create_indexed_card(MatchContext* context,
                                                const ScoreProfile* const* profiles, int row) {
  return zyl::matchlib::preset_create_indexed_card(context, profiles, row);
}

}  // extern "C"
