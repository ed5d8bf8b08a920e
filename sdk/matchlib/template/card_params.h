// The card comparison's shared pieces: the thread's card flags word and
// big-endian field access.
#pragma once

#include <cstdint>

namespace zyl::matchlib::card {

uint32_t flags();
void set_flags(uint32_t word);

uint16_t be16(const uint8_t* p);
int32_t be32(const uint8_t* p);
void put16(uint8_t* p, uint32_t v);
void put32(uint8_t* p, uint32_t v);

}  // namespace zyl::matchlib::card
