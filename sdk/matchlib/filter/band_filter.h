// The functions of band filter that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_band_filter.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int fftfilt_band_by_resolution_u8(const uint8_t* src, int height, int width, int resolution,
                                  uint8_t* dst);
int fftfilt_radial_u8(const uint8_t* src, int height, int width, int resolution, int b, int c,
                      int d, int e, int zero_frequency, uint8_t* dst);
int fftfilt_radial_inverted_u8(const uint8_t* src, int height, int width, int resolution, int b,
                               int c, int d, int e, int zero_frequency, uint8_t* dst);
int fftfilt_radial_u16(const uint16_t* src, int height, int width, int resolution, int b, int c,
                       int d, int e, int zero_frequency, uint16_t* dst);
int imgproc_preprocess_bandpass(const MatchContext* ctx, const uint8_t* src, uint32_t, int height,
                                int width, int resolution, int, uint8_t* out, uint8_t** foreground);

}  // namespace zyl::matchlib
