// Internal face of the match engine: its record.
#pragma once

#include <cstdint>

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_engine.h"

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
  static void retain(MatchEngine* e) { engine_retain(e); }
  static void release(MatchEngine* e) { engine_release(e); }
};

// Installs a score-model set built from the engine's profiles or parsed
// against them: the engine owns it and reads its profiles from then on.
void engine_install_model_set(MatchEngine* engine, ScoreModelSet* set);

}  // namespace zyl::matchlib
