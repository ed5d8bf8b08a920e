// The functions of gradient variance that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_filter_kernels.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int filter_sobel_s8(const uint8_t* src, int height, int width, int8_t* gx, int8_t* gy);
void filter_local_variance_integral_u16(const uint32_t* sums, const uint32_t* squares,
                                        int first_col, int end_col, int first_row, int end_row,
                                        int height, int width, int radius, uint16_t* out);
void filter_local_variance_integral_ring_s16(const int32_t* sums, const int32_t* squares,
                                             int first_col, int end_col, int first_row, int end_row,
                                             int height, int width, int radius, int16_t* out);

}  // namespace zyl::matchlib
