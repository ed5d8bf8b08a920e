/* Matcher library stage match pairs of the catalogue's card and grid
 * stages: the grid-map histogram comparison with its three-value fusion,
 * the keypoint or card matcher followed by the grid-block refinement, the
 * fusions that take a profile or the first value, and the static table of
 * the four pairs the catalogue's chains use. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Three values from the two templates' format-66 sections: [histogram
 * similarity, 0, 300 - |stored lengths' difference| (clamped at 0) when
 * the two maps' lengths agree, else 0]. 0; the section lookup's or the
 * similarity's status; 9 no memory. The given transform is released. */
ZYL_API int match_gridmap_histogram(MatchContext* context, DataBlob* probe, DataBlob* gallery,
                                    uint16_t** out_scores, uint16_t* out_count,
                                    RigidTransform** transform);
/* match_keypoints, then match_gridblock_refine from its alignment: [first
 * grid-block value, first keypoint value]; the caller's transform
 * reference receives the keypoint alignment. A matcher's status passes
 * through (vector null, count 0, transform null); 9 no memory. */
ZYL_API int match_keypoints_then_gridblock(MatchContext* context, DataBlob* probe,
                                           DataBlob* gallery, uint16_t** out_scores,
                                           uint16_t* out_count, RigidTransform** transform);
/* As match_keypoints_then_gridblock with match_card_grid as the first
 * matcher; one value: the first grid-block value. */
ZYL_API int match_card_then_gridblock(MatchContext* context, DataBlob* probe, DataBlob* gallery,
                                      uint16_t** out_scores, uint16_t* out_count,
                                      RigidTransform** transform);
/* 2 s0 + 3 s1 + 3 s2, saturated at 65535; 17 (score 0) unless 3 values. */
ZYL_API int fuse_weighted_three(MatchContext* context, DataBlob* probe, DataBlob* gallery,
                                const uint16_t* scores, uint16_t count,
                                const ScoreProfile* profile, uint16_t* out_score);
/* The profile's fusion of exactly two values; 17 (score 0) otherwise. */
ZYL_API int fuse_two_with_profile(MatchContext* context, DataBlob* probe, DataBlob* gallery,
                                  const uint16_t* scores, uint16_t count,
                                  const ScoreProfile* profile, uint16_t* out_score);
/* The first value (0 for none); always 0. */
ZYL_API int fuse_first(MatchContext* context, DataBlob* probe, DataBlob* gallery,
                       const uint16_t* scores, uint16_t count, const ScoreProfile* profile,
                       uint16_t* out_score);

enum { STAGE_PAIR_COUNT = 4 };

/* Pair 1..4 of the static table, null otherwise: 1 {match_gridmap_histogram,
 * fuse_weighted_three}, 2 {match_keypoints_then_gridblock,
 * fuse_two_with_profile}, 3 {match_card_then_gridblock, fuse_first}, 4
 * {match_keypoints_then_gridblock, fuse_first}. */
ZYL_API const StageMatchOps* stage_pair_ops(int pair);

ZYL_EXTERN_C_END
