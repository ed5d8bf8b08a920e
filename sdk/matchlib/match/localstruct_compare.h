// The functions of localstruct compare that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_localstruct.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int localstruct64_compare(uint8_t* work, uint16_t work_size, const uint8_t* form,
                          uint32_t form_length, const uint8_t* card, uint32_t card_length,
                          CardMatchResult* result, CardAlignment* alignment, int mode);

}  // namespace zyl::matchlib
