// The functions of bilevel morphology that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_filter_kernels.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int bilevel_remove_isolated(const uint8_t* src, int height, int width, uint8_t* dst);
int bilevel_majority3x3(const uint8_t* src, int height, int width, uint8_t* dst);
int bilevel_erode3x3(const uint8_t* src, int height, int width, uint8_t* dst);
int bilevel_dilate3x3(const uint8_t* src, int height, int width, uint8_t* dst);
int bilevel_open3x3(const uint8_t* src, int height, int width, uint8_t* dst);

}  // namespace zyl::matchlib
