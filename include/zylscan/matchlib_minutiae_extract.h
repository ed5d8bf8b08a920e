/* Matcher library minutiae extraction: background levelling, thinning of
 * bit-packed planes, skeleton walking and branch-point minutiae, their
 * validation and ordering, the grey-image pipelines that fill a
 * MinutiaeRecord, the extraction drivers and operations, and the 508-dpi
 * card stage.
 *
 * Skeletons are height rows of width bytes, 0 = line pixel, non-zero =
 * background. Bit planes hold rows of (width + 7) / 8 bytes, bit p of a row
 * in bit p mod 8 of byte p / 8, a set bit = background. Results are matcher
 * library status codes (0, 1 refused mode or type, 2 bad argument, 9 out of
 * memory, 17 corrupt or too few, 18 outside the configured limits). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_minutiae.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* MinutiaeOptions: the option word of an extraction run. */
enum {
  MINX_CORES = 0x0002,
  MINX_DELTAS = 0x0004,
  MINX_ZONAL = 0x0008,
  MINX_ORIENTATION = 0x0010,
  MINX_FREQUENCY = 0x0020,
  MINX_CARD_QUALITY = 0x0040,
  MINX_FINE_MAPS = 0x0080,
  MINX_WITH_IMAGE = 0x0200,
  MINX_NEW_VERSIONS = 0x0400,
  MINX_FULL = 0x0800,
  MINX_HALF = 0x1000,
  MINX_RIDGE_TRACE = 0x4000,
  MINX_DOUBLE_OUTPUT = 0x8000
};

/* ---- Bright background levelling ----
 * Copies the image to `out` (which may be the input) and, when the
 * histogram of the blocks of side n darker than the brightest level shows
 * three separated modes, pushes the bright residue towards white. 2 for
 * n = 0, 9 out of memory. */
ZYL_API int bright_level_blocks(const uint8_t* input, int height, int width, uint8_t* out, int n);
ZYL_API int bright_level_blocks12(const uint8_t* input, int height, int width, uint8_t* out);
ZYL_API int bright_level_run(const uint8_t* input, int height, int width, uint8_t* out, int n);
/* Works on `out` (already a copy of the image) with the block means of
 * blocks of side n and a row buffer of 2 x width bytes. */
ZYL_API int bright_level_apply(const uint8_t* input, int height, int width, uint8_t* out, int n,
                               uint8_t* block_means, uint8_t* row_buffer);

/* ---- Thinning of bit planes ----
 * Thins the line pixels of the plane in place to lines one pixel wide; the
 * caller's frame keeps every object two bits from the edges. The chain
 * buffer holds rows x width / divisor steps. 0, 9, 17 when the chains fill
 * the buffer (the plane then holds the last sweep). */
ZYL_API int bilevel_bits_thin(uint8_t* plane, int rows, int width, int divisor);

/* ---- Skeleton walking and branch points ----
 * Step codes: 1 up, 2 down, 3 left, 4 right, 5 up-left, 6 up-right,
 * 7 down-left, 8 down-right. Positions are row * width + column. */
ZYL_API void skeleton_erase_pixel(uint8_t* skeleton, uint8_t* counts, int width, int row,
                                  int column);
/* The line neighbours of a position in the order up-left, up, up-right,
 * left, right, down-left, down, down-right; answers their number. */
ZYL_API int skeleton_branch_starts(const uint8_t* skeleton, int width, int position,
                                   int* out_positions, int* out_codes);
/* One step along a line in the preference order of the arriving code;
 * answers 1 when it moved, 0 when no neighbour continues the line. */
ZYL_API int skeleton_step(const uint8_t* skeleton, int width, int* code, int* position);
/* Appends the three-branch points of the skeleton as minutiae (type 1 for
 * kind 1, type 2 for kind 0), filling the count map. The skeleton is
 * changed where spurs and crossing branches are erased. */
ZYL_API int minutiae_detect_branches(uint8_t* skeleton, const uint8_t* orientation, int height,
                                     int width, int kind, const uint8_t* quality,
                                     MinutiaEntry* minutiae, uint8_t* count, uint8_t* counts,
                                     int scale, int map_step);
/* Merges each later-kind minutia into the first earlier-kind one that lies
 * within 8 / scale pixels and 13 direction steps; answers the new count. */
ZYL_API int minutiae_merge_close_pairs(MinutiaEntry* minutiae, int count, int scale);
ZYL_API int minutiae_keep_in_map(MinutiaEntry* minutiae, int count, const uint8_t* map,
                                 int width);

/* ---- Branch points of thinned bit planes ----
 * The neighbour-count map holds rows x ((width + 1) / 2) bytes, a 4-bit
 * count a pixel, the even column in the low nibble. Step codes as above.
 * The line neighbours of a pixel, in the order up-left, up, up-right,
 * left, right, down-left, down, down-right. */
ZYL_API void bilevel_bits_line_neighbours(const uint8_t* plane, int width, int rows, int column, int row,
                                          int* codes, int* column_steps, int* row_steps, int* count);
