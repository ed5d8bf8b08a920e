/* Matcher library cell maps (one value per n x n cell, rows x cols values
 * row after row) brought back to pixel resolution by bilinear interpolation
 * between cell centres: cell (r, c) is centred at output pixel
 * (n/2 + r*n, n/2 + c*n); outside the centres the edge values are extended.
 * The output must reach n/2 + (rows-1)*n rows and n/2 + (cols-1)*n columns;
 * smaller outputs, maps below 2 x 2 and n = 0 answer 2. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

ZYL_API int img_expand_bilinear_u8(const uint8_t* map, uint32_t rows, uint32_t cols, uint32_t n,
                                   uint8_t* out, uint32_t out_height, uint32_t out_width);
ZYL_API int img_expand_bilinear_s8(const int8_t* map, uint32_t rows, uint32_t cols, uint32_t n,
                                   int8_t* out, uint32_t out_height, uint32_t out_width);
ZYL_API int img_expand_bilinear_u16(const uint16_t* map, uint32_t rows, uint32_t cols, uint32_t n,
                                    uint16_t* out, uint32_t out_height, uint32_t out_width);
ZYL_API int img_expand_bilinear_s16(const int16_t* map, uint32_t rows, uint32_t cols, uint32_t n,
                                    int16_t* out, uint32_t out_height, uint32_t out_width);

/* The same with a one-cell border of the fill value around the map, so the
 * values fall towards the fill at the edges (maps of 1 x 1 and up). */
ZYL_API int img_expand_bilinear_padded_u8(const uint8_t* map, uint32_t rows, uint32_t cols,
                                          uint32_t n, uint8_t fill, uint8_t* out,
                                          uint32_t out_height, uint32_t out_width);

/* Directions (256 steps a turn), interpolated the shorter way round. */
ZYL_API int img_expand_bilinear_angle8(const uint8_t* map, uint32_t rows, uint32_t cols,
                                       uint32_t n, uint8_t* out, uint32_t out_height,
                                       uint32_t out_width);

/* Bilinear value of the map at pixel (x, y) of the n-times finer grid,
 * clamped to the cell centres; 0 for an empty map or n = 0. */
ZYL_API uint8_t img_sample_bilinear_u8(int32_t x, int32_t y, const uint8_t* map, uint32_t rows,
                                       uint32_t cols, uint32_t n);

ZYL_EXTERN_C_END
