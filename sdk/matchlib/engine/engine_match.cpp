// The engine's matching: galleries become multi-view templates for the
// verification walk, and multi-view templates are merged and adapted.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_verify.h"
#include "matchlib/engine/engine_extract.h"
#include "matchlib/engine/engine_match.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/match/match_result.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/image/image_geometry.h"
#include "matchlib/filter/image_transforms.h"
#include "matchlib/image/mask_build.h"
#include "matchlib/match/verify_views.h"
#include "matchlib/template/multi_view.h"
#include "matchlib/template/multi_view_select.h"
#include "matchlib/template/sample_info.h"
#include "matchlib/template/stage_extract.h"

namespace zyl::matchlib {

template <>
struct RefTraits<MatchResult> {
  static void retain(MatchResult* r) { zyl::matchlib::match_result_retain(r); }
  static void release(MatchResult* r) { zyl::matchlib::match_result_release(r); }
};

namespace {

constexpr std::uint32_t kViewStageKey = 0x4bc0d3c6;  // stage whose ops score views (-1: the last)
constexpr std::uint32_t kEvictionRuleKey = 0xac395352;

using TemplatePtr = std::unique_ptr<MultiViewTemplate, decltype(&zyl::matchlib::mvt_release)>;

TemplatePtr parse_template(DataBlob* blob) {
  MultiViewTemplate* t = nullptr;
  zyl::matchlib::mvt_from_blob(blob, &t);
  return TemplatePtr(t, &zyl::matchlib::mvt_release);
}

DataBlob* serialize(MultiViewTemplate* t, int flag, const KwzdWriter* writer, void* data) {
  return writer ? zyl::matchlib::mvt_serialize_with(t, flag, writer, data)
                : zyl::matchlib::mvt_serialize(t, flag);
}

// A one-view multi-view template of a plain template blob.
DataBlob* wrap_as_views(MatchEngine* e, DataBlob* blob) {
  const EngineConfig& c = e->config;
  TemplatePtr t(zyl::matchlib::mvt_create(c.most_views), &zyl::matchlib::mvt_release);
  if (!t) return nullptr;
  zyl::matchlib::mvt_set_size_limit(t.get(), static_cast<std::uint32_t>(c.size_limit));
  const MvtSectionLimit entry{c.quality_value, c.quality_limit};
  if (zyl::matchlib::mvt_set_quality_table(t.get(), &entry, 1) != ML_OK) return nullptr;
  int mode =
      c.view_selection && zyl::matchlib::param_get(e->context, kEvictionRuleKey, 2) != 0 ? 6 : 2;
  if (!c.view_mode_keep) mode -= 2;
  // A blob that the template does not take (above the engine's size limit)
  // would leave a template without views: no entry to match against.
  int taken = 0;
  if (zyl::matchlib::mvt_add_views(t.get(), e, &blob, 1, mode, &taken) != ML_OK || taken == 0)
    return nullptr;
  return zyl::matchlib::mvt_serialize(t.get(), c.serialize_flag);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::engine_free_views(DataBlob** views, uint8_t count) {
  if (!views) return;
  for (int i = 0; i < count; ++i) zyl::matchlib::blob_release(views[i]);
  std::free(views);
}

DataBlob** zyl::matchlib::engine_gallery_to_views(MatchEngine* e, DataBlob* const* gallery,
                                                  uint8_t count) {
  if (!e || !gallery || count == 0) return nullptr;
  auto* views = static_cast<DataBlob**>(ml_calloc(count, sizeof(DataBlob*)));
  if (!views) return nullptr;
  for (int i = 0; i < count; ++i) {
    DataBlob* b = gallery[i];
    views[i] = !b                                           ? nullptr
               : zyl::matchlib::blob_type(b) == KWZD_FORMAT ? zyl::matchlib::blob_retain(b)
                                                            : wrap_as_views(e, b);
    if (!views[i]) {
      zyl::matchlib::engine_free_views(views, count);
      return nullptr;
    }
  }
  return views;
}

extern "C" ZYL_API int engine_match_gallery(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                            DataBlob* probe, GrayImage* image, int level,
                                            MatchResult* result) {
  if (!e || !gallery || !result || count == 0 || (probe == nullptr) == (image == nullptr))
    return ML_BAD_ARGUMENT;
  DataBlob** views = zyl::matchlib::engine_gallery_to_views(e, gallery, count);
  if (!views) return ML_NO_MEMORY;
  const int status = zyl::matchlib::verify_against_gallery(views, count, e->chain, e->context,
                                                           probe, image, level, result, &e->config);
  zyl::matchlib::engine_free_views(views, count);
  return status;
}

int zyl::matchlib::engine_match_image(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                      DataBlob* probe, GrayImage* image, int level,
                                      MatchResult* result) {
  if (!e) return ML_BAD_ARGUMENT;
  if (!image) return e->match(e, gallery, count, probe, nullptr, level, result);
  int status = zyl::matchlib::image_build_masks_from_params(image, e->context);
  if (status != ML_OK) return status;
  Ref<GrayImage> work;
  const TilingSpec& t = e->config.tiling;
  if (zyl::matchlib::tiling_fits(image, &t, 0)) {
    int row = 0;
    int column = 0;
    work = Ref<GrayImage>::adopt(zyl::matchlib::image_crop_on_foreground(
        image, t.tile_height, t.tile_width, t.variance_threshold, &row, &column));
    if (!work) return ML_NO_MEMORY;
  } else {
    work = Ref<GrayImage>::share(image);
  }
  GrayImage* converted = nullptr;
  status = zyl::matchlib::engine_apply_converters(e, work.get(), &converted);
  Ref<GrayImage> owned = Ref<GrayImage>::adopt(converted);
  if (status != ML_OK) return status;
  return e->match(e, gallery, count, nullptr, owned.get(), level, result);
}

int zyl::matchlib::engine_match_result(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                       DataBlob* probe, int level, MatchResult** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!e || !gallery || count == 0 || !probe) return ML_BAD_ARGUMENT;
  Ref<MatchResult> r = Ref<MatchResult>::adopt(zyl::matchlib::match_result_create(count));
  if (!r) return ML_NO_MEMORY;
  const int status = e->match(e, gallery, count, probe, nullptr, level, r.get());
  if (status == ML_OK) *out = r.release();
  return status;
}

extern "C" ZYL_API int engine_match_image_result(MatchEngine* e, DataBlob* const* gallery,
                                                 uint8_t count, GrayImage* image, int level,
                                                 MatchResult** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!e || !gallery || count == 0 || !image) return ML_BAD_ARGUMENT;
  Ref<MatchResult> r = Ref<MatchResult>::adopt(zyl::matchlib::match_result_create(count));
  if (!r) return ML_NO_MEMORY;
  const int status =
      zyl::matchlib::engine_match_image(e, gallery, count, nullptr, image, level, r.get());
  if (status == ML_OK) *out = r.release();
  return status;
}

extern "C" ZYL_API int engine_match_image_decide(MatchEngine* e, DataBlob* const* gallery,
                                                 uint8_t count, GrayImage* image, int level,
                                                 int32_t* out_decision,
                                                 RigidTransform** out_transform,
                                                 int32_t* out_gallery_index,
                                                 int32_t* out_view_index, DataBlob** out_probe) {
  if (out_decision) *out_decision = 0;
  if (out_transform) *out_transform = nullptr;
  if (out_gallery_index) *out_gallery_index = 0;
  if (out_view_index) *out_view_index = 0;
  if (out_probe) *out_probe = nullptr;
  if (!e || !gallery || count == 0 || !image || !out_decision) return ML_BAD_ARGUMENT;
  Ref<MatchResult> r = Ref<MatchResult>::adopt(zyl::matchlib::match_result_create(count));
  if (!r) return ML_NO_MEMORY;
  const int status =
      zyl::matchlib::engine_match_image(e, gallery, count, nullptr, image, level, r.get());
  if (status != ML_OK) return status;
  *out_decision = r->decision;
  if (out_transform) *out_transform = zyl::matchlib::xform_retain(r->transform);
  if (out_gallery_index) *out_gallery_index = r->best_candidate;
  if (out_view_index) *out_view_index = r->best_view;
  if (out_probe) *out_probe = zyl::matchlib::blob_retain(r->probe_blob);
  return ML_OK;
}

int zyl::matchlib::engine_verify_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                       DataBlob* probe, uint16_t* out_score) {
  if (out_score) *out_score = 0;
  if (!e || !gallery || count == 0 || !probe || !out_score) return ML_BAD_ARGUMENT;
  Ref<MatchResult> r = Ref<MatchResult>::adopt(zyl::matchlib::match_result_create(count));
  if (!r) return ML_NO_MEMORY;
  const int status = e->match(e, gallery, count, probe, nullptr, ENGINE_LEVEL_BEYOND, r.get());
  if (status == ML_OK) *out_score = r->score;
  return status;
}

