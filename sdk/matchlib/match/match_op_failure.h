// The state every stage match operation leaves its outputs in when it
// fails: no score vector, a count of 0 and no alignment (the one handed in
// is released).
#pragma once

#include <cstdint>
#include <cstdlib>

#include "zylscan/matchlib_xform.h"
#include "matchlib/core/rigid_transform.h"

namespace zyl::matchlib {

inline int fail_match_op(int status, std::uint16_t** scores, std::uint16_t* count,
                         RigidTransform** alignment) {
  if (scores) {
    std::free(*scores);
    *scores = nullptr;
  }
  if (count) *count = 0;
  if (alignment) {
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
  }
  return status;
}

}  // namespace zyl::matchlib
