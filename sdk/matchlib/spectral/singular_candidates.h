// The functions of singular candidates that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_orientation.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int orient_inconsistency_from_vectors(const int16_t* c, const int16_t* s, int height, int width,
                                      uint8_t* out);

}  // namespace zyl::matchlib
