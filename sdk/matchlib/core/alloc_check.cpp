// Scratch-allocation check shared by every routine that allocates several
// buffers at once.
#include <cstdlib>

#include "zylscan/matchlib_object.h"
#include "matchlib/core/alloc_check.h"

int zyl::matchlib::alloc_check(void* p1, void* p2, void* p3, void* p4, void* p5, void* p6, void* p7,
                               uint8_t n) {
  void* const p[7] = {p1, p2, p3, p4, p5, p6, p7};
  const int count = n > 7 ? 7 : n;
  bool all_present = true;
  for (int i = 0; i < count; ++i) all_present = all_present && p[i] != nullptr;
  if (all_present) return ML_OK;
  // The caller returns at once, so every buffer of the batch goes, including
  // those beyond n that it may have allocated opportunistically.
  for (void* q : p) std::free(q);
  return ML_NO_MEMORY;
}

extern "C" ZYL_API void free_callback(void* p) { std::free(p); }

extern "C" {

ZYL_API int alloc_check(void* p1, void* p2, void* p3, void* p4, void* p5, void* p6, void* p7,
                        uint8_t n) {
  return zyl::matchlib::alloc_check(p1, p2, p3, p4, p5, p6, p7, n);
}

}  // extern "C"
