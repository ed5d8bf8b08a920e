// The functions of minutiae that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_minutiae.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

int32_t ComputeCurvature(int32_t width, int32_t height, ByteImage D, int32_t y, int32_t x, int32_t r);
void ExtractMinutiae(int32_t width, int32_t height, ByteImage skeleton, ByteImage D, FeatureRecord* list);

}  // namespace zyl::extract
