/* Matcher library whole-image statistics (mean, variance, extremes in four
 * pixel types), grey-level morphology on 8-bit images, local grey range over
 * a disk, local maxima of a score map and the dominant period of a profile.
 * Images are height rows of width pixels without gaps. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Truncated mean; 0 for an empty image. */
ZYL_API int img_mean_u8(const uint8_t* pixels, int height, int width);
ZYL_API int img_mean_s8(const int8_t* pixels, int height, int width);
ZYL_API int img_mean_u16(const uint16_t* pixels, int height, int width);
ZYL_API int img_mean_s16(const int16_t* pixels, int height, int width);
/* (sum of squares - sum * truncated mean) / count; 0 for an empty image. */
ZYL_API uint32_t img_variance_u8(const uint8_t* pixels, int height, int width);
ZYL_API int32_t img_variance_s8(const int8_t* pixels, int height, int width);
ZYL_API uint32_t img_variance_u16(const uint16_t* pixels, int height, int width);
ZYL_API int32_t img_variance_s16(const int16_t* pixels, int height, int width);
/* Either output may be null; an empty image writes the type's limits. */
ZYL_API int img_minmax_u8(const uint8_t* pixels, int height, int width, uint8_t* min_out,
                          uint8_t* max_out);
ZYL_API int img_minmax_s8(const int8_t* pixels, int height, int width, int8_t* min_out,
                          int8_t* max_out);
ZYL_API int img_minmax_u16(const uint16_t* pixels, int height, int width, uint16_t* min_out,
                           uint16_t* max_out);
ZYL_API int img_minmax_s16(const int16_t* pixels, int height, int width, int16_t* min_out,
                           int16_t* max_out);

/* Grey morphology over clipped 3x3 or 5-pixel cross windows; the
 * destination may be the source. 0, or 9 without writing. */
ZYL_API int filter_min3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int filter_max3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int filter_min_cross_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int filter_max_cross_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int filter_open3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
ZYL_API int filter_close3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
/* Maximum minus minimum over the disk dy*dy + dx*dx <= r*r + r. */
ZYL_API int filter_local_range_disk_u8(const uint8_t* src, int height, int width, int radius,
                                       uint8_t* dst);
/* Keeps the non-zero local maxima inside a border of max(radius, 1),
 * clears the rest of that area, thins touching maxima and counts them. */
ZYL_API int img_local_maxima_u8(const uint8_t* src, int height, int width, int radius,
                                uint8_t* dst, int* count);
/* Period, in 1/256 samples, of the strongest whole frequency kmin..kmax of
 * an n-sample profile; 0 when none. */
ZYL_API int profile_dominant_period(const uint8_t* profile, int kmin, int kmax, int n);

ZYL_EXTERN_C_END
