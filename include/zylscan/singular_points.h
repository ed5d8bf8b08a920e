/* Singular points (cores and deltas) of the skeleton engine: the Poincare
 * index on the block direction image, and the placement and direction of
 * each point on the pixel orientation image.
 *
 * Orientations are 0..119 in steps of 1.5 degrees (0 horizontal, 60
 * vertical), directions 0..239. A point's kind is its Poincare index in half
 * turns: 1 (core), -1 (delta) or 2. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "zylscan/feature_record.h"
#include "zylscan/zyl_export.h"

/* A list of singular points. It has the layout of the FeatureRecord fields
 * singularCount .. singularKind, so a C caller may pass
 * (SingularPointList*)&record->singularCount. */
typedef struct SingularPointList {
  int32_t count; /* 0..64 */
  int32_t x[ZYL_MAX_SINGULAR_POINTS];
  int32_t y[ZYL_MAX_SINGULAR_POINTS];
  int32_t angle[ZYL_MAX_SINGULAR_POINTS];
  int32_t kind[ZYL_MAX_SINGULAR_POINTS];
} SingularPointList;

ZYL_EXTERN_C_BEGIN

/* Poincare index in half turns of n orientations read in order around a
 * closed path; 0 when n < 1. */
ZYL_API int32_t ComputePoincareIndex(int32_t n, const int32_t* ring);
/* Finds candidate singular blocks on a block direction image (255 = none)
 * and writes them into list in block coordinates with angle -1. Grids with
 * fewer than 5 block rows or columns give none. */
ZYL_API void ExtractSingularPoints(int32_t block_columns, int32_t block_rows, ByteImage directions,
                                   SingularPointList* list);
/* 1 when some point i of the list has (x_i - x)^2 + (y_i - y)^2 < radius^2,
 * else 0. Note the order: y before x. */
ZYL_API int32_t IsSingularPointNear(const SingularPointList* list, int32_t y, int32_t x, int32_t radius);
/* Orientation change of the pixel orientation image in the 5 x 5 window
 * around (row, column); 0 where the pixel has no orientation. The window
 * must lie inside the image; a window reaching above or left of it gives 0. */
ZYL_API int32_t ComputeCurvatureSP(ByteImage orientations, int32_t row, int32_t column);
/* Direction 0..239 of the radius (of length 40) along which the ridge
 * orientation follows the radius most closely. */
ZYL_API int32_t ComputeSingularPointDirection(int32_t width, int32_t height, ByteImage orientations,
                                              int32_t row, int32_t column);
/* Merges neighbouring scratch entries of one kind (from
 * ExtractSingularPoints) into singular points placed in pixels on the
 * orientation image; consumes the scratch list (its kinds end as 0). */
ZYL_API void GroupSingularPoints(int32_t width, int32_t height, ByteImage orientations,
                                 SingularPointList* scratch, SingularPointList* list);

ZYL_EXTERN_C_END

#ifdef __cplusplus
static_assert(offsetof(FeatureRecord, singularKind) - offsetof(FeatureRecord, singularCount) ==
                  offsetof(SingularPointList, kind),
              "a FeatureRecord's singular points have the layout of SingularPointList");
#endif
