/* Feature generalisation: three impressions of one finger merged into one
 * feature record that keeps what they agree on.
 *
 * The three records are matched pairwise in all six directions; the matched
 * minutia pairs become one consistent set of correspondences, the impression
 * with most correspondences becomes the base, and each result minutia is the
 * mean, in the base's frame, of a minutia found in two or three impressions.
 *
 * A pair set is the long form of MatchDetails: pairCount pairs, testIndexes
 * holding the first minutia and sampleIndexes the second of each pair. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

/* Result of GeneralizeFeatures when the work memory cannot be obtained. */
#define ZYL_GENERALIZE_NO_MEMORY (-2)
/* ... and when a pairwise score is below the threshold. */
#define ZYL_GENERALIZE_NO_MATCH (-1)

/* One directed match between two impressions: its matched pairs, the test
 * impression, and a private copy of the sample impression whose minutiae are
 * moved into the test impression's frame by the match. */
typedef struct PairRecord {
  MatchDetails pairs; /* size field XW_DETAILS_LONG */
  const FeatureRecord* test;
  FeatureRecord sample;
} PairRecord;

ZYL_EXTERN_C_BEGIN

/* Merges three feature records into result (its minutiae only; the caller
 * fills the rest). Returns the index 0..2 of the base impression, -1 when one
 * of the six pairwise scores is below *threshold, -2 when memory runs out;
 * -3 without a context, -4 for a null argument. The result is complete only
 * when the base index is returned. */
ZYL_API int32_t GeneralizeFeatures(const FeatureRecord* first, const FeatureRecord* second,
                                   const FeatureRecord* third, FeatureRecord* result,
                                   const int32_t* threshold, XWContext* context);
/* Matches the pair record's sample copy against its test record with the
 * context's graph matcher, fills its pair set and moves the copy's minutiae
 * into the test frame. Returns the score (or -3, -4, -2). */
ZYL_API int32_t GenMatchFeatures(PairRecord* pair, const int32_t* threshold, XWContext* context);

/* Makes P (impressions a -> b) and Q (b -> a) hold the same one-to-one
 * correspondences, reversed in Q; pairs that conflict go to the conflict
 * sets. */
ZYL_API void AppendIPS(MatchDetails* p, MatchDetails* q, MatchDetails* p_conflicts,
                       MatchDetails* q_conflicts);
/* Moves every pair that shares a minutia with another pair into the
 * conflict set; 1 when there was such a pair, else 0. */
ZYL_API int32_t ExtractDuplicates(MatchDetails* pairs, MatchDetails* conflicts);
/* Removes the pair at position from the two index arrays, keeping the order,
 * and decrements *count. Nothing for a position outside 0..*count-1. */
ZYL_API void EliminatePointFromIps(uint16_t* first, uint16_t* second, int32_t* count,
                                   int32_t position);
/* First position whose first (which = 0) or second (which != 0) index is
 * index, or -1. */
ZYL_API int32_t FindFeatureInIPS(const MatchDetails* pairs, int32_t index, int32_t which);
/* Mean of n directions (0..239) on the circle of 240 steps. When they spread
 * over half a turn or more, the directions above 119 are lowered by 240 in
 * the caller's array first. 0 for n below 1. */
ZYL_API int32_t AverageAngle(int32_t* angles, int32_t n);
/* Orders a record's minutiae by y, ascending (selection sort: the first of
 * equal y is taken first); minutiae with y of 10240 or more are not moved
 * forward. */
ZYL_API void SortMinutiae(FeatureRecord* record);

ZYL_EXTERN_C_END
