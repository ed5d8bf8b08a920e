// The functions of packed image that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card_extended.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int card_parse_image_info(const uint8_t* value, uint32_t length, uint16_t* rows, uint16_t* columns,
                          uint8_t* flag);
int packed_image_write(const uint8_t* pixels, uint16_t rows, uint16_t columns,
                       uint16_t horizontal_dpi, uint16_t vertical_dpi, uint8_t flag, uint8_t** out,
                       uint32_t* out_size);
int packed_image_read(const uint8_t* record, uint32_t length, const uint8_t** pixels,
                      uint16_t* rows, uint16_t* columns, uint16_t* horizontal_dpi,
                      uint16_t* vertical_dpi, uint8_t* flag);

}  // namespace zyl::matchlib
