// The functions of fft enhance that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_fft_enhance.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int fftenh_enhance32(const uint8_t* image, int height, int width, const uint8_t* frequency_map,
                     const uint8_t* direction_map, const uint8_t* block_mask,
                     const uint8_t* level_map, int level, int mask_rows, int mask_columns,
                     int cell_size, int8_t* out);
int fftenh_enhance32_fixed(const uint8_t* image, int height, int width, int frequency,
                           int direction, int8_t* out);
int fftenh_enhance16(const uint8_t* image, int height, int width, const uint8_t* frequency_map,
                     const uint8_t* direction_map, const uint8_t* block_mask, int mask_rows,
                     int mask_columns, int cell_size, int8_t* out, int step);

}  // namespace zyl::matchlib
