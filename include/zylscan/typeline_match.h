/* The type-line engine's matcher and one-to-many search: coarse alignment on
 * the cores, pattern-type compatibility, pair tags with rotation and shift
 * votes, point scores, point matching with its score corrections and
 * decision functions, and the search of a probe in a gallery.
 *
 * Records are TypelineRecords decoded from type-line templates
 * (zylscan/typeline_template.h). Directions are 0..239 (1.5-degree steps),
 * block orientations 0..119 with 255 for none. Every function checks its
 * pointers: a null record or list answers 0 (or leaves the score as it came
 * for the score corrections) unless its comment says otherwise. Counts held
 * in caller records are taken within their limits (50 minutiae, 4 singular
 * points, 625 block cells) and matched pairs that name a minutia outside its
 * record are refused. */
#pragma once

#include <stdint.h>

#include "zylscan/typeline_math.h"
#include "zylscan/typeline_template.h"
#include "zylscan/zyl_export.h"

#define TYPELINE_MAX_PAIR_TAGS 600
#define TYPELINE_TAG_BUCKETS 240     /* one bucket per first angle */
#define TYPELINE_TAG_BUCKET_SLOTS 20 /* tag indexes a bucket holds */
#define TYPELINE_SHIFT_VOTES 800     /* shift votes, indexed by shift + 400 */
#define TYPELINE_ROTATION_VOTES 240

/* Two minutiae of one record and the line between them. */
typedef struct PairTag {
  int16_t length;        /* rounded distance between the two minutiae */
  int16_t lineDirection; /* 0..119: direction first -> second, half turn */
  int16_t firstAngle;    /* 0..239: line direction - first minutia's direction */
  int16_t secondAngle;   /* 0..239: opposite line direction - second's */
  int16_t first;         /* minutia indexes */
  int16_t second;
} PairTag;

typedef struct PairTagList {
  int16_t count; /* 0..600 */
  PairTag tags[TYPELINE_MAX_PAIR_TAGS];
} PairTagList;

/* A candidate of point matching: two agreeing tags and their score. */
typedef struct PairCandidate {
  int16_t score;
  int16_t secondTag; /* index into the second record's tag list */
  int16_t firstTag;  /* index into the first record's tag list */
} PairCandidate;

/* The matched minutia pairs of point matching and the alignment found. */
typedef struct PointMatchResult {
  int16_t pairCount; /* 0..50 */
  int16_t rotation;  /* 0..239 */
  int16_t shiftX;
  int16_t shiftY;
  int16_t centreX; /* rotation centre */
  int16_t centreY;
  int16_t second[TYPELINE_MAX_MINUTIAE]; /* second-record minutia of pair i */
  int16_t first[TYPELINE_MAX_MINUTIAE];  /* first-record minutia of pair i */
} PointMatchResult;

/* Bucket index of a tag list: bucketCounts has 240 entries (one per first
 * angle), bucketSlots 240 x 20 (slot j of bucket a at a * 20 + j). */

ZYL_EXTERN_C_BEGIN

/* ---- Coarse matching, transforms and counts ---- */

/* Turns the record's minutiae and singular points by r (0..239, taken
 * modulo 240) about (cx, cy) and moves them by (dx, dy); each product is
 * floored on its own. */
ZYL_API void transform_points(TypelineRecord* record, int cx, int cy, int r, int dx, int dy);
/* The same on minutiae alone with rounded sums; any r. */
ZYL_API void transform_mp(TypelineMinutiaList* minutiae, int cx, int cy, int r, int dx, int dy);
ZYL_API void transform_core(TypelineSingularList* points, int cx, int cy, int r, int dx, int dy);
/* Resamples a block grid in place under the transform. */
ZYL_API void transform_block(int r, int dx, int dy, int cx, int cy, TypelineBlockGrid* grid);
/* The smaller of: a's minutiae inside b's hull, b's inside a's (margin 16). */
ZYL_API int get_min_points_number(const TypelineMinutiaList* a, const TypelineMinutiaList* b);
/* Matched minutiae within squared distance 144 and direction difference
 * below 8 (*t8) and below 11 (*t11). Answers *t8. */
ZYL_API int get_matched_points_number(const TypelineMinutiaList* a, const TypelineMinutiaList* b, int* t8,
                                      int* t11);
ZYL_API int get_matched_mp_num(int radius, int tolerance, const TypelineMinutiaList* a,
                               const TypelineMinutiaList* b);
/* Orientation agreement (0..100) and foreground overlap (0..100). */
ZYL_API int check_block(int tolerance, int ratio, const TypelineBlockGrid* a, const TypelineBlockGrid* b);
ZYL_API int check_block2(int ratio, const TypelineBlockGrid* a, const TypelineBlockGrid* b);
/* 1 certainly alike, 2 close, 0 cannot tell, -1 a record without minutiae. */
ZYL_API int coarse_matching(const TypelineRecord* a, const TypelineRecord* b);

