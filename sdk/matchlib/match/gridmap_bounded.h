// The functions of gridmap bounded that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_grid_match.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int gridmap_histogram_similarity_card(const uint8_t* a, uint32_t length_a, const uint8_t* b,
                                      uint32_t length_b, uint16_t* out);
int gridmap_match_bounded(void* work, uint32_t work_size, const uint8_t* reference,
                          uint32_t reference_length, const uint8_t* probe, uint32_t probe_length,
                          int, uint16_t* scores, void*, GridAlignment* alignment, int mode);

}  // namespace zyl::matchlib
