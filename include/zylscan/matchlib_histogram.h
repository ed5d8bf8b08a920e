/* Matcher library grey-level histograms (256 signed 32-bit counts) and the
 * statistics taken from them, and point-wise maps of 8-bit images. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

ZYL_API void hist_build_u8(const uint8_t* pixels, int height, int width, int32_t* hist);
/* Bin 128 + v counts value v. */
ZYL_API void hist_build_s8(const int8_t* pixels, int height, int width, int32_t* hist);
/* 2^bits counts of v >> (8 - bits), bits 1..8. */
ZYL_API void hist_build_bits_u8(const uint8_t* pixels, int height, int width, int bits,
                                int32_t* hist);

/* Statistics of a 256-bin histogram; an empty histogram gives 0. */
ZYL_API uint8_t hist_mean(const int32_t* hist);
ZYL_API uint32_t hist_variance(const int32_t* hist, uint8_t centre);
ZYL_API uint16_t hist_variance_x16(const int32_t* hist, uint8_t centre);
ZYL_API uint8_t hist_stddev(const int32_t* hist, uint8_t centre);
ZYL_API uint32_t hist_stddev_x4(const int32_t* hist, uint8_t centre);
/* Variance (deviation) around the histogram mean; the mean goes to mean_out
 * when it is not null. */
ZYL_API uint16_t img_variance_hist_u8(const uint8_t* pixels, int height, int width,
                                      uint8_t* mean_out);
ZYL_API uint8_t img_stddev_hist_u8(const uint8_t* pixels, int height, int width,
                                   uint8_t* mean_out);

/* Point-wise maps: 255 - v; 1 where 0 else 0; 1 where v != value else 0. */
ZYL_API void img_invert_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API void bilevel_invert(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API void map_not_equal_u8(const uint8_t* src, int height, int width, uint8_t value,
                              uint8_t* dst);

ZYL_EXTERN_C_END
