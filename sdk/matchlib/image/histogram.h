// The functions of histogram that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_histogram.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void hist_build_u8(const uint8_t* pixels, int height, int width, int32_t* hist);
void hist_build_s8(const int8_t* pixels, int height, int width, int32_t* hist);
uint8_t hist_mean(const int32_t* hist);
uint32_t hist_variance(const int32_t* hist, uint8_t centre);
uint8_t hist_stddev(const int32_t* hist, uint8_t centre);
uint32_t hist_stddev_x4(const int32_t* hist, uint8_t centre);
uint16_t img_variance_hist_u8(const uint8_t* pixels, int height, int width, uint8_t* mean_out);
uint8_t img_stddev_hist_u8(const uint8_t* pixels, int height, int width, uint8_t* mean_out);
void img_invert_u8(const uint8_t* src, int height, int width, uint8_t* dst);

}  // namespace zyl::matchlib
