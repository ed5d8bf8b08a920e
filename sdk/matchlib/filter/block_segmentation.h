// Internal steps of the block segmentation, reachable by tests.
#pragma once

#include <cstdint>
#include "zylscan/matchlib_segmentation.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
int imgproc_segment_blocks(const uint8_t* pixels, int height, int width, int rows, int cols, int n,
                           uint8_t* out, int half, int normalise);
int imgproc_segment_blocks_half(const uint8_t* pixels, int height, int width, int rows, int cols,
                                int n, uint8_t* out);

// Clears, in place and in a fixed order (the four corners, then the top and
// bottom rows left to right, then the left and right columns top to
// bottom), every set border block of a rows x cols 0/1 map that has at
// most 2 of its listed neighbours set (corners: 3 neighbours, other border
// blocks: 5). Earlier clearings count in later tests.
void clear_sparse_border(std::uint8_t* map, int rows, int cols);

}  // namespace zyl::matchlib
