// The functions of smoothing3x3 that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_smoothing.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int filter_upsample2x_fill_s8(const int8_t* src, int height, int width, int8_t* dst);

}  // namespace zyl::matchlib
