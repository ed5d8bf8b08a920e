// Runs a body that allocates with the standard containers and turns an
// allocation failure into the library's out-of-memory status, so no
// exception reaches the C boundary.
#pragma once

#include <new>

#include "zylscan/matchlib_object.h"

namespace zyl::matchlib {

template <class F>
int guarded(F f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return ML_NO_MEMORY;
  }
}

}  // namespace zyl::matchlib
