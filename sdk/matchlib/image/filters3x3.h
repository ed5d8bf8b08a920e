// The functions of filters3x3 that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_filters3x3.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int filter_frame_mean3x3_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                    uint32_t n, uint8_t fill, uint8_t* dst);
int filter_frame_extrapolate_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                        uint32_t n, uint8_t* dst);
int filter_sharpen3x3_u8(const uint8_t* src, int32_t height, int32_t width,
                                 uint8_t strength, uint8_t* dst);
int filter_fill_pits_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                uint8_t threshold, uint8_t* dst);

}  // namespace zyl::matchlib
