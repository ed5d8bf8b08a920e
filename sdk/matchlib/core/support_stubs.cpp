// Fixed-answer routines of the support layer. Nothing in the library calls
// them; they keep the layer's interface complete for callers that probe it.
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_support.h"

using zyl::matchlib::ml_malloc;

namespace {
constexpr uint64_t kHandleMarker = 0xFECAADDEFECAADDEull;
}

extern "C" {

ZYL_API void* stub1_create(void) { return ml_malloc(4); }
ZYL_API void* stub2_create(void) { return ml_malloc(4); }
ZYL_API void* stub3_create(void) { return ml_malloc(4); }
ZYL_API void stub1_free(void* block) { std::free(block); }
ZYL_API void stub2_free(void* block) { std::free(block); }
ZYL_API void stub3_free(void* block) { std::free(block); }

ZYL_API int stub1_run(void* /*unused*/, int (*routine)(void*), void* user) {
  return routine ? routine(user) : ML_BAD_ARGUMENT;
}

ZYL_API void stub1_noop(void) {}
ZYL_API int stub1_one(void) { return 1; }
ZYL_API int stub_one(void) { return 1; }
ZYL_API int stub2_op(void) { return 0; }
ZYL_API int stub3_op(void) { return 0; }

ZYL_API int stub_open_handle(const void* a, const void* b, const void* c, const void* d,
                             const void* e, uint64_t* out) {
  if (!a || !b || !c || !d || !e || !out) return ML_UNAVAILABLE;
  *out = kHandleMarker;
  return ML_OK;
}

ZYL_API int stub_alloc_handle(const void* a, const void* b, const void* /*unused*/, const void* d,
                              void** out_block, uint32_t* out_size, uint64_t* out_marker) {
  if (!out_block || !out_size || !a || !b || !d) return ML_UNAVAILABLE;
  void* block = ml_malloc(16);
  // A missing block is a failure, not a handle: the caller learns it at once.
  if (!block) return ML_NO_MEMORY;
  *out_size = 16;
  *out_block = block;
  if (out_marker) *out_marker = kHandleMarker;
  return ML_OK;
}

}  // extern "C"
