// The functions of filters3x3 that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_filters3x3.h"

namespace zyl::matchlib {

// Mean of each pixel's 3x3 window clipped to the image over the pixels set
// in mask; a pixel whose whole window lies inside the image and the mask
// keeps its value, one with no mask pixel in its window too. dst may be src.
// Instantiated for uint8_t, uint16_t, int8_t and int16_t.
template <class T>
int masked_mean3x3(const T* src, const std::uint8_t* mask, std::uint32_t height,
                   std::uint32_t width, T* dst);

// Bodies of exported functions, called directly inside the library.
int filter_frame_mean3x3_u8(const uint8_t* src, uint32_t height, uint32_t width, uint32_t n,
                            uint8_t fill, uint8_t* dst);
int filter_frame_extrapolate_u8(const uint8_t* src, uint32_t height, uint32_t width, uint32_t n,
                                uint8_t* dst);
int filter_sharpen3x3_u8(const uint8_t* src, int32_t height, int32_t width, uint8_t strength,
                         uint8_t* dst);
int filter_fill_pits_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t threshold,
                        uint8_t* dst);

}  // namespace zyl::matchlib
