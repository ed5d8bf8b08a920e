// The functions of block stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_local_stats.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_block_variance_u8(const uint8_t* pixels, int , int row_length,
                                  const uint8_t* means, int n, int rows, int cols,
                                  uint16_t* out);

}  // namespace zyl::matchlib
