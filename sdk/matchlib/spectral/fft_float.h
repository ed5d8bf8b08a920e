// The functions of fft float that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_fft.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

FftFloatPlan* fftf_plan_create(int n);
void fftf_plan_free(FftFloatPlan* plan);
int fftf_forward256(FftFloatPlan* plan, const float* frame, float* re, float* im);
int fftf_inverse256(FftFloatPlan* plan, const float* re, const float* im, float* frame);
int fftfilt_float256(float* out, const float* in, FloatSpectrumCallback callback, void* user);
int fftfilt_run_float_u16(uint16_t* dst, const uint16_t* src, int height, int width, int frame_rows,
                          int frame_columns, FloatSpectrumCallback callback, void* user);

}  // namespace zyl::matchlib
