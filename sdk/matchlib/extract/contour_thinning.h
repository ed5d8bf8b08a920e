// Internal face of the contour thinning and its two neighbour-pattern
// tables (bit 128 up-left, 64 up, 32 up-right, 16 left, 8 right,
// 4 down-left, 2 down, 1 down-right; a bit is set for an object neighbour).
#pragma once

#include <array>
#include <cstdint>
#include "zylscan/matchlib_contour_thin.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int bilevel_thin(uint8_t* image, int height, int width);

extern const std::array<std::uint8_t, 256> kThinDelete;
extern const std::array<std::uint8_t, 256> kThinRestore;

// 0/1 image, 0 = object; see bilevel_thin.
int thin_contours(std::uint8_t* image, int height, int width);

}  // namespace zyl::matchlib