/* ---- Type matching ---- */

ZYL_API int get_distance(const TypelineRecord* record, int k, int far);
ZYL_API int type_matching(const TypelineRecord* a, const TypelineRecord* b);

/* ---- Pair tags and alignment ---- */

ZYL_API void get_tag_item(const TypelineMinutiaList* minutiae, PairTag* tag);
ZYL_API void get_search_tag(const TypelineRecord* record, PairTagList* list, int* lengthBound, int* bucketCounts,
                            int* bucketSlots, int minLength, int maxLength);
ZYL_API void get_file_tag(const TypelineRecord* record, PairTagList* list, int* bucketCounts, int* bucketSlots,
                          int* centreX, int* centreY, int minLength, int lengthBound);
/* votes: 240 entries, replaced by their smoothed form. */
ZYL_API int rotate_points(int cx, int cy, int* votes, PairTagList* list, TypelineRecord* record);
/* xVotes, yVotes: 800 entries each. A vote outside the tables is dropped. */
ZYL_API void get_shift_param(int tolerance, int weight, const PairTag* first, const PairTag* second, int* xVotes,
                             int* yVotes, const TypelineMinutiaList* firstMinutiae,
                             const TypelineMinutiaList* secondMinutiae);
ZYL_API void shift_points(int* dx, int* dy, TypelineRecord* record, int* xVotes, int* yVotes);
ZYL_API int check_limit(int tolerance, const PairTag* first, const PairTag* second, const TypelineRecord* a,
                        const TypelineRecord* b, int cx, int cy);
/* candidates: candidateCount entries (at most 1000); selected: *selectedCount
 * candidate indexes (at most 500). */
ZYL_API int re_arrange_point(PairCandidate* candidates, int* selected, int candidateCount, int* selectedCount,
                             TypelineRecord* first, TypelineRecord* second, PairTagList* firstList,
                             PairTagList* secondList);

/* ---- Grey-level normalisation ---- */

/* Stretches width x height pixels to 0..255 into out; factor is not used.
 * An image of one grey level is copied unchanged. Answers 0, -1 for a null
 * buffer or a negative size. */
ZYL_API int normalizeZyl(const uint8_t* in, uint8_t* out, int width, int height, float factor);

/* ---- Point scores and common area ---- */

ZYL_API int get_score_sub(const TypelineMinutiaList* a, const TypelineMinutiaList* b);
/* a is a copy of the first record; its minutiae end as they began. */
ZYL_API int get_point_score(TypelineRecord* a, const TypelineRecord* b);
ZYL_API int get_point_score2(TypelineRecord* a, const TypelineRecord* b, int* blockAgreement);
ZYL_API int arrange_points(TypelineRecord* a, TypelineRecord* b, PairTagList* secondList, int* lengthBound,
                           int* bucketSlots, int* bucketCounts, int prune);
ZYL_API int arrange_points_sub(int cx, int cy, int r, int dx, int dy, TypelineMinutiaList* firstMinutiae,
                               const TypelineBlockGrid* firstGrid, TypelineRecord* second, PairTagList* secondList,
                               int* lengthBound, int* bucketSlots, int* bucketCounts);

/* ---- Match driver and search ---- */

/* Score 0..1000 of two 750-byte templates; 0 for a null template. Mode 0
 * accepts from 1, mode 2 from 100, every other mode from 50. */
ZYL_API int finger_match(const uint8_t* a, const uint8_t* b, int mode);
/* 1000, a score at or above the mode's threshold, 1 (weak acceptance), -1
 * (no match or unusable template) or -21 (no memory); -1 for a null
 * template. */
ZYL_API int matching_main(const uint8_t* a, const uint8_t* b, int mode);

/* Position 0..count-1 of the first accepted gallery template (stride 750
 * bytes); -1 for count <= 0 or a null buffer, -21 without memory, -11 when
 * none is accepted. */
ZYL_API int finger_search(const uint8_t* probe, const uint8_t* gallery, int count, int mode);
/* Visiting order (count entries) with the most similar templates first;
 * 1, or 0 without memory or for a bad argument (count above 65536). */
ZYL_API int sch_sub_func(const uint8_t* probe, const uint8_t* gallery, int count, uint16_t* order);
ZYL_API int sch_sub_func_01(const TypelineRecord* gallery, const TypelineRecord* probe);
ZYL_API void sch_sub_func_02(const int32_t* similarities, int count, uint16_t* order);
ZYL_API void sch_sub_func_03(TypelineMinutiaList* list, int cx, int cy, int r, int sx, int sy);
ZYL_API int sch_sub_func_04(const TypelineMinutiaList* a, const TypelineMinutiaList* b);
ZYL_API int sch_sub_func_05(const TypelineRecord* probe, const TypelineRecord* gallery);

