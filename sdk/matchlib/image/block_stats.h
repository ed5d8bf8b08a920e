// The functions of block stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_local_stats.h"

namespace zyl::matchlib {

// Mean of each n x n block of a grid of rows x cols blocks, truncated toward
// zero, into out (a map entry per block, row after row); row_length is the
// image's row stride in pixels. Instantiated for uint8_t, int8_t, uint16_t
// and int16_t.
template <class P>
int block_mean(const P* pixels, int row_length, int n, int rows, int cols, P* out);

// Minimum and maximum of each n x n block into min_map and max_map (either
// may be null); the grid must fit the height x row_length image.
// Instantiated for uint8_t and int8_t.
template <class P>
int block_minmax(const P* pixels, int height, int row_length, int n, int rows, int cols, P* min_map,
                 P* max_map);

// Bodies of exported functions, called directly inside the library.
int img_block_variance_u8(const uint8_t* pixels, int /*height*/, int row_length,
                          const uint8_t* means, int n, int rows, int cols, uint16_t* out);

}  // namespace zyl::matchlib
