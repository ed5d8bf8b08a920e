// The combined last-stage match operation (keypoints, then card+grid and
// grid-block refinement around the keypoint alignment) and the static
// operation tables of the stage chains.
#include "zylscan/matchlib_stage_tables.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/match/match_op_failure.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/card_grid_ops.h"
#include "matchlib/match/full_match_op.h"
#include "matchlib/match/keypoint_match_ops.h"

using zyl::matchlib::fail_match_op;

namespace {

constexpr StageMatchOps kKeypointOps[] = {
    {match_keypoints_global, fuse_with_profile},
    {match_keypoints_global_light, fuse_with_profile},
    {match_keypoints_global_limited, fuse_with_profile},
    {match_gridblock, fuse_with_profile},
    {match_keypoints, fuse_with_profile},
    {match_orientation_histogram, fuse_orientation_histogram},
    {match_keypoints_light, fuse_with_profile},
    {match_keypoints, fuse_with_profile},
    {::match_full, fuse_with_profile},
    {match_keypoints, fuse_with_profile},
};
constexpr StageMatchOps kRefineOps[] = {
    {::match_gridblock_refine, fuse_with_profile},
    {match_gridblock_refine_inplace, fuse_with_profile},
};
constexpr StageMatchOps kCardOps[] = {
    {match_grid_map, fuse_card_grid},
    {match_card_grid_fixed, fuse_card_grid},
    {match_card_grid_detail, fuse_card_grid},
    {match_card_grid, fuse_card_grid},
    {::match_card, fuse_card},
};

template <std::size_t N>
const StageMatchOps* row_of(const StageMatchOps (&table)[N], int row) {
  return row >= 1 && static_cast<std::size_t>(row) <= N ? &table[row - 1] : nullptr;
}

struct XformDeleter {
  void operator()(RigidTransform* t) const { zyl::matchlib::xform_release(t); }
};
using Xform = std::unique_ptr<RigidTransform, XformDeleter>;
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Scores = std::unique_ptr<std::uint16_t, FreeDeleter>;

// A copy of an alignment that may be null; false when memory runs out.
bool copy_of(const RigidTransform* t, Xform& out) {
  out.reset(t ? zyl::matchlib::xform_copy(t) : nullptr);
  return !t || out;
}

}  // namespace

const StageMatchOps* zyl::matchlib::keypoint_stage_ops(int row) {
  return row_of(kKeypointOps, row);
}
const StageMatchOps* zyl::matchlib::refine_stage_ops(int row) { return row_of(kRefineOps, row); }
const StageMatchOps* zyl::matchlib::card_stage_ops(int row) { return row_of(kCardOps, row); }

