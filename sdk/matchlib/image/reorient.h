// The functions of reorient that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_reorient.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_flip_rotate_u8(const uint8_t* src, int height, int width, int code, uint8_t* dst);
int img_rotate_u8(const uint8_t* src, int height, int width, int angle, uint8_t** out,
                  int* out_height, int* out_width, int* origin_row, int* origin_col);
int img_rotate_nearest_u8(const uint8_t* src, int height, int width, int angle, uint8_t fill,
                          uint8_t** out, int* out_height, int* out_width, int* origin_row,
                          int* origin_col);
void img_paste_keyed_u8(uint8_t* dst, int dst_height, int dst_width, const uint8_t* src,
                        int src_height, int src_width, int x, int y, int key);

}  // namespace zyl::matchlib