const StageMatchOps* zyl::matchlib::engine_pick_stage(const MatchEngine* e) {
  if (!e) return nullptr;
  const int choice = zyl::matchlib::param_get(e->context, kViewStageKey, -1);
  if (choice == -1) {
    for (const StageObject* s = zyl::matchlib::chain_last(e->chain); s;
         s = zyl::matchlib::stage_prev(s))
      if (zyl::matchlib::stage_get_match_ops(s)) return zyl::matchlib::stage_get_match_ops(s);
    return nullptr;
  }
  if (choice >= 0 && static_cast<std::uint32_t>(choice) < zyl::matchlib::engine_stage_count(e))
    return zyl::matchlib::stage_get_match_ops(zyl::matchlib::engine_get_stage(e, choice));
  return nullptr;
}

int zyl::matchlib::engine_score_gallery(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                        DataBlob* probe, MatchResult* result) {
  if (!result || !probe || !e) return ML_BAD_ARGUMENT;
  DataBlob** views = zyl::matchlib::engine_gallery_to_views(e, gallery, count);
  if (!views) return ML_NO_MEMORY;
  const StageMatchOps* ops = zyl::matchlib::engine_pick_stage(e);
  int status = ops ? ML_OK : ML_CORRUPT;
  for (int i = 0; status == ML_OK && i < count; ++i) {
    GalleryEntry entry{};
    if (zyl::matchlib::blob_type(probe) == KWZD_FORMAT) {
      TemplatePtr pt = parse_template(probe);
      if (!pt) status = ML_UNAVAILABLE;
      const int n = pt ? zyl::matchlib::mvt_count_unmarked_views(pt.get()) : 0;
      for (int j = 0; status == ML_OK && j < n; ++j) {
        Ref<DataBlob> pv = Ref<DataBlob>::adopt(
            zyl::matchlib::mvt_get_view(pt.get(), j, nullptr, nullptr, nullptr));
        GalleryEntry e2{};
        if (pv &&
            zyl::matchlib::mvt_score_views(views[i], ops, e->context, pv.get(), &e2) == ML_OK &&
            (!entry.best_blob || e2.fused_score > entry.fused_score))
          zyl::matchlib::gallery_entry_move(&entry, &e2);
        zyl::matchlib::gallery_entry_clear(&e2);
      }
    } else {
      SampleInfo info{};
      if (zyl::matchlib::sample_info_read(nullptr, probe, &info) == ML_OK)
        result->marker_byte = static_cast<std::uint8_t>(info.quality & 0xff);
      status = zyl::matchlib::mvt_score_views(views[i], ops, e->context, probe, &entry);
    }
    // Entries are ranked by the entry's score, the fusion of its best view
    // scores, as the verification walk ranks them: an entry whose views all
    // agree ({280, 280, 280} fuses to 280) outranks one with a single good
    // view ({300, 0, 0} fuses to 272). The result's best raw score is that
    // fused score and its second raw score the entry's best single view, so
    // the second is never below the first, as a finished result requires.
    if (status == ML_OK && entry.best_blob && entry.fused_score >= result->best_raw_score) {
      zyl::matchlib::xform_release(result->transform);
      zyl::matchlib::xform_release(result->second_transform);
      result->transform = zyl::matchlib::xform_retain(entry.alignment);
      result->second_transform = zyl::matchlib::xform_retain(entry.match_transform);
      result->best_raw_score = entry.fused_score;
      result->second_raw_score = entry.best_score;
      status = zyl::matchlib::match_result_set_indices(result, entry.top, entry.top_count);
      DataBlob* copy = zyl::matchlib::blob_copy(probe);
      if (!copy && status == ML_OK) status = ML_NO_MEMORY;
      zyl::matchlib::match_result_set_probe_blob(result, copy);
      zyl::matchlib::blob_release(copy);
      result->best_view = static_cast<int32_t>(entry.best_view);
      result->best_candidate = i;
      result->record_key = zyl::matchlib::mvt_blob_get_view(
          views[i], static_cast<int>(entry.best_view), nullptr, nullptr);
      zyl::matchlib::blob_release(result->best_blob);
      result->best_blob = zyl::matchlib::blob_retain(entry.best_blob);
      SampleInfo info{};
      if (zyl::matchlib::sample_info_read(nullptr, probe, &info) == ML_OK)
        result->overlap_percent = zyl::matchlib::xform_overlap_percent(
            entry.match_transform, info.height, info.width, info.resolution);
    }
    zyl::matchlib::gallery_entry_clear(&entry);
  }
  zyl::matchlib::engine_free_views(views, count);
  return status;
}

