// Bodies of the context API's comparison calls, and the native template
// extraction that the engine dispatch shares with XWExtract.
#pragma once

#include <cstdint>
#include <span>

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

// XWExtract writing its native template into `out`, whatever its size: the
// writer leaves out what does not fit (the combined small-sensor template
// has only the 512 bytes after its type-line half).
std::int32_t extract_native(XWContext* context, std::int32_t width, std::int32_t height, std::uint8_t* pixels,
                            std::int32_t resolution, std::span<std::uint8_t> out, std::int32_t* out_length);

}  // namespace zyl::api
