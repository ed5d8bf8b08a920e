// The functions of ring sector descriptor that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_ring_sector.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int ring_sector_descriptor(const uint8_t* pixels, int height, int width, int row, int column,
                           int angle, int rings, int ring_width, int inner, int sectors,
                           uint8_t* out);

}  // namespace zyl::matchlib
