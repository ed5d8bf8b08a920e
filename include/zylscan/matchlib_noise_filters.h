/* Matcher library noise filters on raw pixel buffers (height rows of width
 * pixels, row after row): the 5-point cross median in six pixel types, the
 * 3x3 median of one pixel, smoothing along a per-pixel direction (a 5-point
 * median and a 9-point mean), and the bilateral filter. Every filter may
 * write over its own source. Results are matcher library status codes. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Median of each pixel and its four direct neighbours; edge pixels take the
 * mean of the two middle of their four values (rounded down, toward zero
 * for signed types), corners the median of three. Height and width >= 2. */
ZYL_API int filter_cross_median_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                   uint8_t* dst);
ZYL_API int filter_cross_median_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                    uint16_t* dst);
ZYL_API int filter_cross_median_u32(const uint32_t* src, uint32_t height, uint32_t width,
                                    uint32_t* dst);
ZYL_API int filter_cross_median_s8(const int8_t* src, uint32_t height, uint32_t width,
                                   int8_t* dst);
ZYL_API int filter_cross_median_s16(const int16_t* src, uint32_t height, uint32_t width,
                                    int16_t* dst);
ZYL_API int filter_cross_median_s32(const int32_t* src, uint32_t height, uint32_t width,
                                    int32_t* dst);

/* Writes the 3x3 median of pixel (row, column) into dst at the same place
 * when the pixel is not on the border; otherwise writes nothing. */
ZYL_API void img_median3x3_at_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                 uint32_t row, uint32_t column, uint8_t* dst);

/* Median of five (mean of nine) samples along the line through each pixel
 * that the direction map (256 steps a turn, one byte per pixel) gives; the
 * two-pixel (three-pixel) border is not written. */
ZYL_API int filter_directional_median5_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                          const uint8_t* directions, uint8_t* dst);
ZYL_API int filter_directional_mean9_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                        const uint8_t* directions, uint8_t* dst);

/* Bilateral filter over the disk of the given radius: weights fall with the
 * distance and with the grey difference in the guide (the source itself
 * when the guide is null); samples further in grey than six standard
 * deviations of the guide are skipped. Radius 0 copies the source. */
ZYL_API int filter_bilateral_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                uint32_t radius, const uint8_t* guide, uint8_t* dst);

ZYL_EXTERN_C_END
