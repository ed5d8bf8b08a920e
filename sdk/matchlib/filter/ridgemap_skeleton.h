// The functions of ridgemap skeleton that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_ridgemap.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void ridgemap_skeleton(uint8_t* pixels, int height, int width, uint8_t* orientation,
                       uint8_t* coherence, uint8_t* period, int bh, int bw, int dpi);

}  // namespace zyl::matchlib
