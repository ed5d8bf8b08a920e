// The functions of card extended that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int card_parse_extended(const uint8_t* bytes, uint32_t length, const uint8_t** card,
                        uint32_t* card_size, TlvElement* c1, TlvElement* c2, TlvElement* c3);
int card_add_a2_element(const uint8_t* card, uint32_t length, uint16_t tag, const uint8_t* value,
                        uint32_t value_length, uint8_t** out, uint32_t* out_size);
int tmpl_card_section(const uint8_t* bytes, uint32_t length, int32_t format, const uint8_t** data,
                      uint32_t* data_length);

}  // namespace zyl::matchlib
