// The functions of thinning that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_thinning.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void SkeletonizeImage(std::int32_t width, std::int32_t height, ByteImage image, std::int32_t passes);
std::int32_t GetTransitionCount(ByteImage image, std::int32_t y, std::int32_t x);
std::int32_t PixelOnLine(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, ByteImage image);

}  // namespace zyl::extract
