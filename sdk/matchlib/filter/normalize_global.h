// The functions of normalize global that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_filter_kernels.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int imgproc_normalize_global(const uint8_t* src, int height, int width, int target_mean,
                             int target_deviation, uint8_t* dst);

}  // namespace zyl::matchlib
