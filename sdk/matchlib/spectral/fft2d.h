// The functions of fft2d that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_fft.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void fft2d_forward16(const int32_t* block, int32_t* re, int32_t* im);
void fft2d_forward32(const int32_t* block, int32_t* re, int32_t* im);
void fft2d_forward64(const int32_t* block, int32_t* re, int32_t* im);
void fft2d_forward128(const int32_t* block, int32_t* re, int32_t* im);
void fft2d_inverse16(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);
void fft2d_inverse32(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);
void fft2d_inverse64(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);
void fft2d_inverse128(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);

}  // namespace zyl::matchlib
