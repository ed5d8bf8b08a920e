// Enrolment job: samples kept in a plain array, each new one checked for
// coverage and size and compared with the stored ones; the process-wide
// result slot of the capture-driven enrolment.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/grid_coverage.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_enrol_job.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/matchlib_xform.h"
#include "matchlib/image/blob.h"
#include "matchlib/engine/enrol_job.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/match/match_decision.h"
#include "matchlib/template/multi_view.h"
#include "matchlib/template/multi_view_select.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kNoScore = 0x7fff;
constexpr int kCompareLevel = 9;
// Side of the sample rectangle the corner distance is measured over.
constexpr std::int16_t kSampleSide = 160;

EnrolJob* self(EnrolSession* s) { return reinterpret_cast<EnrolJob*>(s); }

void raise(const EnrolJob& j, int code, FingerInfo* finger) {
  if (j.hooks && j.hooks->event) j.hooks->event(j.context, code, finger);
}

std::mutex& slot_mutex() {
  static std::mutex m;
  return m;
}
DataBlob*& result_slot() {
  static DataBlob* slot = nullptr;
  return slot;
}

// The multi-view template of the stored samples, with the given most views.
// The selection may keep none of them (a most-views count of 0, or a
// template too small for any sample): that is no enrolment template, and
// the answer is 19 rather than an empty template.
int build_template(EnrolJob& j, std::uint8_t maximum_views, DataBlob** out) {
  *out = nullptr;
  MultiViewTemplate* t = zyl::matchlib::mvt_create(maximum_views);
  if (!t) return ML_NO_MEMORY;
  std::vector<DataBlob*> blobs;
  for (int k = 0; k < j.count; ++k) blobs.push_back(j.samples[k].blob);
  int taken = 0;
  int status = zyl::matchlib::mvt_add_views(t, j.engine, blobs.data(), j.count, 0, &taken);
  if (status == ML_OK && taken == 0) status = ML_TOO_MANY;
  if (status == ML_OK) {
    *out = zyl::matchlib::mvt_serialize(t, 0);
    if (!*out) status = ML_NO_MEMORY;
  }
  zyl::matchlib::mvt_release(t);
  return status;
}

bool same_bytes(const DataBlob* a, const DataBlob* b) {
  const std::uint32_t n = zyl::matchlib::blob_size(a);
  return zyl::matchlib::blob_type(a) == zyl::matchlib::blob_type(b) &&
         n == zyl::matchlib::blob_size(b) &&
         (n == 0 || std::memcmp(zyl::matchlib::blob_data(a), zyl::matchlib::blob_data(b), n) == 0);
}

// Re-normalises the stored samples through the engine: they are finalised
// into a multi-view template with the engine's most views and split again
// into its views, so that the stored samples are the views the enrolment
// template holds (the selection may trim their sections). A view keeps the
// score of the sample it came from. When the template cannot hold every
// sample (the engine's most views or its limits are reached), the newest
// sample cannot be kept without losing another: 19, and the stored samples
// stay as they were, as on any other failure.
int renormalise(EnrolJob& j) {
  const EngineConfig* config = zyl::matchlib::engine_get_config(j.engine);
  DataBlob* whole = nullptr;
  int status = build_template(j, config ? config->most_views : 0, &whole);
  if (status != ML_OK) return status;
  MultiViewTemplate* t = nullptr;
  status = zyl::matchlib::mvt_from_blob(whole, &t);
  zyl::matchlib::blob_release(whole);
  if (status != ML_OK) return status;
  std::unique_ptr<MultiViewTemplate, decltype(&zyl::matchlib::mvt_release)> owned(
      t, &zyl::matchlib::mvt_release);
  const KwzdContainer* store = zyl::matchlib::mvt_store(t);
  const int n = zyl::matchlib::kwzd_record_count(store);
  if (n > j.settings.sample_limit) return ML_CORRUPT;
  if (n < j.count) return ML_TOO_MANY;
  std::vector<EnrolJobSample> fresh;
  for (int i = 0; i < n; ++i) {
    DataBlob* view = zyl::matchlib::kwzd_get_at(store, i, nullptr);
    if (!view) {
      for (EnrolJobSample& f : fresh) zyl::matchlib::blob_release(f.blob);
      return ML_NO_MEMORY;
    }
    EnrolJobSample sample{view, kNoScore, 1};
    for (int k = 0; k < j.count; ++k)
      if (same_bytes(j.samples[k].blob, view)) {
        sample.score = j.samples[k].score;
        sample.accepted = j.samples[k].accepted;
        break;
      }
    fresh.push_back(sample);
  }
  for (int k = 0; k < j.count; ++k) {
    zyl::matchlib::blob_release(j.samples[k].blob);
    j.samples[k] = {};
  }
  j.total_size = 0;
  for (int i = 0; i < n; ++i) {
    j.samples[i] = fresh[static_cast<std::size_t>(i)];
    j.total_size += zyl::matchlib::blob_size(fresh[static_cast<std::size_t>(i)].blob);
  }
  j.count = static_cast<std::uint16_t>(n);
  return ML_OK;
}

