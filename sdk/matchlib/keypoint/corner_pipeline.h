// The functions of corner pipeline that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_keypoint.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int corner_pipeline_run(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                        KeyPoint** points, int* count, int variant);

}  // namespace zyl::matchlib
