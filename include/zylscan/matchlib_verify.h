/* Matcher library verification against enrolled views: a probe (a feature
 * blob, or a grey image from which each stage extracts its own features)
 * is compared stage by stage with the views of every gallery entry (each a
 * format-80 multi-view template); the view scores of an entry are fused on
 * the false-accept scale, entries are rejected early or trimmed to a
 * budget before the next stage, and the walk accepts as soon as one
 * entry's fused score passes the threshold of the requested level. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_engine.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  VERIFY_MAX_STAGES = 6,        /* the result's candidate record has six stage groups */
  VERIFY_GROUP_SUBSCORES = 64,  /* sub-scores a stage group of the record keeps */
  VERIFY_TOP_SCORES = 20
};

/* The best view of one multi-view template against a probe. */
typedef struct GalleryEntry {
  uint16_t fused_score;
  uint16_t best_score;
  RigidTransform* alignment;       /* view transform after the inverse match transform */
  RigidTransform* match_transform;
  DataBlob* best_blob;
  uint32_t best_view;
  uint16_t* sub_scores; /* malloc'd */
  uint16_t sub_score_count;
  uint16_t top[VERIFY_TOP_SCORES]; /* view scores in descending order */
  uint16_t top_count;
} GalleryEntry;

/* One output row of verify_against_views. */
typedef struct ViewVerdict {
  uint16_t score;
  int32_t decision;
  RigidTransform* transform; /* one reference for the caller */
  int32_t view_index;
} ViewVerdict;

/* Fusion of the two highest scores of an entry with n enrolled views. */
ZYL_API uint16_t verify_fuse_top(uint16_t first, uint16_t second, int n);

/* 0 with the result filled; 2 bad arguments (both or neither probe form, a
 * level of INT_MAX, an empty gallery, a chain of more than six stages, a
 * budget percentage below -100); 3 a gallery blob that is no multi-view
 * template; 9; 17 (a stage threshold below the level's score, no best
 * view); statuses of the stage routines and of the progress routine. */
ZYL_API int verify_against_gallery(DataBlob* const* gallery, uint8_t count, const StageChain* chain,
                                   MatchContext* context, DataBlob* probe, GrayImage* probe_image,
                                   int level, MatchResult* result, const EngineConfig* config);
/* result_count: in the capacity of verdicts (1..255), out the rows written. */
ZYL_API int verify_against_views(DataBlob* const* views, uint8_t count, const StageChain* chain,
                                 MatchContext* context, DataBlob* probe, int level,
                                 int* result_count, ViewVerdict* verdicts);
/* Scores every unmarked view of a format-80 blob against the probe with
 * engine_score_pair (stopping after last_ops): 0; 1 no unmarked view; 3
 * not a multi-view template or no view scored; 9. */
ZYL_API int mvt_score_views(DataBlob* gallery, const StageMatchOps* last_ops,
                            MatchContext* context, DataBlob* probe, GalleryEntry* entry);
ZYL_API void gallery_entry_clear(GalleryEntry* entry);
ZYL_API void gallery_entry_move(GalleryEntry* destination, GalleryEntry* source);

/* ---- pair scoring and matching through the engine ---- */
ZYL_API int engine_score_pair(MatchEngine* engine, DataBlob* probe, DataBlob* gallery,
                              uint16_t* out_score, uint16_t** out_scores, uint16_t* out_count,
                              RigidTransform** out_transform, const StageMatchOps* last_ops);
ZYL_API const StageMatchOps* engine_pick_stage(const MatchEngine* engine);
/* Each gallery blob as a multi-view template (plain blobs wrapped as one
 * view); null when memory runs out or a plain blob cannot be a view (above
 * the engine's size limit), and engine_match_gallery then answers 9. */
ZYL_API DataBlob** engine_gallery_to_views(MatchEngine* engine, DataBlob* const* gallery,
                                           uint8_t count);
ZYL_API void engine_free_views(DataBlob** views, uint8_t count);
ZYL_API int engine_match_gallery(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                 DataBlob* probe, GrayImage* probe_image, int level,
                                 MatchResult* result);
ZYL_API int engine_match_image(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                               DataBlob* probe, GrayImage* probe_image, int level,
                               MatchResult* result);
ZYL_API int engine_match_decide(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                DataBlob* probe, int level, int32_t* out_decision,
                                RigidTransform** out_transform, int32_t* out_gallery_index,
                                int32_t* out_view_index);
ZYL_API int engine_match_result(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                DataBlob* probe, int level, MatchResult** out);
ZYL_API int engine_match_image_result(MatchEngine* engine, DataBlob* const* gallery,
                                      uint8_t count, GrayImage* image, int level,
                                      MatchResult** out);
ZYL_API int engine_match_image_decide(MatchEngine* engine, DataBlob* const* gallery,
                                      uint8_t count, GrayImage* image, int level,
                                      int32_t* out_decision, RigidTransform** out_transform,
                                      int32_t* out_gallery_index, int32_t* out_view_index,
                                      DataBlob** out_probe);
ZYL_API int engine_verify_score(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                DataBlob* probe, uint16_t* out_score);
ZYL_API int engine_score_gallery(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                 DataBlob* probe, MatchResult* result);
ZYL_API int engine_best_score(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                              DataBlob* probe, uint16_t* out_score, RigidTransform** out_transform);
ZYL_API int engine_merge_templates(MatchEngine* engine, DataBlob* base, DataBlob* const* blobs,
                                   int count, DataBlob** out, const KwzdWriter* writer,
                                   void* writer_data);
ZYL_API int engine_adapt_template(MatchEngine* engine, DataBlob* blob, MatchResult* result,
                                  DataBlob** out, const KwzdWriter* writer, void* writer_data);
/* Thin checking calls of the engine's template and gallery-score slots (the
 * built-in operations above, or those installed with engine_set_template_ops
 * and engine_set_match_ops). Each answers 2 when the engine, a blob pointer,
 * the output or the count is missing, else the slot's status; out is null
 * before the slot runs. engine_call_reserialize runs the merge slot with no
 * blobs: a failure 17 that leaves no blob is answered as 19. */
ZYL_API int engine_call_merge(MatchEngine* engine, DataBlob* base, DataBlob* const* blobs,
                              int count, DataBlob** out);
ZYL_API int engine_call_merge_with(MatchEngine* engine, DataBlob* base, DataBlob* const* blobs,
                                   int count, DataBlob** out, const KwzdWriter* writer,
                                   void* writer_data);
ZYL_API int engine_call_reserialize(MatchEngine* engine, DataBlob* base, DataBlob** out);
ZYL_API int engine_call_adapt(MatchEngine* engine, DataBlob* blob, MatchResult* result,
                              DataBlob** out);
ZYL_API int engine_call_gallery_score(MatchEngine* engine, DataBlob* const* gallery,
                                      uint8_t count, DataBlob* probe, MatchResult* result);
ZYL_API int engine_far_accept(MatchEngine* engine, uint16_t score, int level, int* out_accept);
/* Adds 1 to counters[best raw score] (not the FAR-scale score): the counter
 * array holds 65536 entries. */
ZYL_API int engine_count_decision(MatchEngine* engine, DataBlob* const* gallery, uint8_t count,
                                  DataBlob* probe, GrayImage* probe_image, uint32_t* counters);

ZYL_EXTERN_C_END
