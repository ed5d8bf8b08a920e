// The functions of fft16 i16 that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_fft.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void fft16_complex_i16(const int16_t* in, int16_t* out);
void fft2d_forward16_i16(const int16_t* in, int16_t* spectrum);
void fft2d_inverse16_i16(const int16_t* spectrum, int8_t* out, int16_t* work);

}  // namespace zyl::matchlib
