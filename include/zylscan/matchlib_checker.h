/* Matcher library checkerboard removal, the grey open-close mean and a
 * random-position fill. Images are height rows of width bytes; outputs may
 * be the input. Results: 0, 2 bad argument, 9 out of memory. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Response of the (1, -2, 1) by (1, -2, 1) kernel: the full window / 16
 * inside, the two rows or columns inside / 12 on an edge, (2x - the
 * horizontal - the vertical neighbour) / 4 at a corner, toward zero. At
 * least 2 rows and 2 columns. */
ZYL_API int filter_checker_response_s8(const uint8_t* pixels, int height, int width,
                                       int8_t* response);
/* min(255, 16 x mean |v|) of a response map; 0 for an empty map. */
ZYL_API uint8_t imgstat_mean_abs_s8(const int8_t* response, int height, int width);
/* x - response, clamped to 0..255. */
ZYL_API int imgproc_remove_checker(const uint8_t* pixels, int height, int width, uint8_t* out);
/* Up to 5 removals while the pattern's strength is at least the limit. */
ZYL_API int imgproc_remove_checker_repeat(const uint8_t* pixels, int height, int width,
                                          uint8_t* out, int limit);

/* ((close of open) + (open of close)) >> 1 with the 3x3 grey opening and
 * closing; the single form ((open) + (close)) >> 1. */
ZYL_API int imgproc_open_close_mean3x3(const uint8_t* pixels, int height, int width,
                                       uint8_t* out);
ZYL_API int imgproc_open_close_mean3x3_single(const uint8_t* pixels, int height, int width,
                                              uint8_t* out);

/* Copies the image, then count times writes the value at a position drawn
 * with rng_next_range(state, 0, height x width - 1). */
ZYL_API int img_fill_random(const uint8_t* pixels, int height, int width, int count,
                            uint8_t value, uint32_t* state, uint8_t* out);

ZYL_EXTERN_C_END
