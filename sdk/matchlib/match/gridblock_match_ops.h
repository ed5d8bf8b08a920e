// The functions of gridblock match ops that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_match_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int match_gridblock_refine(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                           uint16_t* out_count, RigidTransform** alignment);

}  // namespace zyl::matchlib
