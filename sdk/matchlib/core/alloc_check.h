// The functions of alloc check that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_object.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int alloc_check(void* p1, void* p2, void* p3, void* p4, void* p5, void* p6, void* p7, uint8_t n);

}  // namespace zyl::matchlib
