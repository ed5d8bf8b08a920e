// The functions of bitplane thin that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int bilevel_bits_thin(uint8_t* plane, int rows, int width, int divisor);

}  // namespace zyl::matchlib
