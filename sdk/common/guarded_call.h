// Keeps exceptions inside the library: an exported C call runs its body
// through GuardedCall, which turns any exception (in practice a failed
// allocation) into the status the call gives for that case.
#pragma once

namespace zyl {

template <typename Call>
int GuardedCall(int onException, Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return onException;
  }
}

}  // namespace zyl
