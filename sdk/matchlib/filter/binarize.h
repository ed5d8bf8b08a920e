// The functions of binarize that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_binarize.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int binarize_blocks_percentile(const int8_t* grey, const void*, int height, int width,
                               const uint8_t* block_mask, int block, int percentile, uint8_t* first,
                               uint8_t* second);
int binarize_blocks_percentile_bits(const int8_t* grey, const uint8_t* pixel_mask, int height,
                                    int width, const uint8_t* block_mask, int block, int percentile,
                                    uint8_t* planes, int polarity);
int binarize_blocks_mean_interp(const int8_t* grey, const uint8_t* quality, int height, int width,
                                int block, uint8_t* first, uint8_t* second);
int binarize_directional_mean(const int8_t* grey, int height, int width, const uint8_t* directions,
                              const uint8_t* lengths, const uint8_t* block_mask, int grid_rows,
                              int grid_columns, int block, uint8_t* first, uint8_t* second);
int binarize_center_surround_bits_s16(const int16_t* image, int height, int width,
                                      const uint16_t* scale, uint8_t* plane_a, uint8_t* plane_b);

}  // namespace zyl::matchlib
