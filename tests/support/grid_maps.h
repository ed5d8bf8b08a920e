// Synthetic grid feature maps (5B DA 02 ...) of one smooth finger-like
// field, seen through a chosen turn and shift, for the grid-map matchers.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace zyl::test {

using GridMapBytes = std::vector<std::uint8_t>;

inline GridMapBytes grid_map_header(int columns, int rows, int cell = 8, int resolution = 500) {
  return GridMapBytes{0x5B, 0xDA, 0x02, static_cast<std::uint8_t>(cell),
                      static_cast<std::uint8_t>(resolution >> 8),
                      static_cast<std::uint8_t>(resolution), static_cast<std::uint8_t>(columns),
                      static_cast<std::uint8_t>(rows), 0, 0};
}

// Orientation (256 steps a half turn) and value of a smooth synthetic
// finger at a point in pixels.
inline std::uint8_t world_orientation(double x, double y) {
  return static_cast<std::uint8_t>(std::lround(128 + 60 * std::sin(x / 50) + 40 * std::cos(y / 45)) &
                                   255);
}
inline std::uint8_t world_value(double x, double y) {
  return static_cast<std::uint8_t>(std::lround(100 + 60 * std::sin(x / 45 + 0.5) * std::cos(y / 60)));
}

// A map of the world seen through p2 = R(angle) p1 + (tx, ty): cell
// centres p1 of this map, orientations relative to its own frame; a
// quality byte at the end when `quality` is not negative.
inline GridMapBytes world_map(int columns, int rows, int cell, int angle512, double tx, double ty,
                              int quality = -1) {
  GridMapBytes m = grid_map_header(columns, rows, cell);
  const double a = angle512 * 2 * M_PI / 512;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) {
      const double x1 = (j + 0.5) * cell, y1 = (i + 0.5) * cell;
      const double x2 = std::cos(a) * x1 - std::sin(a) * y1 + tx;
      const double y2 = std::sin(a) * x1 + std::cos(a) * y1 + ty;
      m.push_back(static_cast<std::uint8_t>(world_orientation(x2, y2) - angle512));
      m.push_back(world_value(x2, y2));
    }
  if (quality >= 0) m.push_back(static_cast<std::uint8_t>(quality));
  return m;
}

}  // namespace zyl::test
