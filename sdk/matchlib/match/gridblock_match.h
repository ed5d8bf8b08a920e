// The functions of gridblock match that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_grid_match.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int gridblock_match(const uint8_t* probe, uint32_t probe_length, const uint8_t* gallery,
                    uint32_t gallery_length, int resolution, uint16_t* scores, uint16_t* count,
                    RigidTransform** alignment, const int16_t* search_params);

}  // namespace zyl::matchlib
