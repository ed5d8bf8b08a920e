/* Matcher library grey-level normalisation to a target mean and deviation:
 * over masked blocks, per pixel over sliding windows, with one given gain,
 * and per block from prepared maps. All share one gain rule (about 32 x
 * sqrt(D / V), 32 = 1.0, 0 for V = 0) and one mapping of a pixel about its
 * local mean onto the target. Outputs may be the input. Results: 0, 2 bad
 * argument, 9 out of memory. (The whole-image form is declared in
 * zylscan/matchlib_filter_kernels.h.) */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Mean and variance from the blocks whose mask byte is set (every pixel
 * becomes target mean / 2 when there is none); the output mean lies half
 * way between the old mean and the target. */
ZYL_API int imgproc_normalize_global_masked(const uint8_t* pixels, int height, int width,
                                            const uint8_t* block_mask, int block,
                                            int block_rows, int block_columns, int target_mean,
                                            int target_deviation, uint8_t* out);
/* Per-pixel mean and variance over (2r+1)^2 windows clipped to the image;
 * pixels whose mask byte is 0 (mask may be null) take variance 65025. */
ZYL_API int imgproc_normalize_local(const uint8_t* pixels, int height, int width,
                                    const uint8_t* mask, int radius, int target_mean,
                                    int target_deviation, uint8_t* out);
/* The same statistics from running sums; a pixel whose window is flat
 * becomes the target mean. 2 when the radius is above 7. */
ZYL_API int imgproc_normalize_local_ring(const uint8_t* pixels, int height, int width,
                                         int radius, int target_mean, int target_deviation,
                                         uint8_t* out);
/* One gain from the variance and the squared deviation (its low 24 bits)
 * for the whole image, about the centre onto the target. */
ZYL_API int imgproc_apply_gain(const uint8_t* pixels, int height, int width, int centre,
                               int target, uint32_t variance, uint32_t squared_deviation,
                               uint8_t* out);
/* Per-block mapping of bh x block rows and bw x block columns: pixels of
 * blocks whose mask byte is set (mask may be null) map about their local
 * mean with the block's gain, pixels of other blocks become 255. */
ZYL_API int imgproc_normalize_blocks_apply(const uint8_t* pixels, int width,
                                           const uint8_t* block_mask, int block, int block_rows,
                                           int block_columns, int target_mean,
                                           int target_deviation, const uint8_t* local_mean,
                                           const uint16_t* block_variance, uint8_t* out);
/* Block form: block means (filled in from the mask's blocks across the
 * mask's edge), enlarged bilinearly into a local mean image; block
 * variances likewise, box-smoothed and at least 100; then the per-block
 * mapping. Grids below 2 x 2 blocks answer 2. */
ZYL_API int imgproc_normalize_blocks(const uint8_t* pixels, int height, int width,
                                     const uint8_t* block_mask, int block, int block_rows,
                                     int block_columns, int target_mean, int target_deviation,
                                     uint8_t* out);
/* The block form with the mask's background and edge blocks given the
 * statistics of their foreground neighbours first (the mask is changed:
 * edge blocks gain bit 0x02), both maps binomial-smoothed. */
ZYL_API int imgproc_normalize_blocks_filled(const uint8_t* pixels, int height, int width,
                                            uint8_t* block_mask, int block, int block_rows,
                                            int block_columns, int target_mean,
                                            int target_deviation, uint8_t* out);
/* The block form centred on each block's mid-range in the image median-
 * filtered twice, with the variances taken from that filtered image. */
ZYL_API int imgproc_normalize_blocks_midrange(const uint8_t* pixels, int height, int width,
                                              const uint8_t* block_mask, int block,
                                              int block_rows, int block_columns,
                                              int target_mean, int target_deviation,
                                              uint8_t* out);
/* level + x - local mean, clamped; the local mean from 8 x 8 block means
 * box-smoothed twice and enlarged bilinearly. */
ZYL_API int imgproc_flatten_background(const uint8_t* pixels, int height, int width, int level,
                                       uint8_t* out);
/* Whole-image form with mean 127 and deviation 80, 255 coming out 254. */
ZYL_API int imgproc_normalize_global_127_80(const uint8_t* pixels, int height, int width,
                                            uint8_t* out);
/* Mean and spread of the 8 x 8 blocks with variance above 256; the target
 * deviation rises from low to high as that spread goes from 500 to 2500. */
ZYL_API int imgproc_normalize_adaptive8(const uint8_t* pixels, int height, int width,
                                        int target_mean, int low_deviation,
                                        int high_deviation, uint8_t* out);

ZYL_EXTERN_C_END
