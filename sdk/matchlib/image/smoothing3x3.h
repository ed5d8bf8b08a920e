// The functions of smoothing3x3 that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_smoothing.h"

namespace zyl::matchlib {

// Mean of each pixel's 3x3 window clipped to the image: box weights 1-1-1 by
// 1-1-1, binomial weights 1-2-1 by 1-2-1, truncated toward zero. dst may be
// src. Instantiated for uint8_t, uint16_t, int8_t, int16_t and int32_t.
template <class T>
int box3x3(const T* src, int height, int width, T* dst);
template <class T>
int binomial3x3(const T* src, int height, int width, T* dst);

// Bodies of exported functions, called directly inside the library.
int filter_upsample2x_fill_s8(const int8_t* src, int height, int width, int8_t* dst);

}  // namespace zyl::matchlib
