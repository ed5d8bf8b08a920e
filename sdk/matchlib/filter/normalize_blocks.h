// The functions of normalize blocks that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_normalize.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int imgproc_normalize_blocks(const uint8_t* pixels, int height, int width,
                             const uint8_t* block_mask, int block, int block_rows,
                             int block_columns, int target_mean, int target_deviation,
                             uint8_t* out);
int imgproc_normalize_blocks_filled(const uint8_t* pixels, int height, int width,
                                    uint8_t* block_mask, int block, int block_rows,
                                    int block_columns, int target_mean, int target_deviation,
                                    uint8_t* out);

}  // namespace zyl::matchlib
