// The functions of grid extract ops that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_grid_extract.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

GridExtractParams* gridext_params_read(GridExtractParams* out, const MatchContext* context);

}  // namespace zyl::matchlib
