// Planes derived from a mask plane so that its cells follow the pixels of a
// derived image: reoriented, rotated and pasted planes.
#include <cstdlib>
#include <cstring>

#include "matchlib/image/mask_plane.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"
#include "matchlib/image/mask_derive.h"
#include "matchlib/image/reorient.h"

using namespace zyl::matchlib;

MaskPlane* zyl::matchlib::mask_reorient(const MaskPlane* plane, int code) {
  if (!plane || !plane->cells) return nullptr;
  const bool quarter = code == IMG_ORIENT_QUARTER_CW || code == IMG_ORIENT_QUARTER_CCW;
  MaskPlane* m = quarter ? zyl::matchlib::mask_create(plane->width, plane->height)
                         : zyl::matchlib::mask_create(plane->height, plane->width);
  if (!m) return nullptr;
  if (mask_cell_count(plane))
    zyl::matchlib::img_flip_rotate_u8(plane->cells, plane->height, plane->width, code, m->cells);
  return m;
}

MaskPlane* zyl::matchlib::mask_rotate(const MaskPlane* plane, int direction) {
  if (!plane || !plane->cells) return nullptr;
  std::uint8_t* cells = nullptr;
  int h = 0, w = 0, row = 0, col = 0;
  // Cells turned in from outside the plane are marked outside the source.
  if (zyl::matchlib::img_rotate_nearest_u8(plane->cells, plane->height, plane->width, direction,
                                           MASK_OUTSIDE_SOURCE, &cells, &h, &w, &row,
                                           &col) != ML_OK)
    return nullptr;
  MaskPlane* m = zyl::matchlib::mask_create(h, w);
  if (m && cells) std::memcpy(m->cells, cells, mask_cell_count(m));
  std::free(cells);
  return m;
}

MaskPlane* zyl::matchlib::mask_paste(const MaskPlane* base, const MaskPlane* other, int row_offset,
                                     int column_offset) {
  if (!base || !other) return nullptr;
  MaskPlane* m = zyl::matchlib::mask_clone(base);
  if (!m) return nullptr;
  // Key 256: no cell value is transparent.
  if (mask_cell_count(m) && mask_cell_count(other))
    zyl::matchlib::img_paste_keyed_u8(m->cells, m->height, m->width, other->cells, other->height,
                                      other->width, column_offset, row_offset, 256);
  return m;
}

extern "C" {

ZYL_API MaskPlane* mask_reorient(const MaskPlane* plane, int code) {
  return zyl::matchlib::mask_reorient(plane, code);
}
ZYL_API MaskPlane* mask_rotate(const MaskPlane* plane, int direction) {
  return zyl::matchlib::mask_rotate(plane, direction);
}
ZYL_API MaskPlane* mask_paste(const MaskPlane* base, const MaskPlane* other, int row_offset,
                              int column_offset) {
  return zyl::matchlib::mask_paste(base, other, row_offset, column_offset);
}

}  // extern "C"
