/* Matcher library ridge map: an 8-bit fingerprint image becomes a map of
 * the largest coherent foreground region on a grid of 16 x 16 blocks, its
 * pixels coded 0 outside (and on the image's frame), 1 foreground, 3 ridge
 * skeleton, 5 valley skeleton. Block orientations use 1..128 (128 for
 * direction 0, 0 for none), measured from the column axis toward
 * increasing rows in 256 steps a turn. Nothing here allocates. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* RidgeMapCode: the pixel codes of the ridge map. */
enum RidgeMapCode {
  RIDGEMAP_OUTSIDE = 0,
  RIDGEMAP_FOREGROUND = 1,
  RIDGEMAP_RIDGE = 3,
  RIDGEMAP_VALLEY = 5
};

/* Turns the pixels into the ridge map in place. The three block maps hold
 * at least bh x bw bytes, bh = (height + 15) / 16 and bw = (width + 15) /
 * 16, and are work areas. Above 600 dpi the image is worked on subsampled
 * by (dpi + 400) / 500 and enlarged back. */
ZYL_API void ridgemap_skeleton(uint8_t* pixels, int height, int width, uint8_t* orientation,
                               uint8_t* coherence, uint8_t* period, int bh, int bw, int dpi);

/* Block orientation and smoothed coherence of usable blocks (mean 16..253,
 * variance above 29), whose pixels are normalised in place; the maps are
 * cleared by the caller. */
ZYL_API void ridgemap_block_orientation(uint8_t* pixels, int height, int width,
                                        uint8_t* orientation, uint8_t* coherence,
                                        uint8_t* work, int bh, int bw);

/* 1-2-1 smoothing of each row, then each column, in place; the ends take
 * (3 x end + neighbour) / 4. The guarded form does nothing unless both
 * sides are above 2. */
ZYL_API void filter_smooth121_inplace_u8(uint8_t* map, int rows, int columns);
ZYL_API void filter_smooth121_guarded_u8(uint8_t* map, int rows, int columns);

/* Each block with an orientation is smoothed along the ridges with a
 * kernel of its period (1/16 pixel), differentiated twice across them and
 * binarised by Otsu's rule to 0 (ridge) and 255 (valley). */
ZYL_API void ridgemap_oriented_filter(uint8_t* pixels, int height, int width,
                                      const uint8_t* orientation, const uint8_t* period, int bh,
                                      int bw);
/* Output j (20 values) is the period class's kernel centred on input j + 7
 * (34 values); classes above 7 use class 7. */
ZYL_API void ridgemap_profile_smooth(const int32_t* input, int period_class, int32_t* output);

/* Thin the pixels carrying 0x02 (ridges) or 0x04 (valleys) to lines one
 * pixel wide; a deleted pixel keeps its other bits. */
ZYL_API void ridgemap_thin_ridges(uint8_t* pixels, int height, int width);
ZYL_API void ridgemap_thin_valleys(uint8_t* pixels, int height, int width);
/* 1 when 2 <= min(P, Q) <= 3 over the ring of 9 (east first, counter-
 * clockwise, east again). */
ZYL_API int ridgemap_thin_neighbour_test(const uint8_t* ring);

/* The value times the index-th step of 5, 10, 50, 100, ... 1000000 (index
 * 1..12, product modulo 2^32) classed on a 3-8 scale: 0 below 3, 2 below
 * 8, 3 below 30, 5 below 80, ... 26 below 800000000, 27 above; 0 for any
 * other index. */
ZYL_API int level_class_125(int index, uint32_t value);

ZYL_EXTERN_C_END
