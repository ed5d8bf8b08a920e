/* Matcher library keypoint detection: the collection of a score map into
 * KeyPoint lists with a bright/dark/mixed class, the orientation finisher,
 * the extremum, saddle and corner score maps, and the detector routines
 * built on them. Detector routines take (context, 8-bit pixels, height,
 * width, out malloc'd KeyPoint array, out count); the caller frees the
 * array with free(). Score maps are height x width bytes cleared by the
 * caller; a map routine writes only the pixels it evaluates. Ring samples
 * are index steps (dy x width + dx) built for the image at hand. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef int (*KeyPointDetector)(const MatchContext* ctx, const uint8_t* pixels, int height,
                                int width, KeyPoint** points, int* count);

/* Candidate of the gap filling. */
typedef struct GapCandidate {
  uint16_t row;
  uint16_t column;
  uint16_t value;
} GapCandidate;

/* --- collection and orientation --- */

/* max(key 0x35a4bbb3, key 0x21d91b23), both 4 by default. */
ZYL_API int keypoint_border_radius(const MatchContext* ctx);
/* Thins the map in place to its local maxima inside the border and turns
 * every remaining cell into a point (class from keypoint_classify at key
 * 0x47664bcc; class-1 points left out when skip is set). 0 (no array and
 * count 0 when nothing is found), 9 out of memory, or the maxima status. */
ZYL_API int keypoint_collect(const MatchContext* ctx, const uint8_t* pixels, uint8_t* map,
                             uint16_t height, uint16_t width, int border, int skip,
                             KeyPoint** points, int* count);
/* 1 brighter than its surroundings, 2 darker, 3 mixed (3 x 3 pixels at or
 * above the 11 x 11 mean; thresholds switch at 255 dpi). */
ZYL_API int keypoint_classify(const uint8_t* pixels, int height, int width, int x, int y,
                              int resolution);
/* Sets every angle from the Sobel gradients over the disc of radius key
 * 0x21d91b23: the structure axis, turned by half a turn when the mean
 * gradient points that way. 0 or 9. */
ZYL_API int keypoint_orient(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                            KeyPoint* points, int count);
/* The angle keypoint_orient gives a point at (x, y); the disc
 * i*i + j*j <= r*r + r must lie inside the maps. */
ZYL_API int kp_orientation_disc(const int8_t* gx, const int8_t* gy, int width, int y, int x,
                                int radius);

/* --- extremum and saddle --- */

/* Offsets: the 28 index steps of the radius-3 circle then the 5 x 5 ring. */
ZYL_API int extremum_test28(const uint8_t* pixels, const int* offsets, int index, int threshold);
ZYL_API int extremum_score_map(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, uint8_t* map);
ZYL_API int saddle_ring_score(const uint8_t* pixels, const int* ring, int index, int threshold);
ZYL_API int saddle_score_rings(const uint8_t* pixels, const int* ring1, const int* ring2,
                               const int* ring3, int index, int threshold, int rings);
ZYL_API int saddle_score_map(const MatchContext* ctx, const uint8_t* pixels, int height,
                             int width, uint8_t* map);
ZYL_API int detect_extremum(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                            KeyPoint** points, int* count);
ZYL_API int detect_extremum_scaled(const MatchContext* ctx, const uint8_t* pixels, int height,
                                   int width, KeyPoint** points, int* count);
/* The saddle detectors set class bit 0x04 on every point. */
ZYL_API int detect_saddle(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                          KeyPoint** points, int* count);
ZYL_API int detect_saddle_scaled(const MatchContext* ctx, const uint8_t* pixels, int height,
                                 int width, KeyPoint** points, int* count);

/* --- gap filling and direction helpers --- */

/* Adds up to wanted - count points where the two nearest given points are
 * farthest (candidates of at least 32 in the saturating 16-bit sum of two
 * squared distances), classed, with the mask cell's bit 0x20 and an angle
 * from the orientation histogram refined by the structure axis. The given
 * points come first in the malloc'd out list. 1 for an image without a
 * resolution, 2 without a mask plane of the image's size, 9, or the usable
 * map's status. */
ZYL_API int keypoint_fill_gaps(GrayImage* image, const KeyPoint* points, int count, int wanted,
                               KeyPoint** out, int* out_count);
