/* Matcher library mask plane: the reference-counted per-pixel flag plane of
 * a grey image (one byte per pixel, row after row), the tests on its bits,
 * and the nine settings from which the region-of-interest and background
 * bits are built. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct MaskPlane MaskPlane;
typedef struct GrayImage GrayImage;

/* Cell bits: why a pixel must not be used. */
enum MaskBits {
  MASK_OUTSIDE_ROI = 0x01,
  MASK_BACKGROUND = 0x02,
  MASK_OUTSIDE_SOURCE = 0x10,
  MASK_ACCUMULATOR_WEAK = 0x20,
  MASK_ACCUMULATOR_STRONG = 0x40,
  MASK_EXCLUSION = 0x13, /* not part of the finger area */
  MASK_INVALID = 0x53    /* must not be used for measurement */
};

/* The settings the region-of-interest and background bits are built from. */
typedef struct MaskSettings {
  int32_t circle_radius;     /* pixels; 0 = no circle */
  int32_t circle_column;
  int32_t circle_row;
  int32_t rect_width;
  int32_t rect_height;
  int32_t rect_left;
  int32_t rect_top;
  int32_t variance_threshold; /* 0 or less means 64 */
  int32_t vote_percent;       /* 0 or less means 75 */
} MaskSettings;

/* ---- plane objects ---- */
ZYL_API MaskPlane* mask_create(int height, int width);
ZYL_API MaskPlane* mask_retain(MaskPlane* plane);
ZYL_API void mask_release(MaskPlane* plane);
ZYL_API void mask_destroy(MaskPlane* plane);
ZYL_API MaskPlane* mask_clone(const MaskPlane* plane);
ZYL_API int mask_equal(const MaskPlane* a, const MaskPlane* b);
ZYL_API int mask_height(const MaskPlane* plane);
ZYL_API int mask_width(const MaskPlane* plane);
/* The flag bytes (height x width), null for a null plane. */
ZYL_API uint8_t* mask_cells(const MaskPlane* plane);

/* ---- cell operations (a null plane or map is ignored; maps are
 * height x width bytes; an index outside the plane is ignored or
 * answers 0) ---- */
ZYL_API void mask_set_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map);
ZYL_API void mask_set_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map);
ZYL_API void mask_assign_bits_where_set(MaskPlane* plane, int bits, const uint8_t* map);
ZYL_API void mask_assign_bits_where_clear(MaskPlane* plane, int bits, const uint8_t* map);
ZYL_API void mask_set_outside_where_set(MaskPlane* plane, const uint8_t* map);
ZYL_API void mask_assign_outside(MaskPlane* plane, const uint8_t* map);
ZYL_API void mask_clear_bits(MaskPlane* plane, int bits);
ZYL_API void mask_extract_bits(const MaskPlane* plane, int bits, uint8_t* out_map);
ZYL_API void mask_set_cell_bits(MaskPlane* plane, int bits, int index);
ZYL_API int mask_test_bits(const MaskPlane* plane, int bits, int index);
ZYL_API int mask_exclusion_bits(const MaskPlane* plane, int index);
ZYL_API int mask_cell_is_clear(const MaskPlane* plane, int index);
/* 0, or 2 when the plane or the map is null. */
ZYL_API int mask_to_valid_bytes(const MaskPlane* plane, uint8_t* out_map);
ZYL_API int mask_to_region_bytes(const MaskPlane* plane, uint8_t* out_map);
ZYL_API int mask_to_display_bytes(const MaskPlane* plane, uint8_t* out_map);

/* ---- percentages (0 for a plane without cells) ---- */
ZYL_API int mask_bits_percent(const MaskPlane* plane, int bits);
ZYL_API int mask_bits_percent_in_region(const MaskPlane* plane, int bits);
ZYL_API int mask_valid_percent(const MaskPlane* plane);
ZYL_API int image_background_percent(const GrayImage* image);
ZYL_API int image_mask_bit40_percent(const GrayImage* image);
ZYL_API int image_usable_percent(const GrayImage* image);

/* ---- serialisation (size-or-write) ---- */
ZYL_API uint32_t mask_write(uint8_t* out, const MaskPlane* plane);
/* Answers the bytes consumed (1 for no plane, 5 + cells for a plane); 0
 * with *out = null when memory runs out. The caller vouches for the bytes;
 * readers of untrusted bytes use mask_read_bounded. */
ZYL_API uint32_t mask_read(const uint8_t* in, MaskPlane** out);
/* As mask_read within `available` bytes; 0 with *out = null when the record
 * does not fit in them. */
ZYL_API uint32_t mask_read_bounded(const uint8_t* in, uint32_t available, MaskPlane** out);

/* ---- derived planes (new, one reference; null on memory failure) ---- */
/* Nearest-cell resampling to the new size. */
ZYL_API MaskPlane* mask_resize(const MaskPlane* plane, int height, int width);
/* The window at the offsets (negative allowed); cells outside are 0. */
ZYL_API MaskPlane* mask_window(const MaskPlane* plane, int height, int width, int row_offset,
                               int column_offset);
/* A larger plane of 0x10 cells holding the old ones centred; null when a
 * side shrinks. */
ZYL_API MaskPlane* mask_extend(const MaskPlane* plane, int height, int width);
/* Reorientation code of img_flip_rotate_u8 (4 and 5 exchange the sides). */
ZYL_API MaskPlane* mask_reorient(const MaskPlane* plane, int code);
/* Turned by a direction of 256 steps a turn; cells from outside the plane
 * carry 0x10. */
ZYL_API MaskPlane* mask_rotate(const MaskPlane* plane, int direction);
/* A copy of base with other pasted at the offsets (nothing transparent). */
ZYL_API MaskPlane* mask_paste(const MaskPlane* base, const MaskPlane* other, int row_offset,
                              int column_offset);

/* ---- settings and building on images ---- */
/* 2 when the image or the output is null. */
ZYL_API int mask_settings_from_params(const GrayImage* image, const MatchContext* ctx,
                                      MaskSettings* out);
/* Builds the region bits (circle and/or rectangle; when not built yet or
 * forced) and the background bits (local-variance segmentation); bits are
 * only added. 0, 2 for null arguments or an image without pixels, 9 when
 * memory runs out (the built flags stay as they were). */
ZYL_API int image_build_masks(GrayImage* image, const MaskSettings* settings, int force);
ZYL_API int image_build_masks_from_params(GrayImage* image, const MatchContext* ctx);
ZYL_API int image_rebuild_masks(GrayImage* image);
/* Background bits with threshold 64 and vote 75 %, nothing else. */
ZYL_API int image_build_background_default(GrayImage* image);
/* which 0: bit 0x01, else 0x02. The first assigns the bit where the map is
 * 0 and clears it elsewhere, the second only ORs it where the map is 0. */
ZYL_API int image_mask_from_map(GrayImage* image, const uint8_t* map, int which);
ZYL_API int image_mask_or_from_map(GrayImage* image, const uint8_t* map, int which);
/* Writes 0 into every byte outside the ellipse centred on the map. */
ZYL_API void mask_ellipse_map(uint8_t* map, int height, int width, int row_semi_axis,
                              int column_semi_axis);

ZYL_EXTERN_C_END
