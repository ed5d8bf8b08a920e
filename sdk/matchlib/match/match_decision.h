// The decision of a probe against a gallery through the engine's match
// operation: accepted or not, and where.
#pragma once

#include "zylscan/matchlib_verify.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int engine_match_decide(MatchEngine* e, DataBlob* const* gallery, uint8_t count, DataBlob* probe,
                        int level, int32_t* out_decision, RigidTransform** out_transform,
                        int32_t* out_gallery_index, int32_t* out_view_index);

}  // namespace zyl::matchlib
