// Internal face of the match engine: its record.
#pragma once

#include <cstdint>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_engine.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

EngineConfig* engine_config_init(EngineConfig* config);
int engine_new(MatchContext* context, StageChain* chain, MatchEngine** out);
MatchEngine* engine_create(MatchContext* context, StageChain* chain, int32_t format,
                           int32_t sensor_type, int32_t sensor_size, const int32_t* options,
                           int option_count, const int32_t* switchable, int switchable_count,
                           const EngineConfig* config);
MatchEngine* engine_retain(MatchEngine* engine);
void engine_release(MatchEngine* engine);
MatchContext* engine_get_context(const MatchEngine* e);
StageChain* engine_get_chain(const MatchEngine* e);
int32_t engine_get_format(const MatchEngine* e);
const EngineConfig* engine_get_config(const MatchEngine* e);
const ScoreProfile* const* engine_get_score_profiles(const MatchEngine* e);
int engine_uses_image_input(const MatchEngine* e);
int engine_set_chain(MatchEngine* e, StageChain* chain);
void engine_set_score_profiles(MatchEngine* e, const ScoreProfile* const* profiles);
const ScoreProfile* engine_find_score_profile(const MatchEngine* e, const StageMatchOps* ops,
                                              int16_t variant, int16_t* out_variant);
int engine_set_converters(MatchEngine* e, const ImagePrepDescriptor* const* list);
void engine_set_input_mode(MatchEngine* e, int32_t mode);
void engine_set_expected_size(MatchEngine* e, int32_t height, int32_t width);
void engine_set_expected_dpi(MatchEngine* e, int32_t dpi);
int engine_get_kind_limit(const MatchEngine* e, int index);
StageObject* engine_get_stage(const MatchEngine* e, int index);
uint32_t engine_stage_count(const MatchEngine* e);
void engine_set_match_ops(MatchEngine* e, const EngineMatchOps* ops);
void engine_set_hook(MatchEngine* e, EngineHook routine);
void engine_set_quality_model(MatchEngine* e, QualityModelHolder* holder);
QualityModelHolder* engine_get_quality_model(const MatchEngine* e);
int engine_adjust_far_level(const MatchEngine* e, int count, int level, int which);
int engine_quality_pass(int level, int score, int* out_flag);
int engine_quality_decision(MatchEngine* e, void* object, int level, uint16_t* out_rating,
                            int* out_flag);
const ScoreModelSet* engine_get_model_set(const MatchEngine* e);

}  // namespace zyl::matchlib

struct MatchEngine {
  std::uint32_t refcount;
  MatchContext* context;
  StageChain* chain;
  QualityModelHolder* quality_model;
  void* user_slot1;
  EngineRatingRoutine rating;
  void* user_slot2;
  std::int32_t format;
  std::int32_t sensor_type;
  std::int32_t sensor_size;
  std::int32_t expected_height;
  std::int32_t expected_width;
  std::int32_t expected_dpi;
  std::int32_t input_mode;
  std::int32_t options[ENGINE_OPTION_COUNT];
  std::int32_t switchable[ENGINE_OPTION_COUNT];
  EngineConfig config;
  std::uint16_t kind_limits[ENGINE_KIND_LIMITS];
  const ScoreProfile* const* profiles;
  ScoreModelSet* model_set;
  const ImagePrepDescriptor* const* converters;
  EngineMatchOp match;
  EngineGalleryScoreOp gallery_score;
  EngineMergeOp merge;
  EngineAdaptOp adapt;
  EnginePrecheck precheck;
  EngineHook hook;
  EngineQualityRoutine quality;
  EngineFarAdjust far_adjust[2];
  EngineBeforeExtract before;
  EngineAfterExtract after;
  void* user;
  void (*destroy)(MatchEngine*);
};

namespace zyl::matchlib {

template <>
struct RefTraits<MatchEngine> {
  static void retain(MatchEngine* e) { zyl::matchlib::engine_retain(e); }
  static void release(MatchEngine* e) { zyl::matchlib::engine_release(e); }
};

// Installs a score-model set built from the engine's profiles or parsed
// against them: the engine owns it and reads its profiles from then on.
void engine_install_model_set(MatchEngine* engine, ScoreModelSet* set);

}  // namespace zyl::matchlib
