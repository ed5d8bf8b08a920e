// What the accumulator's parts share inside the library.
#pragma once

#include <cstddef>

#include "zylscan/matchlib_accum.h"

namespace zyl::matchlib {

inline std::size_t accum_area(const ImpressionAccumulator& a) {
  return static_cast<std::size_t>(a.height) * a.width;
}

// Creates whichever of the count map and the mean image is missing, zeroed:
// 0 or 9.
int accum_ensure_maps(ImpressionAccumulator& a);

}  // namespace zyl::matchlib
