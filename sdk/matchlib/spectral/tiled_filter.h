// The functions of tiled filter that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_fftfilt.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int fftfilt_work_size(int n);
int fftfilt_tiles_u8(uint8_t* dst, const uint8_t* src, int height, int width, int margin,
                     void* work, int work_size, int log2_side, FftForwardFn forward,
                     FftInverseFn inverse, SpectrumCallback callback, void* user);
int fftfilt_run_sized_u8(uint8_t* dst, const uint8_t* src, int height, int width, int side,
                         int margin, void* work, int work_size, SpectrumCallback callback,
                         void* user);
int fftfilt_run_u8(uint8_t* dst, const uint8_t* src, int height, int width, int side, int margin,
                   int pad, SpectrumCallback callback, void* user);
int fftfilt_tiles64_u16(uint16_t* dst, const uint16_t* src, int height, int width, int margin,
                        void* work, int work_size, SpectrumCallback callback, void* user);

}  // namespace zyl::matchlib
