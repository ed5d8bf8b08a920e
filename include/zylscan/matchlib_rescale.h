/* Matcher library resamplers of raw pixel buffers (height rows of width
 * pixels, row after row): the general 8-bit resize, smoothed halving,
 * nearest-neighbour and windowed-sinc resampling, pixel replication and
 * resampling to 500 dpi. Results are matcher library status codes. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Resizes src (height x width) into dst (new_height x new_width): a copy for
 * equal sizes, 2x2 means for an exact halving, smoothed halvings while the
 * target is below half the size, then bilinear interpolation. Writes nothing
 * for an empty target; 9 when scratch memory runs out. */
ZYL_API int img_resize_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                          uint32_t new_height, uint32_t new_width);

/* Halves into (height / 2) x (width / 2) after 1-2-1 smoothing (the 8-bit
 * member takes plain 2x2 means when both sides are even). Height and width
 * must be at least 2. */
ZYL_API int img_halve_smooth_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst);
ZYL_API int img_halve_smooth_s8(const int8_t* src, uint32_t height, uint32_t width, int8_t* dst);
ZYL_API int img_halve_smooth_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                 uint16_t* dst);
ZYL_API int img_halve_smooth_s16(const int16_t* src, uint32_t height, uint32_t width,
                                 int16_t* dst);

/* Nearest neighbour: dst(i, j) = src(i * height / new_height, j * width / new_width). */
ZYL_API int img_resize_nearest_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                                  uint32_t new_height, uint32_t new_width);

/* dst(i, j) = src(i * num / den, j * num / den), 0 beyond the source; 2 for
 * den 0. */
ZYL_API int img_scale_nearest_s8(const int8_t* src, uint32_t height, uint32_t width, uint32_t den,
                                 int8_t* dst, uint32_t new_height, uint32_t new_width,
                                 uint32_t num);

/* Windowed-sinc resampling with corner-aligned positions and support a
 * (1 or 2 pixels); the target needs at least two rows and two columns. */
ZYL_API int img_resize_lanczos_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                  uint8_t* dst, uint32_t new_height, uint32_t new_width,
                                  int32_t support);

/* Each pixel becomes a factor x factor block of a new buffer (the caller
 * frees it); null for an empty result or when memory runs out, the sizes
 * then untouched. */
ZYL_API int8_t* img_enlarge_replicate_s8(const int8_t* src, uint32_t height, uint32_t width,
                                         uint32_t factor, uint32_t* out_height,
                                         uint32_t* out_width);

/* Bilinear resampling from resolution dpi to 500 dpi into a new buffer that
 * the caller frees; every sample keeps a right and a lower neighbour. 2 for
 * a resolution of 0 or a source below 2 x 2. */
ZYL_API int img_resample_to_500dpi_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t resolution, uint8_t** out, uint32_t* out_height,
                                      uint32_t* out_width);

ZYL_EXTERN_C_END
