// The functions of keypoint match ops that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_match_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void matcher_settings_defaults(MatcherSettings* s, const MatchContext* c);
int keypoints_paired_core(MatchContext* context, DataBlob* a, DataBlob* b,
                          const MatcherSettings* settings, uint16_t** out_scores,
                          uint16_t* out_count, RigidTransform** alignment);
int match_keypoints(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                    uint16_t* out_count, RigidTransform** alignment);
int match_keypoint_pairs(MatchContext* context, DataBlob* a, DataBlob* b,
                         MinutiaPairing** out_pairing);
int match_keypoints_with_pairing(MatchContext* context, DataBlob* a, const uint8_t* ext_a,
                                 uint32_t ext_a_length, DataBlob* b, const uint8_t* ext_b,
                                 uint32_t ext_b_length, const MinutiaPairing* pairing,
                                 uint16_t** out_scores, uint16_t* out_count,
                                 RigidTransform** alignment);

}  // namespace zyl::matchlib
