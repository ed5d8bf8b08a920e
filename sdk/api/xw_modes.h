// The functions of xw modes that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/xw.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t SetThresholdNormalization(XWContext* context);

}  // namespace zyl::api
