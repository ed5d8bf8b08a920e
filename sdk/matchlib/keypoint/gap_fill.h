// The functions of gap fill that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_keypoint.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int kp_orientation_histogram(const uint8_t* pixels, int width, int height, KeyPoint* points, int n);

}  // namespace zyl::matchlib
