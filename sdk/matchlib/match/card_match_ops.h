// The functions of card match ops that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card_match_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int match_card_local64(const uint8_t* card_a, uint32_t length_a, const uint8_t* card_b,
                       uint32_t length_b, CardMatchResult* result, CardAlignment* alignment,
                       int mode);
DataBlob* card_section_to_template(const DataBlob* blob);
int match_card(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
               uint16_t* out_count, RigidTransform** alignment);

}  // namespace zyl::matchlib
