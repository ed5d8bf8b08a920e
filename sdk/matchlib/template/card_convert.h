// The functions of card convert that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include <vector>

#include "zylscan/matchlib_card_convert.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int fmr_to_card(const uint8_t* record, uint32_t size, int max_minutiae, uint8_t** out,
                uint32_t* out_size);
// fmr_to_card that also answers which of the record's minutiae (indices in
// record order) the card holds: those whose card coordinates leave 0..255
// are left out.
int fmr_to_card_keeping(const uint8_t* record, uint32_t size, int max_minutiae, uint8_t** out,
                        uint32_t* out_size, std::vector<int>& kept);
int card_to_minrec(const uint8_t* card, uint32_t length, MinutiaeRecord* record);

}  // namespace zyl::matchlib
