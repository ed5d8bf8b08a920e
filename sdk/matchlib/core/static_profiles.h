// The functions of static profiles that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_profiles.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

const FarThresholdTable* far_table_neutral(void);
const FarThresholdTable* far_table_light(void);
const FarThresholdTable* far_table_light_verify(void);
const FarThresholdTable* far_table_light_verify_model(void);
ScoreModel score_model_light_verify(void);

}  // namespace zyl::matchlib
