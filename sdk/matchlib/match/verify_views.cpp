// Verification of a probe against enrolled multi-view templates, stage by
// stage, the ranking of a flat list of views against a probe, and single
// pairs scored stage by stage through an engine's chain.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "matchlib/core/allocation.h"
#include "common/guarded_call.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_verify.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/match_context.h"
#include "matchlib/match/match_result.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/match/verify_views.h"
#include "matchlib/template/container.h"
#include "matchlib/template/multi_view.h"
#include "matchlib/template/sample_info.h"
#include "matchlib/template/stage_extract.h"

namespace zyl::matchlib {

template <>
struct RefTraits<RigidTransform> {
  static void retain(RigidTransform* t) { zyl::matchlib::xform_retain(t); }
  static void release(RigidTransform* t) { zyl::matchlib::xform_release(t); }
};

namespace {

constexpr std::uint32_t kBudgetKindsKey = 0xedd2395e;  // K1: views at which the budget is the stage's
constexpr std::uint32_t kBudgetBaseKey = 0x2ad7b5de;   // K2: views at which the budget starts to grow
constexpr int kPairVector = 128;

using TopScores = std::array<std::uint16_t, VERIFY_TOP_SCORES>;

// Inserts at the first position holding a smaller value; the last falls out.
void top_insert(TopScores& top, std::uint16_t v) {
  for (std::size_t i = 0; i < top.size(); ++i) {
    if (top[i] < v) {
      std::copy_backward(top.begin() + static_cast<std::ptrdiff_t>(i), top.end() - 1, top.end());
      top[i] = v;
      return;
    }
  }
}

struct View {
  int index = 0;
  Ref<DataBlob> blob;
  Ref<RigidTransform> placement;  // the view's transform inside its template
  HookedVector<std::uint16_t> scores;
  std::uint16_t raw = 0;
  std::uint16_t far = 0;
  Ref<RigidTransform> match;  // carried from stage to stage
  int decision = 0;
};

// A view under the allocation hook; a failed allocation throws, as the
// containers do, and the exported calls answer it as out of memory.
std::unique_ptr<View> new_view() {
  View* v = ml_new<View>();
  if (!v) throw std::bad_alloc();
  return std::unique_ptr<View>(v);
}

struct ViewList {
  HookedVector<std::unique_ptr<View>> views;
  int gallery_index = 0;
  std::uint8_t template_views = 0;
  Ref<DataBlob> gallery;
  bool finished = false;
  TopScores top_far{};
  TopScores top_raw{};
  std::uint16_t fused_far = 0;
  std::uint16_t adjusted = 0;
  std::uint16_t fused_raw = 0;
  View* best = nullptr;
  int cursor = -1;

