// Synthetic type-line records for matcher tests: random minutiae over a
// smooth orientation field, and copies of the same finger turned and moved.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

#include "zylscan/typeline_match.h"
#include "zylscan/typeline_template.h"

namespace zyl::test {

using Template = std::vector<std::uint8_t>;

struct Finger {
  unsigned seed = 1;
  int minutiae = 30;
  int size = 192;        // image side in pixels
  bool core = true;      // one core at the centre
  int quality = 45;      // quality of every minutia
  int pattern = 1;
  int density = 200;
  int frequency = 10;
  int jitter = 0;        // position noise of a moved copy, pixels
  unsigned noise = 0;    // seed of that noise
  int spurious = 0;      // extra minutiae of this impression only
  int dropped = 0;       // minutiae of the finger this impression misses
};

// A rigid motion: turn by r direction steps (1.5 degrees) about the image
// centre, then move by (dx, dy).
struct Motion {
  int r = 0;
  int dx = 0;
  int dy = 0;
};

inline constexpr double kStep = 3.14159265358979 / 120;

// Orientation 0..119 of the field at (x, y) of the unmoved finger.
inline int field(double x, double y) {
  const double a = std::atan2(y - 96, x - 96) / kStep;  // -120..120
  const double o = a / 2 + 30 + 0.15 * x;
  return static_cast<int>(std::lround(std::fmod(std::fmod(o, 120) + 120, 120))) % 120;
}

// The record of a finger seen through a motion. Minutiae that leave the
// image are dropped, so a moved copy shares most but not all of them.
inline std::unique_ptr<TypelineRecord> make_record(const Finger& f, const Motion& mo = {}) {
  auto r = std::make_unique<TypelineRecord>();
  *r = TypelineRecord{};
  r->tag = TYPELINE_TAG;
  r->firstSection = 4;
  r->width = r->height = static_cast<std::int16_t>(f.size);
  r->patternType = static_cast<std::uint8_t>(f.pattern);
  r->density = static_cast<std::uint8_t>(f.density);
  r->frequency = static_cast<std::uint8_t>(f.frequency);
  const double c = f.size / 2.0;
  const double co = std::cos(mo.r * kStep), si = std::sin(mo.r * kStep);
  const auto move = [&](double x, double y, double& X, double& Y) {
    X = c + (x - c) * co - (y - c) * si + mo.dx;
    Y = c + (x - c) * si + (y - c) * co + mo.dy;
  };
  const auto unmove = [&](double X, double Y, double& x, double& y) {
    const double u = X - c - mo.dx, v = Y - c - mo.dy;
    x = c + u * co + v * si;
    y = c - u * si + v * co;
  };
  const int blocks = f.size / 16;
  r->grid.columns = r->grid.rows = static_cast<std::uint8_t>(blocks);
  for (int row = 0; row < blocks; ++row)
    for (int col = 0; col < blocks; ++col) {
      double x, y;
      unmove(16 * col + 8, 16 * row + 8, x, y);
      const bool inside = x >= 8 && y >= 8 && x < f.size - 8 && y < f.size - 8;
      r->grid.cells[row * blocks + col] =
          inside ? static_cast<std::uint8_t>((field(x, y) + mo.r % 120 + 120) % 120) : 255;
    }
  if (f.core) {
    double X, Y;
    move(c, c - 10, X, Y);
    r->singular.count = 1;
    r->singular.points[0] = {static_cast<std::int16_t>(std::lround(X)), static_cast<std::int16_t>(std::lround(Y)),
                             static_cast<std::uint8_t>(((180 + mo.r) % 240 + 240) % 240), 1};
  }
  std::mt19937 rng(f.seed);
  std::uniform_int_distribution<int> pos(12, f.size - 12), turn(0, 239), curv(0, 20), type(0, 1);
  std::mt19937 noise(f.noise);
  std::uniform_int_distribution<int> wobble(-f.jitter, f.jitter);
  int n = 0;
  for (int k = 0; k < f.minutiae; ++k) {
    const int x = pos(rng), y = pos(rng), d = turn(rng), cv = curv(rng), ty = type(rng);
    double X, Y;
    move(x, y, X, Y);
    X += wobble(noise);
    Y += wobble(noise);
    if (k < f.dropped) continue;
    if (X < 0 || Y < 0 || X >= f.size || Y >= f.size) continue;
    r->minutiae.minutiae[n++] = {static_cast<std::int16_t>(std::lround(X)), static_cast<std::int16_t>(std::lround(Y)),
                                 static_cast<std::uint8_t>(((d + mo.r) % 240 + 240) % 240),
                                 static_cast<std::uint8_t>(cv), static_cast<std::uint8_t>(f.quality),
                                 static_cast<std::uint8_t>(ty)};
  }
  for (int k = 0; k < f.spurious && n < TYPELINE_MAX_MINUTIAE; ++k)
    r->minutiae.minutiae[n++] = {static_cast<std::int16_t>(pos(noise)), static_cast<std::int16_t>(pos(noise)),
                                 static_cast<std::uint8_t>(turn(noise)), static_cast<std::uint8_t>(curv(noise)),
                                 static_cast<std::uint8_t>(f.quality), static_cast<std::uint8_t>(type(noise))};
  r->minutiae.count = static_cast<std::int8_t>(n);
  return r;
}

// One minutia and a minutia list, for tests that lay out points by hand.
inline TypelineMinutia minutia(int x, int y, int direction, int quality = 40, int curvature = 5, int type = 0) {
  return {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), static_cast<std::uint8_t>(direction),
          static_cast<std::uint8_t>(curvature), static_cast<std::uint8_t>(quality), static_cast<std::uint8_t>(type)};
}

inline TypelineMinutiaList list_of(std::initializer_list<TypelineMinutia> m, int mean_quality = 0) {
  TypelineMinutiaList l{};
  for (const TypelineMinutia& p : m) l.minutiae[l.count++] = p;
  l.meanQuality = static_cast<std::uint8_t>(mean_quality);
  return l;
}

inline Template encode(const TypelineRecord& r) {
  Template t(TYPELINE_TEMPLATE_SIZE, 0);
  get_byte_template(&r, t.data());
  return t;
}

inline Template make_template(const Finger& f, const Motion& mo = {}) { return encode(*make_record(f, mo)); }

// The record as the matcher sees it: written and read back.
inline std::unique_ptr<TypelineRecord> decode(const Template& t) {
  auto r = std::make_unique<TypelineRecord>();
  mch_sub_func_02(t.data(), r.get());
  return r;
}

}  // namespace zyl::test
