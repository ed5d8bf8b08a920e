/* Matcher library preset pieces that stand before the presets: the
 * false-accept defaults the table presets register, and the image routines
 * of the card and grid-block stages. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_image.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Ensures, in order, "vn.morva_light.far.reject" 1, "vn.morva.far.reject"
 * 3, 0x522624e7 32, 0xdb4cd8b0 6, "vn.morva_light.verify.reject_far" 0,
 * 0xc1c1874d 12, "vn.morva.verify.reject_far" 9, 0x1ba6e66c 3: values set
 * before stay. 0, or the first failing write's status. */
ZYL_API int preset_register_far_defaults(MatchContext* context);

/* Image routines of the card (kind 67) and grid-block (kind 77) stages:
 * local normalisation when parameter 0x9df44d82 (grid: 0xcb0badd0), read
 * with default 1, is non-zero, else global normalisation. */
ZYL_API int stage_image_normalize(MatchContext* ctx, const uint8_t* pixels, const uint8_t* usable,
                                  int height, int width, int resolution,
                                  const SourceWindow* window, uint8_t* out, uint8_t** out_map,
                                  int* out_code);
ZYL_API int stage_image_normalize_grid(MatchContext* ctx, const uint8_t* pixels,
                                       const uint8_t* usable, int height, int width,
                                       int resolution, const SourceWindow* window, uint8_t* out,
                                       uint8_t** out_map, int* out_code);

ZYL_EXTERN_C_END
