// The functions of stage pairs that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_stage_pairs.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int match_gridmap_histogram(MatchContext*, DataBlob* probe, DataBlob* gallery,
                            uint16_t** out_scores, uint16_t* out_count, RigidTransform** transform);
const StageMatchOps* stage_pair_ops(int pair);

}  // namespace zyl::matchlib
