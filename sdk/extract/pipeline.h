// Internals of the extraction pipeline that tests reach directly.
#pragma once

#include <cstdint>
#include "zylscan/extract_pipeline.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

int32_t ExtractFeatures(int32_t width, int32_t height, ByteImage image, FeatureRecord* record, XWContext* context);
int32_t ExtractFeatures_GetQ(int32_t width, int32_t height, ByteImage rows);

}  // namespace zyl::extract

namespace zyl::extract {

// Texture quality 0..100 from the mean noise of the good area (0..255,
// lower is better) and the good interior area in percent (0..100).
std::int32_t texture_quality_score(std::int32_t noise, std::int32_t area);

}  // namespace zyl::extract
