// Internal face of the keyed reference-plane set: its record.
#pragma once

#include <cstdint>

#include "zylscan/matchlib_ref_planes.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void ref_plane_settings_default(RefPlaneSettings* s);
int ref_plane_set_create(int full_height, int full_width, const RefPlaneSettings* settings,
                         const RefPlaneKey* keys, int key_count, RefPlaneSet** out);
void plane16_center_mean(uint16_t* plane, const uint16_t* source, uint16_t* out, int height,
                         int width);
int ref_plane_accumulate(RefPlaneSet* set, int key, const Plane16* frame, const uint16_t* values);

}  // namespace zyl::matchlib

// The learned planes of one key, absent until its first frame.
struct RefPlane {
  std::uint16_t* reference;  // full height x width
  std::uint8_t* counts;      // full height x width
};

struct RefPlaneSet {
  std::int32_t refcount;
  std::uint16_t full_height;
  std::uint16_t full_width;
  RefPlaneKey* keys;
  std::int32_t key_count;
  RefPlaneSettings settings;
  std::int32_t flag;  // set at creation; nothing reads it
  RefPlane* planes;   // one per key, indexed by the key value
  RefPlanePreRoutine pre;
  RefPlanePostRoutine post;
  void* user;
  void (*destroy)(RefPlaneSet*);
};
