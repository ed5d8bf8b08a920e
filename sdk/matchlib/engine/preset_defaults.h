// The functions of preset defaults that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_presets.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int preset_register_far_defaults(MatchContext* context);

}  // namespace zyl::matchlib
