// The functions of callback object that the library calls internally: the
// bodies of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_support.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void cbobj_release(CallbackObject* obj);

}  // namespace zyl::matchlib
