/* Matcher library sampling at Q14 points (16384 = one pixel; x along a row,
 * y across rows) of raw row-major images given as (pixels, height, width),
 * the bounding box of a rotated rectangle, and the plain multi-channel
 * pixel plane. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* The samplers clamp every position into the image; an empty image or a
 * null pixel buffer samples as 0. */
ZYL_API int subpix_outside(int x, int y, int height, int width);
ZYL_API int subpix_sample_u8(const uint8_t* pixels, int height, int width, int x, int y);
ZYL_API int32_t subpix_sample_s32(const int32_t* pixels, int height, int width, int x, int y);
ZYL_API int subpix_sample_nearest_u8(const uint8_t* pixels, int height, int width, int x, int y);
ZYL_API int32_t subpix_sample_nearest_s32(const int32_t* pixels, int height, int width, int x,
                                          int y);
ZYL_API int subpix_sample_is_white(const uint8_t* pixels, int height, int width, int x, int y,
                                   int origin);
ZYL_API int subpix_in_mask(const uint8_t* mask, int unused, int side, int x, int y, int origin);

/* Bounding box of a height x width rectangle rotated by a direction (256
 * steps a turn); each output may be null. */
ZYL_API void geom_rotated_box(int height, int width, int direction, int* out_height,
                              int* out_width, int* out_row_offset, int* out_column_offset);

/* Pixel plane: header and pixels in one allocation; pixel (row, column) at
 * data + row * stride + column * channels. Not reference-counted. */
typedef struct PixelPlane {
  uint8_t* data;
  int32_t rows;
  int32_t width;
  int32_t stride;
  int32_t channels;
} PixelPlane;

ZYL_API PixelPlane* plane_create(int rows, int width, int channels, int stride);
ZYL_API PixelPlane* plane_create_packed(int rows, int width, int channels);
ZYL_API void plane_free(PixelPlane* plane);
ZYL_API void plane_clear(PixelPlane* plane);
ZYL_API uint8_t* plane_pixel_ptr(const PixelPlane* plane, int row, int column);
ZYL_API int plane_pixel_offset(const PixelPlane* plane, int row, int column);

ZYL_EXTERN_C_END
