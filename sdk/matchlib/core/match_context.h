// Internal face of the match context.
#pragma once

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_context.h"

namespace zyl::matchlib {

template <>
struct RefTraits<MatchContext> {
  static void retain(MatchContext* c) { ctx_retain(c); }
  static void release(MatchContext* c) { ctx_release(c); }
};

}  // namespace zyl::matchlib
