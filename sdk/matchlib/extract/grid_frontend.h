// The functions of grid frontend that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_grid_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int gridblock_extract32(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                        int resolution, uint8_t** out, uint16_t* out_length,
                        const GridExtractParams* params);
int gridblock_extract(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                      int resolution, uint8_t** out, uint16_t* out_length,
                      const GridExtractParams* params);
int gridblock_extract_i16(const uint8_t* pixels, const uint8_t* usable, int height, int width,
                          int resolution, uint8_t** out, uint16_t* out_length,
                          const GridExtractParams* params);
int gridblock_peak_agreement(const GridCellWork* works, int k, int row, int column, int rows,
                             int columns);

}  // namespace zyl::matchlib
