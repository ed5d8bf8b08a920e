// The functions of window frame that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_drawing.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_window_frame_u8(const uint8_t* src, int height, int width, int percent, uint8_t* dst);

}  // namespace zyl::matchlib
