// The gain rule and pixel mapping that every grey-level normalisation
// shares: a gain G (32 = 1.0) of about 32 x sqrt(D / V) from a squared
// target deviation D and a variance V, and the mapping of a pixel about its
// local mean onto the target mean.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zyl::matchlib {

// Floor of the square root of a value below 2^53: the double root is
// within one of the exact one, and the two steps below settle it.
inline std::uint64_t isqrt64(std::uint64_t a) {
  auto r = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(a)));
  while (r * r > a) --r;
  while ((r + 1) * (r + 1) <= a) ++r;
  return r;
}

// The shifts keep the root's argument in range; shifted arguments are
// formed in 64 bits so that a tiny variance cannot wrap them. 0 when V is 0.
inline std::int64_t normalize_gain(std::uint32_t d, std::uint32_t v) {
  if (v == 0) return 0;
  const std::uint64_t m = std::uint64_t{d} * 256 / v;
  if (m < 65536) return static_cast<std::int64_t>(isqrt64(m << 16) >> 7);
  if (m > 1048575) return static_cast<std::int64_t>((isqrt64(m << 8) >> 7) << 4);
  return static_cast<std::int64_t>((isqrt64(m << 12) >> 7) << 2);
}

// x above its local mean c moves up from the target t by G (x - c) / 32, at
// most to 255; any other x moves down by G (c - x) / 32, at least to 0.
inline std::uint8_t normalize_map(int x, int c, int t, std::int64_t g) {
  if (x > c) return static_cast<std::uint8_t>(std::min<std::int64_t>(255, t + g * (x - c) / 32));
  return static_cast<std::uint8_t>(std::max<std::int64_t>(0, t - g * (c - x) / 32));
}

}  // namespace zyl::matchlib
