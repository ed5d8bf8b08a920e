// Stage objects and the stage chain of a matcher engine.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_stage.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/stage_chain.h"

using zyl::matchlib::ml_calloc;

StageObject* zyl::matchlib::stage_create(const StageExtractor* extractor, int32_t kind,
                                         const ImagePrepRoutine* image_routines,
                                         const StageMatchOps* match_ops, int32_t threshold_offset,
                                         int32_t far_level) {
  auto* s = static_cast<StageObject*>(ml_calloc(1, sizeof(StageObject)));
  if (!s) return nullptr;
  s->match_ops = match_ops;
  s->max_candidates = 255;
  s->threshold_offset = threshold_offset;
  s->far_level = far_level;
  s->early_far_level = 0;  // early rejection off
  s->early_min_count = 255;
  s->flags = 0;
  s->extractor = extractor;
  s->kind = kind;
  s->image_routines = image_routines;
  return s;
}

void zyl::matchlib::stage_free(StageObject* stage) { std::free(stage); }

void zyl::matchlib::stage_set_max_candidates(StageObject* s, uint8_t limit) {
  if (s) s->max_candidates = limit;
}
uint8_t zyl::matchlib::stage_get_max_candidates(const StageObject* s) {
  return s ? s->max_candidates : 0;
}
int32_t zyl::matchlib::stage_get_kind(const StageObject* s) { return s ? s->kind : 0; }
const ImagePrepRoutine* zyl::matchlib::stage_get_image_routines(const StageObject* s) {
  return s ? s->image_routines : nullptr;
}
const StageMatchOps* zyl::matchlib::stage_get_match_ops(const StageObject* s) {
  return s ? s->match_ops : nullptr;
}
const StageExtractor* zyl::matchlib::stage_get_extractor(const StageObject* s) {
  return s ? s->extractor : nullptr;
}
int32_t zyl::matchlib::stage_get_threshold_offset(const StageObject* s) {
  return s ? s->threshold_offset : 0;
}
int32_t zyl::matchlib::stage_get_far_level(const StageObject* s) { return s ? s->far_level : 0; }
uint16_t zyl::matchlib::stage_get_flags(const StageObject* s) { return s ? s->flags : 0; }
extern "C" ZYL_API void stage_set_threshold_offset(StageObject* s, int32_t offset) {
  if (s) s->threshold_offset = offset;
}
extern "C" ZYL_API void stage_set_far_level(StageObject* s, int32_t level) {
  if (s) s->far_level = level;
}
void zyl::matchlib::stage_set_flags(StageObject* s, uint16_t bits) {
  if (s) s->flags = static_cast<uint16_t>(s->flags | bits);
}
extern "C" ZYL_API void stage_clear_flags(StageObject* s, uint16_t bits) {
  if (s) s->flags = static_cast<uint16_t>(s->flags & ~bits);
}
int zyl::matchlib::stage_carries_scores(const StageObject* s) {
  return s && (s->flags & STAGE_FLAG_RESTART_SCORES) ? 0 : 1;
}
void zyl::matchlib::stage_set_early_decision(StageObject* s, int32_t far_level, uint8_t min_count) {
  if (!s) return;
  s->early_far_level = far_level;
  s->early_min_count = min_count;
}

int zyl::matchlib::stage_can_reject(const StageObject* s, uint16_t score, uint8_t count) {
  if (!s) return 0;
  const auto threshold =
      static_cast<uint16_t>(zyl::matchlib::far_level_to_score(s->early_far_level));
  if (threshold == 0) return 0;
  if (threshold < score) return 0;
  return count >= s->early_min_count ? 1 : 0;
}

StageObject* zyl::matchlib::stage_next(const StageObject* s) { return s ? s->next : nullptr; }
StageObject* zyl::matchlib::stage_prev(const StageObject* s) { return s ? s->prev : nullptr; }

extern "C" ZYL_API StageObject* stage_find_flagged(const void* from, uint16_t bits,
                                                   uint8_t* out_count) {
  uint8_t passed = 0;
  StageObject* node = nullptr;
  // A stage's first field is its successor and a chain's its first stage, so
  // either hands over the first node to test.
  if (from) std::memcpy(&node, from, sizeof node);
  for (; node; node = node->next) {
    if (node->flags & bits) break;
    ++passed;
  }
  if (out_count) *out_count = passed;
  return node;
}

StageChain* zyl::matchlib::chain_create(void) {
  return static_cast<StageChain*>(ml_calloc(1, sizeof(StageChain)));
}

void zyl::matchlib::chain_free(StageChain* chain) {
  if (!chain) return;
  for (StageObject* s = chain->first; s;) {
    StageObject* next = s->next;
    zyl::matchlib::stage_free(s);
    s = next;
  }
  std::free(chain);
}

