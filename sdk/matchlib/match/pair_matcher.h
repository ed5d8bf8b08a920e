// The functions of pair matcher that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_pair_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

NearestMatch* nearest_match_create(int count_a, int count_b);
void nearest_match_free(NearestMatch* m);
MinutiaPairing* pairing_create(const MatcherSettings* settings);
void pairing_free(MinutiaPairing* p);
// The descriptor distance modes the pair matcher accepts in its settings:
// 0 and 0x80 (128 bits) and 64 (64 bits).
bool pair_distance_mode_supported(int32_t mode);
int extension_mask_covers(uint32_t required, uint32_t present);
uint32_t blockrec_extension_mask(const BlockRecord* record);
void pair_alignment_identity(PairAlignment* a);
void alignment_from_xform(const RigidTransform* t, int resolution, PairAlignment* out);
RigidTransform* alignment_to_xform(const PairAlignment* a, int resolution);
int rigid_fit(const int32_t* ax, const int32_t* ay, const int32_t* bx, const int32_t* by, int n,
              PairAlignment* out);
int coverage_percent(const BlockRecord* record, int* out_percent);
// The crowding of the refined scorer's selected pairs: for each pair p, the
// sum over the other pairs q of 32 - s where s = |a_p - a_q|^2 +
// |b_p - b_q|^2 <= 31 (a and b the pairs' points in the two records).
void pair_crowding(const int16_t* ax, const int16_t* ay, const int16_t* bx, const int16_t* by,
                   int count, int64_t* crowd);
int pairs_match(const BlockRecord* a, const BlockRecord* b, MinutiaPairing* pairing);
int pairs_score(const BlockRecord* a, const BlockRecord* b, const SampleInfo* info_a,
                const SampleInfo* info_b, const MinutiaPairing* pairing, uint16_t** out_scores,
                int* out_count, PairAlignment* alignment);
int pairs_match_and_score(const uint8_t* a, uint32_t a_length, const SampleInfo* info_a,
                          const uint8_t* b, uint32_t b_length, const SampleInfo* info_b,
                          const MatcherSettings* settings, uint16_t** out_scores, int* out_count,
                          PairAlignment* alignment, int* out_flag);
int pairs_match_global(const uint8_t* a, uint32_t a_length, const SampleInfo* info_a,
                       const uint8_t* b, uint32_t b_length, const SampleInfo* info_b,
                       const MatcherSettings* settings, uint16_t** out_scores, int* out_count,
                       PairAlignment* alignment);

}  // namespace zyl::matchlib
