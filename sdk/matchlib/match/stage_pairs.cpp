// Stage match pairs of the card and grid stages: the grid-map histogram
// comparison over the templates' grid-map sections and its fusion, the
// keypoint or card matcher followed by the grid-block refinement, the
// two-value profile fusion and the first-value fusion, and the static
// table of the four pairs.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_stage_pairs.h"
#include "zylscan/matchlib_xform.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/card_grid_ops.h"
#include "matchlib/match/gridblock_match_ops.h"
#include "matchlib/match/gridmap_match.h"
#include "matchlib/match/keypoint_match_ops.h"
#include "matchlib/match/stage_pairs.h"
#include "matchlib/template/block_maps.h"
#include "matchlib/template/container.h"

namespace zyl::matchlib {
namespace {

constexpr int32_t kGridMapSection = 66;

// A template's grid-map section: the stored bytes, or their expansion
// when they are a compact block-map element.
struct Section {
  const uint8_t* data = nullptr;
  uint32_t length = 0, stored = 0;
  std::unique_ptr<uint8_t, decltype(&std::free)> expanded{nullptr, &std::free};
};

int read_section(const DataBlob* blob, Section& s) {
  const int st = zyl::matchlib::tmpl_get_section(blob, kGridMapSection, &s.data, &s.length);
  if (st != ML_OK) return st;
  s.stored = s.length;
  uint8_t* map = nullptr;
  uint32_t size = 0;
  int vo, ho, rows, columns;
  const int ex = zyl::matchlib::gridmap_from_compact(s.data, s.length, &map, &size, &vo, &ho, &rows,
                                                     &columns, 0, nullptr, nullptr);
  if (ex == ML_NO_MEMORY) return ex;
  if (ex == ML_OK && map) {
    s.expanded.reset(map);
    s.data = map;
    s.length = size;
  }
  return ML_OK;
}

// A first matcher that finds the alignment, then the grid-block refinement
// from it: [first grid-block value, first value of the first matcher] when
// both are kept, else the grid-block value alone. The caller's transform
// reference receives the first matcher's alignment.
int then_gridblock(StageMatchRoutine first, bool keep_first, MatchContext* context,
                   DataBlob* probe, DataBlob* gallery, uint16_t** out_scores, uint16_t* out_count,
                   RigidTransform** transform) {
  if (transform) {
    zyl::matchlib::xform_release(*transform);
    *transform = nullptr;
  }
  if (!out_scores || !out_count) return ML_BAD_ARGUMENT;
  *out_scores = nullptr;
  *out_count = 0;
  using Scores = std::unique_ptr<uint16_t, decltype(&std::free)>;
  RigidTransform* t = nullptr;
  uint16_t* raw_a = nullptr;
  uint16_t na = 0;
  int st = first(context, probe, gallery, &raw_a, &na, &t);
  Scores a(raw_a, &std::free);
  uint16_t* raw_b = nullptr;
  uint16_t nb = 0;
  if (st == ML_OK)
    st = zyl::matchlib::match_gridblock_refine(context, probe, gallery, &raw_b, &nb, &t);
  Scores b(raw_b, &std::free);
  const uint16_t n = keep_first ? 2 : 1;
  uint16_t* v = st == ML_OK ? static_cast<uint16_t*>(ml_malloc(n * sizeof(uint16_t))) : nullptr;
  if (st == ML_OK && !v) st = ML_NO_MEMORY;
  if (st != ML_OK) {
    zyl::matchlib::xform_release(t);
    return st;
  }
  v[0] = nb ? b.get()[0] : 0;
  if (keep_first) v[1] = na ? a.get()[0] : 0;
  *out_scores = v;
  *out_count = n;
  if (transform)
    *transform = t;  // our reference goes to the caller
  else
    zyl::matchlib::xform_release(t);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::match_gridmap_histogram(MatchContext* /*context*/, DataBlob* probe,
                                           DataBlob* gallery, uint16_t** out_scores,
                                           uint16_t* out_count, RigidTransform** transform) {
  if (transform) {
    zyl::matchlib::xform_release(*transform);
    *transform = nullptr;
  }
  if (!out_scores || !out_count) return ML_BAD_ARGUMENT;
  *out_scores = nullptr;
  *out_count = 0;
  Section a, b;
  int st = read_section(probe, a);
  if (st == ML_OK) st = read_section(gallery, b);
  if (st != ML_OK) return st;
  uint16_t similarity[2] = {0, 0};
  st = zyl::matchlib::gridmap_histogram_similarity(
      a.data, static_cast<uint16_t>(std::min<uint32_t>(a.length, 65535)), b.data,
      static_cast<uint16_t>(std::min<uint32_t>(b.length, 65535)), similarity);
  if (st != ML_OK) return st;
  // Stored lengths far apart would take 300 - |difference| below zero.
  const int64_t diff = std::abs(int64_t{a.stored} - int64_t{b.stored});
  const uint16_t third = a.length == b.length ? static_cast<uint16_t>(std::max<int64_t>(0, 300 - diff)) : 0;
  auto* v = static_cast<uint16_t*>(ml_malloc(3 * sizeof(uint16_t)));
  if (!v) return ML_NO_MEMORY;
  v[0] = similarity[0];
  v[1] = 0;  // the similarity gives one value here; the second slot is defined as 0
  v[2] = third;
  *out_scores = v;
  *out_count = 3;
  return ML_OK;
}

extern "C" ZYL_API int match_keypoints_then_gridblock(MatchContext* context, DataBlob* probe,
                                                      DataBlob* gallery, uint16_t** out_scores,
                                                      uint16_t* out_count,
                                                      RigidTransform** transform) {
  return then_gridblock(zyl::matchlib::match_keypoints, true, context, probe, gallery, out_scores, out_count,
                        transform);
}

extern "C" ZYL_API int match_card_then_gridblock(MatchContext* context, DataBlob* probe,
                                                 DataBlob* gallery, uint16_t** out_scores,
                                                 uint16_t* out_count, RigidTransform** transform) {
  return then_gridblock(zyl::matchlib::match_card_grid, false, context, probe, gallery, out_scores, out_count,
                        transform);
}

extern "C" ZYL_API int fuse_weighted_three(MatchContext*, DataBlob*, DataBlob*,
                                           const uint16_t* scores, uint16_t count,
                                           const ScoreProfile*, uint16_t* out_score) {
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (count != 3 || !scores) return ML_CORRUPT;
  const uint32_t s = 2u * scores[0] + 3u * scores[1] + 3u * scores[2];
  *out_score = static_cast<uint16_t>(std::min<uint32_t>(s, 65535));
  return ML_OK;
}

extern "C" ZYL_API int fuse_two_with_profile(MatchContext*, DataBlob*, DataBlob*,
                                             const uint16_t* scores, uint16_t count,
                                             const ScoreProfile* profile, uint16_t* out_score) {
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (count != 2 || !profile || !scores) return ML_CORRUPT;
  return zyl::matchlib::score_profile_fuse(scores, 2, profile, out_score);
}

const StageMatchOps* zyl::matchlib::stage_pair_ops(int pair) {
  static constexpr StageMatchOps kPairs[STAGE_PAIR_COUNT] = {
      {::match_gridmap_histogram, fuse_weighted_three},
      {match_keypoints_then_gridblock, fuse_two_with_profile},
      {match_card_then_gridblock, fuse_first},
      {match_keypoints_then_gridblock, fuse_first},
  };
  return pair >= 1 && pair <= STAGE_PAIR_COUNT ? &kPairs[pair - 1] : nullptr;
}

extern "C" ZYL_API int fuse_first(MatchContext*, DataBlob*, DataBlob*, const uint16_t* scores,
                                  uint16_t count, const ScoreProfile*, uint16_t* out_score) {
  if (out_score) *out_score = scores && count ? scores[0] : 0;
  return ML_OK;
}

extern "C" {

ZYL_API int match_gridmap_histogram(MatchContext* arg0, DataBlob* probe, DataBlob* gallery,
                                    uint16_t** out_scores, uint16_t* out_count,
                                    RigidTransform** transform) {
  return zyl::matchlib::match_gridmap_histogram(arg0, probe, gallery, out_scores, out_count,
                                                transform);
}
ZYL_API const StageMatchOps* stage_pair_ops(int pair) {
  return zyl::matchlib::stage_pair_ops(pair);
}

}  // extern "C"
