// The functions of block frequency that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_stft.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int stft_map_clean_u16(uint16_t* map, int rows, int columns);
int stft_map_finish_u16(uint16_t* map, int rows, int columns, uint8_t* out);
int stft_block_analysis32(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                          int step, int longest_period, int shortest_period, const void*,
                          int block_rows, int block_columns, uint8_t* dominance, uint8_t* period,
                          uint8_t* frequency, uint8_t* orientation);
int stft_block_analysis16(const uint8_t* pixels, int height, int width, int step,
                          int longest_period, int shortest_period, int block_rows,
                          int block_columns, uint8_t* period, uint8_t* frequency,
                          uint8_t* orientation);

}  // namespace zyl::matchlib
