// The functions of bright level that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int bright_level_apply(const uint8_t* input, int height, int width, uint8_t* out, int n,
                       uint8_t* block_means, uint8_t* row_buffer);
int bright_level_run(const uint8_t* input, int height, int width, uint8_t* out, int n);
int bright_level_blocks(const uint8_t* input, int height, int width, uint8_t* out, int n);

}  // namespace zyl::matchlib