  void reset_stage() {
    top_far.fill(0);
    top_raw.fill(0);
    fused_far = adjusted = fused_raw = 0;
    best = nullptr;
    cursor = -1;
    if (views.empty()) finished = true;
  }
};

std::uint16_t fuse_top(const TopScores& top, int n) {
  return zyl::matchlib::verify_fuse_top(top[0], top[1], n);
}

// Runs one stage's match and fuse over a view: the view's sub-scores grow
// by the stage's, its raw and FAR scores are the fused ones.
int score_view(MatchContext* ctx, const StageMatchOps* ops, const ScoreProfile* profile,
               View& v, DataBlob* probe, int candidates) {
  std::uint16_t* subs = nullptr;
  std::uint16_t count = 0;
  RigidTransform* xf = v.match.release();
  const int status = ops->match(ctx, v.blob.get(), probe, &subs, &count, &xf);
  v.match = Ref<RigidTransform>::adopt(xf);
  std::unique_ptr<std::uint16_t, decltype(&std::free)> owned(subs, std::free);
  if (status != ML_OK) return status;
  if (subs) v.scores.insert(v.scores.end(), subs, subs + count);
  std::uint16_t raw = 0;
  const int fused = ops->fuse(ctx, v.blob.get(), probe, v.scores.data(),
                              static_cast<std::uint16_t>(std::min<std::size_t>(v.scores.size(), 0xffff)),
                              profile, &raw);
  if (fused != ML_OK) return fused;
  v.raw = raw;
  v.far = static_cast<std::uint16_t>(zyl::matchlib::far_score_from_thresholds(
      raw, candidates, profile ? profile->thresholds : nullptr));
  return ML_OK;
}

const ScoreProfile* stage_profile(MatchContext* ctx, const StageObject* stage) {
  return zyl::matchlib::score_profile_find(
      zyl::matchlib::engine_get_score_profiles(zyl::matchlib::ctx_get_engine(ctx)),
      zyl::matchlib::stage_get_match_ops(stage), 0);
}

void view_list_drop_missing_kind(const StageObject* stage, HookedVector<std::unique_ptr<View>>& views) {
  const int32_t kind = zyl::matchlib::stage_get_kind(stage);
  std::erase_if(views, [kind](const std::unique_ptr<View>& v) {
    return !zyl::matchlib::tmpl_has_section(v->blob.get(), kind);
  });
}

void sort_by_far(HookedVector<std::unique_ptr<View>>& views) {
  std::stable_sort(views.begin(), views.end(),
                   [](const auto& a, const auto& b) { return a->far > b->far; });
}

int view_list_from_blob(DataBlob* gallery, int index, ViewList& list) {
  MultiViewTemplate* t = nullptr;
  if (const int st = zyl::matchlib::mvt_from_blob(gallery, &t); st != ML_OK)
    return st == ML_NO_MEMORY ? ML_NO_MEMORY : ML_UNAVAILABLE;
  std::unique_ptr<MultiViewTemplate, decltype(&zyl::matchlib::mvt_release)> owned(
      t, &zyl::matchlib::mvt_release);
  const int n = zyl::matchlib::mvt_count_unmarked_views(t);
  list.gallery_index = index;
  list.template_views = static_cast<std::uint8_t>(n);
  list.gallery = Ref<DataBlob>::share(gallery);
  for (int i = 0; i < n; ++i) {
    RigidTransform* xf = nullptr;
    Ref<DataBlob> b =
        Ref<DataBlob>::adopt(zyl::matchlib::mvt_get_view(t, i, &xf, nullptr, nullptr));
    Ref<RigidTransform> placement = Ref<RigidTransform>::adopt(xf);
    // Every unmarked view counted above exists in this very template, so a
    // view that cannot be fetched here means its copy or transform could
    // not be allocated. That is answered as 9 rather than skipped: a skipped
    // view would leave the list shorter than its view count and the entry
    // judged on fewer views than it holds, with no sign of the failure.
    if (!b || !placement) return ML_NO_MEMORY;
    auto v = new_view();
    v->index = i;
    v->blob = std::move(b);
    v->placement = std::move(placement);
    list.views.push_back(std::move(v));
  }
  return ML_OK;
}

// The budget of views a list keeps for the next stage.
int stage_budget(MatchContext* ctx, const StageObject* next, int n, int percent) {
  int b = next ? zyl::matchlib::stage_get_max_candidates(next) : 0;
  if (b == 0) return 0;
  const int k1 = zyl::matchlib::param_get(ctx, kBudgetKindsKey, 0);
  const int k2 = zyl::matchlib::param_get(ctx, kBudgetBaseKey, b);
  if (k1 > 0) {
    if (k2 == k1) {
      b = std::max(b, n);
    } else {
      const long long x = (static_cast<long long>(k1 - b) * k2 + static_cast<long long>(b - k2) * n) /
                          (k1 - k2);
      b = std::max<long long>(b, std::clamp<long long>(x, 0, n));
    }
  }
  if (percent != 0 && zyl::matchlib::stage_next(next)) {
    const long long q = static_cast<long long>(percent) * b;
    if (q > 0)
      b = static_cast<int>(std::min<long long>(b + (q + 50) / 100, 255));
    else
      b = static_cast<int>(std::max<long long>(b + (q - 50) / 100, 1));
  }
  return b;
}

void record_group(MatchResult* r, const ViewList& list, int k, const View& v) {
  std::uint32_t* g = r->candidates[list.gallery_index].slots[k];
  ++g[0];
  if (v.raw > (g[2] & 0xffff)) {
    g[2] = v.raw | (static_cast<std::uint32_t>(v.far) << 16);
    g[3] = static_cast<std::uint32_t>(v.index);
    const std::size_t kept = std::min<std::size_t>(v.scores.size(), VERIFY_GROUP_SUBSCORES);
    std::fill(g + 4, g + 36, 0u);
    for (std::size_t i = 0; i < kept; ++i)
      g[4 + i / 2] |= static_cast<std::uint32_t>(v.scores[i]) << (16 * (i % 2));
    g[36] = static_cast<std::uint32_t>(kept);
  }
}

int fill_result(MatchResult* r, const ViewList& list, DataBlob* probe, GrayImage* image) {
  const View& v = *list.best;
  r->score = list.adjusted;
  r->best_raw_score = list.fused_raw;
  r->second_raw_score = list.top_raw[0];
  zyl::matchlib::blob_release(r->further_blob);
  r->further_blob = zyl::matchlib::blob_retain(list.gallery.get());
  r->best_candidate = list.gallery_index;
  r->best_view = v.index;
  r->marker_byte = zyl::matchlib::blob_get_quality(v.blob.get());
  r->record_key = zyl::matchlib::mvt_blob_get_view(list.gallery.get(), v.index, nullptr, nullptr);
  // The view was read from this very blob: not finding it again means the
  // container could not be parsed for lack of memory.
  if (r->record_key == KWZD_HEADER_KEY) return ML_NO_MEMORY;
  zyl::matchlib::blob_release(r->best_blob);
  r->best_blob = zyl::matchlib::blob_retain(v.blob.get());
  RigidTransform* match = zyl::matchlib::xform_copy(v.match.get());
  Ref<RigidTransform> inverse =
      Ref<RigidTransform>::adopt(zyl::matchlib::xform_invert(v.match.get()));
  RigidTransform* alignment =
      inverse ? zyl::matchlib::xform_compose(v.placement.get(), inverse.get()) : nullptr;
  zyl::matchlib::xform_release(r->second_transform);
  zyl::matchlib::xform_release(r->transform);
  r->second_transform = match;
  r->transform = alignment;
  if (!match || !alignment) return ML_NO_MEMORY;
  SampleInfo info{};
  if (zyl::matchlib::sample_info_read(nullptr, probe, &info) == ML_OK) {
    r->probe_resolution = info.resolution;
    r->overlap_percent =
        zyl::matchlib::xform_overlap_percent(match, info.height, info.width, info.resolution);
    // -1 for a probe whose size has an area at 500 dpi: the polygons could
    // not be built.
    const long dpi = info.resolution ? info.resolution : 500;
    const long h500 = (info.height * 500L + dpi / 2) / dpi;
    const long w500 = (info.width * 500L + dpi / 2) / dpi;
    if (r->overlap_percent < 0 && h500 >= 1 && w500 >= 1 && h500 <= 32767 && w500 <= 32767)
      return ML_NO_MEMORY;
  }
  if (zyl::matchlib::match_result_set_indices(r, v.scores.data(),
                                              static_cast<int32_t>(v.scores.size())) != ML_OK)
    return ML_NO_MEMORY;
  if (image) {
    // The last two of the result's four measures describe an image probe.
    r->values[2] = zyl::matchlib::image_background_percent(image);
    r->values[3] = zyl::matchlib::image_mask_bit40_percent(image);
  }
  return ML_OK;
}

// Steps through the stages until a decision is taken or no list is left
// for the next stage; the lists and the probe stay with the caller.
int walk_gallery(DataBlob* const* gallery, std::uint8_t count, const StageChain* chain,
                 MatchContext* ctx, DataBlob* probe_blob, GrayImage* image, int level,
                 MatchResult* r, const EngineConfig* config, HookedVector<ViewList>& lists,
                 Ref<DataBlob>& probe) {
  // Scores on the FAR scale are 16-bit: level 28 maps to 63278, which no
  // fused score passes.
  const auto T = static_cast<std::uint16_t>(zyl::matchlib::far_level_to_score(level));
  if (probe_blob) {
    probe = Ref<DataBlob>::adopt(zyl::matchlib::blob_copy(probe_blob));
    if (!probe) return ML_NO_MEMORY;
  } else {
    DataBlob* b = nullptr;
    const int status = zyl::matchlib::engine_attach_sample_info(
        zyl::matchlib::ctx_get_engine(ctx), image, zyl::matchlib::image_finger_info(image), &b);
    probe = Ref<DataBlob>::adopt(b);
    if (status != ML_OK) return status;
    zyl::matchlib::image_release(r->probe_image);
    r->probe_image = zyl::matchlib::image_retain(image);
  }
  r->requested_level = level;

  lists.resize(count);
  for (int i = 0; i < count; ++i) {
    const int status = view_list_from_blob(gallery[i], i, lists[static_cast<std::size_t>(i)]);
    if (status != ML_OK) return status;
  }
  for (ViewList& l : lists)
    std::erase_if(l.views, [r](const std::unique_ptr<View>& v) {
      return zyl::matchlib::blob_get_quality(v->blob.get()) < r->angle_limit;
    });

  Ref<FingerInfo> fresh;
  int k = 0;
  for (const StageObject* stage = zyl::matchlib::chain_first(chain); stage;
       stage = zyl::matchlib::stage_next(stage), ++k) {
    const auto S = static_cast<std::uint16_t>(
        zyl::matchlib::far_score_add_bits(T, zyl::matchlib::stage_get_threshold_offset(stage)));
    if (S < T) return ML_CORRUPT;
    if (image) {
      if (!fresh)
        fresh = Ref<FingerInfo>::adopt(
            zyl::matchlib::finger_info_create(0, zyl::matchlib::attribute_default()));
      if (!fresh) return ML_NO_MEMORY;
      DataBlob* b = probe.release();
      const int status =
          zyl::matchlib::engine_run_stage_extract(ctx, stage, image, fresh.get(), &b);
      probe = Ref<DataBlob>::adopt(b);
      if (status != ML_OK) return status;
    }
    zyl::matchlib::match_result_set_probe_blob(r, probe.get());
    // A stage without match operations only extracts: like a stage that
    // skips pairs, it compares nothing and keeps the lists' scores.
    if (!(zyl::matchlib::stage_get_flags(stage) & STAGE_FLAG_SKIP_PAIR) &&
        zyl::matchlib::stage_get_match_ops(stage)) {
      for (ViewList& l : lists) l.reset_stage();
      const ScoreProfile* profile = stage_profile(ctx, stage);
      const StageMatchOps* ops = zyl::matchlib::stage_get_match_ops(stage);
      const std::size_t L = lists.size();
      std::size_t cur = 0;
      while (cur < L && (lists[cur].finished || lists[cur].views.empty())) ++cur;
      while (cur < L) {
        ViewList& l = lists[cur];
        View& v = *l.views[static_cast<std::size_t>(++l.cursor)];
        int status = score_view(ctx, ops, profile, v, probe.get(), l.template_views);
        if (status != ML_OK) return status;
        record_group(r, l, k, v);
        top_insert(l.top_far, v.far);
        top_insert(l.top_raw, v.raw);
        l.fused_far = fuse_top(l.top_far, l.template_views);
        l.fused_raw = fuse_top(l.top_raw, l.template_views);
        const int stage_offset = zyl::matchlib::stage_get_threshold_offset(stage);
        l.adjusted = static_cast<std::uint16_t>(
            zyl::matchlib::far_score_add_bits(l.fused_far, -stage_offset));
        if (l.adjusted > l.fused_far) return ML_CORRUPT;
        std::uint32_t* g = r->candidates[l.gallery_index].slots[k];
        if (profile) {
          r->deciding_stage = k;
          g[1] = l.adjusted;
          if (!l.best || v.far > l.best->far || (v.far == l.best->far && v.raw > l.best->raw))
            l.best = &v;
          if (l.fused_far > S) r->decision = 1;
          if (zyl::matchlib::stage_can_reject(stage, l.fused_far, static_cast<std::uint8_t>(g[0])))
            l.finished = true;
        }
        if (config && config->scoring_routine) {
          status = config->scoring_routine(r);
          if (status != ML_OK) return status;
        }
        if (r->decision == 1) return ML_OK;  // the finish picks the best entry
        // The next list in turn that still has a view to visit; the list
        // just visited comes last.
        std::size_t next = L;
        for (std::size_t step = 1; step <= L; ++step) {
          const std::size_t j = (cur + step) % L;
          const ViewList& c = lists[j];
          if (!c.finished && static_cast<std::size_t>(c.cursor + 1) < c.views.size()) {
            next = j;
            break;
          }
        }
        cur = next;
      }
    }
    // Prepare the next stage.
    const auto R = static_cast<std::uint16_t>(
        zyl::matchlib::far_level_to_score(zyl::matchlib::stage_get_far_level(stage)));
    const bool carry = zyl::matchlib::stage_carries_scores(stage) != 0;
    const StageObject* N = zyl::matchlib::stage_next(stage);
    bool prepared = false;
    for (ViewList& l : lists) {
      const int B = stage_budget(ctx, N, l.template_views, r->score_limit);
      if (B == 0) l.finished = true;
      if (l.fused_far < R) l.finished = true;
      if (!l.finished) {
        view_list_drop_missing_kind(N, l.views);
        sort_by_far(l.views);
        if (l.views.size() > static_cast<std::size_t>(B)) l.views.resize(static_cast<std::size_t>(B));
        if (std::none_of(l.views.begin(), l.views.end(),
                         [&l](const auto& v) { return v.get() == l.best; }))
          l.best = nullptr;
        prepared = true;
      }
      if (!carry)
        for (auto& v : l.views) v->scores.clear();
    }
    if (!prepared) break;
    std::stable_sort(lists.begin(), lists.end(), [](const ViewList& a, const ViewList& b) {
      return a.top_far[0] > b.top_far[0];
    });
  }
  return ML_OK;
}

// The entry with the highest adjusted score (the first on ties) fills the
// result; 17 when no entry has a best view. Entries without a best view
// (emptied by the quality gate, rejected early) are skipped rather than
// chosen: taking the highest entry first and only then asking for its best
// view would let an empty entry that ties at 0 (and comes first) hide one
// that was compared, and answer 17 for a gallery that holds a result.
int finish(const HookedVector<ViewList>& lists, DataBlob* probe, GrayImage* image, MatchResult* r) {
  const ViewList* chosen = nullptr;
  for (const ViewList& l : lists)
    if (l.best && (!chosen || l.adjusted > chosen->adjusted)) chosen = &l;
  if (!chosen || !chosen->best) return ML_CORRUPT;
  return fill_result(r, *chosen, probe, image);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

uint16_t zyl::matchlib::verify_fuse_top(uint16_t first, uint16_t second, int n) {
  if (n <= 0) return 0;
  if (n == 1) return first;
  const int w = n <= 35 ? ((6 * n + 60) >> 2) / 14 : 5;
  return static_cast<uint16_t>((10 * first + w * second) / (10 + w));
}

namespace zyl::matchlib {
namespace {

int rank_views(DataBlob* const* blobs, std::uint8_t count, const StageChain* chain,
               MatchContext* ctx, DataBlob* probe, int level, int* result_count,
               ViewVerdict* verdicts) {
  const int capacity = *result_count;
  *result_count = 0;
  HookedVector<std::unique_ptr<View>> views;
  for (int i = 0; i < count; ++i) {
    auto v = new_view();
    v->index = i;
    v->blob = Ref<DataBlob>::share(blobs[i]);
    views.push_back(std::move(v));
  }
  const auto T = static_cast<std::uint16_t>(zyl::matchlib::far_level_to_score(level));
  for (const StageObject* stage = zyl::matchlib::chain_first(chain); stage;
       stage = zyl::matchlib::stage_next(stage)) {
    const StageMatchOps* ops = zyl::matchlib::stage_get_match_ops(stage);
    if (!(zyl::matchlib::stage_get_flags(stage) & STAGE_FLAG_SKIP_PAIR) && ops) {
      const ScoreProfile* profile = stage_profile(ctx, stage);
      for (auto& v : views) {
        if (v->blob.get() == probe) continue;  // never the probe against itself
        const int status = score_view(ctx, ops, profile, *v, probe, count);
        if (status != ML_OK) return status;
        if (!zyl::matchlib::stage_carries_scores(stage)) v->scores.clear();
        v->decision = T < v->far ? 1 : 0;
      }
    }
    const StageObject* next = zyl::matchlib::stage_next(stage);
    if (next) view_list_drop_missing_kind(next, views);
    sort_by_far(views);
    if (next) {
      const std::size_t keep = static_cast<std::size_t>(
          std::max<int>(capacity, zyl::matchlib::stage_get_max_candidates(next)));
      if (views.size() > keep) views.resize(keep);
    }
  }
  int written = 0;
  for (const auto& v : views) {
    if (written >= capacity) break;
    verdicts[written] =
        ViewVerdict{v->far, v->decision, zyl::matchlib::xform_retain(v->match.get()), v->index};
    ++written;
  }
  *result_count = written;
  return ML_OK;
}

int score_views(DataBlob* gallery, const StageMatchOps* last_ops, MatchContext* ctx,
                DataBlob* probe, GalleryEntry* entry) {
  MultiViewTemplate* t = nullptr;
  if (const int st = zyl::matchlib::mvt_from_blob(gallery, &t); st != ML_OK)
    return st == ML_NO_MEMORY ? ML_NO_MEMORY : ML_UNAVAILABLE;
  std::unique_ptr<MultiViewTemplate, decltype(&zyl::matchlib::mvt_release)> owned(
      t, &zyl::matchlib::mvt_release);
  const int n = zyl::matchlib::mvt_count_unmarked_views(t);
  if (n == 0) return ML_WRONG_KIND;
  MatchEngine* engine = zyl::matchlib::ctx_get_engine(ctx);
  TopScores top{};
  int best = -1;
  std::uint16_t best_score = 0;
  for (int i = 0; i < n; ++i) {
    Ref<DataBlob> v =
        Ref<DataBlob>::adopt(zyl::matchlib::mvt_get_view(t, i, nullptr, nullptr, nullptr));
    if (!v) continue;
    std::uint16_t score = 0;
    std::uint16_t count = 0;
    if (zyl::matchlib::engine_score_pair(engine, v.get(), probe, &score, nullptr, &count, nullptr,
                                         last_ops) != ML_OK)
      continue;
    if (best < 0 || score > best_score) {
      best = i;
      best_score = score;
    }
    top_insert(top, score);
  }
  if (best < 0) return ML_UNAVAILABLE;
  entry->fused_score = n == 1 ? top[0] : fuse_top(top, n);
  entry->best_score = best_score;
  std::copy(top.begin(), top.end(), entry->top);
  entry->top_count = static_cast<std::uint16_t>(std::min<int>(n, VERIFY_TOP_SCORES));
  RigidTransform* placement_raw = nullptr;
  Ref<DataBlob> v =
      Ref<DataBlob>::adopt(zyl::matchlib::mvt_get_view(t, best, &placement_raw, nullptr, nullptr));
  Ref<RigidTransform> placement = Ref<RigidTransform>::adopt(placement_raw);
  if (!v) return ML_NO_MEMORY;
  std::uint16_t score = 0;
  std::uint16_t* subs = nullptr;
  std::uint16_t count = 0;
  RigidTransform* match = nullptr;
  const int status = zyl::matchlib::engine_score_pair(engine, v.get(), probe, &score, &subs, &count,
                                                      &match, last_ops);
  entry->sub_scores = subs;
  entry->sub_score_count = count;
  entry->match_transform = match;
  if (status != ML_OK) return status;
  Ref<RigidTransform> inverse = Ref<RigidTransform>::adopt(zyl::matchlib::xform_invert(match));
  entry->alignment =
      inverse ? zyl::matchlib::xform_compose(placement.get(), inverse.get()) : nullptr;
  if (!entry->alignment) return ML_NO_MEMORY;
  entry->best_blob = v.release();
  entry->best_view = static_cast<std::uint32_t>(best);
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

int zyl::matchlib::verify_against_gallery(DataBlob* const* gallery, uint8_t count,
                                          const StageChain* chain, MatchContext* context,
                                          DataBlob* probe, GrayImage* probe_image, int level,
                                          MatchResult* result, const EngineConfig* config) {
  if ((probe == nullptr) == (probe_image == nullptr) || level == INT_MAX || !gallery || count == 0 ||
      !context || !result || !chain || !config || result->score_limit < -100)
    return ML_BAD_ARGUMENT;
  // The result's candidate record has a group for each of six stages.
  if (zyl::matchlib::chain_count(chain) > VERIFY_MAX_STAGES || result->candidate_count < count)
    return ML_BAD_ARGUMENT;
  for (int i = 0; i < count; ++i)
    if (!gallery[i]) return ML_BAD_ARGUMENT;
  result->decision = 0;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    HookedVector<ViewList> lists;
    Ref<DataBlob> owned_probe;
    int status = walk_gallery(gallery, count, chain, context, probe, probe_image, level, result,
                              config, lists, owned_probe);
    if (status == ML_OK) status = finish(lists, owned_probe.get(), probe_image, result);
    std::memset(result->scratch, 0, sizeof result->scratch);
    return status;
  });
}

int zyl::matchlib::verify_against_views(DataBlob* const* views, uint8_t count,
                                        const StageChain* chain, MatchContext* context,
                                        DataBlob* probe, int level, int* result_count,
                                        ViewVerdict* verdicts) {
  if (!views || count == 0 || !chain || !probe || !result_count || !verdicts || *result_count < 1 ||
      *result_count > 255)
    return ML_BAD_ARGUMENT;
  for (int i = 0; i < count; ++i)
    if (!views[i]) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return rank_views(views, count, chain, context, probe, level, result_count, verdicts);
  });
}

void zyl::matchlib::gallery_entry_clear(GalleryEntry* entry) {
  if (!entry) return;
  zyl::matchlib::xform_release(entry->alignment);
  zyl::matchlib::xform_release(entry->match_transform);
  zyl::matchlib::blob_release(entry->best_blob);
  std::free(entry->sub_scores);
  *entry = GalleryEntry{};
}

void zyl::matchlib::gallery_entry_move(GalleryEntry* destination, GalleryEntry* source) {
  if (!destination || !source || destination == source) return;
  zyl::matchlib::gallery_entry_clear(destination);
  *destination = *source;
  *source = GalleryEntry{};
}

int zyl::matchlib::mvt_score_views(DataBlob* gallery, const StageMatchOps* last_ops,
                                   MatchContext* context, DataBlob* probe, GalleryEntry* entry) {
  if (!entry) return ML_BAD_ARGUMENT;
  zyl::matchlib::gallery_entry_clear(entry);
  if (!gallery || !probe || !context) return ML_BAD_ARGUMENT;
  const int status = zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return score_views(gallery, last_ops, context, probe, entry);
  });
  if (status != ML_OK) zyl::matchlib::gallery_entry_clear(entry);
  return status;
}

