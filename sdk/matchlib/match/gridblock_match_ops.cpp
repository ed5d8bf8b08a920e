// Stage operations on grid feature blocks: the 27 grid-block sub-scores
// under an alignment found by an earlier matcher, searched around a copy
// of it or refining it in place.
#include <cstdint>
#include <cstdlib>

#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/gridblock_match.h"
#include "matchlib/match/gridblock_match_ops.h"
#include "matchlib/template/container.h"

namespace {

constexpr std::int32_t kSectionGridBlock = 77;

int gridblock_operation(MatchContext* ctx, DataBlob* a, DataBlob* b, uint16_t** out_scores,
                        uint16_t* out_count, RigidTransform** alignment, bool in_place) {
  if (out_scores) *out_scores = nullptr;
  if (out_count) *out_count = 0;
  if (!out_scores || !out_count) return ML_BAD_ARGUMENT;
  if (!alignment || !*alignment) return ML_WRONG_KIND;
  auto fail = [&](int status) {
    if (in_place) {
      zyl::matchlib::xform_release(*alignment);
      *alignment = nullptr;
    }
    return status;
  };
  // Search record: the in-place form opens search ranges 4 and 5 (7, 96);
  // the plain one scores the given alignment only.
  const std::int16_t a_range = in_place ? 7 : 0, b_range = in_place ? 96 : 0;
  const std::int16_t search[GRIDBLOCK_SEARCH_PARAMS] = {
      4,
      16,
      32,
      a_range,
      b_range,
      256,
      1,
      21,
      21,
      21,
      64,
      static_cast<std::int16_t>(zyl::matchlib::param_get(ctx, 0x531c2dd4u, 0)),
      static_cast<std::int16_t>(zyl::matchlib::param_get(ctx, 0x874a71e5u, 20)),
      static_cast<std::int16_t>(zyl::matchlib::param_get(ctx, 0x060fde4fu, 10))};
  const int resolution = zyl::matchlib::param_get(ctx, 0x94547f74u, 500);
  const std::uint8_t* da = nullptr;
  const std::uint8_t* db = nullptr;
  std::uint32_t la = 0, lb = 0;
  if (const int st = zyl::matchlib::tmpl_get_section(a, kSectionGridBlock, &da, &la))
    return fail(st);
  if (const int st = zyl::matchlib::tmpl_get_section(b, kSectionGridBlock, &db, &lb))
    return fail(st);
  auto* v = static_cast<std::uint16_t*>(std::calloc(GRIDBLOCK_SUBSCORES, sizeof(std::uint16_t)));
  if (!v) return fail(ML_NO_MEMORY);
  std::uint16_t count = GRIDBLOCK_SUBSCORES;
  RigidTransform* work = in_place ? *alignment : zyl::matchlib::xform_copy(*alignment);
  if (!work) {
    std::free(v);
    return fail(ML_NO_MEMORY);
  }
  if (in_place) *alignment = nullptr;
  // The alignment maps A onto B: A's block is the one placed on B's grid.
  int st = zyl::matchlib::gridblock_match(da, la, db, lb, resolution, v, &count, &work, search);
  if (!st && count != GRIDBLOCK_SUBSCORES) st = ML_WRONG_KIND;
  if (st || !in_place) zyl::matchlib::xform_release(work);
  if (st) {
    std::free(v);
    return fail(st);
  }
  if (in_place) *alignment = work;
  *out_scores = v;
  *out_count = GRIDBLOCK_SUBSCORES;
  return ML_OK;
}

}  // namespace

int zyl::matchlib::match_gridblock_refine(MatchContext* context, DataBlob* a, DataBlob* b,
                                          uint16_t** out_scores, uint16_t* out_count,
                                          RigidTransform** alignment) {
  return gridblock_operation(context, a, b, out_scores, out_count, alignment, false);
}

extern "C" ZYL_API int match_gridblock_refine_inplace(MatchContext* context, DataBlob* a,
                                                      DataBlob* b, uint16_t** out_scores,
                                                      uint16_t* out_count,
                                                      RigidTransform** alignment) {
  return gridblock_operation(context, a, b, out_scores, out_count, alignment, true);
}

extern "C" ZYL_API int match_gridblock(MatchContext* context, DataBlob* a, DataBlob* b,
                                       uint16_t** out_scores, uint16_t* out_count,
                                       RigidTransform** alignment) {
  return zyl::matchlib::match_gridblock_refine(context, a, b, out_scores, out_count, alignment);
}

extern "C" {

ZYL_API int match_gridblock_refine(MatchContext* context, DataBlob* a, DataBlob* b,
                                   uint16_t** out_scores, uint16_t* out_count,
                                   RigidTransform** alignment) {
  return zyl::matchlib::match_gridblock_refine(context, a, b, out_scores, out_count, alignment);
}

}  // extern "C"
