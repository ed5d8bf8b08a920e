// The functions of timestamp that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_support.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void time_now(Timestamp* out);
int time_diff_ms(const Timestamp* later, const Timestamp* earlier);
int64_t time_diff_s(const Timestamp* later, const Timestamp* earlier);
int time_elapsed_ms(const Timestamp* start);

}  // namespace zyl::matchlib
