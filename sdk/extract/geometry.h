// The functions of geometry that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/geometry.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

int32_t ComputeLineDirection(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
int32_t ComputeDistance(int32_t dx, int32_t dy);
int32_t ComputeDistance3D(int32_t a, int32_t b, int32_t c);

}  // namespace zyl::extract
