// The functions of skeleton branches that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void skeleton_erase_pixel(uint8_t* skeleton, uint8_t* counts, int width, int row, int column);
int skeleton_branch_starts(const uint8_t* skeleton, int width, int position, int* out_positions,
                           int* out_codes);
int skeleton_step(const uint8_t* skeleton, int width, int* code, int* position);
int minutiae_detect_branches(uint8_t* skeleton, const uint8_t* orientation, int height, int width,
                             int kind, const uint8_t* quality, MinutiaEntry* minutiae,
                             uint8_t* count, uint8_t* counts, int scale, int map_step);
int minutiae_merge_close_pairs(MinutiaEntry* m, int count, int scale);

}  // namespace zyl::matchlib
