// A check that stops a fuzz target at once: a failed condition is a finding.
#pragma once

#include <cstdlib>

namespace zyl::test {

inline void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace zyl::test
