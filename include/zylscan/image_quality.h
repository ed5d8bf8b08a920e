/* Image quality measures of the skeleton engine: a grey image of 8-bit
 * pixels, rows packed without gaps, rated 0..100 before extraction.
 *
 * Every measure answers -1 for a null buffer or a width or height below 1.
 * The block statistics (DevAlgImgQuality, DevAlgImgQualitynew164 and
 * DevAlgImgQualityAndroid, which uses the latter) cut the image into 8 x 8
 * blocks and measure the inner ones; they answer -1 for sizes they cannot
 * measure (see each). */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

/* Size limits of the block statistics (pixels a side). */
#define ZYL_QUALITY_MIN_SIDE 24
#define ZYL_QUALITY_QUADRANT_MIN_SIDE 40
#define ZYL_QUALITY_MAX_SIDE 655

ZYL_EXTERN_C_BEGIN

/* The capture quality: 1..100 for images at most 192 pixels wide (finger
 * extent and texture quality averaged), 0..100 (texture quality) otherwise. */
ZYL_API int32_t ZylEx_GetQuality(int32_t width, int32_t height, const uint8_t* pixels);

/* Percentage of the image that the finger covers, measured along the middle
 * row and column (pixels below 200 are dark); values below 75 are returned
 * lowered by 100 (so never -1). -1 for bad arguments. */
ZYL_API int32_t ZylImgQsize(const uint8_t* pixels, int32_t width, int32_t height);

/* Texture quality 0..100 of the image (the caller's buffer is unchanged). */
ZYL_API int32_t DevAlgImgQualityNew(int32_t width, int32_t height, const uint8_t* pixels);

/* Writes the percentage 0..100 of inner 8 x 8 blocks whose variance exceeds
 * the clamped mean variance; returns 0, or -1 (nothing written) for a side
 * outside 24..655 or a null argument. */
ZYL_API int32_t DevAlgImgQuality(int32_t width, int32_t height, const uint8_t* pixels, uint8_t* percent);

/* Like DevAlgImgQuality with its own limits, and also writes the mean block
 * variance and four values: |top - bottom| and |left - right| of the
 * quadrant mean variances, then the bottom-left and bottom-right means.
 * Returns 0, or -1 (nothing written) for a side outside 40..655 or a null
 * argument. */
ZYL_API int32_t DevAlgImgQualitynew164(int32_t width, int32_t height, const uint8_t* pixels, uint8_t* percent,
                                       int32_t* mean_variance, int32_t values[4]);

/* Otsu threshold 0..254 of the rectangle at (x0, y0) of width x
 * region_height in an image of the given stride and height, without the
 * rectangle's outer ring; 1 when the rectangle gives none; -1 for a null
 * buffer or a rectangle that does not lie inside the image. */
ZYL_API int32_t otsu(const uint8_t* pixels, int32_t stride, int32_t height, int32_t x0, int32_t y0,
                     int32_t width, int32_t region_height);

/* Every pixel becomes 255 when at least threshold, else 0; returns 0 (-1 for
 * bad arguments). */
ZYL_API int32_t myThreshold(uint8_t* pixels, int32_t threshold, int32_t width, int32_t height);

/* Texture quality, replaced by the block statistic of the Otsu-binarised
 * image when a good texture shows a strong top-bottom or left-right
 * imbalance. -1 for a side outside 40..655. */
ZYL_API int32_t DevAlgImgQualityAndroid(int32_t width, int32_t height, const uint8_t* pixels);

/* Writes the line "test" to standard output. */
ZYL_API void testprintf(void);

ZYL_EXTERN_C_END
