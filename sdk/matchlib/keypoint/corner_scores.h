// The functions of corner scores that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_keypoint.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int detect_corners_sparse(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                          KeyPoint** points, int* count);

}  // namespace zyl::matchlib
