// The functions of rescale that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_rescale.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_resize_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                  uint32_t new_height, uint32_t new_width);
int img_resize_nearest_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                          uint32_t new_height, uint32_t new_width);
int img_resize_lanczos_u8(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* dst,
                          uint32_t new_height, uint32_t new_width, int32_t support);
int img_resample_to_500dpi_u8(const uint8_t* src, uint32_t height, uint32_t width,
                              uint32_t resolution, uint8_t** out, uint32_t* out_height,
                              uint32_t* out_width);

}  // namespace zyl::matchlib
