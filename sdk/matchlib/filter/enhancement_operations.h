// The functions of enhancement operations that the library calls internally:
// the bodies of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int img_remove_checker_guarded(const uint8_t* pixels, int height, int width, int, uint8_t* out);
int img_destripe_guarded(const uint8_t* pixels, int height, int width, int, int mode, int strip,
                         uint8_t* out);
int imgproc_normalize_local_dpi(const uint8_t* pixels, int height, int width, int resolution,
                                uint8_t* out);
int img_smooth_binomial_guarded(const uint8_t* pixels, int height, int width, int, uint8_t* out);
int img_band_filter_guarded(const uint8_t* pixels, int height, int width, int resolution,
                            uint8_t* out);
int imgproc_normalize_by_type(const uint8_t* pixels, int height, int width, int resolution,
                              int type, uint8_t* out);

}  // namespace zyl::matchlib
