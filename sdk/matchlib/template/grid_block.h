// The functions of grid block that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_gridblock.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

GridFeatureBlock* gridblock_create(uint8_t rows, uint8_t columns, uint16_t resolution,
                                   uint8_t origin_y, uint8_t origin_x);
void gridblock_free(GridFeatureBlock* block);
int gridblock_serialize(const GridFeatureBlock* block, uint8_t** out, uint16_t* out_length,
                        const GridBlockSettings* settings);
int gridblock_parse(const uint8_t* bytes, uint32_t length, GridFeatureBlock** out);

}  // namespace zyl::matchlib
