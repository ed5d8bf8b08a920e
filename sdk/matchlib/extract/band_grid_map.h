// The functions of band grid map that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_bandgrid.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int bandgrid_finish(BandGrid* grid, uint8_t column_limit, uint8_t row_limit,
                    const uint8_t** out_map, uint16_t* out_length, uint8_t* out_quality,
                    uint16_t* out_area);

}  // namespace zyl::matchlib
