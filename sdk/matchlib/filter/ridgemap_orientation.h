// The functions of ridgemap orientation that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_ridgemap.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void filter_smooth121_inplace_u8(uint8_t* map, int rows, int columns);
void ridgemap_block_orientation(uint8_t* pixels, int height, int width, uint8_t* orientation,
                                uint8_t* coherence, uint8_t* work, int bh, int bw);

}  // namespace zyl::matchlib
