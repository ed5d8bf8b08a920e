// Steps shared by the context API's working calls and the generalisation.
#pragma once

#include <cstdint>

#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

namespace zyl::api {

// Marks the rotations the matcher may accept: L = min(max_rotation, 120)
// steps either way (bins 0..L-1 and 240-L..239).
void set_rotation_mask(MatchData& md, std::int32_t max_rotation);

// Copies `sample` into `work`, prepares it as the sample side against the
// already prepared `test` side and matches the two. The work side is left
// rotated and shifted into the test frame.
std::int32_t match_sides(XWContext& c, MatchSide& test, const FeatureRecord& sample, MatchSide& work,
                         std::int32_t threshold, MatchDetails* details);

}  // namespace zyl::api
