/* Matcher library stages: a stage extracts one kind of template section and
 * compares it between two templates into 16-bit sub-scores; a chain holds
 * the stages of one engine in the order in which they run, and owns them. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_xform.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Match routine: allocates the sub-score vector (the caller frees it);
 * releases the transform it is given and may store a new retained one. */
typedef int (*StageMatchRoutine)(MatchContext* context, DataBlob* probe, DataBlob* gallery,
                                 uint16_t** out_scores, uint16_t* out_count,
                                 RigidTransform** transform);
/* Fuse routine: one 16-bit score from the sub-score vector. */
typedef int (*StageFuseRoutine)(MatchContext* context, DataBlob* probe, DataBlob* gallery,
                                const uint16_t* scores, uint16_t count,
                                const ScoreProfile* profile, uint16_t* out_score);
typedef struct StageMatchOps {
  StageMatchRoutine match;
  StageFuseRoutine fuse;
} StageMatchOps;

typedef int (*StageExtractRoutine)(MatchContext* context, GrayImage* image, void* argument,
                                   int32_t kind, DataBlob** out_section);
/* A static table whose first entry is the extract routine. */
typedef struct StageExtractor {
  StageExtractRoutine extract;
} StageExtractor;

enum StageFlag {
  STAGE_FLAG_RESTART_SCORES = 2, /* sub-scores are not carried into the next stage */
  STAGE_FLAG_SKIP_PAIR = 4,      /* skipped when a single pair is scored */
  STAGE_FLAG_DROP_TRANSFORM = 8  /* the next stage starts without this stage's transform */
};

typedef struct StageObject {
  struct StageObject* next;
  struct StageObject* prev;
  const StageMatchOps* match_ops;
  uint8_t max_candidates;
  int32_t threshold_offset;
  int32_t far_level;
  int32_t early_far_level;
  uint8_t early_min_count;
  uint16_t flags;
  const StageExtractor* extractor;
  int32_t kind;
  /* Preprocessing routines run in order, each on a copy of the image, before
   * the extraction; null-terminated, may be null. */
  const ImagePrepRoutine* image_routines;
} StageObject;

typedef struct StageChain {
  StageObject* first;
  StageObject* last;
  uint32_t count;
} StageChain;

ZYL_API StageObject* stage_create(const StageExtractor* extractor, int32_t kind,
                                  const ImagePrepRoutine* image_routines,
                                  const StageMatchOps* match_ops, int32_t threshold_offset,
                                  int32_t far_level);
ZYL_API void stage_free(StageObject* stage);
ZYL_API void stage_set_max_candidates(StageObject* stage, uint8_t limit);
ZYL_API uint8_t stage_get_max_candidates(const StageObject* stage);
ZYL_API int32_t stage_get_kind(const StageObject* stage);
ZYL_API const ImagePrepRoutine* stage_get_image_routines(const StageObject* stage);
ZYL_API const StageMatchOps* stage_get_match_ops(const StageObject* stage);
ZYL_API const StageExtractor* stage_get_extractor(const StageObject* stage);
ZYL_API int32_t stage_get_threshold_offset(const StageObject* stage);
ZYL_API int32_t stage_get_far_level(const StageObject* stage);
ZYL_API uint16_t stage_get_flags(const StageObject* stage);
ZYL_API void stage_set_threshold_offset(StageObject* stage, int32_t offset);
ZYL_API void stage_set_far_level(StageObject* stage, int32_t level);
ZYL_API void stage_set_flags(StageObject* stage, uint16_t bits);
ZYL_API void stage_clear_flags(StageObject* stage, uint16_t bits);
ZYL_API int stage_carries_scores(const StageObject* stage);
ZYL_API void stage_set_early_decision(StageObject* stage, int32_t far_level, uint8_t min_count);
ZYL_API int stage_can_reject(const StageObject* stage, uint16_t score, uint8_t count);
ZYL_API StageObject* stage_next(const StageObject* stage);
ZYL_API StageObject* stage_prev(const StageObject* stage);
/* `from` is a stage or a chain (whose first field is its first stage): the
 * search starts at the node after it. */
ZYL_API StageObject* stage_find_flagged(const void* from, uint16_t bits, uint8_t* out_count);

ZYL_API StageChain* chain_create(void);
ZYL_API void chain_free(StageChain* chain);
ZYL_API void chain_append(StageChain* chain, StageObject* stage);
ZYL_API StageObject* chain_unlink(StageChain* chain, StageObject* stage);
ZYL_API StageObject* chain_first(const StageChain* chain);
ZYL_API StageObject* chain_last(const StageChain* chain);
ZYL_API uint32_t chain_count(const StageChain* chain);

ZYL_EXTERN_C_END
