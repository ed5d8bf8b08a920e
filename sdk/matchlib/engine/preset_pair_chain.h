// The functions of preset pair chain that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_presets.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

StageChain* preset_build_pair_chain(MatchContext* context, const StageMatchOps* ops);

}  // namespace zyl::matchlib
