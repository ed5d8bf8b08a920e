/* Matcher library small kernels on raw 8-bit buffers: single Sobel
 * gradients, the 4-neighbour Laplacian, a general 3x3 convolution with a
 * signed-byte kernel, 2x2 halving and decimation by two. Images are height
 * rows of width pixels without gaps; results 0, 1 unsupported size, 2 bad
 * argument. (The two-map Sobel and the integral-table variances are
 * declared in zylscan/matchlib_filter_kernels.h.) */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Horizontal (brighter to the right is positive) or vertical (brighter
 * further down) Sobel difference divided by 8 toward zero; the frame and
 * images of 2 or fewer rows or columns give 0. */
ZYL_API int filter_sobel_x_s8(const uint8_t* src, int height, int width, int8_t* gx);
ZYL_API int filter_sobel_y_s8(const uint8_t* src, int height, int width, int8_t* gy);

/* (4 x centre - up - down - left - right) / 8 toward zero; frame 0. */
ZYL_API int filter_laplace_s8(const uint8_t* src, int height, int width, int8_t* dst);

/* Sum of tap x pixel over the taps inside the image divided (toward zero)
 * by the sum of their absolute values; the low 8 bits are stored. The
 * kernel is 9 signed bytes, row by row from the top left. A window whose
 * inside taps are all zero gives 0. The output must not be the input. */
ZYL_API int filter_conv3x3_u8(const uint8_t* src, int height, int width, const int8_t* kernel,
                              uint8_t* dst);

/* (height / 2) x (width / 2) image of truncated 2x2 means; 1 and nothing
 * written when a side is odd. */
ZYL_API int filter_halve2x2_u8(const uint8_t* src, int height, int width, uint8_t* dst);

/* Keeps the pixels of the even rows and columns: (height / 2) x (width / 2);
 * nothing written when the width is 1 or less. */
ZYL_API int filter_decimate2_s8(const int8_t* src, int height, int width, int8_t* dst);

ZYL_EXTERN_C_END
