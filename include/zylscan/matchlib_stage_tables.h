/* Matcher library combined last-stage match operation and the static
 * {match, fuse} operation tables that stage chains and score profiles
 * refer to.
 *
 * match_full answers N + 57 sub-scores (N := key 0xa2d1d9d5): 0-29 the
 * card+grid comparison, 30-56 the grid-block refinement, 57.. the first N
 * keypoint sub-scores; the parts switched off by their keys stay 0. The
 * alignment handed back is the keypoint one. On failure the sub-scores
 * are null, the count 0 and the alignment released and null. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_stage.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  FULL_KEY_CARD_GRID = (int32_t)0x2a1d740f,   /* default 1 */
  FULL_KEY_GRID_BLOCK = (int32_t)0xd487b008,  /* default 1 */
  FULL_KEY_ALTERNATIVE = (int32_t)0xc9e8cbeb, /* default 0 */
  FULL_KEY_VARIANT = (int32_t)0x94240dd0,     /* default 0 */
  FULL_FIXED_SUBSCORES = 57
};

ZYL_API int match_full(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                       uint16_t* out_count, RigidTransform** alignment);

/* Row 1..10 of the keypoint-section operation table, 1..2 of the grid-block
 * refinement table, 1..5 of the card and grid table; null for other rows. */
ZYL_API const StageMatchOps* keypoint_stage_ops(int row);
ZYL_API const StageMatchOps* refine_stage_ops(int row);
ZYL_API const StageMatchOps* card_stage_ops(int row);

ZYL_EXTERN_C_END