int zyl::matchlib::match_full(MatchContext* context, DataBlob* a, DataBlob* b,
                              uint16_t** out_scores, uint16_t* out_count,
                              RigidTransform** alignment) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!out_scores || !out_count) return fail_match_op(ML_BAD_ARGUMENT, out_scores, out_count, alignment);
  MatcherSettings settings{};
  zyl::matchlib::matcher_settings_defaults(&settings, context);
  // N sizes the answer; a count below 1 would size it below its fixed part.
  const int n = zyl::matchlib::param_get(context, static_cast<std::uint32_t>(KP_KEY_REQUIRED),
                                         settings.required_count);
  if (n < 1 || n > 0xFFFF - FULL_FIXED_SUBSCORES) return fail_match_op(ML_BAD_ARGUMENT, out_scores, out_count, alignment);
  const bool card_grid =
      zyl::matchlib::param_get(context, static_cast<std::uint32_t>(FULL_KEY_CARD_GRID), 1) != 0;
  const bool grid_block =
      zyl::matchlib::param_get(context, static_cast<std::uint32_t>(FULL_KEY_GRID_BLOCK), 1) != 0;
  const bool alternative =
      zyl::matchlib::param_get(context, static_cast<std::uint32_t>(FULL_KEY_ALTERNATIVE), 0) != 0;
  const bool variant =
      zyl::matchlib::param_get(context, static_cast<std::uint32_t>(FULL_KEY_VARIANT), 0) != 0;

  // The keypoint matcher works on a copy; the caller's alignment is released.
  Xform key;
  if (alignment && *alignment) {
    const bool copied = copy_of(*alignment, key);
    zyl::matchlib::xform_release(*alignment);
    *alignment = nullptr;
    if (!copied) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
  }
  std::uint16_t* raw = nullptr;
  std::uint16_t key_count = 0;
  RigidTransform* key_raw = key.release();
  int st =
      zyl::matchlib::keypoints_paired_core(context, a, b, &settings, &raw, &key_count, &key_raw);
  key.reset(key_raw);
  const Scores key_scores(raw);
  if (st) return fail_match_op(st, out_scores, out_count, alignment);
  if (key_count < n) return fail_match_op(ML_CORRUPT, out_scores, out_count, alignment);

  Scores card_scores;
  Xform card_alignment;
  if (card_grid) {
    if (!copy_of(key.get(), card_alignment)) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
    const StageMatchRoutine op = variant       ? zyl::matchlib::match_grid_map
                                 : alternative ? zyl::matchlib::match_card_grid
                                               : zyl::matchlib::match_card_grid_fixed;
    std::uint16_t* v = nullptr;
    std::uint16_t count = 0;
    RigidTransform* t = card_alignment.release();
    st = op(context, a, b, &v, &count, &t);
    card_alignment.reset(t);
    card_scores.reset(v);
    if (st) return fail_match_op(st, out_scores, out_count, alignment);
    if (!card_scores) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
    if (count != CARD_GRID_SUBSCORES) return fail_match_op(ML_CORRUPT, out_scores, out_count, alignment);
  }

  Scores block_scores;
  if (grid_block) {
    Xform start;
    const RigidTransform* from = alternative ? card_alignment.get() : key.get();
    if (!copy_of(from, start)) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
    const StageMatchOps* ops = zyl::matchlib::refine_stage_ops(alternative ? 2 : 1);
    std::uint16_t* v = nullptr;
    std::uint16_t count = 0;
    RigidTransform* t = start.release();
    st = ops->match(context, a, b, &v, &count, &t);
    start.reset(t);
    block_scores.reset(v);
    if (st) return fail_match_op(st, out_scores, out_count, alignment);
    if (!block_scores || count != GRIDBLOCK_SUBSCORES) return fail_match_op(ML_WRONG_KIND, out_scores, out_count, alignment);
  }

  const int total = n + FULL_FIXED_SUBSCORES;
  auto* v = static_cast<std::uint16_t*>(std::calloc(static_cast<std::size_t>(total), sizeof(std::uint16_t)));
  if (!v) return fail_match_op(ML_NO_MEMORY, out_scores, out_count, alignment);
  if (card_scores) std::memcpy(v, card_scores.get(), CARD_GRID_SUBSCORES * sizeof(std::uint16_t));
  if (block_scores) std::memcpy(v + 30, block_scores.get(), GRIDBLOCK_SUBSCORES * sizeof(std::uint16_t));
  std::memcpy(v + FULL_FIXED_SUBSCORES, key_scores.get(), static_cast<std::size_t>(n) * sizeof(std::uint16_t));
  *out_scores = v;
  *out_count = static_cast<std::uint16_t>(total);
  if (alignment) *alignment = key.release();
  return ML_OK;
}

extern "C" {

ZYL_API const StageMatchOps* keypoint_stage_ops(int row) {
  return zyl::matchlib::keypoint_stage_ops(row);
}
ZYL_API const StageMatchOps* refine_stage_ops(int row) {
  return zyl::matchlib::refine_stage_ops(row);
}
ZYL_API const StageMatchOps* card_stage_ops(int row) { return zyl::matchlib::card_stage_ops(row); }
ZYL_API int match_full(MatchContext* context, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                       uint16_t* out_count, RigidTransform** alignment) {
  return zyl::matchlib::match_full(context, a, b, out_scores, out_count, alignment);
}

}  // extern "C"
