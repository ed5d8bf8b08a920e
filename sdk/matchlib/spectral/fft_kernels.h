// The functions of fft kernels that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_fft.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void fft16_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void fft32_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void fft64_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void fft128_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);

}  // namespace zyl::matchlib
