// The functions of minutia selection that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_minutiae.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void SelectBadMinutiae(int32_t width, int32_t height, ByteImage O, ByteImage D, FeatureRecord* list, int32_t pairing,
                       int32_t image_test);
void Putty1FTR1(ByteImage patch, ByteImage scratch, int32_t width, int32_t height);
int32_t GetFtrQuality(int32_t, int32_t, ByteImage, ByteImage patch, ByteImage scratch, int32_t n, const FeatureRecord*,
                      int32_t);
void EliminateBadMinutiae(FeatureRecord* list);

}  // namespace zyl::extract
