// The functions of quality coherence that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_quality.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int quality_from_block_coherence(const uint8_t* pixels, int height, int width, int block_rows,
                                 int block_columns, int block, const uint8_t* block_mask,
                                 const uint8_t* coherence, int full_height, int full_width,
                                 uint8_t* quality, uint32_t* area, int scale);
int quality_map_expand(const uint8_t* block_map, const uint8_t* block_mask, int block_rows,
                       int block_columns, int block, uint8_t* out, int out_height, int out_width);
int quality_assess_image_scaled(const uint8_t* pixels, int height, int width, uint8_t* quality,
                                uint32_t* area, uint8_t* bright, int scale);
int quality_from_pixel_coherence(const uint8_t* pixels, int height, int width, const uint8_t* mask,
                                 int radius, uint8_t* quality, uint32_t* count,
                                 uint8_t* coherence_map);
int quality_assess_image(const uint8_t* pixels, int height, int width, uint8_t* quality,
                         uint32_t* area, uint8_t* bright);

}  // namespace zyl::matchlib
