// The functions of xw extract that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/xw_operations.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t ComputeStretchedImageSize(int32_t width, int32_t height, int32_t resolution, int32_t* stretched_width,
                                  int32_t* stretched_height);
int32_t XWExtract(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out, int32_t* out_length,
                  XWContext* context);
int32_t XWExtract_ISO(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                      int32_t* out_length, uint8_t finger_position, XWContext* context);
int32_t XWExtract_ANSI(int32_t width, int32_t height, uint8_t* pixels, int32_t resolution, uint8_t* out,
                       int32_t* out_length, uint8_t finger_position, XWContext* context);

}  // namespace zyl::api
