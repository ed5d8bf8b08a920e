// The 3x3 median filter the library calls internally; the exported
// filter_median3x3_* functions forward to it.
#pragma once

#include <cstdint>

namespace zyl::matchlib {

// Median of each pixel's 3x3 window clipped to the image; a window with an
// even number of values answers the mean of the two middle ones. dst may be
// src. Instantiated for uint8_t, int8_t, uint16_t, int16_t, uint32_t and
// int32_t.
template <class T>
int median3x3(const T* src, std::uint32_t height, std::uint32_t width, T* dst);

}  // namespace zyl::matchlib
