// The card comparison's shared pieces: the thread's card flags word,
// big-endian field access and the location of the parts of an input.
#pragma once

#include <cstdint>

namespace zyl::matchlib::card {

uint32_t flags();
void set_flags(uint32_t word);

uint16_t be16(const uint8_t* p);
int32_t be32(const uint8_t* p);
void put16(uint8_t* p, uint32_t v);
void put32(uint8_t* p, uint32_t v);

// Start and size of part n of a comparison input (the list of k part
// buffers, or one buffer when k < 2), bounded by its buffer: 0, or 17 when
// part 0's header is not readable or the part lies outside the input.
int locate_part(const uint8_t* const* parts, const uint32_t* sizes, int k, int n, const uint8_t** start,
                uint32_t* size);

}  // namespace zyl::matchlib::card
