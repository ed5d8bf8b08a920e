// The functions of ridgemap thinning that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_ridgemap.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int ridgemap_thin_neighbour_test(const uint8_t* x);
void ridgemap_thin_ridges(uint8_t* pixels, int height, int width);
void ridgemap_thin_valleys(uint8_t* pixels, int height, int width);

}  // namespace zyl::matchlib
