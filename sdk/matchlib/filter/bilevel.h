// The functions of bilevel that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_bilevel.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int bilevel_set_border(uint8_t* image, int height, int width, int left, int right, int top,
                       int bottom);
int bilevel_bits_set_border(uint8_t* packed, int rows, int row_bits, int left, int right, int top,
                            int bottom);
int bilevel_smooth_pair(uint8_t* first, uint8_t* second, const uint8_t* quality, int height,
                        int width);

}  // namespace zyl::matchlib
