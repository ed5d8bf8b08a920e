// Reference-counted holder of an operation table, a handle and user data.
#include <algorithm>
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "matchlib/core/callback_object.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_support.h"

using zyl::matchlib::ml_malloc;

struct CallbackObject {
  uint32_t refcount;
  void* handle;
  uint8_t kind;
  const CallbackOps* ops;
  void* user;
  CallbackUserDestroy user_destroy;
  void (*release)(CallbackObject*);
};

namespace zyl::matchlib {
namespace {
template <class Op>
Op slot(const CallbackObject* obj, Op CallbackOps::*member) {
  return obj->ops ? obj->ops->*member : nullptr;
}
}  // namespace
}  // namespace zyl::matchlib

using zyl::matchlib::slot;

void zyl::matchlib::cbobj_release(CallbackObject* obj) {
  if (!obj || obj->refcount-- != 1) return;
  if (obj->user_destroy) obj->user_destroy(obj->user);
  obj->release(obj);
}

extern "C" {

ZYL_API CallbackObject* cbobj_create(void* handle, uint8_t kind, const CallbackOps* ops,
                                     void* user, CallbackUserDestroy user_destroy) {
  auto* o = static_cast<CallbackObject*>(ml_malloc(sizeof(CallbackObject)));
  if (!o) return nullptr;
  *o = CallbackObject{1, handle, kind, ops, user, user_destroy, cbobj_free};
  return o;
}

ZYL_API CallbackObject* cbobj_retain(CallbackObject* obj) {
  if (obj) ++obj->refcount;
  return obj;
}

ZYL_API void cbobj_release(CallbackObject* obj) { zyl::matchlib::cbobj_release(obj); }

ZYL_API void cbobj_release_alt(CallbackObject* obj) { zyl::matchlib::cbobj_release(obj); }

ZYL_API void cbobj_free(CallbackObject* obj) { std::free(obj); }

ZYL_API void* cbobj_handle(const CallbackObject* obj) { return obj ? obj->handle : nullptr; }
ZYL_API void* cbobj_user_data(const CallbackObject* obj) { return obj ? obj->user : nullptr; }
ZYL_API int cbobj_kind(const CallbackObject* obj) { return obj ? obj->kind : 0; }

ZYL_API int cbobj_op0(CallbackObject* obj, void* a, void* b, void* c, int value) {
  if (!obj) return ML_BAD_ARGUMENT;
  auto op = slot(obj, &CallbackOps::op0);
  return op ? op(obj, a, b, c, static_cast<uint16_t>(value)) : ML_OUT_OF_LIMITS;
}

ZYL_API int cbobj_op1(CallbackObject* obj, void* a, int value) {
  if (!obj) return ML_BAD_ARGUMENT;
  auto op = slot(obj, &CallbackOps::op1);
  return op ? op(obj, a, static_cast<uint16_t>(value)) : ML_OUT_OF_LIMITS;
}

ZYL_API int cbobj_op2(CallbackObject* obj, void* a) {
  if (!obj) return ML_BAD_ARGUMENT;
  auto op = slot(obj, &CallbackOps::op2);
  return op ? op(obj, a) : ML_OUT_OF_LIMITS;
}

ZYL_API int cbobj_op3(CallbackObject* obj, uint32_t* out1, uint32_t* out2, uint32_t* out3) {
  if (!obj) return ML_BAD_ARGUMENT;
  for (uint32_t* out : {out1, out2, out3})
    if (out) *out = 0;
  auto op = slot(obj, &CallbackOps::op3);
  return op ? op(obj, out1, out2, out3) : ML_OUT_OF_LIMITS;
}

ZYL_API int cbobj_op4(CallbackObject* obj, void* a, void* b, int count, uint64_t* out1,
                      uint16_t* out2, uint64_t* out3, uint64_t* out4) {
  if (!obj) return ML_BAD_ARGUMENT;
  const int c = count & 0xFF;
  if (out1) std::fill_n(out1, c, 0);
  if (out2) std::fill_n(out2, c, 0);
  if (out3) std::fill_n(out3, c, 0);
  if (out4) std::fill_n(out4, c, 0);
  auto op = slot(obj, &CallbackOps::op4);
  return op ? op(obj, a, b, count, out1, out2, out3, out4) : ML_OUT_OF_LIMITS;
}

ZYL_API int cbobj_op5(CallbackObject* obj, void* a) {
  if (!obj) return ML_BAD_ARGUMENT;
  auto op = slot(obj, &CallbackOps::op5);
  return op ? op(obj, a) : ML_OUT_OF_LIMITS;
}

ZYL_API int cbobj_op6(CallbackObject* obj, void* a) {
  if (!obj) return ML_BAD_ARGUMENT;
  auto op = slot(obj, &CallbackOps::op6);
  return op ? op(obj, a) : ML_OUT_OF_LIMITS;
}

}  // extern "C"
