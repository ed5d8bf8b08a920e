/* Graph matcher of the skeleton engine: graph lines, the per-context match
 * data and the histogram steps that align a sample template on a test
 * template.
 *
 * A graph line joins two minutiae of one template and is described by its
 * length and by the angles of both minutiae relative to it, so it looks the
 * same however the finger is turned or shifted. Angles and directions are in
 * steps of 1.5 degrees (0..239), orientations 0..119. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/xw.h"
#include "zylscan/zyl_export.h"

#define ZYL_GRAPH_LINES 5000       /* line table of one side */
#define ZYL_ANGLE_BINS 240         /* one bin per first relative angle */
#define ZYL_TRANSLATION_BINS 2048  /* bins of each translation histogram */

typedef struct GraphLine {
  int32_t length;       /* ComputeDistance of the two minutiae */
  int32_t orientation;  /* of the segment first -> second, 0..119 */
  int32_t firstAngle;   /* segment direction - first minutia's angle, 0..239 */
  int32_t secondAngle;  /* reverse direction - second minutia's angle, 0..239 */
  int32_t first;        /* minutia indexes */
  int32_t second;
} GraphLine;

/* One template's data in one role (test or sample). */
typedef struct MatchSide {
  FeatureRecord features;
  GraphLine lines[ZYL_GRAPH_LINES];
  GraphLine** bins[ZYL_ANGLE_BINS]; /* lines by first relative angle */
  int32_t binCounts[ZYL_ANGLE_BINS];
  int32_t binCapacities[ZYL_ANGLE_BINS];
  int32_t lineCount;
  int32_t lengthBound; /* test role: one past the longest line (see the builder) */
  int32_t coreIndex;   /* the template's only core, or -1 */
  int32_t hasCore;
  int32_t coreDistances[ZYL_MAX_MINUTIAE]; /* from the only core to each minutia */
  int32_t centreX;     /* sample role: centre of the minutiae */
  int32_t centreY;
} MatchSide;

/* A candidate pair of the test side: its length and minutia indexes. */
typedef struct GraphPair {
  uint16_t length;
  uint16_t first;
  uint16_t second;
} GraphPair;

/* Work arrays of the test side's pair selection. */
typedef struct PairSorter {
  int32_t pairCapacity;
  int32_t pointerCapacity;
  GraphPair* pairs;
  GraphPair** pointers; /* the pairs in kept order */
  int32_t* counts;      /* counting array, one entry per length */
  int32_t countSize;
} PairSorter;

/* Two lines that look alike, with their score (255 marks a used entry). */
typedef struct MatchCandidate {
  uint8_t score;
  GraphLine* sample;
  GraphLine* test;
} MatchCandidate;

/* Work data of the graph matcher, one per context. */
typedef struct MatchData {
  MatchSide sides[3];
  PairSorter sorter;
  int32_t candidateCapacity;
  int32_t indexCapacity;
  int32_t histogramSizeX;
  int32_t histogramSizeY;
  MatchCandidate* candidates;
  uint16_t* indexes; /* positions in the candidate list */
  int32_t* histogramX;
  int32_t* histogramY;
  int32_t* histogramScratch;
  int32_t rotationHistogram[ZYL_ANGLE_BINS];
  uint8_t rotationFlags[ZYL_ANGLE_BINS]; /* 1 where the rotation is allowed */
} MatchData;

ZYL_EXTERN_C_BEGIN

/* A zero-filled record with every array allocated; null when memory runs out
 * (nothing stays allocated then). */
ZYL_API MatchData* CreateMatchData(void);
/* Frees the record and its arrays; nothing for null. */
ZYL_API void FreeMatchData(MatchData* match_data);

/* Prepares a side as the test template from its feature record, with the
 * context's line budget, line lengths and core option. Returns the number of
 * lines, or -3 (no context), -4 (null side), -2 (no match data). */
ZYL_API int32_t FillTestFeaturesMatchData(XWContext* context, MatchSide* side);
/* Prepares a side as the sample template; length_bound and core_flag come
 * from the prepared test side. Returns the number of lines, -3 or -4. */
