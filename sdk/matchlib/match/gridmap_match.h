// The functions of gridmap match that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_grid_match.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

uint32_t gridmap_match_work_size(const uint8_t* map1, uint16_t length1, const uint8_t* map2,
                                 uint16_t length2, uint32_t flags);
int gridmap_match(void* work, uint32_t work_size, const uint8_t* map1, uint16_t length1,
                  const uint8_t* map2, uint16_t length2, int decision_index, uint16_t* score_record,
                  uint8_t* decision, GridAlignment* alignment, uint32_t flags);
int gridmap_histogram_similarity(const uint8_t* map1, uint16_t length1, const uint8_t* map2,
                                 uint16_t length2, uint16_t* out);

}  // namespace zyl::matchlib
