// The functions of similarity map that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_pair_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int blockrec_similarity_map(const uint8_t* a, uint32_t a_length, const uint8_t* b,
                            uint32_t b_length, uint8_t* out, int rows, int columns, int y_shift,
                            int x_shift, int invert_check);

}  // namespace zyl::matchlib
