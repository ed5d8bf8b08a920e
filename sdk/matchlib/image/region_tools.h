// The functions of region tools that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_segmentation.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_mask_centroid(const uint8_t* map, int rows, int cols, int cell, int default_height,
                      int default_width, int* row_out, int* col_out);
int mask_keep_largest_component(uint8_t* map, int rows, int cols);
int img_fill_holes(uint8_t* map, int rows, int cols, uint8_t fill);
int img_inpaint_masked_5x5(const uint8_t* src, int height, int width, const uint8_t* mask,
                           uint8_t* dst);
int mask_distance_map(const uint8_t* image, int rows, int cols, const uint8_t* mask, int radius,
                      uint8_t* out);

}  // namespace zyl::matchlib
