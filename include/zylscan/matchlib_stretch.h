/* Matcher library contrast stretches of 8-bit images: between the
 * percentile levels of their histogram (whole image, below a cut-off, over
 * masked blocks), linear stretches, min-max stretches of other types and
 * the equalisation by recursive mean splitting. Outputs may be the input.
 * Results: 0, 2 bad argument, 9 out of memory. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Levels that cut p % of the counts at each end of a 256-bin histogram:
 * low is the first level from 0 up whose running count exceeds p % of the
 * total, high the first from 255 down to 1 (0 when none); when they meet
 * low moves down one (or the pair becomes 0, 1). Nothing is written when p
 * is 100 or more; a negative p counts as 0. */
ZYL_API void hist_percentile_range(const int32_t* hist, int percent, uint8_t* low,
                                   uint8_t* high);
ZYL_API void imgstat_percentile_range(const uint8_t* pixels, int height, int width, int percent,
                                      uint8_t* low, uint8_t* high);

/* Pixels above the low level map to min(255, (x - low) * 255 / (high -
 * low)), the others to 0; with p of 100 or more the image is unchanged.
 * A p from 50 to 99 is refused with ML_BAD_ARGUMENT (nothing written): its
 * levels meet or cross. */
ZYL_API int imgproc_stretch_percentile(const uint8_t* pixels, int height, int width, int percent,
                                       uint8_t* out);
/* The same with the levels from the cut-off up left out of the histogram. */
ZYL_API int imgproc_stretch_percentile_below(const uint8_t* pixels, int height, int width,
                                             int percent, int cutoff, uint8_t* out);
/* The same with the histogram over the blocks whose mask byte is set;
 * blocks reaching past the image are clipped to it. */
ZYL_API int imgproc_stretch_percentile_masked(const uint8_t* pixels, int height, int width,
                                              int percent, const uint8_t* block_mask,
                                              int block_rows, int block_columns, int block,
                                              uint8_t* out);

/* out = min(top, ((x > low ? x - low : fill) as a byte) * top / (high -
 * low)); 2 when high is not above low. */
ZYL_API int imgproc_stretch_range(const uint8_t* pixels, int height, int width, int low,
                                  int high, int fill, int top, uint8_t* out);
/* x > low: min(255, (x - low) * 255 / (high - low)), else 0; 2 when high is
 * not above low. */
ZYL_API int imgproc_stretch_between(const uint8_t* pixels, int height, int width, int low,
                                    int high, uint8_t* out);
/* Full-range stretches between the image's extremes; a copy when the
 * image is flat. */
ZYL_API int imgproc_stretch_minmax_s8(const int8_t* pixels, int height, int width, int8_t* out);
ZYL_API int imgproc_stretch_minmax_u16(const uint16_t* pixels, int height, int width,
                                       uint16_t* out);
ZYL_API int imgproc_stretch_minmax_s16(const int16_t* pixels, int height, int width,
                                       int16_t* out);

/* Equalisation by recursive mean splitting: output levels are multiples of
 * 4 from 0 to 252. */
ZYL_API int imgproc_equalize_recursive(const uint8_t* pixels, int height, int width,
                                       uint8_t* out);

ZYL_EXTERN_C_END
