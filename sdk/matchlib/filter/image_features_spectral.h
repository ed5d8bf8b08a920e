// The functions of image features spectral that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_features.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int specfeat_compute(const GrayImage* image, SpectralFeatureVector** out);
void specfeat_free(SpectralFeatureVector* vector);
uint16_t specfeat_combine(int32_t t);

}  // namespace zyl::matchlib
