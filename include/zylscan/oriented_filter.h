/* Direction-adaptive smoothing of the grey image: an oriented kernel chosen
 * per pixel by its ridge orientation smooths along the ridges and never
 * across them.
 *
 * Orientations are 0..119 (1.5 degree steps, 0 horizontal, 60 vertical, y
 * downwards); 127 means flat (no orientation), where a 3 x 3 mean is used. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/singular_points.h"
#include "zylscan/zyl_export.h"

/* Every kernel row sums to this: the centre weight plus twice its taps. */
#define ZYL_KERNEL_TOTAL 112211
/* Taps per kernel row (room; rows use filter_c of them). */
#define ZYL_KERNEL_TAPS 18

/* Settings the filters refuse (result ZYL_FILTER_REFUSED, nothing changed):
 * a DirFilterImage radius below ZYL_FILTER_MIN_RADIUS, a cap not above the
 * base, a negative start or factor, or start + factor above
 * ZYL_FILTER_MAX_STRENGTH (strengths live in three bits). */
#define ZYL_FILTER_MIN_RADIUS 5
#define ZYL_FILTER_MAX_STRENGTH 7
#define ZYL_FILTER_REFUSED (-5)
/* An image the filters cannot walk (null rows or a size below 1 x 1). */
#define ZYL_FILTER_BAD_IMAGE (-1)

ZYL_EXTERN_C_BEGIN

/* Oriented kernel of orientation m: filter_c[m] listed taps, tap k at offset
 * (filter_y[m][k], filter_x[m][k]) standing for that pixel and its mirror
 * (-dy, -dx), weight filter_w[m][k]; centre weight filter_w0[m]. A weight is
 * the part of the pixel (in 1/10201) covered by an 11 x 1 pixel bar along m. */
ZYL_API extern const int32_t filter_c[120];
ZYL_API extern const int32_t filter_w0[120];
ZYL_API extern const int32_t filter_x[120][ZYL_KERNEL_TAPS];
ZYL_API extern const int32_t filter_y[120][ZYL_KERNEL_TAPS];
ZYL_API extern const int32_t filter_w[120][ZYL_KERNEL_TAPS];

/* Smooths G once with the orientations of D (bits 0..6). */
ZYL_API void DirectSmoothImage(int32_t width, int32_t height, ByteImage G, ByteImage D);

/* passes times: estimates each pixel's orientation over the window of the
 * given radius and smooths it along that orientation. Returns 0, or
 * ZYL_FILTER_REFUSED for a radius below ZYL_FILTER_MIN_RADIUS. */
ZYL_API int32_t DirFilterImage(int32_t width, int32_t height, ByteImage G, int32_t radius,
                               int32_t passes);

/* Re-estimates D from G (bit 7 of D kept) and writes into bits 0..2 of S the
 * number of FilterImage passes each pixel is due: 0 on bad pixels and within
 * 16 pixels of a singular point, else rising with the noise from start on.
 * Returns 0, or ZYL_FILTER_REFUSED (nothing changed) for settings outside the
 * limits above; the caller then skips FilterImage. */
ZYL_API int32_t ComputeDirImageF(int32_t width, int32_t height, ByteImage G, ByteImage D,
                                 ByteImage S, const SingularPointList* singular_points,
                                 int32_t radius, int32_t cap, int32_t base, int32_t start,
                                 int32_t factor);

/* Smooths each pixel of G along its D orientation as many times as its
 * strength (S bits 0..2) says; all strengths end at 0. */
ZYL_API void FilterImage(int32_t width, int32_t height, ByteImage G, ByteImage D, ByteImage S);

ZYL_EXTERN_C_END
