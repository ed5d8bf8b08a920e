// The functions of card grid ops that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_card_match_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int card_template_image_info(const DataBlob* blob, uint16_t* width, uint16_t* height,
                             uint8_t* quality);
int match_card_grid(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                    uint16_t* out_count, RigidTransform** alignment);
int match_card_grid_detail(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                           uint16_t* out_count, RigidTransform** alignment);
int match_card_grid_fixed(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                          uint16_t* out_count, RigidTransform** alignment);
int match_grid_map(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                   uint16_t* out_count, RigidTransform** alignment);

}  // namespace zyl::matchlib
