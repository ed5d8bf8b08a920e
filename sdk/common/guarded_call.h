// Keeps exceptions inside the library: every exported C call that may
// allocate runs its body through GuardedCall, which turns any exception (in
// practice a failed allocation) into the status the call gives for that
// case. This is the library's one exception guard.
#pragma once

#include <cstddef>
#include <type_traits>

namespace zyl {

template <typename Call>
int GuardedCall(int onException, Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return onException;
  }
}

// For an exported call that answers a new object: null on an exception.
template <typename Call>
auto GuardedCall(std::nullptr_t, Call&& call) noexcept -> std::invoke_result_t<Call&> {
  static_assert(std::is_pointer_v<std::invoke_result_t<Call&>>);
  try {
    return call();
  } catch (...) {
    return nullptr;
  }
}

// For an exported call that answers nothing: an exception ends the call.
// Callers of these allocate their work buffers before they change the
// caller's data, so a failed allocation leaves that data as it was.
template <typename Call>
void GuardedCall(Call&& call) noexcept {
  try {
    call();
  } catch (...) {
  }
}

}  // namespace zyl
