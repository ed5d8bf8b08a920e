// The functions of orientation repair that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_orientation.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int orient_fill_holes(uint8_t* orientation, uint8_t* coherence, uint8_t* weight, int rows,
                      int columns);
int orient_fix_outliers(uint8_t* map, int, int rows, int columns);

}  // namespace zyl::matchlib
