// Rigid transforms: construction, composition, inversion, point mapping
// and the tests the enrolment and matchers make on them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_polygon.h"
#include "zylscan/matchlib_xform.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/polygon.h"
#include "matchlib/core/rigid_transform.h"

namespace zyl::matchlib {
namespace {

constexpr std::int32_t kPhaseMask = 0xFFFFFF;

// v / d rounded half away from zero. Products are formed in 64 bits so that
// offsets far outside the sensor range cannot overflow; within it the
// results equal those of 32-bit arithmetic.
std::int64_t round_div(std::int64_t v, std::int64_t d) {
  return v >= 0 ? (v + d / 2) / d : (v - d / 2) / d;
}

void destroy_transform(RigidTransform* t) { std::free(t); }

void set_angle(RigidTransform* t, std::int64_t phase) {
  t->angle = static_cast<std::int32_t>(phase & kPhaseMask);
  t->sine = zyl::matchlib::fx_sin_phase24(t->angle) >> 18;
  t->cosine = zyl::matchlib::fx_cos_phase24(t->angle) >> 18;
}

RigidTransform* make(std::int64_t dx, std::int64_t dy, std::int64_t phase, std::int32_t flag) {
  auto* t = static_cast<RigidTransform*>(ml_malloc(sizeof(RigidTransform)));
  if (!t) return nullptr;
  t->refcount = 1;
  t->dx = static_cast<std::int32_t>(dx);
  t->dy = static_cast<std::int32_t>(dy);
  set_angle(t, phase);
  t->flag = flag;
  t->destroy = destroy_transform;
  return t;
}

std::int32_t direction(const RigidTransform* t) {
  return static_cast<std::int32_t>(round_div(t->angle, 65536));
}

// Maps a pixel point; results in pixels.
void map_point(const RigidTransform* t, std::int64_t x, std::int64_t y, std::int64_t* ox,
               std::int64_t* oy) {
  *ox = round_div(t->cosine * x * 256 - t->sine * y * 256 + std::int64_t{t->dx} * 8192, 1 << 21);
  *oy = round_div(t->sine * x * 256 + t->cosine * y * 256 + std::int64_t{t->dy} * 8192, 1 << 21);
}

// Maps a point given in 1/256 pixel; results in 1/256 pixel.
void map_fine(const RigidTransform* t, std::int64_t x, std::int64_t y, std::int64_t* ox,
              std::int64_t* oy) {
  *ox = round_div(t->cosine * x - t->sine * y, 8192) + t->dx;
  *oy = round_div(t->sine * x + t->cosine * y, 8192) + t->dy;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

RigidTransform* zyl::matchlib::xform_create(int16_t x, int16_t y, uint8_t dir) {
  return make(std::int64_t{x} * 256, std::int64_t{y} * 256, std::int64_t{dir} * 65536, 0);
}

RigidTransform* zyl::matchlib::xform_create_dpi(int16_t x, int16_t y, uint8_t dir, int16_t dpi) {
  if (dpi <= 0) return nullptr;
  return make(round_div(std::int64_t{x} * 128000, dpi), round_div(std::int64_t{y} * 128000, dpi),
              std::int64_t{dir} * 65536, 0);
}

RigidTransform* zyl::matchlib::xform_create_dpi_phase(int32_t x, int32_t y, int32_t phase,
                                                      int32_t dpi) {
  if (dpi <= 0) return nullptr;
  return make(round_div(std::int64_t{x} * 128000, dpi), round_div(std::int64_t{y} * 128000, dpi),
              phase, 0);
}

RigidTransform* zyl::matchlib::xform_copy(const RigidTransform* t) {
  if (!t) return make(0, 0, 0, 0);
  return make(t->dx, t->dy, t->angle, t->flag);
}

RigidTransform* zyl::matchlib::xform_retain(RigidTransform* t) {
  if (t) ++t->refcount;
  return t;
}

void zyl::matchlib::xform_release(RigidTransform* t) {
  if (!t) return;
  if (--t->refcount == 0 && t->destroy) t->destroy(t);
}

int16_t zyl::matchlib::xform_get_dx(const RigidTransform* t) {
  return static_cast<std::int16_t>(round_div(t->dx, 256));
}
int16_t zyl::matchlib::xform_get_dy(const RigidTransform* t) {
  return static_cast<std::int16_t>(round_div(t->dy, 256));
}
int zyl::matchlib::xform_get_angle(const RigidTransform* t) { return t ? direction(t) : 0; }

void zyl::matchlib::xform_get_dpi(const RigidTransform* t, int16_t* ox, int16_t* oy, uint8_t* odir,
                                  int dpi) {
  if (!t) return;
  if (ox) *ox = static_cast<std::int16_t>(round_div(std::int64_t{dpi} * t->dx, 128000));
  if (oy) *oy = static_cast<std::int16_t>(round_div(std::int64_t{dpi} * t->dy, 128000));
  if (odir) *odir = static_cast<std::uint8_t>(direction(t));
}

extern "C" ZYL_API void xform_get_dpi_phase(const RigidTransform* t, int32_t* ox, int32_t* oy,
                                            int32_t* ophase, int32_t dpi) {
  if (!t) return;
  if (ox) *ox = static_cast<std::int32_t>(round_div(std::int64_t{dpi} * t->dx, 128000));
  if (oy) *oy = static_cast<std::int32_t>(round_div(std::int64_t{dpi} * t->dy, 128000));
  if (ophase) *ophase = t->angle;
}

RigidTransform* zyl::matchlib::xform_compose(const RigidTransform* a, const RigidTransform* b) {
  if (!a || !b) return nullptr;
  const std::int64_t dx = round_div(std::int64_t{a->cosine} * b->dx -
                                        std::int64_t{a->sine} * b->dy + std::int64_t{a->dx} * 8192,
                                    8192);
  const std::int64_t dy = round_div(std::int64_t{a->sine} * b->dx +
                                        std::int64_t{a->cosine} * b->dy + std::int64_t{a->dy} * 8192,
                                    8192);
  return make(dx, dy, std::int64_t{a->angle} + b->angle, (a->flag != 0) != (b->flag != 0) ? 1 : 0);
}

extern "C" ZYL_API RigidTransform* xform_compose_reversed(const RigidTransform* a,
                                                          const RigidTransform* b) {
  return zyl::matchlib::xform_compose(b, a);
}

RigidTransform* zyl::matchlib::xform_invert(const RigidTransform* t) {
  if (!t) return nullptr;
  const std::int64_t dx =
      round_div(-std::int64_t{t->cosine} * t->dx - std::int64_t{t->sine} * t->dy, 8192);
  const std::int64_t dy =
      round_div(std::int64_t{t->sine} * t->dx - std::int64_t{t->cosine} * t->dy, 8192);
  return make(dx, dy, -std::int64_t{t->angle}, t->flag);
}

extern "C" ZYL_API RigidTransform* xform_compose_inverse(const RigidTransform* a,
                                                         const RigidTransform* b) {
  if (!a || !b) return nullptr;
  RigidTransform* inv = zyl::matchlib::xform_invert(b);
  if (!inv) return nullptr;
  RigidTransform* r = zyl::matchlib::xform_compose(a, inv);
  zyl::matchlib::xform_release(inv);
  return r;
}

void zyl::matchlib::xform_apply(const RigidTransform* t, int16_t x, int16_t y, int32_t* ox,
                                int32_t* oy) {
  std::int64_t mx = x, my = y;
  if (t) map_point(t, x, y, &mx, &my);
  if (ox) *ox = static_cast<std::int32_t>(mx);
  if (oy) *oy = static_cast<std::int32_t>(my);
}

void zyl::matchlib::xform_apply_inverse(const RigidTransform* t, int16_t x, int16_t y, int32_t* ox,
                                        int32_t* oy) {
  std::int64_t mx = x, my = y;
  if (t) {
    const std::int64_t u = std::int64_t{x} * 256 - t->dx;
    const std::int64_t v = std::int64_t{y} * 256 - t->dy;
    mx = round_div(t->cosine * u + t->sine * v, 1 << 21);
    my = round_div(t->cosine * v - t->sine * u, 1 << 21);
  }
  if (ox) *ox = static_cast<std::int32_t>(mx);
  if (oy) *oy = static_cast<std::int32_t>(my);
}

extern "C" ZYL_API void xform_bounds(const RigidTransform* t, int16_t width, int16_t height,
                                     int16_t* min_x, int16_t* max_x, int16_t* min_y,
                                     int16_t* max_y) {
  const std::int16_t cx[4] = {0, 0, width, width};
  const std::int16_t cy[4] = {0, height, 0, height};
  std::int32_t lox = 0, hix = 0, loy = 0, hiy = 0;
  for (int i = 0; i < 4; ++i) {
    std::int32_t x, y;
    zyl::matchlib::xform_apply(t, cx[i], cy[i], &x, &y);
    if (i == 0 || x < lox) lox = x;
    if (i == 0 || x > hix) hix = x;
    if (i == 0 || y < loy) loy = y;
    if (i == 0 || y > hiy) hiy = y;
  }
  if (min_x) *min_x = static_cast<std::int16_t>(lox);
  if (max_x) *max_x = static_cast<std::int16_t>(hix);
  if (min_y) *min_y = static_cast<std::int16_t>(loy);
  if (max_y) *max_y = static_cast<std::int16_t>(hiy);
}

int zyl::matchlib::xform_within(const RigidTransform* t, uint16_t shift, uint8_t angle_limit) {
  if (!t) return 0;
  const int a = static_cast<std::int8_t>(direction(t));
  if (std::abs(a) > angle_limit) return 0;
  const std::int64_t dx = zyl::matchlib::xform_get_dx(t), dy = zyl::matchlib::xform_get_dy(t);
  return std::int64_t{shift} * shift >= dx * dx + dy * dy ? 1 : 0;
}

extern "C" ZYL_API int xform_pair_within(const RigidTransform* a, const RigidTransform* b,
                                         uint16_t shift, uint8_t angle_limit) {
  if (!a || !b) return 0;
  const int d = static_cast<std::int8_t>(direction(a) - direction(b));
  if (std::abs(d) > angle_limit) return 0;
  const std::int64_t dx = round_div(std::int64_t{a->dx} - b->dx, 256);
  const std::int64_t dy = round_div(std::int64_t{a->dy} - b->dy, 256);
  return std::int64_t{shift} * shift >= dx * dx + dy * dy ? 1 : 0;
}

int zyl::matchlib::xform_corner_distance(const RigidTransform* a, const RigidTransform* b,
                                         int16_t height, int16_t width) {
  if (!a || !b || height < 1 || width < 1) return -1;
  if (a == b) return 0;
  const std::int64_t cx[4] = {0, width, 0, width};
  const std::int64_t cy[4] = {0, 0, height, height};
  std::uint64_t sum = 0;
  for (int i = 0; i < 4; ++i) {
    std::int64_t ax, ay, bx, by;
    map_fine(a, cx[i] * 256, cy[i] * 256, &ax, &ay);
    map_fine(b, cx[i] * 256, cy[i] * 256, &bx, &by);
    sum += static_cast<std::uint64_t>((ax - bx) * (ax - bx) + (ay - by) * (ay - by));
  }
  return static_cast<int>(
      zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(sum / 0x40000)));
}

int zyl::matchlib::xform_overlap_percent(const RigidTransform* t, int height, int width, int dpi) {
  if (height < 1 || width < 1) return -1;
  // A resolution that is not positive is taken as the library's 500 dpi.
  if (dpi <= 0) dpi = 500;
  const std::int64_t w = (std::int64_t{width} * 500 + dpi / 2) / dpi;
  const std::int64_t h = (std::int64_t{height} * 500 + dpi / 2) / dpi;
  // A rectangle that shrinks below one pixel at 500 dpi has no area to share.
  if (w < 1 || h < 1 || w > 32767 || h > 32767) return w < 1 || h < 1 ? 0 : -1;
  const PolyPoint rect[4] = {{0, 0},
                             {static_cast<std::int16_t>(w), 0},
                             {static_cast<std::int16_t>(w), static_cast<std::int16_t>(h)},
                             {0, static_cast<std::int16_t>(h)}};
  PolyPoint mapped[4];
  for (int i = 0; i < 4; ++i) {
    std::int32_t x, y;
    zyl::matchlib::xform_apply(t, rect[i].x, rect[i].y, &x, &y);
    mapped[i] = PolyPoint{static_cast<std::int16_t>(std::clamp(x, -32768, 32767)),
                          static_cast<std::int16_t>(std::clamp(y, -32768, 32767))};
  }
  Polygon* pa = zyl::matchlib::polygon_convex_hull(rect, 4);
  Polygon* pb = zyl::matchlib::polygon_convex_hull(mapped, 4);
  Polygon* common = pa && pb ? zyl::matchlib::polygon_intersect(pa, pb) : nullptr;
  const int percent =
      common ? static_cast<int>(zyl::matchlib::polygon_area(common) * 100 / w / h) : -1;
  zyl::matchlib::polygon_free(common);
  zyl::matchlib::polygon_free(pa);
  zyl::matchlib::polygon_free(pb);
  return percent;
}

extern "C" ZYL_API int xform_rotated_offset_x(const RigidTransform* t) {
  if (!t) return 0;
  const int a = -direction(t) & 0xff;
  return (zyl::matchlib::xform_get_dx(t) * zyl::matchlib::fx_cos256(a) -
          zyl::matchlib::xform_get_dy(t) * zyl::matchlib::fx_sin256(a)) >>
         14;
}

extern "C" ZYL_API int xform_rotated_offset_y(const RigidTransform* t) {
  if (!t) return 0;
  const int a = -direction(t) & 0xff;
  return (zyl::matchlib::xform_get_dx(t) * zyl::matchlib::fx_sin256(a) +
          zyl::matchlib::xform_get_dy(t) * zyl::matchlib::fx_cos256(a)) >>
         14;
}

extern "C" ZYL_API int xform_same(const RigidTransform* a, const RigidTransform* b) {
  if (!a || !b) return 0;
  auto px = [](std::int32_t v) {
    return static_cast<std::int16_t>(round_div(std::int64_t{v} * 500, 128000));
  };
  return px(a->dx) == px(b->dx) && px(a->dy) == px(b->dy) &&
                 static_cast<std::uint8_t>(direction(a)) == static_cast<std::uint8_t>(direction(b))
             ? 1
             : 0;
}

void zyl::matchlib::xform_set_flag(RigidTransform* t, int32_t flag) {
  if (t) t->flag = flag;
}
int32_t zyl::matchlib::xform_get_flag(const RigidTransform* t) { return t ? t->flag : 0; }
void zyl::matchlib::xform_toggle_flag(RigidTransform* t) {
  if (t) t->flag = t->flag == 0 ? 1 : 0;
}

extern "C" {

ZYL_API RigidTransform* xform_create(int16_t x, int16_t y, uint8_t dir) {
  return zyl::matchlib::xform_create(x, y, dir);
}
ZYL_API RigidTransform* xform_create_dpi(int16_t x, int16_t y, uint8_t dir, int16_t dpi) {
  return zyl::matchlib::xform_create_dpi(x, y, dir, dpi);
}
ZYL_API RigidTransform* xform_create_dpi_phase(int32_t x, int32_t y, int32_t phase, int32_t dpi) {
  return zyl::matchlib::xform_create_dpi_phase(x, y, phase, dpi);
}
ZYL_API RigidTransform* xform_copy(const RigidTransform* t) { return zyl::matchlib::xform_copy(t); }
ZYL_API RigidTransform* xform_retain(RigidTransform* t) { return zyl::matchlib::xform_retain(t); }
ZYL_API void xform_release(RigidTransform* t) { zyl::matchlib::xform_release(t); }
ZYL_API int16_t xform_get_dx(const RigidTransform* t) { return zyl::matchlib::xform_get_dx(t); }
ZYL_API int16_t xform_get_dy(const RigidTransform* t) { return zyl::matchlib::xform_get_dy(t); }
ZYL_API int xform_get_angle(const RigidTransform* t) { return zyl::matchlib::xform_get_angle(t); }
ZYL_API void xform_get_dpi(const RigidTransform* t, int16_t* ox, int16_t* oy, uint8_t* odir,
                           int dpi) {
  zyl::matchlib::xform_get_dpi(t, ox, oy, odir, dpi);
}
ZYL_API RigidTransform* xform_compose(const RigidTransform* a, const RigidTransform* b) {
  return zyl::matchlib::xform_compose(a, b);
}
ZYL_API RigidTransform* xform_invert(const RigidTransform* t) {
  return zyl::matchlib::xform_invert(t);
}
ZYL_API void xform_apply(const RigidTransform* t, int16_t x, int16_t y, int32_t* ox, int32_t* oy) {
  zyl::matchlib::xform_apply(t, x, y, ox, oy);
}
ZYL_API void xform_apply_inverse(const RigidTransform* t, int16_t x, int16_t y, int32_t* ox,
                                 int32_t* oy) {
  zyl::matchlib::xform_apply_inverse(t, x, y, ox, oy);
}
ZYL_API int xform_within(const RigidTransform* t, uint16_t shift, uint8_t angle_limit) {
  return zyl::matchlib::xform_within(t, shift, angle_limit);
}
ZYL_API int xform_corner_distance(const RigidTransform* a, const RigidTransform* b, int16_t height,
                                  int16_t width) {
  return zyl::matchlib::xform_corner_distance(a, b, height, width);
}
ZYL_API int xform_overlap_percent(const RigidTransform* t, int height, int width, int dpi) {
  return zyl::matchlib::xform_overlap_percent(t, height, width, dpi);
}
ZYL_API void xform_set_flag(RigidTransform* t, int32_t flag) {
  zyl::matchlib::xform_set_flag(t, flag);
}
ZYL_API int32_t xform_get_flag(const RigidTransform* t) { return zyl::matchlib::xform_get_flag(t); }
ZYL_API void xform_toggle_flag(RigidTransform* t) { zyl::matchlib::xform_toggle_flag(t); }

}  // extern "C"
