// The functions of gain tables that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_gain_table.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint8_t* fftfilt_gain_table_u8(int resolution, int b, int c, int d, int e);
float* fftfilt_gain_table_float(int resolution, int b, int c, int d, int e);
const uint8_t* fftfilt_gain_table_ready_u8(int resolution);

}  // namespace zyl::matchlib
