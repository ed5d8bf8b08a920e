// The tiled frequency-domain filter that the spectral border continuation
// runs. It belongs to the Fourier part of the library, which is built
// separately; the border code refers to it weakly and answers "routine
// missing" (18) while a build carries none of it.
#pragma once

#include <cstdint>

extern "C" {
// Called once per tile with the tile's half spectrum (n rows of n / 2 + 1
// coefficients); a non-zero answer stops the filter.
typedef int (*SpectrumCallback)(std::int32_t* real, std::int32_t* imaginary, int n, void* work,
                                int work_size, void* user);
__attribute__((weak)) int fftfilt_run32_u8(std::uint8_t* dst, const std::uint8_t* src, int height,
                                           int width, int overlap, void* work, int work_size,
                                           SpectrumCallback callback, void* user);
__attribute__((weak)) int fftfilt_keep_dominant_cb(std::int32_t* real, std::int32_t* imaginary,
                                                   int n, void* work, int work_size, void* user);
__attribute__((weak)) int fftfilt_work_size(int tile_side);
}
