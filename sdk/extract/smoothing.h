// The functions of smoothing that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_filters.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void PuttyImage(int32_t width, int32_t height, ByteImage image);
void SmoothImage(int32_t width, int32_t height, ByteImage image, int32_t r);
void NormalizeImage(int32_t width, int32_t height, ByteImage grey, ByteImage smooth, int32_t r);

// SmoothImage of a copy of `from` written into `to` (another image of the
// same size), without the copy; `from` is only read.
void SmoothImageInto(int32_t width, int32_t height, ByteImage from, ByteImage to, int32_t r);

}  // namespace zyl::extract