extern "C" ZYL_API int engine_best_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                         DataBlob* probe, uint16_t* out_score,
                                         RigidTransform** out_transform) {
  if (out_score) *out_score = 0;
  if (out_transform) *out_transform = nullptr;
  if (!e || !gallery || count == 0 || !probe || !out_score) return ML_BAD_ARGUMENT;
  Ref<MatchResult> r = Ref<MatchResult>::adopt(zyl::matchlib::match_result_create(count));
  if (!r) return ML_NO_MEMORY;
  const int status = e->gallery_score(e, gallery, count, probe, r.get());
  if (status != ML_OK) return status;
  *out_score = r->best_raw_score;
  if (out_transform) *out_transform = zyl::matchlib::xform_retain(r->transform);
  return ML_OK;
}

extern "C" ZYL_API int engine_merge_templates(MatchEngine* e, DataBlob* base,
                                              DataBlob* const* blobs, int count, DataBlob** out,
                                              const KwzdWriter* writer, void* writer_data) {
  if (!out || !base || !e) return ML_BAD_ARGUMENT;
  *out = nullptr;
  TemplatePtr t = parse_template(base);
  if (!t) return ML_NO_MEMORY;
  zyl::matchlib::mvt_set_size_limit(t.get(), static_cast<std::uint32_t>(e->config.size_limit));
  int taken = 0;
  const int status =
      zyl::matchlib::mvt_add_views(t.get(), e, const_cast<DataBlob**>(blobs), count, 0, &taken);
  if (status != ML_OK) return status;
  // Nothing added: no new template; the caller keeps the one it has.
  if (!taken) return ML_CORRUPT;
  *out = serialize(t.get(), e->config.serialize_flag, writer, writer_data);
  return *out ? ML_OK : ML_NO_MEMORY;
}

