// Steps shared by the context API's working calls and the generalisation.
#pragma once

#include <cstdint>
#include <span>

#include "api/graph_lines.h"
#include "api/nuvel_codec.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t XWVerify(const uint8_t* template_a, const uint8_t* template_b, MatchDetails* details, XWContext* context);
int32_t XWGeneralize(int32_t count, const uint8_t* const* templates, uint8_t* out, int32_t* out_length,
                     XWContext* context);

}  // namespace zyl::api

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

// The native template writer's settings of a context (a new context's
// settings when there is none).
NuvelWriterSettings writer_settings(XWContext* context);

// XWExtract writing its native template into `out`, whatever its size: the
// writer leaves out what does not fit (the combined small-sensor template
// has only the 512 bytes after its type-line half).
std::int32_t extract_native(XWContext* context, std::int32_t width, std::int32_t height, std::uint8_t* pixels,
                            std::int32_t resolution, std::span<std::uint8_t> out, std::int32_t* out_length);

}  // namespace zyl::api
