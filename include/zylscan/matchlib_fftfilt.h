/* Matcher library tiled frequency-domain filter driver. An image is cut
 * into overlapping square tiles of side N = 16, 32, 64 or 128; each tile is
 * transformed with the fixed-point pair of its side, handed as a half
 * spectrum (N rows of N/2 + 1 int32 real and imaginary entries) to a
 * callback, transformed back and stitched in, each overlap cut in the
 * middle. Results are matcher library status codes: 0 done, 1 tile side not
 * supported, 2 bad argument (also dst equal to src in a kernel call, or an
 * image smaller than one tile), 4 work area too small, 9 out of memory, or
 * the callback's own non-zero status. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_fft.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Called once per tile; may change the coefficients in place. work is what
 * remains of the driver's work area. A non-zero answer stops the driver. */
typedef int (*SpectrumCallback)(int32_t* re, int32_t* im, int n, void* work, int work_size,
                                void* user);

/* Work area the 8-bit kernel needs for side n, alignment included. */
ZYL_API int fftfilt_work_size(int n);

/* The 8-bit kernel with N = 2^log2_side; dst and src are height x width. */
ZYL_API int fftfilt_tiles_u8(uint8_t* dst, const uint8_t* src, int height, int width, int margin,
                             void* work, int work_size, int log2_side, FftForwardFn forward,
                             FftInverseFn inverse, SpectrumCallback callback, void* user);
ZYL_API int fftfilt_run_sized_u8(uint8_t* dst, const uint8_t* src, int height, int width,
                                 int side, int margin, void* work, int work_size,
                                 SpectrumCallback callback, void* user);
ZYL_API int fftfilt_run16_u8(uint8_t* dst, const uint8_t* src, int height, int width, int margin,
                             void* work, int work_size, SpectrumCallback callback,
                             void* user);
ZYL_API int fftfilt_run32_u8(uint8_t* dst, const uint8_t* src, int height, int width, int margin,
                             void* work, int work_size, SpectrumCallback callback,
                             void* user);
ZYL_API int fftfilt_run64_u8(uint8_t* dst, const uint8_t* src, int height, int width, int margin,
                             void* work, int work_size, SpectrumCallback callback,
                             void* user);
ZYL_API int fftfilt_run128_u8(uint8_t* dst, const uint8_t* src, int height, int width,
                              int margin, void* work, int work_size,
                              SpectrumCallback callback, void* user);

/* Allocates its own work area; dst may equal src. With pad > 0, or an image
 * smaller than a tile, the image is extended into a centred frame first. */
ZYL_API int fftfilt_run_u8(uint8_t* dst, const uint8_t* src, int height, int width, int side,
                           int margin, int pad, SpectrumCallback callback, void* user);

/* 16-bit twins, tile side 64 only. */
ZYL_API int fftfilt_tiles64_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                int margin, void* work, int work_size,
                                SpectrumCallback callback, void* user);
ZYL_API int fftfilt_run_tiles64_u16(uint16_t* dst, const uint16_t* src, int height, int width,
                                    int margin, void* work, int work_size,
                                    SpectrumCallback callback, void* user);
ZYL_API int fftfilt_run_u16(uint16_t* dst, const uint16_t* src, int height, int width, int side,
                            int margin, int pad, SpectrumCallback callback, void* user);

/* Byte gains (user: N * (N/2 + 1) bytes laid out like the half spectrum):
 * x becomes about x * g / 255. Answers 0. */
ZYL_API int fftfilt_gain_cb(int32_t* re, int32_t* im, int n, void* work, int work_size,
                            void* user);
/* Float gains for the 256 x 256 float path (user: 256 * 129 floats). */
ZYL_API void fftfilt_gain_float_cb(float* re, float* im, int rows, int columns, void* user);

ZYL_EXTERN_C_END
