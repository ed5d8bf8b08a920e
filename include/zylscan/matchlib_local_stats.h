/* Matcher library local statistics on raw pixel buffers: per-block mean,
 * variance, minimum and maximum over a grid of square blocks, and per-pixel
 * window statistics (box sum and mean, local minimum and maximum, local
 * variance) with windows clipped at the image border. Images are height
 * rows of width pixels without gaps; results are matcher status codes. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Block grid: rows x cols blocks of side n, block (i, j) at row i*n and
 * column j*n of a source whose rows start row_length pixels apart. The
 * height is not read. Outputs hold rows x cols values. */
ZYL_API int img_block_mean_u8(const uint8_t* pixels, int height, int row_length, int n,
                              int rows, int cols, uint8_t* out);
ZYL_API int img_block_mean_s8(const int8_t* pixels, int height, int row_length, int n, int rows,
                              int cols, int8_t* out);
ZYL_API int img_block_mean_u16(const uint16_t* pixels, int height, int row_length, int n,
                               int rows, int cols, uint16_t* out);
ZYL_API int img_block_mean_s16(const int16_t* pixels, int height, int row_length, int n,
                               int rows, int cols, int16_t* out);
/* Variance of each block around its entry of means, sampled on the even row
 * and column offsets of the block. */
ZYL_API int img_block_variance_u8(const uint8_t* pixels, int height, int row_length,
                                  const uint8_t* means, int n, int rows, int cols,
                                  uint16_t* out);
/* Either map may be null, not both; 2 when the grid exceeds the image. */
ZYL_API int img_block_minmax_u8(const uint8_t* pixels, int height, int row_length, int n,
                                int rows, int cols, uint8_t* min_map, uint8_t* max_map);
ZYL_API int img_block_minmax_s8(const int8_t* pixels, int height, int row_length, int n,
                                int rows, int cols, int8_t* min_map, int8_t* max_map);

/* Window statistics over the (2r+1) x (2r+1) window clipped to the image. */
ZYL_API int filter_local_variance_u8(const uint8_t* pixels, int height, int width, int radius,
                                     uint16_t* out);
/* The same with integral rows kept in 16-row rings; radius at most 7. */
ZYL_API int filter_local_variance_ring_u8(const uint8_t* pixels, int height, int width,
                                          int radius, int16_t* out);
ZYL_API int filter_box_sum_u8(const uint8_t* pixels, int height, int width, int radius,
                              int32_t* out);
/* Box mean rounded half up over the clipped window. */
ZYL_API int filter_box_mean_u8(const uint8_t* pixels, int height, int width, int radius,
                               uint8_t* out);
ZYL_API int filter_local_minmax_u8(const uint8_t* pixels, int height, int width, int radius,
                                   uint8_t* min_map, uint8_t* max_map);
/* Noise-adaptive smoothing: flat areas (local variance at or below the
 * noise level; a negative level means the mean local variance) take the
 * value smoothed radius times by the 3x3 mean, detailed areas keep more of
 * the input. */
ZYL_API int filter_adaptive_smooth_u8(const uint8_t* pixels, int height, int width, int noise,
                                      int radius, uint8_t* out);

ZYL_EXTERN_C_END
