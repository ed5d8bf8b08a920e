// Internal face of the keyed reference-plane set: its record.
#pragma once

#include <cstdint>

#include "zylscan/matchlib_ref_planes.h"

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
