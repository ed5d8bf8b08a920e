// The functions of window stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_local_stats.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int filter_local_variance_u8(const uint8_t* pixels, int height, int width, int radius,
                             uint16_t* out);
int filter_local_variance_ring_u8(const uint8_t* pixels, int height, int width, int radius,
                                  int16_t* out);
int filter_box_mean_u8(const uint8_t* pixels, int height, int width, int radius, uint8_t* out);
int filter_adaptive_smooth_u8(const uint8_t* pixels, int height, int width, int noise, int radius,
                              uint8_t* out);

}  // namespace zyl::matchlib
