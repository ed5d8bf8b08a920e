/* Grey and binary image filters of the skeleton engine that do not depend on
 * ridge orientation: mean filters, local contrast normalisation,
 * binarisations, majority smoothing, ridge-border density and area measures,
 * and the removal of enclosed bad-area spots.
 *
 * Every filter works in place on ByteImage rows and reads only the pixel
 * values from before the call. A window of radius r is the (2r + 1) x
 * (2r + 1) square around a pixel clipped to the image; its mean is the
 * truncated integer mean of the pixels inside the image. Binary images hold
 * ridges as 0 and background as 255. D is a direction image: bit 7 set marks
 * a bad pixel, bits 0..6 hold the orientation 0..119 (above 119: none).
 *
 * Calls with a null image or a width or height below 1 change nothing; a
 * negative radius acts as radius 0. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* 3 x 3 mean of every pixel. */
ZYL_API void PuttyImage(int32_t width, int32_t height, ByteImage image);
/* Mean of the radius-r window of every pixel. */
ZYL_API void SmoothImage(int32_t width, int32_t height, ByteImage image, int32_t r);
/* Local contrast normalisation of grey around its smoothed copy: the result
 * is written over smooth. */
ZYL_API void NormalizeImage(int32_t width, int32_t height, ByteImage grey, ByteImage smooth, int32_t r);
/* 255 where a pixel is at least the mean of its radius-r window, else 0. */
ZYL_API void BinarizeImage(int32_t width, int32_t height, ByteImage image, int32_t r);
/* out = 255 where grey is at least the average of its radius-r1 and
 * radius-r2 window means, else 0. Any two radii are accepted. */
ZYL_API void BinarizeImageTwo(int32_t width, int32_t height, ByteImage grey, ByteImage out, int32_t r1,
                              int32_t r2);
/* Turns a binary image into a ridge-border density image (0..255) over
 * windows of radius r, weighted by the orientation in D. */
ZYL_API void ComputeGImage(int32_t width, int32_t height, ByteImage image, ByteImage D, int32_t r);
/* Binarises grey against the mean of a window chosen per pixel by its
 * density: >= high the r_small window, low..high-1 r_middle, below low
 * r_large. */
ZYL_API void BinarizeImageA(int32_t width, int32_t height, ByteImage grey, ByteImage density, int32_t high,
                            int32_t low, int32_t r_small, int32_t r_middle, int32_t r_large);
/* 3 x 3 majority on a binary image, then a one-pixel background frame;
 * returns height - 1. */
ZYL_API int32_t BSmoothImage(int32_t width, int32_t height, ByteImage image);
/* Border density 0..255 of the good interior pixels of a binary image. */
ZYL_API int32_t ComputeG(int32_t width, int32_t height, ByteImage binary, ByteImage D);
/* Good interior pixels as a percentage (0..100) of width x height. */
ZYL_API int32_t ComputeA(int32_t width, int32_t height, ByteImage image, ByteImage D);
/* Given a copy of D, leaves 255 on the bad pixels joined to the image border
 * by a 4-connected path of bad pixels and 0 everywhere else; returns
 * height. */
ZYL_API int32_t EliminateSpots(int32_t width, int32_t height, ByteImage flags);

ZYL_EXTERN_C_END
