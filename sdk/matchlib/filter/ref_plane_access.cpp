// Accessors of the keyed reference-plane set: its settings block, its keys
// and its reference count.
#include "matchlib/filter/ref_planes.h"
#include "zylscan/matchlib_object.h"

extern "C" ZYL_API RefPlaneSettings* ref_plane_set_settings(RefPlaneSet* set) {
  return set ? &set->settings : nullptr;
}

extern "C" ZYL_API int ref_plane_set_key_count(const RefPlaneSet* set) {
  return set ? set->key_count : 0;
}

extern "C" ZYL_API int ref_plane_set_key_at(const RefPlaneSet* set, int i) {
  if (!set || i < 0 || i >= set->key_count) return -1;
  return set->keys[i].key;
}

extern "C" ZYL_API const RefPlaneKey* ref_plane_set_find_key(const RefPlaneSet* set, uint8_t key) {
  if (!set) return nullptr;
  for (int i = 0; i < set->key_count; ++i)
    if (set->keys[i].key == key) return &set->keys[i];
  return nullptr;
}

extern "C" ZYL_API RefPlaneSet* ref_plane_set_retain(RefPlaneSet* set) {
  if (set) ++set->refcount;
  return set;
}

extern "C" ZYL_API void ref_plane_set_release(RefPlaneSet* set) {
  if (set && --set->refcount == 0) set->destroy(set);
}

extern "C" ZYL_API int ref_plane_stub_one(void) { return 1; }