extern "C" ZYL_API int engine_adapt_template(MatchEngine* e, DataBlob* blob, MatchResult* result,
                                             DataBlob** out, const KwzdWriter* writer,
                                             void* writer_data) {
  if (!blob || !result || !e || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  TemplatePtr t = parse_template(blob);
  if (!t) return ML_NO_MEMORY;
  int status = zyl::matchlib::engine_extract(e, result->probe_image, nullptr, &result->probe_blob);
  if (status != ML_OK) return status;
  zyl::matchlib::mvt_set_reference_key(t.get(), result->record_key);
  zyl::matchlib::mvt_set_reference_transform(t.get(), result->transform);
  zyl::matchlib::mvt_set_eviction_rule(t.get(), -1);
  DataBlob* probe = result->probe_blob;
  int taken = 0;
  status = zyl::matchlib::mvt_add_views(t.get(), e, &probe, 1, 0, &taken);
  if (status != ML_OK) return status;
  // The probe did not become a view (the selection dropped it): the
  // template cannot take it, and no adapted template is produced.
  if (taken != 1 && taken != 2) return ML_TOO_MANY;
  *out = serialize(t.get(), e->config.serialize_flag, writer, writer_data);
  return *out ? ML_OK : ML_NO_MEMORY;
}

int zyl::matchlib::engine_call_merge_with(MatchEngine* e, DataBlob* base, DataBlob* const* blobs,
                                          int count, DataBlob** out, const KwzdWriter* writer,
                                          void* writer_data) {
  if (out) *out = nullptr;
  if (!e || !base || !blobs || count <= 0 || !out) return ML_BAD_ARGUMENT;
  return e->merge(e, base, blobs, count, out, writer, writer_data);
}

int zyl::matchlib::engine_call_reserialize(MatchEngine* e, DataBlob* base, DataBlob** out) {
  if (out) *out = nullptr;
  if (!e || !base || !out) return ML_BAD_ARGUMENT;
  const int status = e->merge(e, base, nullptr, 0, out, nullptr, nullptr);
  // With no blobs to add, "nothing was added" means the template could not
  // be written anew.
  return status == ML_CORRUPT && !*out ? ML_TOO_MANY : status;
}

int zyl::matchlib::engine_call_adapt(MatchEngine* e, DataBlob* blob, MatchResult* result,
                                     DataBlob** out) {
  if (out) *out = nullptr;
  if (!e || !blob || !result || !out) return ML_BAD_ARGUMENT;
  return e->adapt(e, blob, result, out, nullptr, nullptr);
}

int zyl::matchlib::engine_call_gallery_score(MatchEngine* e, DataBlob* const* gallery,
                                             uint8_t count, DataBlob* probe, MatchResult* result) {
  if (!e || !gallery || count == 0 || !probe || !result) return ML_BAD_ARGUMENT;
  return e->gallery_score(e, gallery, count, probe, result);
}

extern "C" ZYL_API int engine_far_accept(MatchEngine* e, uint16_t score, int level,
                                         int* out_accept) {
  if (!e || !out_accept) return ML_BAD_ARGUMENT;
  const StageMatchOps* ops = zyl::matchlib::engine_pick_stage(e);
  if (!ops) return ML_CORRUPT;
  const ScoreProfile* p = zyl::matchlib::engine_find_score_profile(e, ops, 0, nullptr);
  if (!p || !p->thresholds) return ML_WRONG_KIND;
  *out_accept = 0;
  return zyl::matchlib::far_threshold_accept(e->context, score, 1, level, p->thresholds, out_accept,
                                             nullptr);
}

extern "C" ZYL_API int engine_count_decision(MatchEngine* e, DataBlob* const* gallery,
                                             uint8_t count, DataBlob* probe, GrayImage* image,
                                             uint32_t* counters) {
  if (!e || (!probe && !image) || !counters) return ML_BAD_ARGUMENT;
  if (!gallery || count == 0) return ML_BAD_ARGUMENT;
  Ref<MatchResult> r = Ref<MatchResult>::adopt(zyl::matchlib::match_result_create(count));
  if (!r) return ML_NO_MEMORY;
  const int status = probe
                         ? e->match(e, gallery, count, probe, nullptr, ENGINE_LEVEL_BEYOND, r.get())
                         : zyl::matchlib::engine_match_image(e, gallery, count, nullptr, image,
                                                             ENGINE_LEVEL_BEYOND, r.get());
  if (status != ML_OK) return status;
  // The counters are indexed by the result's best raw score (a 16-bit
  // value: the caller's array holds 65536), not by its FAR-scale score.
  ++counters[r->best_raw_score];
  return ML_OK;
}

extern "C" {

ZYL_API void engine_free_views(DataBlob** views, uint8_t count) {
  zyl::matchlib::engine_free_views(views, count);
}
ZYL_API DataBlob** engine_gallery_to_views(MatchEngine* e, DataBlob* const* gallery,
                                           uint8_t count) {
  return zyl::matchlib::engine_gallery_to_views(e, gallery, count);
}
ZYL_API int engine_match_image(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                               DataBlob* probe, GrayImage* image, int level, MatchResult* result) {
  return zyl::matchlib::engine_match_image(e, gallery, count, probe, image, level, result);
}
ZYL_API int engine_match_result(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                DataBlob* probe, int level, MatchResult** out) {
  return zyl::matchlib::engine_match_result(e, gallery, count, probe, level, out);
}
ZYL_API int engine_verify_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                DataBlob* probe, uint16_t* out_score) {
  return zyl::matchlib::engine_verify_score(e, gallery, count, probe, out_score);
}
ZYL_API const StageMatchOps* engine_pick_stage(const MatchEngine* e) {
  return zyl::matchlib::engine_pick_stage(e);
}
ZYL_API int engine_score_gallery(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                 DataBlob* probe, MatchResult* result) {
  return zyl::matchlib::engine_score_gallery(e, gallery, count, probe, result);
}
ZYL_API int engine_call_merge(MatchEngine* e, DataBlob* base, DataBlob* const* blobs, int count,
                              DataBlob** out) {
  return zyl::matchlib::engine_call_merge_with(e, base, blobs, count, out, nullptr, nullptr);
}
ZYL_API int engine_call_merge_with(MatchEngine* e, DataBlob* base, DataBlob* const* blobs,
                                   int count, DataBlob** out, const KwzdWriter* writer,
                                   void* writer_data) {
  return zyl::matchlib::engine_call_merge_with(e, base, blobs, count, out, writer, writer_data);
}
ZYL_API int engine_call_reserialize(MatchEngine* e, DataBlob* base, DataBlob** out) {
  return zyl::matchlib::engine_call_reserialize(e, base, out);
}
ZYL_API int engine_call_adapt(MatchEngine* e, DataBlob* blob, MatchResult* result,
                              DataBlob** out) {
  return zyl::matchlib::engine_call_adapt(e, blob, result, out);
}
ZYL_API int engine_call_gallery_score(MatchEngine* e, DataBlob* const* gallery, uint8_t count,
                                      DataBlob* probe, MatchResult* result) {
  return zyl::matchlib::engine_call_gallery_score(e, gallery, count, probe, result);
}

}  // extern "C"
