// The functions of spot removal that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_filters.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

int32_t EliminateSpots(int32_t width, int32_t height, ByteImage flags);

}  // namespace zyl::extract
