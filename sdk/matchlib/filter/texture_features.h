// The functions of texture features that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_texture_features.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void texture_features_compute(const uint8_t* pixels, uint8_t* ridge_map, int height, int width,
                              int32_t* out);

}  // namespace zyl::matchlib
