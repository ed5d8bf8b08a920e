/* Matcher library 3x3 neighbourhood filters on raw pixel buffers: weighted,
 * framed and masked means, frame extrapolation, sharpening, row smoothing,
 * pit repair and the 3x3 median in every pixel type. Images are height rows
 * of width pixels, row after row without gaps; every filter may write over
 * its own source. Results are matcher library status codes (0 success,
 * 2 bad argument, 9 out of memory). */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Weighted mean over the clipped 3x3 window (weights 0..255, one byte per
 * pixel); the first and last rows take plain means. Height and width >= 2. */
ZYL_API int filter_weighted_mean3x3_s16(const int16_t* src, uint32_t height, uint32_t width,
                                        const uint8_t* weights, int16_t* dst);
ZYL_API int filter_weighted_mean3x3_s32(const int32_t* src, uint32_t height, uint32_t width,
                                        const uint8_t* weights, int32_t* dst);

/* 3x3 mean of the outer frame of width n, as if the image were surrounded
 * by the fill value; other pixels are not written. Needs 2n below the
 * height and below the width. */
ZYL_API int filter_frame_mean3x3_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                    uint32_t n, uint8_t fill, uint8_t* dst);

/* Replaces the outer frame of width n ring by ring, inward to outward, by
 * means of the next inner ring; 2 when n >= height / 2 or n >= width / 2. */
ZYL_API int filter_frame_extrapolate_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                        uint32_t n, uint8_t* dst);

/* Mean over the mask-set pixels of each clipped 3x3 window (mask byte not
 * 0); interior mask pixels and pixels with no set neighbour keep their
 * value. The mask comes before the height. */
ZYL_API int filter_masked_mean3x3_u8(const uint8_t* src, const uint8_t* mask, uint32_t height,
                                     uint32_t width, uint8_t* dst);
ZYL_API int filter_masked_mean3x3_u16(const uint16_t* src, const uint8_t* mask, uint32_t height,
                                      uint32_t width, uint16_t* dst);
ZYL_API int filter_masked_mean3x3_s8(const int8_t* src, const uint8_t* mask, uint32_t height,
                                     uint32_t width, int8_t* dst);
ZYL_API int filter_masked_mean3x3_s16(const int16_t* src, const uint8_t* mask, uint32_t height,
                                      uint32_t width, int16_t* dst);

/* Unsharp filter: p + (12p - ring) * strength / 128, clamped; the ring
 * weighs direct neighbours 2 and diagonals 1, replicating the border. */
ZYL_API int filter_sharpen3x3_u8(const uint8_t* src, int32_t height, int32_t width,
                                 uint8_t strength, uint8_t* dst);

/* Vertical 1-2-1 smoothing of the even rows (flags bit 0) and/or the odd
 * rows (bit 1). Height >= 2. */
ZYL_API int filter_row_smooth121_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                    uint32_t flags, uint8_t* dst);

/* Replaces pixels darker than their neighbours by more than the threshold
 * with the mean of their shallow 4-neighbours. */
ZYL_API int filter_fill_pits_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                uint8_t threshold, uint8_t* dst);

/* 3x3 median; border windows (6 or 4 values) answer the mean of the two
 * middle values (rounded down, toward zero for signed types); an image one
 * row or one column wide is copied; an empty one is left alone. */
ZYL_API int filter_median3x3_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst);
ZYL_API int filter_median3x3_s8(const int8_t* src, uint32_t height, uint32_t width, int8_t* dst);
ZYL_API int filter_median3x3_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                 uint16_t* dst);
ZYL_API int filter_median3x3_s16(const int16_t* src, uint32_t height, uint32_t width,
                                 int16_t* dst);
ZYL_API int filter_median3x3_u32(const uint32_t* src, uint32_t height, uint32_t width,
                                 uint32_t* dst);
ZYL_API int filter_median3x3_s32(const int32_t* src, uint32_t height, uint32_t width,
                                 int32_t* dst);

ZYL_EXTERN_C_END
