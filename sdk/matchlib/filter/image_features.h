// The functions of image features that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_features.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint16_t imgfeat_halve_texture(int32_t value);
int imgfeat_compute(const void*, const GrayImage* image, int16_t** out_vector, int* out_count);
void imgfeat_free(int16_t* vector);

}  // namespace zyl::matchlib