int zyl::matchlib::engine_score_pair(MatchEngine* e, DataBlob* probe, DataBlob* gallery,
                                     uint16_t* out_score, uint16_t** out_scores,
                                     uint16_t* out_count, RigidTransform** out_transform,
                                     const StageMatchOps* last_ops) {
  if (out_scores) *out_scores = nullptr;
  if (out_transform) *out_transform = nullptr;
  if (!out_count) return ML_BAD_ARGUMENT;
  *out_count = 0;
  if (!e || !probe || !gallery) return ML_BAD_ARGUMENT;
  auto* vec = static_cast<std::uint16_t*>(ml_calloc(kPairVector, sizeof(std::uint16_t)));
  if (!vec) return ML_NO_MEMORY;
  std::unique_ptr<std::uint16_t, decltype(&std::free)> vector(vec, std::free);
  RigidTransform* xf = nullptr;
  int position = 0;
  int count = -1;
  int status = ML_OK;
  for (const StageObject* s = zyl::matchlib::chain_first(e->chain); s;
       s = zyl::matchlib::stage_next(s)) {
    const StageMatchOps* ops = zyl::matchlib::stage_get_match_ops(s);
    if ((zyl::matchlib::stage_get_flags(s) & STAGE_FLAG_SKIP_PAIR) || !ops) continue;
    const ScoreProfile* profile = zyl::matchlib::engine_find_score_profile(e, ops, 0, nullptr);
    std::uint16_t* subs = nullptr;
    std::uint16_t n = 0;
    status = ops->match(e->context, probe, gallery, &subs, &n, &xf);
    std::unique_ptr<std::uint16_t, decltype(&std::free)> owned(subs, std::free);
    if (status != ML_OK) break;
    // The pair's vector holds 128 sub-scores; a chain that gives more is
    // refused rather than cut.
    if (position + n > kPairVector) {
      status = ML_CORRUPT;
      break;
    }
    if (n) std::memcpy(vec + position, subs, n * sizeof(std::uint16_t));
    const int so_far = position + n;
    if (out_score) {
      status = ops->fuse(e->context, probe, gallery, vec, static_cast<std::uint16_t>(so_far), profile,
                         out_score);
      if (status != ML_OK) break;
    }
    if (ops == last_ops) {
      count = so_far;
      break;
    }
    if (zyl::matchlib::stage_get_flags(s) & STAGE_FLAG_DROP_TRANSFORM) {
      zyl::matchlib::xform_release(xf);
      xf = nullptr;
    }
    position = zyl::matchlib::stage_carries_scores(s) ? so_far : 0;
  }
  if (status != ML_OK) {
    zyl::matchlib::xform_release(xf);
    if (out_score) *out_score = 0;
    return status;
  }
  *out_count = static_cast<std::uint16_t>(count < 0 ? position : count);
  if (out_scores) *out_scores = vector.release();
  if (out_transform)
    *out_transform = xf;
  else
    zyl::matchlib::xform_release(xf);
  return ML_OK;
}

