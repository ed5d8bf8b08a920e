/* Matcher library stripe detection and correction: level offsets between
 * strips of n columns (or rows) that some sensors leave. With a strip as
 * wide as the image the correction removes row-to-row offsets, with strips
 * of one pixel it pulls isolated outliers back. Outputs may be the input.
 * Results: 0, 2 bad argument, 9 out of memory. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Up to 8 passes: each strip's offset from its neighbours (edge steps and
 * the rows above and below) is estimated, and strips whose |offset| is
 * above the threshold move three quarters of the way back. The width mod
 * n columns at the right are never changed. 2 when n < 1 or width < n. */
ZYL_API int stripe_correct_columns(const uint8_t* pixels, int height, int width, int n,
                                   int threshold, uint8_t* out);
/* The same for strips of n rows (the image turned a quarter and back). */
ZYL_API int stripe_correct_rows(const uint8_t* pixels, int height, int width, int n,
                                int threshold, uint8_t* out);
/* In place, n = width (rows) or n = height (columns), threshold 0. */
ZYL_API int stripe_correct_whole_rows(uint8_t* pixels, int height, int width);
ZYL_API int stripe_correct_whole_columns(uint8_t* pixels, int height, int width);

/* Sets *flag to 1 when the steps across strip boundaries of width a,
 * weighted by a - 1, reach 1.25 times the steps inside the strips. 2 (flag
 * 0) unless mode is 1, a > 1, width >= a and the image is not empty. */
ZYL_API int stripe_detect_columns(const uint8_t* pixels, int height, int width, int a, int mode,
                                  uint8_t* flag);
ZYL_API int stripe_detect_rows(const uint8_t* pixels, int height, int width, int a, int mode,
                               uint8_t* flag);

ZYL_EXTERN_C_END
