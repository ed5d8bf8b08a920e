// The helpers the engine's operations share on the XW context record
// (extract/context_record.h), and its numbered parameters.
#pragma once

#include <algorithm>
#include <cstdint>

#include "extract/context_record.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t XWGetAdditionalParameter(int32_t id, int32_t* out, XWContext* context);
int32_t XWGetAdditionalParameterType(int32_t id);
int32_t XWSetAdditionalParameter(int32_t id, int32_t value, XWContext* context);

}  // namespace zyl::api

namespace zyl::api {

inline constexpr std::int32_t kMaxRotation = 120;

// Frees the context and its match data: XW_OK, or XW_ERR_NULL_ARGUMENT.
std::int32_t free_context(XWContext* context);

// The context's match data, created on first use; null when memory runs out.
MatchData* ensure_match_data(XWContext& context);

// Score normalisation shared by the matcher and the verification calls:
// (scale x v + offset + 500) / 1000, truncating towards zero. Values far
// outside any real score saturate instead of overflowing.
inline std::int32_t normalise_score(const XWContext& context, std::int64_t v) {
  v = std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX);
  const std::int64_t score = (context.scoreScale * v + context.scoreOffset + 500) / 1000;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(score, INT32_MIN, INT32_MAX));
}

}  // namespace zyl::api

namespace zyl::api {

// Writes the field of an additional parameter id without clamping or checks
// (for the mode presets, whose values are valid by construction). Returns
// false for an id outside the table.
bool store_parameter_field(XWContext& context, std::int32_t id, std::int32_t value);

}  // namespace zyl::api