int add(EnrolJob& j, DataBlob* tmpl, int* progress) {
  const EnrolJobSettings& s = j.settings;
  if (progress) *progress = j.count >= s.sample_limit ? 100 : 0;
  if (j.count >= s.sample_limit || (s.size_limit && j.total_size >= s.size_limit))
    return ML_TOO_MANY;
  int status = ML_OK;
  // A template without a grid covers nothing.
  const int coverage = std::max(grid_coverage(tmpl, status), 0);
  if (status != ML_OK) return status;
  if (coverage < s.quality_minimum || zyl::matchlib::blob_size(tmpl) < s.minimum_size)
    return ML_TOO_POOR;

  std::uint16_t score = kNoScore;
  if (j.count > 0) {
    RigidTransform* identity = zyl::matchlib::xform_create(0, 0, 0);
    if (!identity) return ML_NO_MEMORY;
    for (int k = j.count - 1; k >= 0; --k) {
      std::int32_t decision = 0, gallery_index = 0, view_index = 0;
      RigidTransform* t = nullptr;
      status =
          zyl::matchlib::engine_match_decide(j.engine, &j.samples[k].blob, 1, tmpl, kCompareLevel,
                                             &decision, &t, &gallery_index, &view_index);
      if (status != ML_OK) {
        zyl::matchlib::xform_release(t);
        break;
      }
      if (decision && t) {
        const int d = zyl::matchlib::xform_corner_distance(identity, t, kSampleSide, kSampleSide);
        score = static_cast<std::uint16_t>(std::clamp(std::min<int>(score, d), 0, 0x7fff));
        if (zyl::matchlib::xform_within(t, s.shift_limit, s.angle_limit) && s.reject_duplicates) {
          raise(j, k == j.count - 1 ? ENROL_EVENT_SAME_PLACE : ENROL_EVENT_REFUSED, nullptr);
          status = ML_TOO_POOR;
        } else if (zyl::matchlib::xform_within(t, s.shift_limit, s.angle_limit)) {
          score = kNoScore;  // a tolerated duplicate carries no score
        }
      }
      zyl::matchlib::xform_release(t);
      if (status != ML_OK) break;
    }
    zyl::matchlib::xform_release(identity);
    if (status != ML_OK) return status;
  }
  j.samples[j.count] = EnrolJobSample{zyl::matchlib::blob_retain(tmpl), score, 1};
  ++j.count;
  j.total_size += zyl::matchlib::blob_size(tmpl);
  if (score < s.score_minimum) raise(j, ENROL_EVENT_NEAR, nullptr);
  if (const int st = renormalise(j); st != ML_OK) {
    // The sample is not kept when its enrolment cannot be built.
    --j.count;
    j.total_size -= zyl::matchlib::blob_size(tmpl);
    zyl::matchlib::blob_release(j.samples[j.count].blob);
    j.samples[j.count] = {};
    return st;
  }
  if (j.hooks && j.hooks->progress) j.hooks->progress(j.context, j.count, s.sample_limit);
  if (progress && j.count >= s.sample_limit) *progress = 100;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

EnrolSession* zyl::matchlib::enrol_job_create(MatchContext* context, FingerInfo* finger, void* user,
                                              const EnrolJobSettings* settings,
                                              const EnrolHooks* hooks, void* hooks_data) {
  MatchEngine* engine = zyl::matchlib::ctx_get_engine(context);
  if (!settings || !engine) return nullptr;
  auto* j = static_cast<EnrolJob*>(ml_calloc(1, sizeof(EnrolJob)));
  if (!j) return nullptr;
  j->samples = static_cast<EnrolJobSample*>(
      ml_calloc(std::max<std::size_t>(settings->sample_limit, 1), sizeof(EnrolJobSample)));
  if (!j->samples) {
    std::free(j);
    return nullptr;
  }
  j->head.add_sample = [](EnrolSession* s, GrayImage* image, DataBlob* t, void* progress) {
    return zyl::matchlib::enrol_job_add(s, image, t, progress);
  };
  j->head.count = enrol_job_count;
  j->head.finalise = ::enrol_job_finalise;
  j->head.finalise_engine = enrol_job_finalise_engine;
  j->head.destroy = enrol_job_destroy;
  j->head.set_limits = enrol_job_set_tolerance;
  j->context = zyl::matchlib::ctx_retain(context);
  j->engine = zyl::matchlib::engine_retain(engine);
  j->finger = zyl::matchlib::finger_info_retain(finger);
  j->user = user;
  j->format = zyl::matchlib::engine_get_format(engine);
  j->settings = *settings;
  j->hooks = hooks;
  j->hooks_data = hooks_data;
  return &j->head;
}

extern "C" ZYL_API EnrolSession* enrol_job_create_guarded(MatchContext* context, FingerInfo* finger,
                                                          void* user,
                                                          const EnrolJobSettings* settings,
                                                          const EnrolHooks* hooks,
                                                          void* hooks_data) {
  if ((hooks && !hooks_data) || (settings && settings->reject_duplicates)) return nullptr;
  return zyl::matchlib::enrol_job_create(context, finger, user, settings, hooks, hooks_data);
}

extern "C" ZYL_API EnrolSession* enrol_job_create_from_params(MatchContext* context,
                                                              FingerInfo* finger, void* user,
                                                              const EnrolHooks* hooks,
                                                              void* hooks_data) {
  const EngineConfig* config =
      zyl::matchlib::engine_get_config(zyl::matchlib::ctx_get_engine(context));
  if (!config) return nullptr;
  EnrolJobSettings s{};
  const int views = config->most_views ? config->most_views : 1;
  s.sample_limit =
      static_cast<std::uint16_t>(zyl::matchlib::param_get(context, 0x87d98ca7u, views));
  s.reject_duplicates =
      static_cast<std::uint32_t>(zyl::matchlib::param_get(context, 0x8c846b0au, 0));
  s.score_minimum = static_cast<std::int16_t>(
      zyl::matchlib::param_get(context, 0x48d59322u, config->unnamed_i32_2));
  s.quality_minimum = static_cast<std::uint8_t>(
      zyl::matchlib::param_get(context, 0x0b578594u, config->unnamed_i32_1));
  s.minimum_size = static_cast<std::uint32_t>(
      zyl::matchlib::param_get(context, 0x7bc1c0b4u, config->unnamed_i32_3));
  s.size_limit = static_cast<std::uint32_t>(config->size_limit);
  s.shift_limit = static_cast<std::uint16_t>(zyl::matchlib::param_get(context, 0xfe5e27d9u, 12));
  s.angle_limit = static_cast<std::uint8_t>(zyl::matchlib::param_get(context, 0xee9aaf74u, 16));
  return zyl::matchlib::enrol_job_create(context, finger, user, &s, hooks, hooks_data);
}

int zyl::matchlib::enrol_job_add(EnrolSession* job, GrayImage* image, DataBlob* tmpl,
                                 void* progress) {
  if (!job) return ML_BAD_ARGUMENT;
  if (!tmpl || image) return ML_OUT_OF_LIMITS;
  return add(*self(job), tmpl, static_cast<int*>(progress));
}

extern "C" ZYL_API int enrol_job_count(EnrolSession* job) { return job ? self(job)->count : 0; }

extern "C" ZYL_API int enrol_job_set_tolerance(EnrolSession* job, uint16_t shift, uint8_t angle,
                                               void*) {
  if (!job) return ML_BAD_ARGUMENT;
  self(job)->settings.shift_limit = shift;
  self(job)->settings.angle_limit = angle;
  return ML_OK;
}

static int enrol_job_finalise_unguarded(EnrolSession* job, uint8_t maximum_views, DataBlob** out,
                                        void*) {
  if (!job) return ML_BAD_ARGUMENT;
  EnrolJob& j = *self(job);
  if (j.count < zyl::matchlib::param_get(j.context, 0x91d9186au, 1)) return ML_CORRUPT;
  if (!out) return ML_BAD_ARGUMENT;
  return build_template(j, maximum_views, out);
}

int zyl::matchlib::enrol_job_finalise(EnrolSession* job, uint8_t maximum_views, DataBlob** out,
                                      void* a3) {
  return zyl::GuardedCall(
      ML_NO_MEMORY, [&] { return enrol_job_finalise_unguarded(job, maximum_views, out, a3); });
}

extern "C" ZYL_API int enrol_job_finalise_engine(MatchEngine* engine, EnrolSession* job,
                                                 DataBlob** out) {
  if (!job) return ML_BAD_ARGUMENT;
  if (zyl::matchlib::engine_get_format(engine) != self(job)->format) return ML_WRONG_KIND;
  const EngineConfig* config = zyl::matchlib::engine_get_config(engine);
  return zyl::matchlib::enrol_job_finalise(job, config ? config->most_views : 0, out, nullptr);
}

extern "C" ZYL_API void enrol_job_destroy(EnrolSession* job) {
  if (!job) return;
  EnrolJob* j = self(job);
  for (int k = 0; k < j->count; ++k) zyl::matchlib::blob_release(j->samples[k].blob);
  std::free(j->samples);
  zyl::matchlib::finger_info_release(j->finger);
  zyl::matchlib::engine_release(j->engine);
  zyl::matchlib::ctx_release(j->context);
  std::free(j);
}

int zyl::matchlib::enrol_result_slot_set(DataBlob* blob) {
  std::lock_guard<std::mutex> lock(slot_mutex());
  zyl::matchlib::blob_release(result_slot());
  result_slot() = zyl::matchlib::blob_retain(blob);
  return ML_OK;
}

DataBlob* zyl::matchlib::enrol_result_slot_take(void) {
  std::lock_guard<std::mutex> lock(slot_mutex());
  DataBlob* b = result_slot();
  result_slot() = nullptr;
  return b;
}

extern "C" {

ZYL_API EnrolSession* enrol_job_create(MatchContext* context, FingerInfo* finger, void* user,
                                       const EnrolJobSettings* settings, const EnrolHooks* hooks,
                                       void* hooks_data) {
  return zyl::matchlib::enrol_job_create(context, finger, user, settings, hooks, hooks_data);
}
ZYL_API int enrol_job_add(EnrolSession* job, GrayImage* image, DataBlob* tmpl, void* progress) {
  return zyl::matchlib::enrol_job_add(job, image, tmpl, progress);
}
ZYL_API int enrol_job_finalise(EnrolSession* job, uint8_t maximum_views, DataBlob** out, void* a3) {
  return zyl::matchlib::enrol_job_finalise(job, maximum_views, out, a3);
}
ZYL_API int enrol_result_slot_set(DataBlob* blob) {
  return zyl::matchlib::enrol_result_slot_set(blob);
}
ZYL_API DataBlob* enrol_result_slot_take(void) { return zyl::matchlib::enrol_result_slot_take(); }

}  // extern "C"