/* One step along a line: 1 moved, 0 stayed. */
ZYL_API int bilevel_bits_step(const uint8_t* plane, int width, int rows, int* code, int* column, int* row);
/* Makes a line pixel background and lowers its counted neighbours. */
ZYL_API void bilevel_bits_take_pixel(uint8_t* plane, uint8_t* counts, int width, int rows, int row, int column);
/* Appends the branch points of a thinned plane (type 1 for a non-zero
 * kind, else 2) with qualities from the quality map (rows / s2 rows of
 * width / s2 bytes); s1 is the arm-step increment (2). */
ZYL_API void bilevel_bits_trace_minutiae(uint8_t* plane, int rows, int width, int kind, const uint8_t* quality,
                                         MinutiaEntry* minutiae, uint8_t* count, uint8_t* counts, int s1, int s2);
/* The ending validation on a plane with its count map and the block ridge
 * periods (cells of `cell` plane pixels); answers the minutiae kept. */
ZYL_API int bilevel_bits_check_endings(MinutiaEntry* minutiae, int count, const uint8_t* plane,
                                       const uint8_t* counts, const uint8_t* block_frequency, int rows,
                                       int width, int scale, int cell);

/* ---- Validation, flow check and ordering ---- */
ZYL_API int minutiae_validate_endings(MinutiaEntry* minutiae, int count, const uint8_t* skeleton,
                                      const uint8_t* counts, const uint8_t* frequency,
                                      int height, int width, int scale, int map_step);
ZYL_API int minutiae_check_flow(MinutiaEntry* minutiae, int count, const uint8_t* orientation,
                                int height, int width, int divisor, int map_step);
/* Stable order by code 1-5 (x-y, y-x, direction, distance from the
 * centroid, quality), ascending, or 17-21 descending; other codes keep the
 * order. */
ZYL_API void minutiae_sort(MinutiaeRecord* record, int order, int centroid_row,
                           int centroid_column);

typedef struct FacingPair {
  uint16_t x;
  uint16_t y;
  uint8_t direction;
} FacingPair;
ZYL_API int minutiae_find_facing_pairs(const MinutiaEntry* minutiae, int count, FacingPair* out,
                                       int limit, int* out_count);

ZYL_EXTERN_C_END

ZYL_EXTERN_C_BEGIN

/* ---- Grey-image pipelines ---- */

/* The work record of one pipeline run, handed to the callbacks. */
typedef struct MinutiaeWorkInfo {
  uint8_t* image; /* the normalised working image; null once released */
  int32_t height; /* working frame, a multiple of the block size */
  int32_t width;
  int32_t resolution; /* pixels per centimetre */
  int32_t block;
  int32_t centroid_row; /* foreground centroid in the working frame */
  int32_t centroid_column;
  uint16_t input_height;
  uint16_t input_width;
  uint8_t finger_quality;
  int32_t area;
} MinutiaeWorkInfo;

/* Runs on the thinned ridges (0 = skeleton pixel) of the working frame; a
 * non-zero answer ends the pipeline with it. The image may be null. */
typedef int (*RidgeTraceCallback)(MinutiaeWorkInfo* work, uint8_t* thinned, const uint8_t* block_map,
                                  int block, int kind, const uint8_t* quality, MinutiaeRecord* record,
                                  int extra);

/* Fills the record from a grey image (mask bytes of 128 or more usable, or
 * null) by the record's options: exactly one of MINX_FULL (blocks of 12)
 * and MINX_HALF (blocks of 6, positions and sizes doubled at the end), else
 * 1. Positions come back in the input's coordinates, inside the image. */
ZYL_API int minutiae_pipeline_grey(const uint8_t* pixels, const uint8_t* mask, int height, int width,
                                   MinutiaeRecord* record, RidgeTraceCallback ridge_trace,
                                   RidgeTraceCallback second);
/* The maps, quality, centroid and area of a half-resolution image without
 * minutiae; 1 under MINX_FULL. */
ZYL_API int minutiae_pipeline_maps(const uint8_t* pixels, const uint8_t* mask, int height, int width,
                                   MinutiaeRecord* record);
/* The same record from bit planes of twice the frame's resolution: needs
 * MINX_HALF and MINX_DOUBLE_OUTPUT (17 otherwise; 1 without exactly one
 * sampling mode); positions at twice the input's resolution. The callback
 * and user pointer are not used. */
ZYL_API int minutiae_pipeline_bilevel(const uint8_t* pixels, const uint8_t* mask, int height, int width,
                                      MinutiaeRecord* record, RidgeTraceCallback callback, void* user);
/* Samples a map of map_height x map_width (placed at (y_origin, x_origin)
 * of an image of image_height x image_width) into a zonal map of
 * image_height / cell_height + 1 rows and image_width / cell_width + 1
 * columns: each cell takes the map value at its centre, 0 outside. */
ZYL_API int cellmap_sample(const uint8_t* map, int image_height, int image_width, int map_height,
                           int map_width, int y_origin, int x_origin, int cell_height, int cell_width,
                           ZonalQuality* out);

ZYL_EXTERN_C_END
