/* Matcher library stage operations on card templates (format 2): the
 * card-only match operation with its 9 sub-scores and fuse, the fuse of the
 * 30-value card+grid vector, and the helpers they share.
 *
 * Match operations follow StageMatchRoutine: the first template is the
 * enrolled view (A), the second the probe (B). On failure the sub-scores
 * are null, the count 0 and the alignment released and null. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_localstruct.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  CARD_SUBSCORES = 9,
  CARD_GRID_SUBSCORES = 30,
  CARD_KEY_RESOLUTION = (int32_t)0x94547f74
};

/* Prepares card A's local-structure form and compares card B with it. 9
 * when the work areas cannot be allocated; otherwise the comparison's
 * status. The alignment may be null. */
ZYL_API int match_card_local64(const uint8_t* card_a, uint32_t length_a, const uint8_t* card_b,
                               uint32_t length_b, CardMatchResult* result,
                               CardAlignment* alignment, int mode);

/* A new format-2 blob holding the template's card: a copy of a card, the
 * conversion of a minutiae record (formats 1 and 3, at most 128 minutiae),
 * else the template's format-2 section. Null on any failure. */
ZYL_API DataBlob* card_section_to_template(const DataBlob* blob);

/* Card score and the 8 sub-values of the card comparison (9 sub-scores). */
ZYL_API int match_card(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                       uint16_t* out_count, RigidTransform** alignment);

/* 17 unless the count is 9; 0 when the card score is 0, else the profile's
 * fuse of the 9 values. */
ZYL_API int fuse_card(MatchContext* context, DataBlob* a, DataBlob* b, const uint16_t* scores,
                      uint16_t count, const ScoreProfile* profile, uint16_t* out_score);
/* 17 unless the count is 30; 0 when the card score (entry 0) and the grid
 * score (entry 9) are both 0, else the profile's fuse of the 30 values. */
ZYL_API int fuse_card_grid(MatchContext* context, DataBlob* a, DataBlob* b, const uint16_t* scores,
                           uint16_t count, const ScoreProfile* profile, uint16_t* out_score);

/* Width, height (192 when absent) and quality byte (0 when absent) of a
 * template's image-information element; a container is read through its
 * extended card. 0, or the section lookup's or parsers' status. */
ZYL_API int card_template_image_info(const DataBlob* blob, uint16_t* width, uint16_t* height,
                                     uint8_t* quality);

/* 30 sub-scores: card score and its 8 sub-values (0-8), the grid score
 * scaled by the image quality (9), the grid detail (10-25), the distance
 * and angle between the card and grid alignments (26, 27), the quality
 * difference (28) and the quality shortfall (29). The card alignment is
 * used (and handed back) when it pairs 8 minutiae or more, or on sensors
 * of a size outside 4..9; else the grid searches from the incoming one. */
ZYL_API int match_card_grid(MatchContext* context, DataBlob* a, DataBlob* b,
                            uint16_t** out_scores, uint16_t* out_count, RigidTransform** alignment);
/* As match_card_grid with the maps' detail layers. */
ZYL_API int match_card_grid_detail(MatchContext* context, DataBlob* a, DataBlob* b,
                                   uint16_t** out_scores, uint16_t* out_count,
                                   RigidTransform** alignment);
/* The grid scored only at the card alignment, which is handed back. */
ZYL_API int match_card_grid_fixed(MatchContext* context, DataBlob* a, DataBlob* b,
                                  uint16_t** out_scores, uint16_t* out_count,
                                  RigidTransform** alignment);
/* The grid alone, scored at the incoming alignment, which is required (2
 * without) and consumed; entries 0-8, 26 and 27 are 0. */
ZYL_API int match_grid_map(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                           uint16_t* out_count, RigidTransform** alignment);

ZYL_EXTERN_C_END
