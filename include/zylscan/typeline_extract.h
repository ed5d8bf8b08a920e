/* The type-line extractor: from one 8-bit grey image (row after row, width
 * w, height h, at most 400 x 400) to a type-line template
 * (zylscan/typeline_template.h).
 *
 * Stages, in the order create_template runs them: box means, segmentation
 * and contrast enhancement; orientation map, directional filter and
 * binarisation; cores and deltas; type lines and pattern type; ridge
 * frequency; ridge tracing and minutiae. Image quality checks share the
 * first stages.
 *
 * Orientation map: one byte a pixel, 0..119 ridge orientation in 1.5-degree
 * steps, 127 no dominant orientation, 255 background. Binary image: 0 ridge,
 * 255 valley. Directions 0..239 as in zylscan/typeline_math.h.
 *
 * Every function checks its pointers and sizes: a null pointer or a size
 * outside 1..400 leaves the outputs untouched (int results: -1 unless
 * stated). */
#pragma once

#include <stdint.h>

#include "zylscan/typeline_template.h"
#include "zylscan/zyl_export.h"

#define TYPELINE_MAX_IMAGE_SIDE 400
#define TYPELINE_MAX_CANDIDATES 300
#define TYPELINE_SECTION_POINTS 65
#define TYPELINE_TYPE_LINE_POINTS 100

/* Cores and deltas of one image: 17 int16. Cores first (at most 2, kind 1,
 * direction 0..239), then deltas (at most 2, kind 0, direction 255). */
typedef struct CoreList {
  int16_t count; /* 0..4 */
  int16_t x[4];
  int16_t y[4];
  int16_t direction[4];
  int16_t kind[4];
} CoreList;

/* A walk's end point: a ridge ending (type 0) or a bifurcation (type 1).
 * direction is 0..239; a negative direction marks the entry for removal. */
typedef struct MinutiaCandidate {
  int16_t x;
  int16_t y;
  int16_t direction;
  uint8_t quality; /* 0..63 */
  uint8_t type;
} MinutiaCandidate;

/* count never exceeds 299: an entry appended at 299 goes to the last slot
 * and is not counted. */
typedef struct MinutiaCandidateList {
  int16_t count;
  MinutiaCandidate entries[TYPELINE_MAX_CANDIDATES];
} MinutiaCandidateList;

/* A pixel position; (1000, 1000) stands for no point. */
typedef struct TypelinePoint {
  int16_t x;
  int16_t y;
} TypelinePoint;

#define TYPELINE_NO_POINT 1000

/* The points of a digital straight line and, for cross-ridge profiles, the
 * smoothed grey value of each. */
typedef struct TypelineSection {
  int16_t count;
  int16_t x[TYPELINE_SECTION_POINTS];
  int16_t y[TYPELINE_SECTION_POINTS];
  int16_t value[TYPELINE_SECTION_POINTS];
} TypelineSection;

/* The traced type lines: lines 2k and 2k + 1 leave core k. */
typedef struct TypeLineSet {
  uint8_t count[4]; /* at most 96 */
  int16_t x[4][TYPELINE_TYPE_LINE_POINTS];
  int16_t y[4][TYPELINE_TYPE_LINE_POINTS];
} TypeLineSet;

typedef struct ImageQualityInfo {
  int32_t width;
  int32_t height;
  int32_t quality;    /* 0..100 */
  int32_t greyLevels; /* grey values 1..255 seen more than 5 times */
  uint8_t mean;       /* mean grey value */
  uint8_t darkShare;  /* percentage of pixels below 80 */
} ImageQualityInfo;

ZYL_EXTERN_C_BEGIN

/* ---- Driver ---- */

/* Height argument of the last create_template call (a plain store). */
ZYL_API extern int dyn_image_height;

/* Extracts a template of at most 750 bytes into out (750 bytes, zeroed
 * first). The image is overwritten by the work images. Answers n + 100 * L
 * (L template bytes, n minutiae), -1 for a null pointer, -41 for a side
 * outside 0..400, -21 when work memory runs out, -31 when the image yields
 * at most 2 minutiae and no singular point. */
ZYL_API int create_template(uint8_t* image, int width, int height, uint8_t* out);
ZYL_API int create_template_devided(uint8_t* image, int width, int height, uint8_t* out);
/* The pipeline behind create_template; refuses what create_template
 * refuses (-1, -41) instead of running on it. */
