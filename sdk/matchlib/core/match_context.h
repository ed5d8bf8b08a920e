// Internal face of the match context.
#pragma once

#include "matchlib/core/ref.h"
#include "zylscan/matchlib_context.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
MatchContext* ctx_create(void);
MatchContext* ctx_create_or_retain(MatchContext* ctx);
MatchContext* ctx_retain(MatchContext* ctx);
void ctx_release(MatchContext* ctx);
void* ctx_find(const MatchContext* ctx, int32_t key);
int ctx_attach(MatchContext* ctx, void* value, int32_t key, AttachmentDestroy destroy);
void ctx_detach(MatchContext* ctx, int32_t key);
MatchEngine* ctx_get_engine(const MatchContext* ctx);

template <>
struct RefTraits<MatchContext> {
  static void retain(MatchContext* c) { zyl::matchlib::ctx_retain(c); }
  static void release(MatchContext* c) { zyl::matchlib::ctx_release(c); }
};

}  // namespace zyl::matchlib
