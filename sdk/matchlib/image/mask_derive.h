// The functions of mask derive that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_mask.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

MaskPlane* mask_reorient(const MaskPlane* plane, int code);
MaskPlane* mask_rotate(const MaskPlane* plane, int direction);
MaskPlane* mask_paste(const MaskPlane* base, const MaskPlane* other, int row_offset,
                      int column_offset);

}  // namespace zyl::matchlib
