// The functions of full match op that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_stage_tables.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

const StageMatchOps* keypoint_stage_ops(int row);
const StageMatchOps* refine_stage_ops(int row);
const StageMatchOps* card_stage_ops(int row);
int match_full(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
               uint16_t* out_count, RigidTransform** alignment);

}  // namespace zyl::matchlib
