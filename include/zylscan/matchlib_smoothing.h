/* Matcher library 3x3 smoothing kernels on raw pixel buffers: the box mean
 * and the binomial (1-2-1 by 1-2-1) mean in every element type, the
 * weighted 3x3 mean, the range-limited (sigma) mean and the fill of a map
 * sampled on every second row and column. Images are height rows of width
 * elements without gaps. Windows are clipped to the image and divided by
 * the weight that remains (box 9 / 6 / 4, binomial 16 / 12 / 9 inside, on
 * an edge, at a corner); unsigned types truncate, signed ones truncate
 * toward zero. The box, binomial and weighted members may write over their
 * source. Results: 0, 2 bad argument, 9 out of memory. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

ZYL_API int filter_box3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int filter_box3x3_u16(const uint16_t* src, int height, int width, uint16_t* dst);
ZYL_API int filter_box3x3_s8(const int8_t* src, int height, int width, int8_t* dst);
ZYL_API int filter_box3x3_s16(const int16_t* src, int height, int width, int16_t* dst);
ZYL_API int filter_box3x3_s32(const int32_t* src, int height, int width, int32_t* dst);

ZYL_API int filter_binomial3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int filter_binomial3x3_u16(const uint16_t* src, int height, int width, uint16_t* dst);
ZYL_API int filter_binomial3x3_s8(const int8_t* src, int height, int width, int8_t* dst);
ZYL_API int filter_binomial3x3_s16(const int16_t* src, int height, int width, int16_t* dst);
ZYL_API int filter_binomial3x3_s32(const int32_t* src, int height, int width, int32_t* dst);

/* Weighted mean over the clipped 3x3 window with a weight byte per pixel;
 * the first and last rows take the plain box mean. 0 where the weights of
 * a window sum to 0. Height and width at least 2. */
ZYL_API int filter_weighted_mean3x3_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                       const uint8_t* weights, uint8_t* dst);
ZYL_API int filter_weighted_mean3x3_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                        const uint8_t* weights, int16_t* dst);
ZYL_API int filter_weighted_mean3x3_u32(const uint32_t* src, uint32_t height, uint32_t width,
                                        const uint8_t* weights, int32_t* dst);
ZYL_API int filter_weighted_mean3x3_s8(const int8_t* src, uint32_t height, uint32_t width,
                                       const uint8_t* weights, int8_t* dst);

/* Mean of the pixels of the (2r+1)^2 window within the tolerance of the
 * centre, the image framed by a margin of 255 (only the low bytes of radius
 * and tolerance count); 2 when the framed size overflows 32 bits. */
ZYL_API int filter_sigma_mean_u8(const uint8_t* src, int height, int width, int radius,
                                 int tolerance, uint8_t* dst);

/* Fills a map that holds samples on its even rows and columns (zeros
 * elsewhere): samples stay, pixels between two samples get their mean and
 * the centre of four their mean; results stored as their low 8 bits. */
ZYL_API int filter_upsample2x_fill_s8(const int8_t* src, int height, int width, int8_t* dst);

ZYL_EXTERN_C_END
