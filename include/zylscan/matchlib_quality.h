/* Matcher library classical image quality from ridge-orientation coherence:
 * each coherence byte c becomes the point (c*99 >> 8) + 1 and the quality,
 * 1..100, rises from 1 at a mean point of 30 to 100 at 90. Block maps hold
 * one byte per block, block rows x block columns, row-major; block masks
 * hold 0 for background. Results: 0, 2 bad argument, 9 out of memory, or
 * the failure of the orientation step. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Quality over the foreground blocks (all without a mask) of a coherence
 * map, computed from the image (presmoothed at scale 1, not at scale 2)
 * when none is given; the area is the foreground share of the blocks
 * applied to full_height x full_width. Both outputs stay 0 when no block
 * counts. */
ZYL_API int quality_from_block_coherence(const uint8_t* pixels, int height, int width,
                                         int block_rows, int block_columns, int block,
                                         const uint8_t* block_mask, const uint8_t* coherence,
                                         int full_height, int full_width, uint8_t* quality,
                                         uint32_t* area, int scale);
/* Per-pixel quality map: 3x3 median of the block map, bilinear enlargement
 * by the block side with a border of 0, each byte mapped to its point, and
 * background blocks set to 0. The out map must hold at least rows x block
 * by columns x block pixels. */
ZYL_API int quality_map_expand(const uint8_t* block_map, const uint8_t* block_mask,
                               int block_rows, int block_columns, int block, uint8_t* out,
                               int out_height, int out_width);

/* Quality over the pixels of the mask (all without one) from per-pixel
 * coherence over (2r+1)^2 windows of the locally normalised image (mean
 * 128, deviation 75); the count is the number of pixels used. A mask
 * without a set pixel gives quality 1 and count 0. With a coherence map
 * the unmasked per-pixel coherence goes there too. */
ZYL_API int quality_from_pixel_coherence(const uint8_t* pixels, int height, int width,
                                         const uint8_t* mask, int radius, uint8_t* quality,
                                         uint32_t* count, uint8_t* coherence_map);
/* Whole-image quality at scale 1 or 2 (blocks of 12/s): the centred crop to
 * whole blocks is stretched, tested for ridges, segmented, measured for its
 * bright share and block-normalised before the coherence quality; the area
 * is at most height x width. An image under one block, or one without
 * ridges, gives 0 with every output 0. */
ZYL_API int quality_assess_image_scaled(const uint8_t* pixels, int height, int width,
                                        uint8_t* quality, uint32_t* area, uint8_t* bright,
                                        int scale);
ZYL_API int quality_assess_image(const uint8_t* pixels, int height, int width, uint8_t* quality,
                                 uint32_t* area, uint8_t* bright);

ZYL_EXTERN_C_END
