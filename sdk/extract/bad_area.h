// The functions of bad area that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/direction_image.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

int32_t ComputeBadArea(int32_t width, int32_t height, ByteImage D, ByteImage W,
                       const SingularPointList* singular_points, int32_t radius, int32_t threshold);
int32_t ComputeBadAreaA(int32_t width, int32_t height, ByteImage D, ByteImage W, int32_t radius, int32_t threshold);

}  // namespace zyl::extract
