// Analytic sine gratings for the grid feature tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace zyl::test {

// 128 + amplitude x sin(2 pi (x cos a + y sin a) / period), plus an
// optional second grating; period in pixels, a the wave-vector angle.
inline std::vector<uint8_t> grating(int h, int w, double period, double angle, double amplitude,
                                    double period2 = 0, double angle2 = 0, double amplitude2 = 0) {
  std::vector<uint8_t> px(static_cast<size_t>(h) * w);
  const double k = 2 * M_PI / period;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v = 128 + amplitude * std::sin(k * (x * std::cos(angle) + y * std::sin(angle)));
      if (period2 > 0)
        v += amplitude2 *
             std::sin(2 * M_PI / period2 * (x * std::cos(angle2) + y * std::sin(angle2)));
      px[static_cast<size_t>(y) * w + x] =
          static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
    }
  return px;
}

}  // namespace zyl::test
