/* Ridge orientation fields of the skeleton engine: the block direction image
 * (one orientation per 16 x 16 pixel block), the pixel direction and noise
 * images, and the bad-area map.
 *
 * Orientations are 0..119 in steps of 1.5 degrees (0 horizontal, 60
 * vertical, 30 along x = y with y downwards); 127 = flat (no orientation
 * could be told). Noise is 0..255: 0 one clear orientation, 255 unreliable.
 * In a direction image D, bits 0..6 hold the orientation and bit 7 marks a
 * bad pixel; the estimates keep bit 7 of the byte they overwrite.
 *
 * Calls with a null image or a width or height below 1 change nothing; a
 * negative radius acts as radius 0. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/singular_points.h"
#include "zylscan/zyl_export.h"

#define ZYL_BLOCK_SIZE 16

ZYL_EXTERN_C_BEGIN

/* Writes width / 16 and height / 16. */
ZYL_API void ComputeBlockedImageSize(int32_t width, int32_t height, int32_t* block_columns,
                                     int32_t* block_rows);
/* Block orientations and block noise of a grey image, each estimated over
 * the 3 x 3 blocks around the block; the noise becomes 255 where
 * contrast x 512 >= the largest mean difference sum. */
ZYL_API void ComputeBlockDirImage(int32_t width, int32_t height, ByteImage image, int32_t block_columns,
                                  int32_t block_rows, ByteImage directions, ByteImage noise, int32_t contrast);
/* Sets the direction of a block to 255 (none) when at most 4 blocks of its
 * clipped 3 x 3 neighbourhood have noise below limit. */
ZYL_API void CleanupBlockDirImage(int32_t block_columns, int32_t block_rows, ByteImage directions,
                                  ByteImage noise, int32_t limit);

/* Pixel orientations into D and per-pixel noise over W (which held the grey
 * image): one combined pass when r_dir equals r_noise and squares is 0,
 * else CDI_Dir and CDI_Noise. */
ZYL_API void ComputeDirImage(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r_dir,
                             int32_t r_noise, int32_t contrast, int32_t squares);
/* Orientation into D and noise into W over windows of radius r; the noise
 * becomes 255 where contrast x (2r + 1)^2 x 2 >= the largest sum. */
ZYL_API void ComputeDirImageSimple(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r,
                                   int32_t contrast);
/* Orientation only, into D; W is left unchanged. Non-zero squares sums the
 * squares of the differences. */
ZYL_API void CDI_Dir(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r, int32_t contrast,
                     int32_t squares);
/* Noise only, written over W; squares is not used. */
ZYL_API void CDI_Noise(int32_t width, int32_t height, ByteImage W, int32_t r, int32_t contrast,
                       int32_t squares);

/* Sets bit 7 of D on every pixel whose radius window holds no more than
 * half of a full (2 radius + 1)^2 window of good pixels (noise in W below
 * threshold), except within distance 16 of a singular point. Returns the
 * mean noise of the pixels left unmarked, or -1 when every pixel is marked. */
ZYL_API int32_t ComputeBadArea(int32_t width, int32_t height, ByteImage D, ByteImage W,
                               const SingularPointList* singular_points, int32_t radius, int32_t threshold);
/* The same without singular points. */
ZYL_API int32_t ComputeBadAreaA(int32_t width, int32_t height, ByteImage D, ByteImage W, int32_t radius,
                                int32_t threshold);

ZYL_EXTERN_C_END
