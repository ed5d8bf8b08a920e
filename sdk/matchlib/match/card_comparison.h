// The functions of card comparison that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card_compare.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int card_compare_core(const uint8_t* reference, uint32_t reference_length, uint8_t* work,
                      uint32_t work_size, const uint8_t* probe, uint32_t probe_length,
                      uint16_t option_word, uint8_t* packing_room, uint16_t* scores);
int card_verify_gallery(MatchEngine* engine, DataBlob* const* gallery, int count, DataBlob* probe,
                        int level, MatchResult* result);

}  // namespace zyl::matchlib
