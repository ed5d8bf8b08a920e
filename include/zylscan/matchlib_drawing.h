/* Matcher library drawing on 8-bit grey images in place: pixels, lines,
 * triangles, rectangle outlines, point markers, decimal numbers, lightening
 * and darkening, and the framed viewing window. Every drawing routine clips
 * to the image. Points are (column x, row y) unless stated. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Sizes and position compared as unsigned 16-bit counts. */
ZYL_API void draw_pixel(uint8_t* image, int height, int width, int row, int column,
                        uint8_t value);
ZYL_API void draw_line(uint8_t* image, int height, int width, int x0, int y0, int x1, int y1,
                       uint8_t value);
ZYL_API void draw_triangle(uint8_t* image, int height, int width, int x1, int y1, int x2,
                           int y2, int x3, int y3, uint8_t value);
ZYL_API void draw_rect(uint8_t* image, int height, int width, int x, int y, int rect_width,
                       int rect_height, uint8_t value);
/* Size 1 a pixel, 2 a 2 x 2 block, 3 or more a ring of diameter size. */
ZYL_API void draw_marker(uint8_t* image, int height, int width, int size, int x, int y,
                         uint8_t value);
/* Digits of a 4 x 7 font in 5-column cells on boxes of the complement. */
ZYL_API void draw_number(uint8_t* image, int height, int width, int32_t number,
                         int min_digits, int x, int y, uint8_t value);
ZYL_API void draw_lighten(const uint8_t* src, int height, int width, int percent,
                          uint8_t* dst);
ZYL_API void draw_darken(const uint8_t* src, int height, int width, int percent,
                         uint8_t* dst);
/* Whitens everything outside a centred window of (100 - percent) % of the
 * area and frames it; 0, 2 for a percentage above 100, 9. */
ZYL_API int img_window_frame_u8(const uint8_t* src, int height, int width, int percent,
                                uint8_t* dst);

ZYL_EXTERN_C_END
