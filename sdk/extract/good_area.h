// The functions of good area that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_minutiae.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void EnhanceGoodArea(int32_t width, int32_t height, ByteImage D, int32_t r);
void MapBadArea(int32_t width, int32_t height, ByteImage image, ByteImage D);

}  // namespace zyl::extract
