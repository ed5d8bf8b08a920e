// The functions of card template that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int card_find_element(const uint8_t* card, uint32_t length, uint16_t tag, TlvElement* out);
int card_get_minutiae(const uint8_t* card, uint32_t length, const uint8_t** value,
                      uint32_t* value_length);
uint32_t card_template_size(const uint8_t* bytes, uint32_t length);
int card_read_minutiae(const uint8_t* card, uint32_t length, uint32_t maximum, int reduce, void*,
                       CompactMinutia* out, uint32_t* count, int* has_quality);
int card_add_quality_element(uint8_t** card, uint32_t length, const MinutiaeRecord* record,
                             uint32_t* out_size);

}  // namespace zyl::matchlib
