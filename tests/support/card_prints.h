// Card templates built from hand-placed minutiae for the card matchers'
// tests: a bare 7F2E { 81 minutiae [, 82 quality] } card, a print-like
// spread of minutiae, and the same print turned and shifted.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/tlv_bytes.h"

namespace zyl::test {

struct CardMinutia {
  int x, y, direction;  // card units, 256 steps a turn (stored in 64)
  int quality = -1;     // the minutia's byte of element 82; -1: no element
};

// A card template holding a minutiae element (7F2E / 81), and the quality
// element 82 (98 EC 15 E1, one byte a minutia) when the first minutia has
// a quality byte.
inline std::vector<std::uint8_t> card_of(const std::vector<CardMinutia>& m) {
  std::vector<std::uint8_t> minutiae, quality = {0x98, 0xEC, 0x15, 0xE1};
  for (const CardMinutia& p : m) {
    minutiae.push_back(static_cast<std::uint8_t>(p.x));
    minutiae.push_back(static_cast<std::uint8_t>(p.y));
    minutiae.push_back(static_cast<std::uint8_t>(p.direction / 4));
    quality.push_back(static_cast<std::uint8_t>(p.quality));
  }
  const bool with_quality = !m.empty() && m[0].quality >= 0;
  return el(0x7F2E, with_quality ? cat({el(0x81, minutiae), el(0x82, quality)}) : el(0x81, minutiae));
}

// A print-like spread of minutiae: jittered grid inside the card window.
inline std::vector<CardMinutia> card_finger(std::uint32_t seed, int n) {
  std::uint32_t st = seed * 2654435761u + 1;
  auto rnd = [&st](int m) {
    st = st * 1664525u + 1013904223u;
    return static_cast<int>((st >> 8) % static_cast<std::uint32_t>(m));
  };
  std::vector<CardMinutia> m;
  for (int k = 0; k < n; ++k) m.push_back({70 + (k % 6) * 20 + rnd(9), 70 + (k / 6) * 20 + rnd(9), rnd(64) * 4});
  return m;
}

// Card directions turn against the positions' (x, y) sense: a turn of the
// positions by +steps about (128, 128) moves directions by -steps.
inline std::vector<CardMinutia> card_turn(const std::vector<CardMinutia>& m, int steps, int dx, int dy) {
  const double a = steps * 2 * M_PI / 256;
  std::vector<CardMinutia> out;
  for (const CardMinutia& p : m) {
    const double x = p.x - 128, y = p.y - 128;
    out.push_back({static_cast<int>(std::lround(std::cos(a) * x - std::sin(a) * y)) + 128 + dx,
                   static_cast<int>(std::lround(std::sin(a) * x + std::cos(a) * y)) + 128 + dy,
                   ((p.direction - steps) & 255) & 0xFC, p.quality});
  }
  return out;
}

}  // namespace zyl::test
