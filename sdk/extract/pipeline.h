// Internals of the extraction pipeline that tests reach directly.
#pragma once

#include <cstdint>

namespace zyl::extract {

// Texture quality 0..100 from the mean noise of the good area (0..255,
// lower is better) and the good interior area in percent (0..100).
std::int32_t texture_quality_score(std::int32_t noise, std::int32_t area);

}  // namespace zyl::extract
