// Rigid transforms.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>

#include "zylscan/matchlib_xform.h"

namespace {

struct Owned {
  RigidTransform* t;
  explicit Owned(RigidTransform* p) : t(p) {}
  ~Owned() { xform_release(t); }
  RigidTransform* operator->() const { return t; }
};

TEST(RigidTransform, ConstructorsAndGetters) {
  Owned t(xform_create(3, -2, 64));
  EXPECT_EQ(t->dx, 768);
  EXPECT_EQ(t->dy, -512);
  EXPECT_EQ(t->angle, 0x400000);
  EXPECT_EQ(xform_get_angle(t.t), 64);
  EXPECT_EQ(xform_get_dx(t.t), 3);
  EXPECT_EQ(xform_get_dy(t.t), -2);
  EXPECT_EQ(t->cosine, 0);
  EXPECT_EQ(t->sine, 8191);

  Owned id(xform_copy(nullptr));
  EXPECT_EQ(id->cosine, 8191);  // the Q31 value shifted by 18
  EXPECT_EQ(id->sine, 0);
  EXPECT_EQ(xform_get_angle(nullptr), 0);

  Owned late(xform_create_dpi_phase(0, 0, 0xFF8000, 500));
  EXPECT_EQ(xform_get_angle(late.t), 256);
  uint8_t dir = 9;
  xform_get_dpi(late.t, nullptr, nullptr, &dir, 500);
  EXPECT_EQ(dir, 0);

  // Offsets given at 1000 dpi read back halved at 500 dpi.
  Owned fine(xform_create_dpi(101, -40, 0, 1000));
  int16_t x = 0, y = 0;
  xform_get_dpi(fine.t, &x, &y, nullptr, 500);
  EXPECT_EQ(x, 51);  // 50.5 rounds away from zero
  EXPECT_EQ(y, -20);
  int32_t px = 0, py = 0, phase = 0;
  xform_get_dpi_phase(fine.t, &px, &py, &phase, 1000);
  EXPECT_EQ(px, 101);
  EXPECT_EQ(py, -40);
  EXPECT_EQ(xform_create_dpi(1, 1, 0, 0), nullptr);
  EXPECT_EQ(xform_create_dpi_phase(1, 1, 0, -5), nullptr);
  // Large offsets do not overflow: 20000 px at 500 dpi.
  Owned far(xform_create_dpi(20000, -20000, 0, 500));
  EXPECT_EQ(far->dx, 20000 * 256);
}

TEST(RigidTransform, ComposesAngles) {
  Owned q(xform_create(0, 0, 64));
  Owned half(xform_compose(q.t, q.t));
  EXPECT_EQ(half->angle, 0x800000);
  EXPECT_EQ(xform_get_angle(half.t), 128);
  Owned a(xform_create_dpi_phase(0, 0, 0xFFFFFF, 500));
  Owned b(xform_create_dpi_phase(0, 0, 1, 500));
  Owned zero(xform_compose(a.t, b.t));
  EXPECT_EQ(zero->angle, 0);
  EXPECT_EQ(xform_compose(a.t, nullptr), nullptr);
  // b first, then a: a point goes through the shift, then the quarter turn.
  Owned shift(xform_create(10, 0, 0));
  Owned turn_after_shift(xform_compose(q.t, shift.t));
  int32_t x, y;
  xform_apply(turn_after_shift.t, 0, 0, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 10);
  Owned reversed(xform_compose_reversed(q.t, shift.t));
  xform_apply(reversed.t, 0, 0, &x, &y);
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 0);
  // Flags combine by exclusive or.
  xform_set_flag(q.t, 5);
  xform_set_flag(shift.t, 1);
  Owned both(xform_compose(q.t, shift.t));
  EXPECT_EQ(both->flag, 0);
  Owned inv(xform_invert(q.t));
  EXPECT_EQ(inv->flag, 5);
}

TEST(RigidTransform, InverseUndoesWithinRounding) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> off(-300 * 256, 300 * 256), ph(0, 0xFFFFFF);
  for (int i = 0; i < 200; ++i) {
    Owned t(xform_create_dpi_phase(0, 0, ph(rng), 500));
    t->dx = off(rng);
    t->dy = off(rng);
    Owned inv(xform_invert(t.t));
    Owned id(xform_compose(inv.t, t.t));
    // Q13 sines and cosines lose a unit in 8192: whole pixels stay.
    EXPECT_LE(std::abs(xform_get_dx(id.t)), 1);
    EXPECT_LE(std::abs(xform_get_dy(id.t)), 1);
    EXPECT_EQ(id->angle, 0);
    Owned none(xform_compose_inverse(t.t, t.t));
    EXPECT_LE(std::abs(xform_get_dx(none.t)), 1);
    EXPECT_LE(std::abs(xform_get_dy(none.t)), 1);
    // Mapping a point there and back returns it within a pixel.
    const int16_t px = static_cast<int16_t>(off(rng) / 256), py = static_cast<int16_t>(off(rng) / 256);
    int32_t mx, my, bx, by;
    xform_apply(t.t, px, py, &mx, &my);
    xform_apply_inverse(t.t, static_cast<int16_t>(mx), static_cast<int16_t>(my), &bx, &by);
    EXPECT_LE(std::abs(bx - px), 1);
    EXPECT_LE(std::abs(by - py), 1);
  }
}

