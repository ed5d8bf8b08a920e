// The functions of orientation that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_orientation.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int orient_block_field(const uint8_t* image, int height, int width, const uint8_t* block_mask,
                       uint8_t* orientation, uint8_t* coherence, int block_rows, int block_columns,
                       int block_size, uint8_t* raw_direction, int presmooth);
int orient_block_field_presmoothed(const uint8_t* image, int height, int width,
                                   const uint8_t* block_mask, uint8_t* orientation,
                                   uint8_t* coherence, int block_rows, int block_columns,
                                   int block_size, uint8_t* raw_direction);
int orient_block_coherence(const uint8_t* image, int height, int width, uint8_t* coherence,
                           const uint8_t* block_mask, int block_rows, int block_columns,
                           int block_size, int presmooth);
int orient_pixel_vectors(const uint8_t* image, int height, int width, const uint8_t* pixel_mask,
                         int radius, uint8_t* coherence, int16_t* c, int16_t* s);
int orient_pixel_field(const uint8_t* image, int height, int width, const uint8_t* pixel_mask,
                       int radius, uint8_t* orientation, uint8_t* coherence);
int orient_map_resize(const uint8_t* map, int rows, int columns, int factor, uint8_t* out,
                      int out_rows, int out_columns);

}  // namespace zyl::matchlib
