/* Matcher library keypoint pair matcher: pairs the points of two
 * block-structured point records (format 79) through their descriptors,
 * searches a rigid alignment, selects the pairs that agree with it and
 * scores them into five sub-scores. Record A is the enrolled view, B the
 * probe; the matcher is not symmetric.
 *
 * Units: point coordinates in pixels of the records, alignment offsets in
 * 1/16384 pixel, rotations in Q14, alignment angles as 24-bit phases
 * (0x1000000 a turn), point directions in 256 steps a turn. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_xform.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { PAIR_NONE = 0xffff, PAIR_SCORE_COUNT = 5 };

/* Best descriptor distances and partners of both sides (0xffff: none). */
typedef struct NearestMatch {
  uint16_t* best_a;
  uint16_t* best_b;
  uint16_t* match_a;
  uint16_t* match_b;
  int32_t count_a;
  int32_t count_b;
} NearestMatch;

typedef struct PairEntry {
  uint16_t distance;
  uint16_t index_a;
  uint16_t index_b;
} PairEntry;

typedef struct PairAlignment {
  int32_t dx; /* 1/16384 pixel */
  int32_t dy;
  int32_t cosine; /* Q14 */
  int32_t sine;
  int32_t angle; /* 24-bit phase */
} PairAlignment;

typedef struct PairStats {
  int16_t pairs;
  int16_t unpaired;
  int16_t distance_figure;
  int16_t descriptor_figure;
  uint16_t overlap_a;
  uint16_t overlap_b;
  uint8_t overlap_percent;
  int32_t support;
} PairStats;

/* The keypoint matcher's settings, in their stored order. */
typedef struct MatcherSettings {
  int32_t parse_selection;   /* handed to blockrec_parse as its skip argument */
  int32_t refined_search;    /* non-zero: grid-based refined pair search */
  int32_t point_limit;       /* handed to blockrec_parse (0 keeps all) */
  int32_t hypothesis_limit;  /* of the alignment search */
  int32_t extension_types;   /* descriptor types both records must carry */
  int32_t distance_mode;     /* descriptor distance mode (0, 0x80: 128 bits, 64: 64 bits) */
  int32_t two_run;           /* non-zero: plain and reversed search, the better kept */
  int32_t distance_setting;  /* root of the squared-distance limit (0: from the point count) */
  int32_t direction_tolerance;
  int32_t mutual;            /* non-zero: pairs not above the mean distance only */
  int32_t required_count;    /* sub-scores the match operations need */
} MatcherSettings;

typedef struct MinutiaPairing {
  NearestMatch* nearest;
  PairEntry* pairs;
  int32_t pair_count;
  MatcherSettings settings;
  int32_t alignment_flag;
} MinutiaPairing;

ZYL_API NearestMatch* nearest_match_create(int count_a, int count_b);
ZYL_API void nearest_match_free(NearestMatch* m);

ZYL_API MinutiaPairing* pairing_create(const MatcherSettings* settings);
ZYL_API void pairing_free(MinutiaPairing* p);
/* Size-or-write: with a null output answers the byte count; 0 for a null
 * pairing. */
ZYL_API uint32_t pairing_write(const MinutiaPairing* p, uint8_t* out);
/* Bytes read, or 0 on failure (version 2 or more, input shorter than its
 * counts need, a stored index past the point counts, memory). */
ZYL_API uint32_t pairing_read(const uint8_t* data, uint32_t length, MinutiaPairing** out);

ZYL_API int extension_mask_covers(uint32_t required, uint32_t present);
/* The type-id bits of the descriptor extensions a record carries. */
ZYL_API uint32_t blockrec_extension_mask(const BlockRecord* record);

ZYL_API void pair_alignment_identity(PairAlignment* a);
/* From a transform at a resolution (null: the identity). */
ZYL_API void alignment_from_xform(const RigidTransform* t, int resolution, PairAlignment* out);
ZYL_API RigidTransform* alignment_to_xform(const PairAlignment* a, int resolution);

/* Least-squares rotation and translation mapping A's points onto B's. 2 for
 * n < 1 or null arrays. */
ZYL_API int rigid_fit(const int32_t* ax, const int32_t* ay, const int32_t* bx, const int32_t* by,
                      int n, PairAlignment* out);
/* Percentage of the record's 8 x 8 cells holding a point (0 for an area
 * under one cell): 0, 17 for a null record. */
ZYL_API int coverage_percent(const BlockRecord* record, int* out_percent);

ZYL_API int pairs_match(const BlockRecord* a, const BlockRecord* b, MinutiaPairing* pairing);
ZYL_API int pairs_score(const BlockRecord* a, const BlockRecord* b, const SampleInfo* info_a,
                        const SampleInfo* info_b, const MinutiaPairing* pairing,
                        uint16_t** out_scores, int* out_count, PairAlignment* alignment);
ZYL_API int pairs_match_and_score(const uint8_t* a, uint32_t a_length, const SampleInfo* info_a,
                                  const uint8_t* b, uint32_t b_length, const SampleInfo* info_b,
                                  const MatcherSettings* settings, uint16_t** out_scores,
                                  int* out_count, PairAlignment* alignment, int* out_flag);
ZYL_API int pairs_match_global(const uint8_t* a, uint32_t a_length, const SampleInfo* info_a,
                               const uint8_t* b, uint32_t b_length, const SampleInfo* info_b,
                               const MatcherSettings* settings, uint16_t** out_scores,
                               int* out_count, PairAlignment* alignment);

/* Dense-descriptor similarity of two records holding the same grid of
 * points with type-0x8 descriptors (the dense-grid features): each point's
 * 128-bit distance paints a square patch (1 for equal descriptors, 2 x the
 * distance, 255 from 128 on; overlapping patches averaged) into the rows x
 * columns map at its position less the shifts; the border the patches do
 * not reach continues the nearest painted cell. With the invert check,
 * distances whose mean exceeds 64 are taken as 128 - d. 0; 1 without dense
 * descriptors in both or for unequal point counts; 2 for a null map or an
 * empty size; the parser's status for bad records; 9. */
ZYL_API int blockrec_similarity_map(const uint8_t* a, uint32_t a_length, const uint8_t* b,
                                    uint32_t b_length, uint8_t* out, int rows, int columns,
                                    int y_shift, int x_shift, int invert_check);
/* One sub-score (a malloc'd array of one): the summed point distances x 256
 * / points. 0; 1 as above; 2 for null arguments; 7 for records without
 * points; the parser's status; 9. */
ZYL_API int desc8_similarity_blob(const DataBlob* a, const DataBlob* b, uint16_t** out_scores,
                                  int* out_count);

ZYL_EXTERN_C_END
