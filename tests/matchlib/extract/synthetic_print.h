// Synthetic fingerprints with planted minutiae: dark ridges from a phase
// field, parallel ridges plus one phase vortex per minutia. At a vortex two
// dark ridges join into one (a bifurcation; the extra ridge opens one way
// or the other by the vortex's charge); in the grey-inverted image the same
// places are dark-ridge endings.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace zyl::test {

struct PlantedMinutia {
  double x, y;
  int type;    // 2 in this image, 1 in its inverse
  int charge;  // +1 or -1
};

inline std::vector<std::uint8_t> synthetic_print(int height, int width, double period,
                                                 const std::vector<PlantedMinutia>& planted) {
  std::vector<std::uint8_t> img(std::size_t(height) * width);
  const double pi = std::acos(-1.0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double phase = 2 * pi * x / period;
      for (const PlantedMinutia& m : planted) phase += m.charge * std::atan2(y - m.y, x - m.x);
      const double v = 128 - 90 * std::cos(phase);  // dark where the phase is 0
      img[std::size_t(y) * width + x] = static_cast<std::uint8_t>(std::lround(v));
    }
  return img;
}

}  // namespace zyl::test