/* ---- Point matching ---- */

/* Score of one direction (0 for no match). unused is ignored; strict 1 is
 * the matcher's behaviour (0 leaves out the early refusals and the pruning).
 * cache holds the point score once computed (0 before). */
ZYL_API int point_matching(TypelineRecord* first, TypelineRecord* second, PointMatchResult* result, int unused,
                           int strict, int t, int32_t* cache, PairTagList* firstList, PairTagList* secondList);
ZYL_API int check_core(const TypelineSingularList* a, const TypelineSingularList* b, int distanceLimit,
                       int angleLimit);
/* Agreeing local structures, -1 when either side yields none. */
ZYL_API int GetMatchedTemplateNum(const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                                  const PointMatchResult* result);

/* A set of up to 15 local structures of 8 neighbours each. */
typedef struct TypelineNeighbour {
  int32_t distance;
  uint8_t angle;     /* 0..239 relative to the centre direction */
  uint8_t direction; /* 0..239 relative to the centre direction */
} TypelineNeighbour;
typedef struct TypelineLocalStructure {
  uint8_t direction;
  TypelineNeighbour neighbours[8];
} TypelineLocalStructure;
typedef struct TypelineLocalStructureSet {
  int32_t count; /* 0..15 */
  TypelineLocalStructure structures[15];
} TypelineLocalStructureSet;

ZYL_API void get_paired_template(const TypelineMinutiaList* minutiae, int n, const int16_t* indexes,
                                 TypelineLocalStructureSet* out);
ZYL_API int match_template(const TypelineLocalStructureSet* a, const TypelineLocalStructureSet* b);
ZYL_API int match_paired_chunk(const TypelineLocalStructure* a, const TypelineLocalStructure* b);

/* ---- Score adjustment and decisions ---- */

/* unused is ignored. */
ZYL_API int adjust_score(int s, int P, int bA, int bB, int unused, int n, int D, int N, int m, int K, int L, int Q,
                         int M);
ZYL_API int check_paired_mp(const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                            const PointMatchResult* result);
ZYL_API int dec_func_01(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result,
                        int L);
ZYL_API int dec_func_03(int s, const TypelineRecord* a, const TypelineRecord* b, int D, int bA, int L);
ZYL_API int dec_func_07(int s, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result);
ZYL_API int dec_func_12(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result);
ZYL_API int dec_func_13(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result,
                        int t, int D, int bA, int unused);
ZYL_API int check_point_kind(const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                             const PointMatchResult* result);
ZYL_API int dec_func_02(int s, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result);
ZYL_API int dec_func_04(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result);
ZYL_API int dec_func_05(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result);
ZYL_API int dec_func_06(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result,
                        int t, int D, int bA, int x);

/* ---- Unpaired-minutia decisions ---- */

/* 1 when the list holds a minutia within radius of (x, y) (and, unless
 * positionOnly, with a direction within angleLimit); paired minutiae of the
 * given side (0 first, 1 second) are left out when excludePaired is set,
 * which needs a result. */
ZYL_API int check_exist(int x, int y, int direction, int skip, int radius, int angleLimit,
                        const TypelineMinutiaList* minutiae, const PointMatchResult* result, int excludePaired,
                        int positionOnly, int side);
ZYL_API int dec_func_10(int s, int L, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result, int bA, int D, int P, int K, int bB, int unused);
ZYL_API int dec_func_08(int s, int L, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result, int bA, int D, int P, int K, int bB, int unused);
ZYL_API int dec_func_09(int s, const TypelineMinutiaList* a, const TypelineMinutiaList* b,
                        const PointMatchResult* result, int unused);
ZYL_API int dec_func_11(int s, const TypelineRecord* a, const TypelineRecord* b, const PointMatchResult* result,
                        int D, int P, int unused);
/* Fills out (a minutia list) with the neighbours of (x, y); indexes may be
 * null when excludeListed is 0. */
ZYL_API void get_neighbor(int x, int y, const TypelineMinutiaList* minutiae, const int16_t* indexes, int listLength,
                          int excludeListed, int radius, int filterQuality, int minQuality, int keepNearest, int k,
                          TypelineMinutiaList* out);
/* 0 when the neighbours of a pair show minutiae the other record lacks
 * around it, else 1 (also for a null argument or a record without a hull). */
ZYL_API int check_neighbor(int firstIndex, int secondIndex, const TypelineMinutiaList* firstNeighbours,
                           const TypelineMinutiaList* secondNeighbours, const TypelineRecord* a,
                           const TypelineRecord* b);
ZYL_API int check_overlap(const TypelineSingularList* a, const TypelineSingularList* b);

ZYL_EXTERN_C_END
