// The functions of border density that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_filters.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void ComputeGImage(int32_t width, int32_t height, ByteImage image, ByteImage D, int32_t r);
int32_t ComputeG(int32_t width, int32_t height, ByteImage binary, ByteImage D);
int32_t ComputeA(int32_t width, int32_t height, ByteImage, ByteImage D);

}  // namespace zyl::extract
