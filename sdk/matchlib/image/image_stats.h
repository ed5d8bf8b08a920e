// The functions of image stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_stats.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int profile_dominant_period(const uint8_t* profile, int kmin, int kmax, int n);

}  // namespace zyl::matchlib
