// The functions of band grid that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_bandgrid.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int bandgrid_target_dpi(void);
BandGrid* bandgrid_init(void* storage, uint32_t storage_size, int row_buffer_flag, uint16_t width,
                        uint16_t height, uint8_t cell_size, uint32_t* required);
uint32_t bandgrid_feed_rows(BandGrid* g, uint32_t rows, const uint8_t* pixels);

}  // namespace zyl::matchlib
