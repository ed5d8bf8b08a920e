// The functions of subpixel that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_sampling.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int subpix_outside(int x, int y, int height, int width);
int subpix_sample_u8(const uint8_t* pixels, int height, int width, int x, int y);
int32_t subpix_sample_s32(const int32_t* pixels, int height, int width, int x, int y);
void geom_rotated_box(int height, int width, int direction, int* out_height, int* out_width,
                      int* out_row_offset, int* out_column_offset);

}  // namespace zyl::matchlib
