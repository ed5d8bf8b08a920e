// The functions of crc32 that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_blob.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void crc32_init(uint32_t* state);
void crc32_update(const void* data, uint32_t length, uint32_t* state);
uint32_t crc32_final(const uint32_t* state);
uint32_t crc32_compute(const void* data, uint32_t length);

}  // namespace zyl::matchlib
