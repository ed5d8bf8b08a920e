// The functions of gradient kernels that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_gradient.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int filter_laplace_s8(const uint8_t* src, int height, int width, int8_t* dst);
int filter_halve2x2_u8(const uint8_t* src, int height, int width, uint8_t* dst);

}  // namespace zyl::matchlib
