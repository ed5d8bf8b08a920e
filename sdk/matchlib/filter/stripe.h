// The functions of stripe that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_stripe.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int stripe_correct_columns(const uint8_t* pixels, int height, int width, int n, int threshold,
                           uint8_t* out);
int stripe_correct_rows(const uint8_t* pixels, int height, int width, int n, int threshold,
                        uint8_t* out);
int stripe_detect_columns(const uint8_t* pixels, int height, int width, int a, int mode,
                          uint8_t* flag);
int imgproc_destripe_by_type(const uint8_t* pixels, int height, int width, int type, int strip,
                             uint8_t* out);

}  // namespace zyl::matchlib
