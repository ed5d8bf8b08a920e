// The matcher library's context: a reference-counted list of keyed
// attachments, newest first.
#include "matchlib/core/allocation.h"
#include "matchlib/core/match_context.h"

#include <cstdint>
#include <cstdlib>

#include "matchlib/core/linked_list.h"
#include "zylscan/matchlib_object.h"

struct ContextAttachment {
  int32_t key;
  void* value;
  AttachmentDestroy destroy;
  ContextAttachment* next;  // towards older attachments
  ContextAttachment* prev;  // towards newer attachments
};

struct MatchContext {
  uint32_t refcount;
  ContextAttachment* first;
  ContextAttachment* last;
  uint32_t count;
  void (*destroy)(MatchContext*);
};

namespace zyl::matchlib {
namespace {

ContextAttachment* find_node(const MatchContext* ctx, int32_t key) {
  return list_find(ctx->first, key);
}

void remove_node(MatchContext* ctx, ContextAttachment* n) {
  list_unlink(*ctx, n);
  if (n->destroy) n->destroy(n->value);
  std::free(n);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

MatchContext* zyl::matchlib::ctx_create(void) {
  auto* c = static_cast<MatchContext*>(ml_malloc(sizeof(MatchContext)));
  if (!c) return nullptr;
  *c = MatchContext{1, nullptr, nullptr, 0, ctx_destroy};
  return c;
}

MatchContext* zyl::matchlib::ctx_create_or_retain(MatchContext* ctx) {
  return ctx ? zyl::matchlib::ctx_retain(ctx) : zyl::matchlib::ctx_create();
}

MatchContext* zyl::matchlib::ctx_retain(MatchContext* ctx) {
  if (ctx) ++ctx->refcount;
  return ctx;
}

void zyl::matchlib::ctx_release(MatchContext* ctx) {
  if (!ctx || ctx->refcount-- != 1) return;
  ctx->destroy(ctx);
}

extern "C" ZYL_API void ctx_destroy(MatchContext* ctx) {
  if (!ctx) return;
  while (ctx->first) remove_node(ctx, ctx->first);
  std::free(ctx);
}

void* zyl::matchlib::ctx_find(const MatchContext* ctx, int32_t key) {
  if (!ctx) return nullptr;
  const ContextAttachment* n = find_node(ctx, key);
  return n ? n->value : nullptr;
}

int zyl::matchlib::ctx_attach(MatchContext* ctx, void* value, int32_t key,
                              AttachmentDestroy destroy) {
  if (!ctx) return ML_BAD_ARGUMENT;
  // Allocate before replacing: when memory runs out the old value stays
  // attached and the caller keeps the new one.
  auto* n = static_cast<ContextAttachment*>(ml_malloc(sizeof(ContextAttachment)));
  if (!n) return ML_NO_MEMORY;
  zyl::matchlib::ctx_detach(ctx, key);
  *n = ContextAttachment{key, value, destroy, nullptr, nullptr};
  list_push_front(*ctx, n);
  return ML_OK;
}

void zyl::matchlib::ctx_detach(MatchContext* ctx, int32_t key) {
  if (!ctx) return;
  if (ContextAttachment* n = find_node(ctx, key)) remove_node(ctx, n);
}

MatchEngine* zyl::matchlib::ctx_get_engine(const MatchContext* ctx) {
  return static_cast<MatchEngine*>(zyl::matchlib::ctx_find(ctx, CTX_KEY_ENGINE));
}

extern "C" ZYL_API uint32_t ctx_refcount(const MatchContext* ctx) {
  return ctx ? ctx->refcount : 0;
}
extern "C" ZYL_API uint32_t ctx_attachment_count(const MatchContext* ctx) {
  return ctx ? ctx->count : 0;
}

extern "C" ZYL_API const char* lib_framework_name(void) { return "KelvoFramework"; }
extern "C" ZYL_API const char* lib_release_name(void) { return "R1001"; }
extern "C" ZYL_API int lib_version_number(void) { return 10010; }
// Fixed identifier of this code base's matcher library build.
extern "C" ZYL_API const char* lib_build_id(void) {
  return "5d0c3a9e71f4b28c6e0a93d1b7f25c48e69a0d3b";
}

extern "C" {

ZYL_API MatchContext* ctx_create(void) { return zyl::matchlib::ctx_create(); }
ZYL_API MatchContext* ctx_create_or_retain(MatchContext* ctx) {
  return zyl::matchlib::ctx_create_or_retain(ctx);
}
ZYL_API MatchContext* ctx_retain(MatchContext* ctx) { return zyl::matchlib::ctx_retain(ctx); }
ZYL_API void ctx_release(MatchContext* ctx) { zyl::matchlib::ctx_release(ctx); }
ZYL_API void* ctx_find(const MatchContext* ctx, int32_t key) {
  return zyl::matchlib::ctx_find(ctx, key);
}
ZYL_API int ctx_attach(MatchContext* ctx, void* value, int32_t key, AttachmentDestroy destroy) {
  return zyl::matchlib::ctx_attach(ctx, value, key, destroy);
}
ZYL_API void ctx_detach(MatchContext* ctx, int32_t key) { zyl::matchlib::ctx_detach(ctx, key); }
ZYL_API MatchEngine* ctx_get_engine(const MatchContext* ctx) {
  return zyl::matchlib::ctx_get_engine(ctx);
}

}  // extern "C"
