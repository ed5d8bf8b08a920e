// The functions of ridgemap filter that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_ridgemap.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void ridgemap_profile_smooth(const int32_t* input, int period_class, int32_t* output);
void ridgemap_oriented_filter(uint8_t* pixels, int height, int width, const uint8_t* orientation,
                              const uint8_t* period, int bh, int bw);

}  // namespace zyl::matchlib
