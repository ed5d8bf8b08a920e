// The functions of minutiae pipeline bilevel that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int minutiae_pipeline_bilevel(const uint8_t* pixels, const uint8_t* mask, int height, int width,
                              MinutiaeRecord* record, RidgeTraceCallback callback, void* user);

}  // namespace zyl::matchlib
