// The functions of local maxima that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_stats.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_local_maxima_u8(const uint8_t* src, int height, int width, int radius, uint8_t* dst,
                        int* count);

}  // namespace zyl::matchlib
