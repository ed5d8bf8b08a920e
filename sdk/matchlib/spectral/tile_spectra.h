// The functions of tile spectra that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_frequency.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void spectrum_to_bytes(uint8_t* out, const int32_t* re, const int32_t* im, int n);
int spectrum_tile16(const uint8_t* image, int height, int width, int top, int left, int window_type,
                    int32_t* out_re, int32_t* out_im);
void spectrum_magnitude(const int32_t* re, const int32_t* im, int n, uint32_t* out);
void window_taper(uint8_t* out, int length, int a);
void window_gauss(uint8_t* out, int length, int a);
int fftfilt_keep_dominant_cb(int32_t* re, int32_t* im, int n, void*, int, void*);

}  // namespace zyl::matchlib
