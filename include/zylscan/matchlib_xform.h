/* Matcher library rigid transform: a rotation followed by a translation,
 * offsets in 1/128000 inch (1/256 pixel at 500 dpi), the angle as a 24-bit
 * phase (0x1000000 a turn) with Q13 sine and cosine recomputed from it. A
 * point p maps to (cos * x - sin * y) / 8192 + dx, (sin * x + cos * y) / 8192 + dy. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct RigidTransform RigidTransform;
struct RigidTransform {
  int32_t refcount;
  int32_t dx;
  int32_t dy;
  int32_t angle; /* 0 .. 0xFFFFFF */
  int32_t sine;  /* Q13 */
  int32_t cosine;
  int32_t flag;
  void (*destroy)(RigidTransform* t);
};

ZYL_API RigidTransform* xform_create(int16_t x, int16_t y, uint8_t direction);
ZYL_API RigidTransform* xform_create_dpi(int16_t x, int16_t y, uint8_t direction, int16_t dpi);
ZYL_API RigidTransform* xform_create_dpi_phase(int32_t x, int32_t y, int32_t phase, int32_t dpi);
/* A copy; for null the identity. */
ZYL_API RigidTransform* xform_copy(const RigidTransform* t);
ZYL_API RigidTransform* xform_retain(RigidTransform* t);
ZYL_API void xform_release(RigidTransform* t);
ZYL_API int16_t xform_get_dx(const RigidTransform* t);
ZYL_API int16_t xform_get_dy(const RigidTransform* t);
ZYL_API int xform_get_angle(const RigidTransform* t);
ZYL_API void xform_get_dpi(const RigidTransform* t, int16_t* out_x, int16_t* out_y,
                           uint8_t* out_direction, int dpi);
ZYL_API void xform_get_dpi_phase(const RigidTransform* t, int32_t* out_x, int32_t* out_y,
                                 int32_t* out_phase, int32_t dpi);
/* a after b (b applied first). */
ZYL_API RigidTransform* xform_compose(const RigidTransform* a, const RigidTransform* b);
ZYL_API RigidTransform* xform_compose_reversed(const RigidTransform* a, const RigidTransform* b);
ZYL_API RigidTransform* xform_invert(const RigidTransform* t);
ZYL_API RigidTransform* xform_compose_inverse(const RigidTransform* a, const RigidTransform* b);
ZYL_API void xform_apply(const RigidTransform* t, int16_t x, int16_t y, int32_t* out_x,
                         int32_t* out_y);
ZYL_API void xform_apply_inverse(const RigidTransform* t, int16_t x, int16_t y, int32_t* out_x,
                                 int32_t* out_y);
ZYL_API void xform_bounds(const RigidTransform* t, int16_t width, int16_t height, int16_t* min_x,
                          int16_t* max_x, int16_t* min_y, int16_t* max_y);
ZYL_API int xform_within(const RigidTransform* t, uint16_t shift_limit, uint8_t angle_limit);
ZYL_API int xform_pair_within(const RigidTransform* a, const RigidTransform* b,
                              uint16_t shift_limit, uint8_t angle_limit);
ZYL_API int xform_corner_distance(const RigidTransform* a, const RigidTransform* b, int16_t height,
                                  int16_t width);
ZYL_API int xform_overlap_percent(const RigidTransform* t, int height, int width, int dpi);
ZYL_API int xform_rotated_offset_x(const RigidTransform* t);
ZYL_API int xform_rotated_offset_y(const RigidTransform* t);
ZYL_API int xform_same(const RigidTransform* a, const RigidTransform* b);
ZYL_API void xform_set_flag(RigidTransform* t, int32_t flag);
ZYL_API int32_t xform_get_flag(const RigidTransform* t);
ZYL_API void xform_toggle_flag(RigidTransform* t);

ZYL_EXTERN_C_END
