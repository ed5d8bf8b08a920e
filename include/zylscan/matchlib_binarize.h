/* Matcher library binarisers: signed 8-bit grey maps (ridge images centred
 * on zero) into complementary 0/1 byte images or bit-packed planes. The
 * first byte output is 0 where a pixel is dark (below its threshold) and
 * the second is 1 there, the reverse elsewhere; pixels no threshold covers
 * hold 1 in both. Results: 0, 2 bad argument, 9 out of memory. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Threshold per block of block x block pixels at the percentile of its
 * histogram (only the low byte of the percentile counts), the threshold
 * map smoothed by the binomial 3x3; blocks whose mask byte is 0 (mask may
 * be null: every block) are left at 1. The second image is not read. */
ZYL_API int binarize_blocks_percentile(const int8_t* grey, const void* unused, int height,
                                       int width, const uint8_t* block_mask, int block,
                                       int percentile, uint8_t* first, uint8_t* second);

/* The same into a doubled-resolution pair of bit planes: 2 x height rows of
 * (2 x width + 7) / 8 bytes, least significant bit first, even rows and
 * bits on the pixels, odd ones half way to the next. A set bit means dark
 * when polarity is set, light when clear; pixels whose mask byte is 0 set
 * every bit. The block mask is required. */
ZYL_API int binarize_blocks_percentile_bits(const int8_t* grey, const uint8_t* pixel_mask,
                                            int height, int width, const uint8_t* block_mask,
                                            int block, int percentile, uint8_t* planes,
                                            int polarity);

/* Threshold per block: the mean of its pixels whose quality byte exceeds
 * 15 (blocks without any take the mean of their neighbours), box-smoothed
 * and interpolated bilinearly to every pixel; only pixels of quality above
 * 15 are decided. 2 (outputs all 1) for fewer than 2 x 2 blocks. */
ZYL_API int binarize_blocks_mean_interp(const int8_t* grey, const uint8_t* quality, int height,
                                        int width, int block, uint8_t* first, uint8_t* second);

/* One threshold: the mean of the pixels whose quality byte exceeds 15. */
ZYL_API int binarize_global_mean(const int8_t* grey, const uint8_t* quality, int height,
                                 int width, uint8_t* first, uint8_t* second);

/* Each pixel against the mean of the line of its direction (256 steps a
 * turn) and length from the per-pixel maps; blocks whose mask byte is 0
 * are set to 1 in both outputs afterwards. */
ZYL_API int binarize_directional_mean(const int8_t* grey, int height, int width,
                                      const uint8_t* directions, const uint8_t* lengths,
                                      const uint8_t* block_mask, int grid_rows, int grid_columns,
                                      int block, uint8_t* first, uint8_t* second);

/* Two-scale centre-surround test of a 16-bit image into two planes of rows
 * of (width + 7) / 8 bytes, first pixel in bit 7: every pixel sets its bit
 * in plane B when its response is 1 or more, else in plane A. */
ZYL_API int binarize_center_surround_bits_s16(const int16_t* image, int height, int width,
                                              const uint16_t* scale, uint8_t* plane_a,
                                              uint8_t* plane_b);

ZYL_EXTERN_C_END
