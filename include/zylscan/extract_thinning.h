/* Thinning of the binary ridge image and the neighbourhood tools shared by
 * the later skeleton stages.
 *
 * Skeleton images: ridge pixels 0, background 255 (any non-zero value counts
 * as background). Neighbours of a pixel are numbered clockwise from the one
 * above (y grows downwards): 0 N, 1 NE, 2 E, 3 SE, 4 S, 5 SW, 6 W, 7 NW. */
#pragma once

#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* 1 = a ridge pixel whose ridge neighbours form this index (bit i set when
 * neighbour i is ridge) may be removed, 0 = keep. Holds its values from load. */
ZYL_API extern uint8_t skelet[256];

/* Rewrites skelet from its rule (entries with 3..7 ridge neighbours). */
ZYL_API void FESkltInit(void);

/* Thins the ridges of image to one pixel in place, in at most passes passes;
 * stops early after a pass that removed nothing. The border rows and columns
 * never change. */
ZYL_API void SkeletonizeImage(int32_t width, int32_t height, ByteImage image, int32_t passes);

/* -1 when (x, y) is background; else the number of background-to-ridge steps
 * going once clockwise round its neighbours: 0 isolated, 1 ridge ending,
 * 2 ridge interior, 3 bifurcation. (x, y) must lie at least one pixel inside. */
ZYL_API int32_t GetTransitionCount(ByteImage image, int32_t y, int32_t x);

/* 1 when the straight path from (x0, y0) towards (x1, y1) meets a ridge pixel
 * after its start and before (x1, y1), or when the two points coincide; 0 when
 * the path crosses background only. The end point itself is not tested. */
ZYL_API int32_t PixelOnLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, ByteImage image);

ZYL_EXTERN_C_END