ZYL_API int ext_main(uint8_t* image, int width, int height, uint8_t* out);
ZYL_API int GetAlgorithmLibraryVersin(void);
/* Crops a W x H image in place to its centred w x h part and zeroes the
 * bytes behind it; -1 (nothing changed) when w > W, h > H or buffer is
 * null. */
ZYL_API int ResizeImage(uint8_t* buffer, unsigned W, unsigned H, unsigned w, unsigned h);

/* ---- Smoothing, segmentation, contrast ---- */

ZYL_API void get_smoothed_image(uint8_t* image, int w, int h);  /* 3 x 3 mean */
ZYL_API void get_smoothed_image4(uint8_t* image, int w, int h); /* 9 x 9 mean */
/* Moving mean of radius r over n <= 100 values, in place. */
ZYL_API void histogram_smooth(int32_t* values, int n, int r);
/* Writes 255 into the background part of mask (w <= 400, h <= 400). */
ZYL_API void get_segmentation(const uint8_t* image, uint8_t* mask, int w, int h);
/* Stretches source against the local mean held in target and the mean
 * deviation within radius R; the result replaces target (background pixels
 * of mask keep the mean). */
ZYL_API void get_sharpend_image(uint8_t* target, const uint8_t* source, const uint8_t* mask, int w, int h, int R);

/* ---- Orientation, directional filter, binarisation ---- */

/* Directional filter: centre weight, tap-pair count, tap offsets (row,
 * column) and weights per orientation (index o * 18 + k); Q14. */
ZYL_API extern const int16_t _table1[120];
ZYL_API extern const int16_t _table2[120];
ZYL_API extern const int16_t _table3[120 * 18];
ZYL_API extern const int16_t _table4[120 * 18];
ZYL_API extern const int16_t _table5[120 * 18];

/* Orientation of a grey image into map (background kept) and reliability
 * 0..240 into the (h / 2) x (w / 2) grid. */
ZYL_API void get_orient_image(uint8_t* map, const uint8_t* image, int w, int h, uint8_t* reliability);
ZYL_API void re_get_orient_image(uint8_t* map, const uint8_t* binary, int w, int h);
/* Filters image along the map's orientation; image and copy both hold the
 * result. */
ZYL_API void image_proc_01(uint8_t* image, const uint8_t* map, uint8_t* copy, int w, int h);
ZYL_API void get_binary_image2(const uint8_t* map, uint8_t* out, const uint8_t* image, int w, int h, int r1, int r2);
ZYL_API void image_proc_04(uint8_t* binary, int w, int h);
ZYL_API void remove_hole(const uint8_t* map, uint8_t* binary, int w, int h);
/* grid[0] = columns, grid[1] = rows, then the map value at the centre of
 * every 16 x 16 block (255 for a centre outside the image); at most 625
 * cells. */
ZYL_API void get_block_data(const uint8_t* map, int w, int h, uint8_t* grid, int columns, int rows);

/* ---- Cores and deltas ---- */

ZYL_API void get_core_points(CoreList* cores, const uint8_t* map, int w, int h);
/* Appends to blocks/kinds (64 entries each) from index *count on. */
ZYL_API void get_singular_block(const uint8_t* map, int w, int h, int* count, int16_t* blocks, uint8_t* kinds);
/* Merges a candidate into the list of at most 10 (xs, ys, scores). */
ZYL_API void check_core_cand(int x, int y, int score, int16_t* xs, int16_t* ys, int16_t* scores, int* count);
ZYL_API int get_deviation(int x, int y, int r, const uint8_t* map, int w, int h);
ZYL_API int check_outof_point(int x, int y, int r, const uint8_t* map, int w, int h);
ZYL_API int get_orient_core(int x, int y, const uint8_t* map, int w, int h);
/* profile: 240 smoothed samples. */
ZYL_API int correct_orient_core(int direction, const int32_t* profile, int max, int min, int peaks, int valley);
ZYL_API void copy_core(const CoreList* cores, TypelineRecord* record);

/* ---- Type lines ---- */

/* Traces the type lines, stores their end points in the record, rewrites
 * the core directions and answers the pattern type (0..10). work holds at
 * least w x h bytes. */
ZYL_API int get_type_line(TypelineRecord* record, CoreList* cores, const uint8_t* map, uint8_t* work, int w, int h);
ZYL_API int check_whorl(const CoreList* cores, const TypeLineSet* lines);
ZYL_API int get_distance_to_line(const TypeLineSet* lines, int x, int y, int line);
ZYL_API int check_near_line(const TypeLineSet* lines, int line, int limit);
ZYL_API int check_line_lr(int x0, int y0, int x1, int y1, const int16_t* xs, const int16_t* ys, int n);
ZYL_API int check_arch(const TypeLineSet* lines, const TypelinePoint* core, const TypelinePoint* delta);

