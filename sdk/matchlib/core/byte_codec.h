// The functions of byte codec that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_codec.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int bytes_write_u8(uint8_t* out, int value);
uint16_t bytes_read_be16(const uint8_t* p);
int bytes_write_be16(uint8_t* out, int value);
uint32_t bytes_read_be32(const uint8_t* p);
int bytes_write_be32(uint8_t* out, uint32_t value);
uint32_t bytes_write_raw(uint8_t* out, const void* src, uint32_t n);
int bytes_dup(void** out, const void* src, uint32_t n);
int blocks_dispatch6(void* target, const BlockHandler* table, const uint8_t* buffer,
                     uint32_t length, void* user);
int blocks_dispatch4(void* target, const BlockHandler* table, const uint8_t* buffer,
                     uint32_t length, void* user);

}  // namespace zyl::matchlib
