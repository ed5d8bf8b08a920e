/* Matcher library contour thinning of 0/1 byte images (0 = line or object
 * pixel, 1 = background): every object outline is traced once and then
 * peeled with a deletion table, pixels whose removal would cut a line are
 * restored, and changed outlines are traced again until a pass deletes
 * nothing. The result is lines one pixel wide with their connectivity and
 * holes kept.
 *
 * Step directions are packed as (column step << 16) + row step with both
 * steps signed: up-left -1, up 0xFFFF, up-right 0x1FFFF, right 0x10000,
 * down-right 0x10001, down 1, down-left -0xFFFF, left -0x10000, 0 none. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  THIN_UP_LEFT = -1,
  THIN_UP = 0xFFFF,
  THIN_UP_RIGHT = 0x1FFFF,
  THIN_RIGHT = 0x10000,
  THIN_DOWN_RIGHT = 0x10001,
  THIN_DOWN = 1,
  THIN_DOWN_LEFT = -0xFFFF,
  THIN_LEFT = -0x10000
};

/* Thins `image` (height rows of width bytes) in place. The image must carry
 * a background frame one pixel wide. 0; 2 for a null image, a negative
 * size or an object pixel on the frame; 9 out of memory (the image may then
 * be partly thinned). Images of at most 3 rows are left as they are. */
ZYL_API int bilevel_thin(uint8_t* image, int height, int width);

/* Next step of an outline trace at `pixel` (inside a framed image of rows
 * `width` bytes) after a step in direction `previous`: the first object
 * neighbour in clockwise order, starting one position counter-clockwise of
 * an axis direction (six positions) or two of a diagonal one (seven); 0
 * when none. */
ZYL_API int contour_next_step(const uint8_t* pixel, int width, int previous);

/* 1 when `pixel` is an object pixel whose eight neighbours are background. */
ZYL_API int pixel_is_isolated(const uint8_t* pixel, int width);

ZYL_EXTERN_C_END
