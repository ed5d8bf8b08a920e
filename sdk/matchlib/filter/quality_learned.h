// The functions of quality learned that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_quality_model.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int quality_extract_features(const QualityModelHolder* holder, const GrayImage* image,
                             int32_t** out_values, uint16_t* out_count);

}  // namespace zyl::matchlib
