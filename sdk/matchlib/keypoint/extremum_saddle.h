// The functions of extremum saddle that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_keypoint.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int extremum_test28(const uint8_t* pixels, const int* offsets, int index, int threshold);

}  // namespace zyl::matchlib
