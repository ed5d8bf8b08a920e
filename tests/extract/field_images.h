// Test images for the extractor's filter and orientation stages: a plain
// pixel grid that converts to and from ByteImage, random images, sine
// gratings and analytic orientation fields.
#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "extract/byte_image.h"
#include "support/pgm.h"

namespace zyl::test {

// A width x height grid of values with plain indexing, for references.
struct Grid {
  int width = 0;
  int height = 0;
  std::vector<int> v;

  Grid() = default;
  Grid(int w, int h, int fill = 0) : width(w), height(h), v(static_cast<std::size_t>(w) * h, fill) {}
  int& at(int x, int y) { return v[static_cast<std::size_t>(y) * width + x]; }
  int at(int x, int y) const { return v[static_cast<std::size_t>(y) * width + x]; }
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }

  zyl::extract::OwnedByteImage image() const {
    zyl::extract::OwnedByteImage out(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) out[y][x] = static_cast<std::uint8_t>(at(x, y));
    return out;
  }
  static Grid of(const zyl::extract::OwnedByteImage& image) {
    Grid g(image.width(), image.height());
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) g.at(x, y) = image[y][x];
    return g;
  }
  static Grid of(const zyl::test::GreyImage& image) {
    Grid g(image.width, image.height);
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) g.at(x, y) = image.at(x, y);
    return g;
  }
  bool operator==(const Grid&) const = default;
};

// Shows small grids whole, so a failed comparison points at the pixels.
inline void PrintTo(const Grid& g, std::ostream* os) {
  *os << g.width << "x" << g.height;
  if (g.width > 40 || g.height > 40) return;
  for (int y = 0; y < g.height; ++y) {
    *os << "\n";
    for (int x = 0; x < g.width; ++x) *os << " " << g.at(x, y);
  }
}

inline Grid random_grid(std::mt19937& rng, int w, int h, int lo = 0, int hi = 255) {
  std::uniform_int_distribution<int> value(lo, hi);
  Grid g(w, h);
  for (int& p : g.v) p = value(rng);
  return g;
}

// Ridges running at `degrees` from the x axis (towards +y, rows growing
// downwards) with the given period in pixels: 500 dpi prints have ridges
// about 9 pixels apart.
inline Grid grating(int w, int h, double degrees, double period = 9.0, double phase = 0.0) {
  const double a = degrees * M_PI / 180.0;
  Grid g(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double across = -x * std::sin(a) + y * std::cos(a);
      g.at(x, y) = static_cast<int>(std::lround(128 + 100 * std::sin(2 * M_PI * across / period + phase)));
    }
  return g;
}

// The grid turned by 90 degrees: column x of the result is row x of the
// input read backwards, so a line at angle a becomes one at a + 90 degrees.
inline Grid turned(const Grid& g) {
  Grid out(g.height, g.width);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) out.at(g.height - 1 - y, x) = g.at(x, y);
  return out;
}

// Orientation (0..119, 1.5-degree steps) of an analytic field around a
// singular point at (cx, cy): a loop turns the orientation by half the polar
// angle (a core of index 1), a delta by minus half, a whorl has ridges
// running round the centre.
enum class Field { Loop, Delta, Whorl };
inline int field_orientation(Field kind, double x, double y, double cx, double cy) {
  const double phi = std::atan2(y - cy, x - cx) * 180.0 / M_PI;  // -180..180
  double deg = 0;
  switch (kind) {
    case Field::Loop: deg = phi / 2; break;
    case Field::Delta: deg = -phi / 2; break;
    case Field::Whorl: deg = phi + 90; break;
  }
  const long steps = std::lround(deg / 1.5);
  return static_cast<int>(((steps % 120) + 120) % 120);
}

// Folded distance of two orientations (0..60).
inline int orientation_distance(int a, int b) {
  const int d = std::abs(a - b) % 120;
  return d > 60 ? 120 - d : d;
}

}  // namespace zyl::test