void zyl::matchlib::chain_append(StageChain* chain, StageObject* stage) {
  if (!chain || !stage) return;
  stage->next = nullptr;
  stage->prev = chain->last;
  if (chain->last)
    chain->last->next = stage;
  else
    chain->first = stage;
  chain->last = stage;
  ++chain->count;
}

extern "C" ZYL_API StageObject* chain_unlink(StageChain* chain, StageObject* stage) {
  if (!chain || !stage) return nullptr;
  // A stage of another chain (or of none) is left alone: relinking it would
  // corrupt both lists.
  const StageObject* s = chain->first;
  while (s && s != stage) s = s->next;
  if (!s) return nullptr;
  StageObject* next = stage->next;
  if (stage->prev)
    stage->prev->next = next;
  else
    chain->first = next;
  if (next)
    next->prev = stage->prev;
  else
    chain->last = stage->prev;
  stage->next = stage->prev = nullptr;
  --chain->count;
  return next;
}

StageObject* zyl::matchlib::chain_first(const StageChain* chain) {
  return chain ? chain->first : nullptr;
}
StageObject* zyl::matchlib::chain_last(const StageChain* chain) {
  return chain ? chain->last : nullptr;
}
uint32_t zyl::matchlib::chain_count(const StageChain* chain) { return chain ? chain->count : 0; }

extern "C" {

ZYL_API StageObject* stage_create(const StageExtractor* extractor, int32_t kind,
                                  const ImagePrepRoutine* image_routines,
                                  const StageMatchOps* match_ops, int32_t threshold_offset,
                                  int32_t far_level) {
  return zyl::matchlib::stage_create(extractor, kind, image_routines, match_ops, threshold_offset,
                                     far_level);
}
ZYL_API void stage_free(StageObject* stage) { zyl::matchlib::stage_free(stage); }
ZYL_API void stage_set_max_candidates(StageObject* s, uint8_t limit) {
  zyl::matchlib::stage_set_max_candidates(s, limit);
}
ZYL_API uint8_t stage_get_max_candidates(const StageObject* s) {
  return zyl::matchlib::stage_get_max_candidates(s);
}
ZYL_API int32_t stage_get_kind(const StageObject* s) { return zyl::matchlib::stage_get_kind(s); }
ZYL_API const ImagePrepRoutine* stage_get_image_routines(const StageObject* s) {
  return zyl::matchlib::stage_get_image_routines(s);
}
ZYL_API const StageMatchOps* stage_get_match_ops(const StageObject* s) {
  return zyl::matchlib::stage_get_match_ops(s);
}
ZYL_API const StageExtractor* stage_get_extractor(const StageObject* s) {
  return zyl::matchlib::stage_get_extractor(s);
}
ZYL_API int32_t stage_get_threshold_offset(const StageObject* s) {
  return zyl::matchlib::stage_get_threshold_offset(s);
}
ZYL_API int32_t stage_get_far_level(const StageObject* s) {
  return zyl::matchlib::stage_get_far_level(s);
}
ZYL_API uint16_t stage_get_flags(const StageObject* s) { return zyl::matchlib::stage_get_flags(s); }
ZYL_API void stage_set_flags(StageObject* s, uint16_t bits) {
  zyl::matchlib::stage_set_flags(s, bits);
}
ZYL_API int stage_carries_scores(const StageObject* s) {
  return zyl::matchlib::stage_carries_scores(s);
}
ZYL_API void stage_set_early_decision(StageObject* s, int32_t far_level, uint8_t min_count) {
  zyl::matchlib::stage_set_early_decision(s, far_level, min_count);
}
ZYL_API int stage_can_reject(const StageObject* s, uint16_t score, uint8_t count) {
  return zyl::matchlib::stage_can_reject(s, score, count);
}
ZYL_API StageObject* stage_next(const StageObject* s) { return zyl::matchlib::stage_next(s); }
ZYL_API StageObject* stage_prev(const StageObject* s) { return zyl::matchlib::stage_prev(s); }
ZYL_API StageChain* chain_create(void) { return zyl::matchlib::chain_create(); }
ZYL_API void chain_free(StageChain* chain) { zyl::matchlib::chain_free(chain); }
ZYL_API void chain_append(StageChain* chain, StageObject* stage) {
  zyl::matchlib::chain_append(chain, stage);
}
ZYL_API StageObject* chain_first(const StageChain* chain) {
  return zyl::matchlib::chain_first(chain);
}
ZYL_API StageObject* chain_last(const StageChain* chain) {
  return zyl::matchlib::chain_last(chain);
}
ZYL_API uint32_t chain_count(const StageChain* chain) { return zyl::matchlib::chain_count(chain); }

}  // extern "C"
