// The functions of singular points that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/singular_points.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void ExtractSingularPoints(int32_t block_columns, int32_t block_rows, ByteImage directions, SingularPointList* list);
int32_t IsSingularPointNear(const SingularPointList* list, int32_t y, int32_t x, int32_t radius);
void GroupSingularPoints(int32_t width, int32_t height, ByteImage orientations, SingularPointList* scratch,
                         SingularPointList* list);

// near[x] = 1 for the columns 0..width - 1 of row y that IsSingularPointNear
// finds within radius of a point of the list, 0 for the others.
void mark_singular_points_near_row(const SingularPointList* list, int32_t y, int32_t width, int32_t radius,
                                   uint8_t* near);

}  // namespace zyl::extract
