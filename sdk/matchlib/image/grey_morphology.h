// The functions of grey morphology that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_stats.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int filter_min3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
int filter_max3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
int filter_open3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
int filter_close3x3_u8(const uint8_t* src, int height, int width, uint8_t* dst);
int filter_local_range_disk_u8(const uint8_t* src, int height, int width, int radius, uint8_t* dst);

}  // namespace zyl::matchlib
