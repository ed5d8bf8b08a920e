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

/* One row of the engine preset table: output format; most views (A), the
 * byte field that defaults to 32 (B) and the candidate budget; the two
 * preset-only fields (D, E); F (its low byte counts); sensor size class;
 * G (always 1); H (first value of the quality-table entry). */
typedef struct AlgorithmPreset {
  int32_t format;
  uint8_t most_views;
  uint8_t byte_b;
  uint8_t budget;
  int32_t d;
  int32_t e;
  int32_t f;
  int32_t size_class;
  int32_t g;
  int32_t h;
} AlgorithmPreset;

enum { PRESET_TABLE_ROWS = 13 };

/* Row 0..12 of the preset table, or null. */
ZYL_API const AlgorithmPreset* preset_table_row(int row);
/* The row's first (which 0) or second (which 1) option list: values 0, 1,
 * 2 in order for each switch that is on; answers the count (0..3), -1 for
 * a row or list outside the table. */
ZYL_API int preset_option_list(int row, int which, int32_t out[3]);

ZYL_EXTERN_C_END
