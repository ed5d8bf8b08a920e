/* Matcher library stage match and fuse operations: on keypoint sections
 * (format 79) the coarse orientation-histogram comparison, the global and paired
 * keypoint matchers behind the stage operations, scoring of a stored
 * pairing, and the settings record the keypoint matchers read from the
 * parameter store; on grid feature blocks (format 77) the grid-block
 * refinements.
 *
 * Match operations follow StageMatchRoutine: the first template is the
 * enrolled view (A), the second the probe (B). On failure the sub-scores
 * are null, the count 0 and the alignment released and null. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_pair_matcher.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  KP_KEY_REFINED = (int32_t)0x5212d9b4,
  KP_KEY_HYPOTHESES = (int32_t)0x8916c384,
  KP_KEY_EXTENSIONS = (int32_t)0xaeeec432,
  KP_KEY_TWO_RUN = (int32_t)0x95e5efb5,
  KP_KEY_DISTANCE = (int32_t)0x641a9b75,
  KP_KEY_TOLERANCE = (int32_t)0x9d55e9b7,
  KP_KEY_MUTUAL = (int32_t)0x29d1642c,
  KP_KEY_REQUIRED = (int32_t)0xa2d1d9d5,
  KP_KEY_RESOLUTION = (int32_t)0x47664bcc,
  KP_KEY_LIGHT_HYPOTHESES = (int32_t)0x2d09c049,
  KP_KEY_LIGHT_SELECTION = (int32_t)0xbf71e672,
  KP_KEY_LIGHT_MODE = (int32_t)0xe17fab2a
};

ZYL_API void matcher_settings_defaults(MatcherSettings* settings, const MatchContext* context);

ZYL_API int match_keypoints_global(MatchContext* context, DataBlob* a, DataBlob* b,
                                   uint16_t** out_scores, uint16_t* out_count,
                                   RigidTransform** alignment);
ZYL_API int match_keypoints_global_light(MatchContext* context, DataBlob* a, DataBlob* b,
                                         uint16_t** out_scores, uint16_t* out_count,
                                         RigidTransform** alignment);
ZYL_API int match_keypoints_global_limited(MatchContext* context, DataBlob* a, DataBlob* b,
                                           uint16_t** out_scores, uint16_t* out_count,
                                           RigidTransform** alignment);
ZYL_API int match_keypoints_light(MatchContext* context, DataBlob* a, DataBlob* b,
                                  uint16_t** out_scores, uint16_t* out_count,
                                  RigidTransform** alignment);
ZYL_API int match_keypoints(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                            uint16_t* out_count, RigidTransform** alignment);
/* Two sub-scores: the best overlap of the two (direction, second angle)
 * histograms over 16 turns of the second angle, and 0. */
ZYL_API int match_orientation_histogram(MatchContext* context, DataBlob* a, DataBlob* b,
                                        uint16_t** out_scores, uint16_t* out_count,
                                        RigidTransform** alignment);

/* The paired matcher with the caller's settings: the frame shared by the
 * paired stage operations (and by later combined ones). */
ZYL_API int keypoints_paired_core(MatchContext* context, DataBlob* a, DataBlob* b,
                                  const MatcherSettings* settings, uint16_t** out_scores,
                                  uint16_t* out_count, RigidTransform** alignment);

ZYL_API int match_keypoint_pairs(MatchContext* context, DataBlob* a, DataBlob* b,
                                 MinutiaPairing** out_pairing);
ZYL_API int match_keypoints_with_pairing(MatchContext* context, DataBlob* a, const uint8_t* ext_a,
                                         uint32_t ext_a_length, DataBlob* b, const uint8_t* ext_b,
                                         uint32_t ext_b_length, const MinutiaPairing* pairing,
                                         uint16_t** out_scores, uint16_t* out_count,
                                         RigidTransform** alignment);

/* Grid-block sub-scores (27) under the incoming alignment, which is
 * required (1 without). match_gridblock_refine searches around a copy and
 * hands the incoming alignment back unchanged; the in-place form refines
 * the caller's alignment itself and hands back the refined one. */
ZYL_API int match_gridblock_refine(MatchContext* context, DataBlob* a, DataBlob* b,
                                   uint16_t** out_scores, uint16_t* out_count,
                                   RigidTransform** alignment);
ZYL_API int match_gridblock_refine_inplace(MatchContext* context, DataBlob* a, DataBlob* b,
                                           uint16_t** out_scores, uint16_t* out_count,
                                           RigidTransform** alignment);
ZYL_API int match_gridblock(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                            uint16_t* out_count, RigidTransform** alignment);

ZYL_API int fuse_with_profile(MatchContext* context, DataBlob* a, DataBlob* b,
                              const uint16_t* scores, uint16_t count, const ScoreProfile* profile,
                              uint16_t* out_score);
/* 4 x first + 3 x second (16 bits); 17 unless the count is 2. */
ZYL_API int fuse_orientation_histogram(MatchContext* context, DataBlob* a, DataBlob* b,
                                       const uint16_t* scores, uint16_t count,
                                       const ScoreProfile* profile, uint16_t* out_score);

ZYL_EXTERN_C_END
