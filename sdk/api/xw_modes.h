// The functions of xw modes that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/xw.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t SetExtractFeatures(int32_t choice, XWContext* context);
int32_t SetMatchFeatures(int32_t choice, XWContext* context);
int32_t SetMatchingSpeed(int32_t speed, XWContext* context);
int32_t SetMode(int32_t mode, XWContext* context);
int32_t SetThresholdNormalization(XWContext* context);

}  // namespace zyl::api
