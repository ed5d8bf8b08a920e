/* Matcher library single-number image statistics of 8-bit images of height
 * rows by width pixels: the share of bright pixels, the spread of the
 * Laplacian, the robust mean grey range of 16 x 16 blocks and the test for
 * ridges. Results: 0, 2 bad argument, 9 out of memory. Outputs are cleared
 * before any work, so a failure leaves them at 0. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Percentage of pixels at 128 or above after a 3x3 median and a stretch
 * between the 5 % percentiles; with a mask only the pixels whose mask byte
 * is non-zero count. 0 when nothing is counted. */
ZYL_API int imgstat_bright_percent(const uint8_t* pixels, int height, int width,
                                   const uint8_t* mask, uint8_t* percent);
/* The same over the pixels of the interior blocks of a rows x cols grid of
 * blocks of the given side that are foreground in the block mask (or every
 * interior block without one) together with their four edge neighbours.
 * Fewer than 3 block rows or columns leave 0; the grid must lie inside the
 * image. */
ZYL_API int imgstat_bright_percent_blocks(const uint8_t* pixels, int height, int width,
                                          int block_rows, int block_columns, int block,
                                          const uint8_t* block_mask, uint8_t* percent);
/* Contrast of the 16 x 16 blocks of the band-passed image F against the
 * spread of the flattened image (pixel + mean(F) - F): mean range over
 * mean spread, 0..255 (255 when the spread vanishes, 0 when no block's
 * range exceeds half the mean range). Optional outputs: the mean range of
 * those blocks, the mean spread, and per-pixel maps of the block ratio,
 * range and spread (height x width bytes each). 21 for an image under 16
 * rows or columns. */
ZYL_API int imgstat_block_contrast(const uint8_t* pixels, int height, int width, int resolution,
                                   uint8_t* contrast, uint8_t* mean_range, uint8_t* mean_spread,
                                   uint8_t* ratio_map, uint8_t* range_map, uint8_t* spread_map);
/* Standard deviation of the signed Laplacian in quarter grey levels, at
 * most 255. */
ZYL_API int imgstat_laplacian_spread(const uint8_t* pixels, int height, int width,
                                     uint8_t* spread);
/* Mean of the 1 % percentile ranges of the 16 x 16 blocks that exceed half
 * of the mean range; 0 for images under 16 rows or columns. */
ZYL_API int imgstat_block_range_mean(const uint8_t* pixels, int height, int width,
                                     uint8_t* range);
/* Ridge presence: 1 when the mean block variance of the smoothed central
 * window (at most 256/s x 192/s, blocks of 16/s) exceeds 20. Scale s is 1
 * or 2; a window under one block gives 2. */
ZYL_API int imgstat_has_ridges_scaled(const uint8_t* pixels, int height, int width, int scale,
                                      int* flag);
ZYL_API int imgstat_has_ridges(const uint8_t* pixels, int height, int width, int* flag);
/* Clears the flag and answers 2 for a zero side, else the scaled test. */
ZYL_API int imgstat_has_ridges_nonempty(const uint8_t* pixels, int height, int width, int scale,
                                        int* flag);

/* Preview of the image normalised to mean 150 and deviation 300 over its
 * foreground 12 x 12 blocks and resized to out_height x out_width; all 255
 * when the image shows no ridges. A crop to multiples of 12 under 16 rows
 * or columns gives 2; a failure leaves the output untouched. */
ZYL_API int imgproc_normalize_preview(const uint8_t* pixels, int height, int width,
                                      int out_height, int out_width, uint8_t* out);

ZYL_EXTERN_C_END
