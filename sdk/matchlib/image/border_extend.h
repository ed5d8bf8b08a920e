// The functions of border extend that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_window.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_pad_extend_u8(const uint8_t* src, uint32_t height, uint32_t width, uint32_t out_height,
                      uint32_t out_width, int32_t row_offset, int32_t column_offset,
                      uint8_t* frame);
int img_pad_extend_u16(const uint16_t* src, uint32_t height, uint32_t width, uint32_t out_height,
                       uint32_t out_width, int32_t row_offset, int32_t column_offset,
                       uint16_t* frame);
int img_pad_profile_u8(const uint8_t* src, uint32_t height, uint32_t width, uint32_t out_height,
                       uint32_t out_width, int32_t row_offset, int32_t column_offset,
                       uint8_t* frame);
int img_fit_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width, uint32_t block,
                              int32_t mode, uint8_t** out, uint32_t* out_height,
                              uint32_t* out_width, int32_t* row_offset, int32_t* column_offset);

}  // namespace zyl::matchlib
