// The functions of checker that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_checker.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int filter_checker_response_s8(const uint8_t* pixels, int height, int width, int8_t* response);
uint8_t imgstat_mean_abs_s8(const int8_t* response, int height, int width);
int imgproc_remove_checker(const uint8_t* pixels, int height, int width, uint8_t* out);
int imgproc_open_close_mean3x3(const uint8_t* pixels, int height, int width, uint8_t* out);

}  // namespace zyl::matchlib
