// Pieces every preset builds its engine from: ordered parameter defaults,
// chains from stage settings, engines from a configuration shape, and the
// descriptors and routine lists the presets' stages reference.
#include "matchlib/engine/preset_build.h"

#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_prep_steps.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_texture_algorithm.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/keypoint/keypoint_stage.h"

namespace zyl::matchlib {
namespace {

constexpr StageExtractor kCardExtractors[] = {
    {card_extract_a}, {card_extract_b}, {card_extract_c}, {card_extract_d}, {card_extract_e}};
constexpr StageExtractor kGridExtractor{gridext_extract};
constexpr StageExtractor kGridExtractorAlt{gridext_extract_i16};
constexpr StageExtractor kTextureExtractor{texture_extract};
constexpr StageMatchOps kTextureOps{texture_match, texture_decide};

constexpr ImagePrepDescriptor kNormalizeGlobal{prep_normalize_global};
constexpr ImagePrepDescriptor kNormalizeLocal{prep_normalize_local};

}  // namespace

const ImagePrepRoutine kKeypointImages[] = {prep_band_filter, nullptr};
const ImagePrepRoutine kSmoothKeypointImages[] = {prep_destripe, prep_band_filter, nullptr};
const ImagePrepRoutine kCardImages[] = {stage_image_normalize, nullptr};
const ImagePrepRoutine kGridImages[] = {stage_image_normalize_grid, nullptr};
const ImagePrepDescriptor* const kRawImageList[] = {&kNormalizeGlobal, nullptr};
const ImagePrepDescriptor* const kSecondRawImageList[] = {&kNormalizeLocal, nullptr};

int write_defaults(MatchContext* ctx, std::span<const PresetDefault> defaults, bool stop) {
  for (const PresetDefault& d : defaults) {
    int st;
    if (d.text)
      st = d.set ? zyl::matchlib::param_set_text(ctx, d.text, d.value)
                 : zyl::matchlib::param_ensure_text(ctx, d.text, d.value);
    else
      st = d.set ? zyl::matchlib::param_set(ctx, d.key, d.value)
                 : zyl::matchlib::param_ensure(ctx, d.key, d.value);
    if (st != ML_OK && stop) return st;
  }
  return ML_OK;
}

int write_defaults(MatchContext* ctx, std::initializer_list<PresetDefault> defaults, bool stop) {
  return write_defaults(ctx, std::span<const PresetDefault>(defaults.begin(), defaults.size()),
                        stop);
}

StageChain* chain_of(std::initializer_list<StageSpec> stages) {
  StageChain* chain = zyl::matchlib::chain_create();
  if (!chain) return nullptr;
  for (const StageSpec& s : stages) {
    StageObject* stage =
        zyl::matchlib::stage_create(s.extractor, s.kind, s.images, s.ops, s.offset, s.level);
    if (!stage) {
      zyl::matchlib::chain_free(chain);
      return nullptr;
    }
    if (s.limit >= 0) zyl::matchlib::stage_set_max_candidates(stage, static_cast<uint8_t>(s.limit));
    if (s.early)
      zyl::matchlib::stage_set_early_decision(stage, s.early_level,
                                              static_cast<uint8_t>(s.early_count));
    if (s.flags) zyl::matchlib::stage_set_flags(stage, s.flags);
    zyl::matchlib::chain_append(chain, stage);
  }
  return chain;
}

MatchEngine* engine_of(MatchContext* ctx, StageChain* chain, const EngineShape& shape,
                       const ScoreProfile* const* profiles, EngineHook hook) {
  if (!chain) return nullptr;
  EngineConfig config;
  zyl::matchlib::engine_config_init(&config);
  config.most_views = shape.a;
  config.unnamed_u8_1 = shape.b;
  config.unnamed_i32_2 = shape.d;
  config.unnamed_i32_3 = shape.e;
  config.unnamed_u8_2 = static_cast<uint8_t>(shape.f & 0xff);
  config.quality_value = shape.h;
  MatchEngine* engine = zyl::matchlib::engine_create(
      ctx, chain, shape.format, shape.sensor_type, shape.size_class, shape.first.data(),
      static_cast<int>(shape.first.size()), shape.second.data(),
      static_cast<int>(shape.second.size()), &config);
  if (!engine) {
    zyl::matchlib::chain_free(chain);
    return nullptr;
  }
  zyl::matchlib::engine_set_score_profiles(engine, profiles);
  if (hook) zyl::matchlib::engine_set_hook(engine, hook);
  return engine;
}

const StageExtractor* extractor_keypoints_full() {
  return &zyl::matchlib::keypoint_stage_extractors()[1];
}
const StageExtractor* extractor_keypoints_light() {
  return &zyl::matchlib::keypoint_stage_extractors()[0];
}
const StageExtractor* extractor_card(char which) {
  return which >= 'A' && which <= 'E' ? &kCardExtractors[which - 'A'] : nullptr;
}
const StageExtractor* extractor_gridblock() { return &kGridExtractor; }
const StageExtractor* extractor_gridblock_alt() { return &kGridExtractorAlt; }
const StageExtractor* extractor_texture() { return &kTextureExtractor; }
const StageMatchOps* texture_stage_ops() { return &kTextureOps; }

}  // namespace zyl::matchlib