ZYL_API int32_t FillSampleFeaturesMatchData(XWContext* context, MatchSide* side,
                                            int32_t length_bound, int32_t core_flag);

/* Builds the test side's lines: the budget / 2 shortest pairs with
 * shortest <= length < longest, each in both directions. */
ZYL_API int32_t TestFingerprintGraphLines(MatchSide* side, PairSorter* sorter, int32_t budget,
                                          int32_t longest, int32_t shortest);
/* Builds the sample side's lines: pairs with shortest < length < length_bound
 * in the order found, at most budget. */
ZYL_API int32_t SampleFingerprintGraphLines(MatchSide* side, int32_t budget,
                                            int32_t length_bound, int32_t shortest);

/* Orientation and relative angles of a line whose length and indexes are set. */
ZYL_API void FillLineData(GraphLine* line, const int32_t* xs, const int32_t* ys,
                          const int32_t* angles);
/* Orientation and relative angles of the reverse of the previous line. */
ZYL_API void FillLineData1(GraphLine* line, const GraphLine* previous);
/* Index of the only singular point of kind 1 (a core), or -1. */
ZYL_API int32_t GetTheOnlyCore(const FeatureRecord* features);

/* Finds the rotation in the vote histogram and turns the sample's minutiae
 * about (cx, cy) and its lines' orientations by it; returns it (0..239), or
 * -4 for a missing array. */
ZYL_API int32_t RotationHistogramProcessing(int32_t* histogram, const uint8_t* flags, int32_t n,
                                            int32_t* xs, int32_t* ys, int32_t* angles,
                                            int32_t line_count, GraphLine* lines, int32_t cx,
                                            int32_t cy);
/* Votes weight for the shift that brings the sample line onto the test line
 * when both endpoints agree within the tolerance. */
ZYL_API void AddTranslationHistogramValue(const int32_t* txs, const int32_t* tys,
                                          const int32_t* sxs, const int32_t* sys,
                                          int32_t* hist_x, int32_t* hist_y, int32_t half_x,
                                          int32_t half_y, const GraphLine* test_line,
                                          const GraphLine* sample_line, int32_t weight,
                                          int32_t tolerance);
/* Finds the shift in the two histograms and moves the sample's n minutiae by
 * it; writes it to *dx and *dy (either may be null). Does nothing when an
 * array is missing. */
ZYL_API void TranslationHistogramProcessing(int32_t* hist_x, int32_t* hist_y, int32_t* scratch,
                                            int32_t size_x, int32_t size_y, int32_t* xs,
                                            int32_t* ys, int32_t n, int32_t* dx, int32_t* dy);
/* 1 when both endpoints of the two lines lie within the tolerance, else 0. */
ZYL_API int32_t LineLocationSimilarity(const int32_t* txs, const int32_t* tys,
                                       const int32_t* sxs, const int32_t* sys,
                                       const GraphLine* test_line, const GraphLine* sample_line,
                                       int32_t tolerance);

/* Scores how well the sample side fits the test side (both prepared by the
 * fill operations) with the context's matcher settings; 0 when a stage stays
 * below the threshold (its score then goes into details->score). The sample
 * side is rotated and shifted in place. details may be null. */
ZYL_API int32_t MatchFeatures(MatchSide* test_side, MatchSide* sample_side, int32_t threshold,
                              MatchDetails* details, XWContext* context);
/* Turns a record's block-direction grid by rotation (0..239) about (cx, cy)
 * in pixels; the grid becomes square. */
ZYL_API void RotateRidgesOrientation(int32_t cx, int32_t cy, int32_t rotation, FeatureRecord* grid);
/* Shifts a record's block-direction grid by (dx, dy) pixels, rounded to blocks. */
ZYL_API void TranslateRidgesOrientation(int32_t dx, int32_t dy, FeatureRecord* grid);
/* Similarity of two block-direction grids; writes the weight it is out of. */
ZYL_API int32_t OrientationStructureComparison(const FeatureRecord* test_grid,
                                               const FeatureRecord* sample_grid, int32_t* weight);
/* The larger of a and b. */
ZYL_API int32_t Zylmax(int32_t a, int32_t b);

ZYL_EXTERN_C_END
