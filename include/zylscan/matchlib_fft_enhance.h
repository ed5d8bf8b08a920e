/* Matcher library FFT block enhancement: each block of a grey image is
 * transformed, multiplied by a band-pass mask chosen by the local ridge
 * period (frequency map, one byte per pixel: the period in pixels) and ridge
 * direction (direction map, one orientation byte per pixel), transformed
 * back, and the block's centre becomes the signed enhanced image (cleared
 * first; blocks not processed stay 0). Block masks are cells of cell_size
 * pixels, mask_rows x mask_columns, or null for every block. Results: 0,
 * 2 bad argument, 9 out of memory, or a smoothing kernel's status. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* 16 x 16 blocks through 32 x 32 windows; the mask gain is applied
 * max(level, 1) times, level from the level map (value - 1) or the level
 * argument, 0..7. */
ZYL_API int fftenh_enhance32(const uint8_t* image, int height, int width,
                             const uint8_t* frequency_map, const uint8_t* direction_map,
                             const uint8_t* block_mask, const uint8_t* level_map, int level,
                             int mask_rows, int mask_columns, int cell_size, int8_t* out);
/* One mask for the whole image, applied three times. */
ZYL_API int fftenh_enhance32_fixed(const uint8_t* image, int height, int width, int frequency,
                                   int direction, int8_t* out);
/* 8d x 8d blocks through 16 x 16 windows sampled every d pixels (d = 2:
 * smoothed input and the skipped pixels filled afterwards). */
ZYL_API int fftenh_enhance16(const uint8_t* image, int height, int width,
                             const uint8_t* frequency_map, const uint8_t* direction_map,
                             const uint8_t* block_mask, int mask_rows, int mask_columns,
                             int cell_size, int8_t* out, int step);

/* Frequency class (0..10) of a period byte and direction class (0..15) of
 * an orientation byte. */
ZYL_API int fftenh_frequency_class(int value);
ZYL_API int fftenh_direction_class(int value);
/* Gain byte of the 32-point (side 32) or 16-point (side 16) mask for
 * frequency class f and direction class k at half-spectrum (row, column);
 * 0 outside the tables. */
ZYL_API int fftenh_mask_gain(int side, int f, int k, int row, int column);

ZYL_EXTERN_C_END
