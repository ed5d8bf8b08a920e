// The functions of pixel plane that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_sampling.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

PixelPlane* plane_create(int rows, int width, int channels, int stride);
int plane_pixel_offset(const PixelPlane* plane, int row, int column);

}  // namespace zyl::matchlib
