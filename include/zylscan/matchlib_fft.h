/* Matcher library Fourier transforms.
 *
 * Fixed-point complex kernels of 16, 32, 64 and 128 points on separate real
 * and imaginary int32 arrays, each answering 1/N of the forward DFT with Q10
 * twiddles; the four-lane twins hold four sequences interleaved (sample m of
 * sequence j at index 4m + j). Output arrays must not overlap the inputs.
 *
 * Fixed-point 2-D pairs of real n x n blocks (n = 16, 32, 64, 128): the
 * forward transform writes a half spectrum (n rows of n/2 + 1 real and
 * imaginary int32 entries) holding 1/n^2 of the 2-D DFT; the inverse holds
 * 1/n^2 of the inverse sum and uses a work array of the half-spectrum size,
 * which may be the imaginary input itself.
 *
 * A 16-bit 16 x 16 pair with interleaved (re, im) int16 values whose inverse
 * delivers signed bytes, and its Q9 16-point kernel.
 *
 * A single-precision 256 x 256 transform with its plan, and the float filter
 * path over 16-bit images. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

ZYL_API void fft16_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                           int32_t* out_im);
ZYL_API void fft16_complex_x4(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                              int32_t* out_im);
ZYL_API void fft32_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                           int32_t* out_im);
ZYL_API void fft32_complex_x4(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                              int32_t* out_im);
ZYL_API void fft64_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                           int32_t* out_im);
ZYL_API void fft128_complex(const int32_t* in_re, const int32_t* in_im, int32_t* out_re,
                            int32_t* out_im);

ZYL_API void fft2d_forward16(const int32_t* block, int32_t* re, int32_t* im);
ZYL_API void fft2d_forward32(const int32_t* block, int32_t* re, int32_t* im);
ZYL_API void fft2d_forward64(const int32_t* block, int32_t* re, int32_t* im);
ZYL_API void fft2d_forward128(const int32_t* block, int32_t* re, int32_t* im);
ZYL_API void fft2d_inverse16(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);
ZYL_API void fft2d_inverse32(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);
ZYL_API void fft2d_inverse64(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);
ZYL_API void fft2d_inverse128(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);

/* Forward and inverse of one side, as the tiled filter driver binds them. */
typedef void (*FftForwardFn)(const int32_t* block, int32_t* re, int32_t* im);
typedef void (*FftInverseFn)(const int32_t* re, const int32_t* im, int32_t* out, int32_t* work);

/* 16 complex values (re, im interleaved) in, 16 out, about 1/16 of the DFT. */
ZYL_API void fft16_complex_i16(const int16_t* in, int16_t* out);
/* 256 inputs as 8 row pairs of 32 interleaved samples -> 16 x 9 complex
 * values (288 int16), 1/64 of the DFT, saturated. */
ZYL_API void fft2d_forward16_i16(const int16_t* in, int16_t* spectrum);
/* 288-value spectrum -> 16 x 16 signed bytes (1/512 of the inverse sum);
 * work holds 288 int16. */
ZYL_API void fft2d_inverse16_i16(const int16_t* spectrum, int8_t* out, int16_t* work);

/* Single-precision plan. Only plans created for 256 run the 256-point
 * transforms; every 256-point pass scales by 1/16, so a 2-D transform scales
 * by 1/256 in both directions and forward then inverse gives the frame back. */
typedef struct FftFloatPlan {
  int32_t* bitrev;       /* bit-reversed order of n/4 indices (or the 4-entry start) */
  int32_t bitrev_size;
  int32_t n;
  float tw16[4][4][2];   /* cos, sin of -2 pi i k / 16 (i, k = 0..3) */
  float tw64[16][4][2];  /* angle -pi i k / 32 (i = 0..15, k = 0..3) */
  float tw256[64][4][2]; /* angle -pi i k / 128 (i = 0..63, k = 0..3) */
  float* work;           /* n * (n/2 + 1) floats */
} FftFloatPlan;

/* Float spectral callback over a 256 x 129 half spectrum. */
typedef void (*FloatSpectrumCallback)(float* re, float* im, int rows, int columns, void* user);

ZYL_API FftFloatPlan* fftf_plan_create(int n);
ZYL_API void fftf_plan_free(FftFloatPlan* plan);
ZYL_API int fftf_forward256(FftFloatPlan* plan, const float* frame, float* re, float* im);
ZYL_API int fftf_inverse256(FftFloatPlan* plan, const float* re, const float* im, float* frame);
ZYL_API int fftfilt_float256(float* out, const float* in, FloatSpectrumCallback callback,
                             void* user);
ZYL_API int fftfilt_float256_sized(float* out, const float* in, int rows, int columns,
                                   FloatSpectrumCallback callback, void* user);
ZYL_API int fftfilt_run_float_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                  int frame_rows, int frame_columns,
                                  FloatSpectrumCallback callback, void* user);

ZYL_EXTERN_C_END
