// The functions of stage chain that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_stage.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

StageObject* stage_create(const StageExtractor* extractor, int32_t kind,
                          const ImagePrepRoutine* image_routines, const StageMatchOps* match_ops,
                          int32_t threshold_offset, int32_t far_level);
void stage_free(StageObject* stage);
void stage_set_max_candidates(StageObject* s, uint8_t limit);
uint8_t stage_get_max_candidates(const StageObject* s);
int32_t stage_get_kind(const StageObject* s);
const ImagePrepRoutine* stage_get_image_routines(const StageObject* s);
const StageMatchOps* stage_get_match_ops(const StageObject* s);
const StageExtractor* stage_get_extractor(const StageObject* s);
int32_t stage_get_threshold_offset(const StageObject* s);
int32_t stage_get_far_level(const StageObject* s);
uint16_t stage_get_flags(const StageObject* s);
void stage_set_flags(StageObject* s, uint16_t bits);
int stage_carries_scores(const StageObject* s);
void stage_set_early_decision(StageObject* s, int32_t far_level, uint8_t min_count);
int stage_can_reject(const StageObject* s, uint16_t score, uint8_t count);
StageObject* stage_next(const StageObject* s);
StageObject* stage_prev(const StageObject* s);
StageChain* chain_create(void);
void chain_free(StageChain* chain);
void chain_append(StageChain* chain, StageObject* stage);
StageObject* chain_first(const StageChain* chain);
StageObject* chain_last(const StageChain* chain);
uint32_t chain_count(const StageChain* chain);

}  // namespace zyl::matchlib
