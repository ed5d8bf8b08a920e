// The functions of preset light verify that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_presets.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

StageChain* preset_build_verify_chain(MatchContext* context, int card_switch);
MatchEngine* preset_create_light_verify(MatchContext* context);

}  // namespace zyl::matchlib
