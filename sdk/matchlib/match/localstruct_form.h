// The functions of localstruct form that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_localstruct.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int localstruct64_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                          uint32_t card_length, uint8_t* output, uint16_t output_size,
                          uint16_t* out_length, LocalStructCopy copy);
int localstruct64_prepare_unreduced(uint8_t* work, uint16_t work_size, const uint8_t* card,
                                    uint32_t card_length, uint8_t* output, uint16_t output_size,
                                    uint16_t* out_length, LocalStructCopy copy);
int localstruct46_prepare(uint8_t* work, uint16_t work_size, const uint8_t* card,
                          uint32_t card_length, uint8_t* output, uint16_t output_size,
                          uint16_t* out_size, LocalStructCopy copy);

}  // namespace zyl::matchlib
