// The functions of feature vector that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_featvec.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int featvec_create(uint16_t height, uint16_t width, FeatureVector** out);
int featvec_write(const FeatureVector* vector, uint8_t** out_bytes, uint16_t* out_size);
int featvec_read(const uint8_t* bytes, uint32_t length, FeatureVector** out);
void featvec_free(FeatureVector* vector);

}  // namespace zyl::matchlib
