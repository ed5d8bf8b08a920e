// Engine dispatch: rules shared with the tests.
#pragma once

#include <cstdint>

namespace zyl::api {

// The answer of the type-line road (mode 1) for a type-line score: a score
// of 100 or more stands only when the native templates confirm it, and the
// result is lowered by 40.
std::int32_t TypelineVerdict(std::int32_t score, bool confirmed);

}  // namespace zyl::api
