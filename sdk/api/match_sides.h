// Matching a sample record against a prepared test side, shared by the
// context API's comparison calls and the generalisation.
#pragma once

#include <cstdint>

#include "api/graph_lines.h"
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
// The same with the sample's pairs listed (see graph_lines.h).
std::int32_t match_sides(XWContext& c, MatchSide& test, const FeatureRecord& sample, const TemplatePairs& pairs,
                         MatchSide& work, std::int32_t threshold, MatchDetails* details);

}  // namespace zyl::api