extern "C" {

ZYL_API uint16_t verify_fuse_top(uint16_t first, uint16_t second, int n) {
  return zyl::matchlib::verify_fuse_top(first, second, n);
}
ZYL_API int verify_against_gallery(DataBlob* const* gallery, uint8_t count, const StageChain* chain,
                                   MatchContext* context, DataBlob* probe, GrayImage* probe_image,
                                   int level, MatchResult* result, const EngineConfig* config) {
  return zyl::matchlib::verify_against_gallery(gallery, count, chain, context, probe, probe_image,
                                               level, result, config);
}
ZYL_API int verify_against_views(DataBlob* const* views, uint8_t count, const StageChain* chain,
                                 MatchContext* context, DataBlob* probe, int level,
                                 int* result_count, ViewVerdict* verdicts) {
  return zyl::matchlib::verify_against_views(views, count, chain, context, probe, level,
                                             result_count, verdicts);
}
ZYL_API void gallery_entry_clear(GalleryEntry* entry) { zyl::matchlib::gallery_entry_clear(entry); }
ZYL_API void gallery_entry_move(GalleryEntry* destination, GalleryEntry* source) {
  zyl::matchlib::gallery_entry_move(destination, source);
}
ZYL_API int mvt_score_views(DataBlob* gallery, const StageMatchOps* last_ops, MatchContext* context,
                            DataBlob* probe, GalleryEntry* entry) {
  return zyl::matchlib::mvt_score_views(gallery, last_ops, context, probe, entry);
}
ZYL_API int engine_score_pair(MatchEngine* e, DataBlob* probe, DataBlob* gallery,
                              uint16_t* out_score, uint16_t** out_scores, uint16_t* out_count,
                              RigidTransform** out_transform, const StageMatchOps* last_ops) {
  return zyl::matchlib::engine_score_pair(e, probe, gallery, out_score, out_scores, out_count,
                                          out_transform, last_ops);
}

}  // extern "C"
