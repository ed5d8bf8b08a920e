/* Matcher library small filter kernels on raw 8-bit buffers that the image
 * statistics and segmentation build on: the 3x3 mean, Sobel gradients, the
 * clipped-window variance read from integral tables, 0/1 map clean-ups and
 * the global contrast normalisation. Images are height rows of width pixels
 * without gaps; every routine answers a matcher status. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* 3x3 mean, truncated; corners over 4 pixels, edges over 6; in place
 * allowed; 0 or 9. (The same declaration as in matchlib_smoothing.h, where
 * the whole 3x3 family lives.) */
ZYL_API int filter_box3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);

/* Sobel differences divided by 8 (toward zero) of the inner pixels; the
 * frame of both maps is 0. */
ZYL_API int filter_sobel_s8(const uint8_t* src, int height, int width, int8_t* gx, int8_t* gy);

/* For every pixel of rows first_row..end_row-1 and columns
 * first_col..end_col-1: the variance over the (2r+1)^2 window clipped to
 * the image, ((q*16 - s*((s*16)/n))/n)/16, from the (height+1) x (width+1)
 * integral tables of sums and of squares. */
ZYL_API void filter_local_variance_integral_u16(const uint32_t* sums, const uint32_t* squares,
                                                int first_col, int end_col, int first_row,
                                                int end_row, int height, int width,
                                                int radius, uint16_t* out);
/* The same with integral row k kept in slot k mod 16 of 16-row rings;
 * radius at most 7. */
ZYL_API void filter_local_variance_integral_ring_s16(const int32_t* sums, const int32_t* squares,
                                                     int first_col, int end_col, int first_row,
                                                     int end_row, int height, int width,
                                                     int radius, int16_t* out);

/* 0/1 maps; the destination may be the source. */
ZYL_API int bilevel_remove_isolated(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int bilevel_majority3x3(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int bilevel_erode3x3(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int bilevel_dilate3x3(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int bilevel_open3x3(const uint8_t* src, int height, int width, uint8_t* dst);

/* Global contrast normalisation from the image histogram: the output mean
 * lies halfway between the old mean and the target mean, the spread scaled
 * to the target deviation; in place allowed; answers 0. */
ZYL_API int imgproc_normalize_global(const uint8_t* src, int height, int width,
                                     int target_mean, int target_deviation, uint8_t* dst);

ZYL_EXTERN_C_END
