// The functions of card extended build that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card_convert.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int card_build_extended(const uint8_t* card, uint32_t length, const CellMap* orientation,
                        const CellMap* frequency, const uint8_t* orientation_fine,
                        const uint8_t* frequency_fine, const uint8_t* pixels, uint16_t rows,
                        uint16_t columns, uint8_t image_flag, uint8_t info_flag, uint8_t** out,
                        uint32_t* out_size);
int card_build_extended_maps(const uint8_t* card, uint32_t length, const CellMap* orientation,
                             const CellMap* frequency, const uint8_t* orientation_fine,
                             const uint8_t* frequency_fine, uint16_t rows, uint16_t columns,
                             uint8_t info_flag, uint8_t** out, uint32_t* out_size);
int card_wrap_block_maps(const uint8_t* card, uint32_t size, const CellMap* orientation,
                         const CellMap* frequency, uint8_t** out, uint32_t* out_size);

}  // namespace zyl::matchlib
