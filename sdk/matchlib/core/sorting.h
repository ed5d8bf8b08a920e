// The functions of sorting that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_support.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void shell_sort(void* base, int n, int record_size, RecordCompare compare);
int compare_i32_asc(const void* a, const void* b);

}  // namespace zyl::matchlib
