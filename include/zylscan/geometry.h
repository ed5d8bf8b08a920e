/* Direction unit, lookup tables and integer geometry of the skeleton engine.
 *
 * Direction: 0..239, one step 1.5 degrees, from the +x axis (columns to the
 * right) towards +y (rows downwards). Orientation: 0..119 in the same step. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* round(atan2(dy, dx) * 120 / pi) for dy, dx = 0..49; [0][0] = 60. */
ZYL_API extern const int32_t atans[50][50];
/* sqrs[i] = i * i for i = 0..8192. */
ZYL_API extern const int32_t sqrs[8193];
/* round(10000 * cos(i * 1.5 deg)), round(10000 * sin(i * 1.5 deg)). */
ZYL_API extern const int32_t cos_x10E4[240];
ZYL_API extern const int32_t sin_x10E4[240];
/* Weight in percent per orientation (100 axis-parallel .. 78 diagonal). */
ZYL_API extern const int32_t dir_koefs[120];

/* Direction 0..239 of the line from (x0, y0) to (x1, y1); 180 for a point. */
ZYL_API int32_t ComputeLineDirection(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
/* Integer length of (dx, dy), dx, dy >= 0: the integer square root with its
 * lowest bit set; 8193 when out of range. */
ZYL_API int32_t ComputeDistance(int32_t dx, int32_t dy);
ZYL_API int32_t ComputeDistance3D(int32_t a, int32_t b, int32_t c);

ZYL_EXTERN_C_END
