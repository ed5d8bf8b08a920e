/* Matcher library reorientation, rotation and pasting of 8-bit images. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Reorientation codes of img_flip_rotate_u8. */
enum ImgOrientCode {
  IMG_ORIENT_COPY = 0,
  IMG_ORIENT_MIRROR = 1,       /* each row mirrored */
  IMG_ORIENT_REVERSE_ROWS = 2, /* row order reversed */
  IMG_ORIENT_HALF_TURN = 3,
  IMG_ORIENT_QUARTER_CW = 4,   /* width rows of height pixels */
  IMG_ORIENT_QUARTER_CCW = 5   /* width rows of height pixels */
};

/* Destination distinct from the source; unknown codes copy. Answers 0, or
 * 2 for a null buffer. */
ZYL_API int img_flip_rotate_u8(const uint8_t* src, int height, int width, int code,
                               uint8_t* dst);

/* Turns an image by an angle of 256 steps a turn into a new malloc'd buffer
 * that holds the whole turned image (the caller frees it); the origin is
 * where the source's top-left pixel lies. 0, or 9 with no buffer. */
ZYL_API int img_rotate_u8(const uint8_t* src, int height, int width, int angle,
                          uint8_t** out, int* out_height, int* out_width, int* origin_row,
                          int* origin_col);
ZYL_API int img_rotate_nearest_u8(const uint8_t* src, int height, int width, int angle,
                                  uint8_t fill, uint8_t** out, int* out_height,
                                  int* out_width, int* origin_row, int* origin_col);
ZYL_API int img_rotate_nearest_s8(const int8_t* src, int height, int width, int angle,
                                  int8_t fill, int8_t** out, int* out_height, int* out_width,
                                  int* origin_row, int* origin_col);

/* Pastes src with its top-left pixel at (row y, column x) of dst, clipped;
 * a key below 256 marks a transparent source value. */
ZYL_API void img_paste_keyed_u8(uint8_t* dst, int dst_height, int dst_width,
                                const uint8_t* src, int src_height, int src_width, int x,
                                int y, int key);
/* The same writing (source + destination) >> 1. */
ZYL_API void img_paste_average_u8(uint8_t* dst, int dst_height, int dst_width,
                                  const uint8_t* src, int src_height, int src_width, int x,
                                  int y, int key);

/* table[i] = base + i * stride for i < n. */
ZYL_API void img_row_pointers(uint64_t base, int n, uint32_t stride, uint64_t* table);

ZYL_EXTERN_C_END
