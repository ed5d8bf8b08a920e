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

// The score model of a placeholder profile: a pair of match ops whose
// scores have no fitted model or thresholds yet. Its evaluation answers 3
// (not available), so a comparison through it fails instead of deciding:
// the neutral table would convert every raw score, 0 included, to the top
// of the FAR scale and accept two different fingers at every level.
ScoreModel score_model_unfitted(void);

}  // namespace zyl::matchlib
