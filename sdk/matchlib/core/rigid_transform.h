// The functions of rigid transform that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_xform.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

RigidTransform* xform_create(int16_t x, int16_t y, uint8_t dir);
RigidTransform* xform_create_dpi(int16_t x, int16_t y, uint8_t dir, int16_t dpi);
RigidTransform* xform_create_dpi_phase(int32_t x, int32_t y, int32_t phase, int32_t dpi);
RigidTransform* xform_copy(const RigidTransform* t);
RigidTransform* xform_retain(RigidTransform* t);
void xform_release(RigidTransform* t);
int16_t xform_get_dx(const RigidTransform* t);
int16_t xform_get_dy(const RigidTransform* t);
int xform_get_angle(const RigidTransform* t);
void xform_get_dpi(const RigidTransform* t, int16_t* ox, int16_t* oy, uint8_t* odir, int dpi);
RigidTransform* xform_compose(const RigidTransform* a, const RigidTransform* b);
RigidTransform* xform_invert(const RigidTransform* t);
void xform_apply(const RigidTransform* t, int16_t x, int16_t y, int32_t* ox, int32_t* oy);
void xform_apply_inverse(const RigidTransform* t, int16_t x, int16_t y, int32_t* ox, int32_t* oy);
int xform_within(const RigidTransform* t, uint16_t shift, uint8_t angle_limit);
int xform_corner_distance(const RigidTransform* a, const RigidTransform* b, int16_t height,
                          int16_t width);
int xform_overlap_percent(const RigidTransform* t, int height, int width, int dpi);
void xform_set_flag(RigidTransform* t, int32_t flag);
int32_t xform_get_flag(const RigidTransform* t);
void xform_toggle_flag(RigidTransform* t);

}  // namespace zyl::matchlib
