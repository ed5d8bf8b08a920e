// The functions of singular points that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_orientation.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int singular_poincare_index(const uint8_t* map, int width, int index, int radius);
int singular_find_points(const uint8_t* map, const uint8_t* mask, int height, int width,
                         SingularPoint* points, int* count, int max_count);
int singular_split_cores_deltas(const SingularPoint* points, int count, int width,
                                SingularList* cores, SingularList* deltas);

}  // namespace zyl::matchlib