TEST(RigidTransform, BoundsOfAQuarterTurn) {
  Owned t(xform_create(100, 0, 64));
  int16_t x0, x1, y0, y1;
  xform_bounds(t.t, 40, 30, &x0, &x1, &y0, &y1);
  EXPECT_EQ(x0, 70);
  EXPECT_EQ(x1, 100);
  EXPECT_EQ(y0, 0);
  EXPECT_EQ(y1, 40);
}

TEST(RigidTransform, SmallnessTests) {
  struct Case {
    int16_t x, y;
    uint8_t dir;
    uint16_t shift;
    uint8_t angle;
    int within;
  } cases[] = {
      {0, 0, 250, 0, 6, 1},  // direction 250 is -6
      {0, 0, 250, 0, 5, 0},  {3, 4, 0, 5, 0, 1},  {3, 4, 0, 4, 255, 0},
      {-3, -4, 6, 5, 6, 1},  {0, 0, 128, 100, 127, 0},
  };
  for (const Case& c : cases) {
    Owned t(xform_create(c.x, c.y, c.dir));
    EXPECT_EQ(xform_within(t.t, c.shift, c.angle), c.within) << int(c.dir) << " " << c.shift;
  }
  EXPECT_EQ(xform_within(nullptr, 100, 100), 0);
  Owned a(xform_create(10, 10, 2)), b(xform_create(13, 14, 254));
  EXPECT_EQ(xform_pair_within(a.t, b.t, 5, 4), 1);
  EXPECT_EQ(xform_pair_within(a.t, b.t, 4, 4), 0);
  EXPECT_EQ(xform_pair_within(a.t, b.t, 5, 3), 0);
  EXPECT_EQ(xform_pair_within(a.t, nullptr, 5, 3), 0);
}

TEST(RigidTransform, CornerDistanceAndSameness) {
  Owned a(xform_create(0, 0, 0)), b(xform_create(3, 4, 0)), c(xform_copy(a.t));
  EXPECT_EQ(xform_corner_distance(a.t, a.t, 100, 100), 0);
  EXPECT_EQ(xform_corner_distance(a.t, c.t, 100, 100), 0);
  EXPECT_EQ(xform_corner_distance(a.t, b.t, 100, 100), 5);
  EXPECT_EQ(xform_corner_distance(a.t, b.t, 0, 100), -1);
  EXPECT_EQ(xform_corner_distance(nullptr, b.t, 10, 10), -1);
  // A half turn about the origin moves the corners of a 30 x 40 rectangle
  // by twice their distances: sqrt((0 + 80^2 + 60^2 + 100^2) / 4) = 70.7.
  Owned h(xform_create(0, 0, 128));
  EXPECT_EQ(xform_corner_distance(a.t, h.t, 30, 40), 71);

  EXPECT_EQ(xform_same(a.t, c.t), 1);
  EXPECT_EQ(xform_same(a.t, b.t), 0);
  EXPECT_EQ(xform_same(a.t, nullptr), 0);
  Owned sub(xform_create_dpi_phase(0, 0, 0x7FFF, 500));  // rounds to direction 0
  sub->dx = 100;  // below half a pixel
  EXPECT_EQ(xform_same(a.t, sub.t), 1);
}

TEST(RigidTransform, OverlapPercent) {
  struct Case {
    int16_t x, y;
    uint8_t dir;
    int h, w, dpi, percent;
  } cases[] = {
      {0, 0, 0, 100, 100, 500, 100}, {100, 0, 0, 100, 100, 500, 0}, {50, 0, 0, 100, 100, 500, 50},
      {25, 50, 0, 100, 100, 500, 37}, {0, 0, 0, 100, 200, 0, 100},  {50, 0, 0, 100, 200, 1000, 50}, {100, 0, 0, 100, 200, 1000, 0},
  };
  for (const Case& c : cases) {
    Owned t(xform_create(c.x, c.y, c.dir));
    EXPECT_EQ(xform_overlap_percent(t.t, c.h, c.w, c.dpi), c.percent) << c.x << " " << c.y;
  }
  EXPECT_EQ(xform_overlap_percent(nullptr, 50, 60, 500), 100);
  EXPECT_EQ(xform_overlap_percent(nullptr, 0, 60, 500), -1);
  // Half a turn about the centre of a square keeps it whole.
  Owned turn(xform_create(100, 100, 128));
  EXPECT_EQ(xform_overlap_percent(turn.t, 100, 100, 500), 100);
}

TEST(RigidTransform, RotatedOffsetAndFlags) {
  Owned t(xform_create(10, 0, 64));
  EXPECT_EQ(xform_rotated_offset_x(t.t), 0);
  EXPECT_EQ(xform_rotated_offset_y(t.t), -10);
  Owned s(xform_create(7, -3, 0));
  EXPECT_EQ(xform_rotated_offset_x(s.t), 7);
  EXPECT_EQ(xform_rotated_offset_y(s.t), -3);
  xform_set_flag(s.t, 7);
  xform_toggle_flag(s.t);
  EXPECT_EQ(xform_get_flag(s.t), 0);
  xform_toggle_flag(s.t);
  EXPECT_EQ(xform_get_flag(s.t), 1);
  EXPECT_EQ(xform_get_flag(nullptr), 0);
  EXPECT_EQ(xform_retain(s.t), s.t);
  EXPECT_EQ(s->refcount, 2);
  xform_release(s.t);
}

}  // namespace
