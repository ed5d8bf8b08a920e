// The functions of cell map expand that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_cell_map.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_expand_bilinear_padded_u8(const uint8_t* map, uint32_t rows, uint32_t cols,
                                          uint32_t n, uint8_t fill, uint8_t* out,
                                          uint32_t out_height, uint32_t out_width);
int img_expand_bilinear_angle8(const uint8_t* map, uint32_t rows, uint32_t cols,
                                       uint32_t n, uint8_t* out, uint32_t out_height,
                                       uint32_t out_width);
uint8_t img_sample_bilinear_u8(int32_t x, int32_t y, const uint8_t* map, uint32_t rows,
                                       uint32_t cols, uint32_t n);

}  // namespace zyl::matchlib