/* GapCandidate comparator for shell_sort: higher values first. */
ZYL_API int keypoint_cmp_score_desc(const void* a, const void* b);
/* Angle of each point from a 32-bin histogram of 1-2-1 gradients over the
 * weighted 11 x 11 window, refined by a parabola through the peak. */
ZYL_API int kp_orientation_histogram(const uint8_t* pixels, int width, int height,
                                     KeyPoint* points, int n);
/* fx_atan2 of the disc's sums of -dy x p and -dx x p (the grey-level
 * moment seen from the point), and the gradient axis turned by a quarter
 * turn; the disc
 * i*i + j*j <= r*r + r must lie inside the image. */
ZYL_API int kp_centroid_direction(const uint8_t* pixels, int width, int y, int x, int r);
ZYL_API int kp_axis_direction(const int8_t* gx, const int8_t* gy, int width, int y, int x, int r);

/* --- corners --- */

/* out[i] = dy[i] x stride + dx[i]. */
ZYL_API void ring_offsets_build(int stride, int* out, const int* dy, const int* dx, int n);
/* Segment test of 12 neighbouring ring-1 samples; the winning arc's start
 * goes to *arc (0 without an arc). */
ZYL_API int segment_test12(const uint8_t* pixels, const int* ring1, int index, int threshold,
                           uint8_t* arc);
ZYL_API int ring_corner_score(const uint8_t* pixels, const int* ring1, const int* ring2,
                              const int* ring3, int index, int threshold, int rings);
ZYL_API int ring_corner_score_map(const MatchContext* ctx, const uint8_t* pixels, int height,
                                  int width, uint8_t* map);
ZYL_API int corner_score_map_dense(const MatchContext* ctx, const uint8_t* pixels, int height,
                                   int width, uint8_t* map);
ZYL_API int corner_score_map_sparse(const MatchContext* ctx, const uint8_t* pixels, int height,
                                    int width, uint8_t* map);
ZYL_API int variance_score_map(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, uint8_t* map);
ZYL_API int detect_rings_scaled(const MatchContext* ctx, const uint8_t* pixels, int height,
                                int width, KeyPoint** points, int* count);
ZYL_API int detect_corners_dense_scaled(const MatchContext* ctx, const uint8_t* pixels,
                                        int height, int width, KeyPoint** points, int* count);
ZYL_API int detect_corners_sparse(const MatchContext* ctx, const uint8_t* pixels, int height,
                                  int width, KeyPoint** points, int* count);
ZYL_API int detect_variance_scaled(const MatchContext* ctx, const uint8_t* pixels, int height,
                                   int width, KeyPoint** points, int* count);
/* Minimum-eigenvalue corners; variant 0..3 tightens the maximum test. A
 * response of 255 x 16 or more scores 255. */
ZYL_API int corner_pipeline_run(const MatchContext* ctx, const uint8_t* pixels, int height,
                                int width, KeyPoint** points, int* count, int variant);
ZYL_API int corner_pipeline_v0(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, KeyPoint** points, int* count);
ZYL_API int corner_pipeline_v1(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, KeyPoint** points, int* count);
ZYL_API int corner_pipeline_v2(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, KeyPoint** points, int* count);
ZYL_API int corner_pipeline_v3(const MatchContext* ctx, const uint8_t* pixels, int height,
                               int width, KeyPoint** points, int* count);

/* Block pipeline: enhanced, binarised into ridge and valley maps, thinned;
 * samples along the lines at key 0x6dd096c5 spacing become points (ridges
 * class 2, valleys class 1, score the pixel quality). */
ZYL_API int detect_block_corners(const MatchContext* ctx, const uint8_t* pixels, int height,
                                 int width, KeyPoint** points, int* count);
/* Samples line pixels (0) of a thinned map in row order: 254 for a sample,
 * 127 for a line pixel within `border` of an edge or closer than `radius`
 * to an earlier sample. Answers the number of samples. */
ZYL_API int block_candidates_thin(uint8_t* map, int height, int width, int border, int radius);
/* Moves every sample (254) to the strongest corner response in the square
 * of `radius` around it inside the border, where that beats its own. */
ZYL_API void block_candidates_by_corner(uint8_t* map, const uint8_t* corner, int height, int width,
                                        int radius, int border, int no_background);

ZYL_EXTERN_C_END
