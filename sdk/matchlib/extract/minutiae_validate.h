// The functions of minutiae validate that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int minutiae_validate_endings(MinutiaEntry* minutiae, int count, const uint8_t* skeleton,
                              const uint8_t* counts, const uint8_t* frequency, int height,
                              int width, int scale, int map_step);
int minutiae_check_flow(MinutiaEntry* minutiae, int count, const uint8_t* orientation, int height,
                        int width, int divisor, int map_step);
void minutiae_sort(MinutiaeRecord* record, int order, int centroid_row, int centroid_column);

}  // namespace zyl::matchlib
