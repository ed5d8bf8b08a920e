// The functions of ref plane access that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_ref_planes.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void ref_plane_settings_default(RefPlaneSettings* s);

}  // namespace zyl::matchlib
