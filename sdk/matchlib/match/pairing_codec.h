// The functions of pairing codec that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_pair_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint32_t pairing_write(const MinutiaPairing* p, uint8_t* out);
uint32_t pairing_read(const uint8_t* data, uint32_t length, MinutiaPairing** out);

}  // namespace zyl::matchlib
