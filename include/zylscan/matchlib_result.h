/* Matcher library results: the match result of one probe against N gallery
 * candidates (decision, FAR-scale score, levels, alignment, per-candidate
 * and per-stage score blocks), the pair result of two templates and the
 * list of pair results ranked by score. Both results are reference counted
 * and own the objects they hold. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_xform.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { MATCH_STAGE_SLOTS = 6, MATCH_SLOT_WORDS = 37 };

/* Per stage: word 0 the comparisons made, low 16 bits of word 1 the stage's
 * FAR-scale threshold, words 2..35 the score block, word 36 its sub-score count. */
typedef struct MatchCandidate {
  uint32_t slots[MATCH_STAGE_SLOTS][MATCH_SLOT_WORDS];
} MatchCandidate;

typedef struct MatchResult {
  int32_t refcount;
  int32_t requested_level;
  int32_t second_level;  /* 0: unset */
  int32_t reached_level; /* 0: unset */
  int32_t score_limit;
  uint16_t angle_limit;
  uint16_t score; /* FAR-scale score of the deciding comparison */
  uint16_t best_raw_score;
  uint16_t second_raw_score;
  int32_t decision;
  int32_t confirmation_flag;
  int32_t confirmation_marker;
  int32_t* buffer;
  int32_t values[4]; /* values[1] is checked against the score steps */
  RigidTransform* transform;
  RigidTransform* second_transform;
  DataBlob* probe_blob;
  GrayImage* probe_image;
  DataBlob* further_blob;
  int32_t overlap_percent;
  int32_t probe_resolution;
  uint16_t* indices;
  int32_t index_count;
  int32_t deciding_stage;
  int32_t record_key;
  uint8_t marker_byte;
  int32_t best_view;
  int32_t best_candidate;
  DataBlob* best_blob;
  MatchCandidate* candidates;
  int32_t candidate_count;
  uint8_t scratch[48];
  int32_t scratch_value;
  /* Written by learned_match_score: the network's unclamped score of the
   * template pair and the input vector it was given (owned by the result;
   * null with length 0 when there is none). */
  int32_t learned_score;
  int32_t* learned_inputs;
  int32_t learned_length;
} MatchResult;

ZYL_API MatchResult* match_result_create(int32_t candidates);
ZYL_API MatchResult* match_result_retain(MatchResult* r);
ZYL_API void match_result_release(MatchResult* r);
ZYL_API MatchResult* match_result_copy(const MatchResult* r);
/* 0; 2 for a null result; 17 when the candidate counts differ; 9 when the
 * index list cannot be copied. */
ZYL_API int match_result_assign(const MatchResult* src, MatchResult* dst);
ZYL_API int match_result_is_match(const MatchResult* r);
ZYL_API int match_result_passes_level(const MatchResult* r, int level);
ZYL_API int match_result_passes_adjusted(const MatchResult* r, int level);
ZYL_API int match_result_reached_level(const MatchResult* r);
ZYL_API int match_result_level_score(const MatchResult* r);
ZYL_API int match_result_second_level_score(const MatchResult* r);
ZYL_API uint32_t* match_result_stage_scores(MatchResult* r, int32_t candidate, int32_t stage);
ZYL_API uint16_t match_result_candidate_threshold(const MatchResult* r, int32_t candidate);
ZYL_API int match_result_set_indices(MatchResult* r, const uint16_t* values, int32_t count);
ZYL_API void match_result_set_probe_blob(MatchResult* r, DataBlob* blob);
/* Sets the probe image's property byte and the probe blob's view quality:
 * 0; 2 without a probe image; the image's status when it refuses the value. */
ZYL_API int match_result_set_quality(MatchResult* r, int value);
ZYL_API int match_result_check(const MatchResult* r);
ZYL_API uint16_t match_result_score(const MatchResult* r);
ZYL_API uint16_t match_result_best_raw_score(const MatchResult* r);
ZYL_API int32_t match_result_decision(const MatchResult* r);
ZYL_API int32_t match_result_requested_level(const MatchResult* r);
ZYL_API int32_t match_result_deciding_stage(const MatchResult* r);
ZYL_API int32_t match_result_record_key(const MatchResult* r);
ZYL_API uint8_t match_result_marker_byte(const MatchResult* r);
ZYL_API int32_t match_result_best_view(const MatchResult* r);
ZYL_API int32_t match_result_best_candidate(const MatchResult* r);
ZYL_API int32_t match_result_overlap(const MatchResult* r);
ZYL_API RigidTransform* match_result_transform(const MatchResult* r);
ZYL_API int32_t match_result_transform_flag(const MatchResult* r);

/* ---- pair results ---- */

typedef struct PairResult PairResult;
struct PairResult {
  uint32_t refcount;
  uint16_t score;
  int32_t decision; /* 1 match, 0 otherwise */
  RigidTransform* transform;
  DataBlob* first;
  DataBlob* second;
  void (*destroy)(PairResult* r);
};

typedef struct PairListItem {
  struct PairListItem* next;
  struct PairListItem* prev;
  PairResult* result; /* one reference held by the item */
} PairListItem;

typedef struct PairList {
  PairListItem* first;
  PairListItem* last;
  uint32_t count;
} PairList;

ZYL_API PairResult* pair_result_create(DataBlob* first, DataBlob* second, uint16_t score,
                                       int32_t decision, RigidTransform* transform);
ZYL_API PairResult* pair_result_reverse(const PairResult* r);
ZYL_API PairResult* pair_result_copy(const PairResult* r);
ZYL_API PairResult* pair_result_retain(PairResult* r);
ZYL_API void pair_result_release(PairResult* r);
ZYL_API int pair_result_same_pair(const PairResult* a, const PairResult* b);
ZYL_API DataBlob* pair_result_first_blob(const PairResult* r);
ZYL_API DataBlob* pair_result_second_blob(const PairResult* r);
ZYL_API uint16_t pair_result_score(const PairResult* r);
ZYL_API int32_t pair_result_decision(const PairResult* r);
ZYL_API int pair_result_is_match(const PairResult* r);
ZYL_API int pair_result_is_non_match(const PairResult* r);
ZYL_API RigidTransform* pair_result_transform(const PairResult* r);
/* Inserts in descending score order, after results of the same score;
 * 0, 2 for a null argument, 9 when the item cannot be allocated. */
ZYL_API int pair_result_list_insert(PairResult* r, PairList* list);
/* Unlinks every item and releases its result; the head stays, empty. */
ZYL_API void pair_result_list_clear(PairList* list);

ZYL_EXTERN_C_END
