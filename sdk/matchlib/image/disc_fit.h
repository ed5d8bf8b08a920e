// The functions of disc fit that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_fit_disc(const uint8_t* pixels, int height, int width, int min_radius, int max_radius,
                 int centre_column, int centre_row, int search_radius, int threshold,
                 uint8_t* out_map, int* out_column, int* out_row, int* out_radius);

}  // namespace zyl::matchlib
