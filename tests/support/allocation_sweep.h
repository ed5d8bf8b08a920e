// Sweeps the matcher library's allocation-failure hook over one operation.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "matchlib/core/allocation.h"

namespace zyl::test {

// Ends the operation under test: stops failing allocations (so the checks
// that follow allocate freely) and answers whether the armed allocation
// failed during the operation.
inline bool allocation_failed() {
  zyl::matchlib::test_hook::fail_allocation(0);
  return zyl::matchlib::test_hook::allocation_failed();
}

// Runs `attempt` with the 1st, 2nd, 3rd, ... allocation of the matcher
// library failing, until an attempt completes without reaching the armed
// allocation (the run that succeeds). The attempt runs the operation, then
// asks allocation_failed() and checks the outcome: its out-of-memory answer
// and the caller's objects untouched; leaks show under the leak checker.
// Answers how many allocations the operation makes.
template <class Attempt>
int sweep_allocation_failures(Attempt attempt, int limit = 10000) {
  namespace hook = zyl::matchlib::test_hook;
  int n = 1;
  for (; n <= limit; ++n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n << " fails");
    hook::fail_allocation(static_cast<std::uint64_t>(n));
    attempt();
    hook::fail_allocation(0);
    if (!hook::allocation_failed()) break;
  }
  EXPECT_LE(n, limit) << "the operation never completed";
  return n - 1;
}

}  // namespace zyl::test
