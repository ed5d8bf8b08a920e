// How many oriented smoothing passes a pixel is due, from its noise.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "zylscan/oriented_filter.h"

namespace zyl::extract {

// Settings under which the strength rule ends and fits in three bits.
inline bool ValidStrengthSettings(int cap, int base, int start, int factor) {
  return cap > base && start >= 0 && factor >= 0 && start + factor <= ZYL_FILTER_MAX_STRENGTH;
}

// Strength per noise value 0..255: start, plus factor x (noise - base) in
// units of cap - base, rounded with halves up; noise is capped at cap. Only
// for settings that ValidStrengthSettings accepts.
inline std::array<std::uint8_t, 256> StrengthTable(int cap, int base, int start, int factor) {
  std::array<std::uint8_t, 256> table{};
  const std::int64_t span = static_cast<std::int64_t>(cap) - base;
  for (int noise = 0; noise < 256; ++noise) {
    const std::int64_t n = std::min(noise, cap);
    std::int64_t rest = n >= base ? factor * (n - base) : 0;
    int strength = start;
    while (rest >= span / 2) {
      rest -= span;
      ++strength;
    }
    // With cap = base + 1 the rounding adds one even at no excess noise and
    // could reach 8, which three bits cannot hold.
    table[noise] = static_cast<std::uint8_t>(std::min(strength, ZYL_FILTER_MAX_STRENGTH));
  }
  return table;
}

}  // namespace zyl::extract