/* ---- Ridge frequency ---- */

ZYL_API int get_frequency(const uint8_t* binary, const uint8_t* map, const CoreList* cores, int w, int h);
ZYL_API int get_frequency_sub(int x, int y, const uint8_t* binary, const uint8_t* map, int w, int h);

/* ---- Image quality ---- */

ZYL_API int ImageQualityGridsCheck(const uint8_t* image, int w, int h);
ZYL_API int GetBinaryImage(uint8_t* image, int w, int h, ImageQualityInfo* info);
ZYL_API int ImageQualityCheck(const uint8_t* binary, int w, int h, ImageQualityInfo* info);
ZYL_API void ImageHistogram(const uint8_t* image, int n, uint32_t* histogram, int* levelCount);
ZYL_API int get_center_graylevel(const uint8_t* image, int w, int h);

/* ---- Ridge tracing ---- */

/* floor(9 cos) and floor(9 sin) of i * 3.14159 / 120 (cosine 0 at 60 and
 * 180): the ends of the long cross-ridge profile. */
ZYL_API extern const int16_t _9cos_table[240];
ZYL_API extern const int16_t _9sin_table[240];

ZYL_API int get_point_section(int x1, int y1, int x2, int y2, TypelineSection* section);
ZYL_API void filter_section(TypelinePoint p, int direction, int longProfile, TypelineSection* section,
                            const uint8_t* grey, int w, int h);
ZYL_API int get_max_index(TypelinePoint p, const TypelineSection* section, int margin);
ZYL_API TypelinePoint get_local_maximum(TypelinePoint p, int direction, int checkLabels, const uint8_t* grey,
                                        const uint16_t* labels, int w, int h);
ZYL_API void labelling(TypelinePoint a, TypelinePoint b, uint16_t* labels, int w, int h, int label);
/* 0 go on, 1 ridge lost (q is no point), 3 met a traced ridge (its label
 * stored in *metLabel), -2 loop (q is one of the count <= 8 recent points).
 * A q outside the w x h image counts as lost. */
ZYL_API int check_stop_criteria(TypelinePoint q, const uint16_t* labels, int w, int h, int* metLabel,
                                const TypelinePoint* recent, int count);
ZYL_API int get_point_orient1(TypelinePoint end, TypelinePoint reference, int direction, int label,
                              const uint8_t* orientation, const uint16_t* labels, int w, int h);
ZYL_API int follow_ridge_point(TypelinePoint start, int direction, int forward, const uint8_t* grey, uint16_t* labels,
                               const uint8_t* orientation, int w, int h, TypelinePoint* end, int* endDirection,
                               TypelinePoint* firstPoints, int* firstCount, int* shortWalk, int label,
                               int* metLabel);
ZYL_API int trace_ridge(TypelinePoint start, int direction, int forward, const uint8_t* grey, uint16_t* labels,
                        const uint8_t* orientation, int w, int h, MinutiaCandidate* entry, TypelinePoint* firstPoints,
                        int* firstCount, int* shortWalk, int label, int* metLabel);
ZYL_API int start_trace(TypelinePoint start, const uint8_t* grey, uint16_t* labels, const uint8_t* orientation, int w,
                        int h, MinutiaCandidateList* list, int* labelCounter);

/* ---- Minutia points ---- */

ZYL_API void get_mp_points(const uint8_t* grey, uint16_t* labels, const uint8_t* orientation, int w, int h,
                           MinutiaCandidateList* list);
ZYL_API int check_false_mp(int x1, int y1, int d1, int x2, int y2, int d2);
ZYL_API void filter_mp_points(MinutiaCandidateList* list, const CoreList* cores, const uint8_t* orientation, int w,
                              int h);
ZYL_API int get_density(const CoreList* cores, const uint8_t* orientation, int radius, const uint16_t* labels, int w,
                        int h);
ZYL_API void get_point_value(MinutiaCandidateList* list, const uint8_t* reliability, int w, int h);
ZYL_API void filter_mp_points2(MinutiaCandidateList* list);
ZYL_API int get_point_curve(int x, int y, const uint8_t* orientation, int w, int h);
ZYL_API void arrange_mp(MinutiaCandidateList* list, TypelineMinutiaList* minutiae, const uint8_t* orientation, int w,
                        int h);

ZYL_EXTERN_C_END
