// The functions of cell map expand that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_cell_map.h"

namespace zyl::matchlib {

// Expands a rows x cols map of cell values (cells n pixels apart, centres at
// n/2) into the out_height x out_width image out by bilinear interpolation
// between cell centres; outside the centres the nearest interpolated row or
// column is repeated. Needs two cells each way. Instantiated for uint8_t,
// int8_t, uint16_t and int16_t.
template <class T>
int expand_bilinear(const T* map, std::uint32_t rows, std::uint32_t cols, std::uint32_t n, T* out,
                    std::uint32_t out_height, std::uint32_t out_width);

// Bodies of exported functions, called directly inside the library.
int img_expand_bilinear_padded_u8(const uint8_t* map, uint32_t rows, uint32_t cols, uint32_t n,
                                  uint8_t fill, uint8_t* out, uint32_t out_height,
                                  uint32_t out_width);
int img_expand_bilinear_angle8(const uint8_t* map, uint32_t rows, uint32_t cols, uint32_t n,
                               uint8_t* out, uint32_t out_height, uint32_t out_width);
uint8_t img_sample_bilinear_u8(int32_t x, int32_t y, const uint8_t* map, uint32_t rows,
                               uint32_t cols, uint32_t n);

}  // namespace zyl::matchlib
