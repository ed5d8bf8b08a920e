/* Matcher library foreground segmentation by blocks and region tools on
 * byte maps (rows after rows, a non-zero byte is set): mask centroid,
 * largest component, hole filling, masked fills, inpainting, step
 * distance and the blend towards a grey value by that distance. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* 0/1 foreground map of rows x cols blocks of side n; the image must be
 * exactly (rows*n) x (cols*n). half = 1 works at half resolution; a
 * non-zero normalise contrast-normalises the working image first.
 * 0, 1 (map of 256 or more rows or columns), 2 (wrong size), 9. */
ZYL_API int imgproc_segment_blocks(const uint8_t* pixels, int height, int width, int rows,
                                   int cols, int n, uint8_t* out, int half, int normalise);
ZYL_API int imgproc_segment_blocks_half(const uint8_t* pixels, int height, int width, int rows,
                                        int cols, int n, uint8_t* out);

/* Centroid of the set cells scaled by the cell size plus half a cell;
 * half the defaults when no cell is set. */
ZYL_API int img_mask_centroid(const uint8_t* map, int rows, int cols, int cell,
                              int default_height, int default_width, int* row_out,
                              int* col_out);
/* Keeps the largest 4-connected set component (the first in row order on a
 * tie) as 1, everything else 0. 0, 1 for a map of 256 or more rows or
 * columns that has a set cell, 9. */
ZYL_API int mask_keep_largest_component(uint8_t* map, int rows, int cols);
/* Sets to the fill value every 8-connected zero region that touches at
 * most one edge of the map. 0 or 9. */
ZYL_API int img_fill_holes(uint8_t* map, int rows, int cols, uint8_t fill);
/* Writes the value where the mask is 0: per pixel when n < 2, else per
 * n x n block of a rows x cols block mask. */
ZYL_API int img_fill_masked_blocks(const uint8_t* src, int height, int width,
                                   const uint8_t* mask, int rows, int cols, int n,
                                   uint8_t value, uint8_t* dst);
/* Fills pixels whose mask is 0 from known 5 x 5 neighbours, pass after
 * pass. 0 or 9. */
ZYL_API int img_inpaint_masked_5x5(const uint8_t* src, int height, int width,
                                   const uint8_t* mask, uint8_t* dst);
/* Moves pixels within radius steps of a zero mask cell towards the grey
 * value. 0, 2 (radius not positive or out is image), 9, or the status of
 * the distance map. */
ZYL_API int img_blend_by_mask_distance(const uint8_t* image, int rows, int cols,
                                       const uint8_t* mask, int radius, uint8_t grey,
                                       uint8_t* out);
/* The same checks, writing only the step-distance map. */
ZYL_API int mask_distance_map(const uint8_t* image, int rows, int cols, const uint8_t* mask,
                              int radius, uint8_t* out);

ZYL_EXTERN_C_END
