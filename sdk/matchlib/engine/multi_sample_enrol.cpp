// Multi-sample enrolment: finished templates checked for coverage, size and
// placement against earlier samples, kept in one slot array divided into
// accepted, pending and spare samples, merged into a multi-view template.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/template/grid_coverage.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_multi_enrol.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_support.h"
#include "zylscan/matchlib_tlv.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/matchlib_xform.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/finger_info.h"
#include "matchlib/core/match_context.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/core/sorting.h"
#include "matchlib/template/block_maps.h"
#include "matchlib/template/card_extended.h"
#include "matchlib/template/container.h"
#include "matchlib/match/match_decision.h"
#include "matchlib/engine/multi_sample_enrol.h"
#include "matchlib/template/multi_view.h"
#include "matchlib/template/multi_view_select.h"
#include "matchlib/image/packed_image.h"

namespace zyl::matchlib {
namespace {

static_assert(sizeof(MultiSampleSlot) == 16, "slots are sorted as 16-byte records");

constexpr int kCompareLevel = 9;
constexpr std::uint16_t kMissingSide = 160;

MultiSampleEnrol* self(EnrolSession* s) { return reinterpret_cast<MultiSampleEnrol*>(s); }

void raise(const MultiSampleEnrol& m, int code, FingerInfo* finger) {
  if (m.hooks && m.hooks->event) m.hooks->event(m.context, code, finger);
}

// Rows and columns of the template's image-information element; 160 stands
// for a missing or zero value.
void template_geometry(const DataBlob* tmpl, std::uint16_t& rows, std::uint16_t& columns) {
  template_image_size(tmpl, rows, columns);
  if (rows == 0) rows = kMissingSide;
  if (columns == 0) columns = kMissingSide;
}

int compare_by_distance(const void* a, const void* b) {
  const auto* x = static_cast<const MultiSampleSlot*>(a);
  const auto* y = static_cast<const MultiSampleSlot*>(b);
  return y->distance - x->distance;  // largest first
}

// The promotion mode is the fourth word of the engine's configuration,
// read at each add: a change of the engine's configuration applies to the
// next sample.
bool promotion_mode(const MultiSampleEnrol& m) {
  const EngineConfig* config = zyl::matchlib::engine_get_config(m.engine);
  return config && config->view_selection != 0;
}

int add(MultiSampleEnrol& m, DataBlob* tmpl, int* progress) {
  const std::uint16_t capacity = m.settings.capacity;
  const bool promotion = promotion_mode(m);
  if (progress) *progress = 0;
  if (m.accepted >= capacity) {
    if (progress) *progress = 100;
    return ML_TOO_MANY;
  }
  MultiSampleSlot* slots = m.slots;
  // 1. A slot for the new template at n = accepted + pending.
  MultiSampleSlot displaced{};
  int n = m.accepted + m.pending;
  if (n + m.spare < capacity) {
    if (m.spare) slots[n + m.spare] = slots[n];
  } else if (m.spare) {
    // The first spare makes room; the others stay right after slot n.
    zyl::matchlib::blob_release(slots[n].tmpl);
    --m.spare;
  } else {
    if (m.pending)
      --m.pending;
    else
      --m.accepted;
    --n;
    displaced = slots[n];
  }
  slots[n] = MultiSampleSlot{zyl::matchlib::blob_retain(tmpl), 0, 0};

  // 2. Geometry.
  std::uint16_t rows = 0, columns = 0;
  template_geometry(tmpl, rows, columns);
  slots[n].distance = static_cast<std::int16_t>(rows + columns);
  raise(m, ENROL_EVENT_EXTRACTED, m.finger);

  enum class Fate { Spare, Pending } fate = Fate::Pending;
  int status = ML_OK;
  bool matched = false, compared = false;
  // 3. Grid coverage, 4. size.
  int coverage_status = ML_OK;
  const int coverage = grid_coverage(tmpl, coverage_status);
  if (coverage_status != ML_OK) {
    status = coverage_status;
    fate = Fate::Spare;
  } else if ((coverage >= 0 && coverage < m.settings.least_coverage) ||
             (coverage < 0 && m.settings.least_coverage > 100)) {
    raise(m, ENROL_EVENT_LOW_COVERAGE, nullptr);
    fate = Fate::Spare;
  } else if (zyl::matchlib::blob_size(tmpl) < m.settings.least_size) {
    raise(m, ENROL_EVENT_SMALL_TEMPLATE, nullptr);
    fate = Fate::Spare;
  } else {
    // 5. Comparison with the preceding slots, nearest first.
    for (int k = 0; k <= n; ++k) slots[k].mark = 0;
    RigidTransform* identity = zyl::matchlib::xform_create(0, 0, 0);
    if (!identity) {
      status = ML_NO_MEMORY;
      fate = Fate::Spare;
    }
    const int most = m.settings.most_compared ? m.settings.most_compared : n;
    for (int k = n - 1; identity && k >= 0 && k >= n - most; --k) {
      compared = true;
      std::int32_t decision = 0, gallery_index = 0, view_index = 0;
      RigidTransform* t = nullptr;
      status = zyl::matchlib::engine_match_decide(m.engine, &slots[k].tmpl, 1, tmpl, kCompareLevel,
                                                  &decision, &t, &gallery_index, &view_index);
      if (status != ML_OK) {
        zyl::matchlib::xform_release(t);
        fate = Fate::Spare;
        break;
      }
      if (decision) {
        matched = true;
        slots[k].mark = slots[n].mark = 1;
        if (t) {
          const int d = zyl::matchlib::xform_corner_distance(
              identity, t, static_cast<std::int16_t>(rows), static_cast<std::int16_t>(columns));
          if (d < slots[n].distance && slots[k].distance > m.settings.least_distance)
            slots[n].distance = static_cast<std::int16_t>(std::min(d, 32767));
          if (zyl::matchlib::xform_within(t, m.settings.shift_tolerance,
                                          m.settings.angle_tolerance)) {
            raise(m, ENROL_EVENT_REFUSED, nullptr);
            if (k == n - 1) raise(m, ENROL_EVENT_SAME_PLACE, nullptr);
            fate = Fate::Spare;
            zyl::matchlib::xform_release(t);
            break;
          }
        }
      }
      zyl::matchlib::xform_release(t);
    }
    zyl::matchlib::xform_release(identity);
  }

  std::vector<DataBlob*> before_blobs;
  for (int k = 0; k < m.accepted; ++k) before_blobs.push_back(slots[k].tmpl);

  if (fate == Fate::Spare) {
    ++m.spare;
  } else if (compared && !matched) {
    // 6. Matches nothing yet: waits as a pending sample.
    raise(m, ENROL_EVENT_UNMATCHED, nullptr);
    ++m.pending;
  } else {
    // 7.
    ++m.pending;
    if (slots[n].distance < m.settings.least_distance) raise(m, ENROL_EVENT_NEAR, nullptr);
    if (promotion) {
      bool any_marked = false;
      for (int k = 0; k < m.accepted; ++k) any_marked |= slots[k].mark != 0;
      if (m.accepted == 0) slots[0].mark = 1;
      if (m.accepted == 0 || any_marked) {
        for (int k = m.accepted; k < m.accepted + m.pending; ++k) {
          if (!slots[k].mark) continue;
          std::swap(slots[k], slots[m.accepted]);
          ++m.accepted;
          --m.pending;
        }
      }
    } else {
      m.accepted += m.pending;
      m.pending = 0;
    }
  }
  // 8. A displaced template returns as pending when a spare makes room.
  if (displaced.tmpl) {
    const int at = m.accepted + m.pending;
    if (m.spare && at < capacity) {
      // It takes the first spare's slot at the end of the pending region.
      zyl::matchlib::blob_release(slots[at].tmpl);
      slots[at] = displaced;
      --m.spare;
      ++m.pending;
    } else {
      zyl::matchlib::blob_release(displaced.tmpl);
    }
  }
  // 9.
  if (promotion) {
    const int most = m.settings.most_compared;
    if (most && m.pending > most) {
      m.spare += static_cast<std::uint16_t>(m.pending - most);
      m.pending = static_cast<std::uint16_t>(most);
    }
    for (int k = m.accepted + m.pending; k < m.accepted + m.pending + m.spare; ++k) {
      zyl::matchlib::blob_release(slots[k].tmpl);
      slots[k] = {};
    }
    m.spare = 0;
  } else {
    m.accepted += m.pending;
    m.pending = 0;
  }
  // 10.
  zyl::matchlib::shell_sort(slots, m.accepted, sizeof(MultiSampleSlot), compare_by_distance);
  for (int k = 0; k < m.accepted; ++k) {
    if (std::find(before_blobs.begin(), before_blobs.end(), slots[k].tmpl) == before_blobs.end())
      m.total_size += zyl::matchlib::blob_size(slots[k].tmpl);
  }
  if (m.hooks && m.hooks->progress) m.hooks->progress(m.context, m.accepted, capacity);
  if (progress && m.accepted >= capacity) *progress = 100;
  if (status != ML_OK) return status;
  if (m.settings.size_limit && m.total_size >= m.settings.size_limit) return ML_TOO_MANY;
  return ML_OK;
}

}  // namespace

bool template_image_size(const DataBlob* tmpl, std::uint16_t& rows, std::uint16_t& columns) {
  rows = columns = 0;
  const std::uint8_t* section = nullptr;
  std::uint32_t length = 0;
  TlvElement c3{};
  if (zyl::matchlib::tmpl_get_section(tmpl, 67, &section, &length) != ML_OK ||
      zyl::matchlib::card_parse_extended(section, length, nullptr, nullptr, nullptr, nullptr,
                                         &c3) != ML_OK ||
      !c3.value)
    return false;
  std::uint8_t flag = 0;
  return zyl::matchlib::card_parse_image_info(c3.value, c3.length, &rows, &columns, &flag) == ML_OK;
}

int grid_coverage(const DataBlob* tmpl, int& status) {
  status = ML_OK;
  const std::uint8_t* section = nullptr;
  std::uint32_t length = 0;
  if (zyl::matchlib::tmpl_get_section(tmpl, 66, &section, &length) != ML_OK) return -1;
  std::uint8_t* map = nullptr;
  std::uint32_t size = 0;
  int vo = 0, ho = 0, rows = 0, columns = 0;
  status = zyl::matchlib::gridmap_from_compact(section, length, &map, &size, &vo, &ho, &rows,
                                               &columns, 0, nullptr, nullptr);
  if (status != ML_OK) return -1;
  const std::uint64_t cells = static_cast<std::uint64_t>(std::max(rows, 0)) * std::max(columns, 0);
  std::uint64_t covered = 0;
  for (std::uint64_t c = 0; c < cells && 10 + 2 * c + 1 < size; ++c)
    if (map[10 + 2 * c + 1] != 0) ++covered;
  std::free(map);
  return cells ? static_cast<int>(covered * 100 / cells) : 0;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

EnrolSession* zyl::matchlib::multi_enrol_create(MatchEngine* engine, MatchContext* context,
                                                FingerInfo* finger, const EnrolHooks* hooks,
                                                uint32_t format,
                                                const MultiSampleSettings* settings) {
  if (!settings || settings->capacity == 0) return nullptr;
  auto* m = static_cast<MultiSampleEnrol*>(ml_calloc(1, sizeof(MultiSampleEnrol)));
  if (!m) return nullptr;
  m->slots = static_cast<MultiSampleSlot*>(ml_calloc(settings->capacity, sizeof(MultiSampleSlot)));
  if (!m->slots) {
    std::free(m);
    return nullptr;
  }
  m->head.add_sample = [](EnrolSession* s, GrayImage* image, DataBlob* t, void* progress) {
    return zyl::matchlib::multi_enrol_add(s, image, t, progress);
  };
  m->head.count = multi_enrol_count;
  m->head.finalise = ::multi_enrol_finalise;
  m->head.finalise_engine = multi_enrol_finalise_engine;
  m->head.destroy = multi_enrol_destroy;
  m->head.set_limits = multi_enrol_set_tolerance;
  m->engine = zyl::matchlib::engine_retain(engine);
  m->context = zyl::matchlib::ctx_retain(context);
  m->finger = zyl::matchlib::finger_info_retain(finger);
  m->hooks = hooks;
  m->format = format;
  m->settings = *settings;
  return &m->head;
}

extern "C" ZYL_API EnrolSession* multi_enrol_create_default(MatchEngine* engine, FingerInfo* finger,
                                                            const EnrolHooks* hooks,
                                                            uint8_t most_compared,
                                                            uint16_t keep_marks) {
  if (!engine || keep_marks >= 2) return nullptr;
  EngineConfig* config = &engine->config;
  MatchContext* ctx = zyl::matchlib::engine_get_context(engine);
  MultiSampleSettings s{};
  const uint8_t views = config->most_views ? config->most_views : 1;
  // The configuration's sample count bounds the capacity: a count of 0
  // gives no capacity, and no object.
  s.capacity = std::min(config->unnamed_u8_1, views);
  if (s.capacity == 0) return nullptr;
  s.most_compared = static_cast<uint8_t>(zyl::matchlib::param_get(ctx, 0x87d98ca7u, most_compared));
  s.serialise_flag = static_cast<uint32_t>(config->serialize_flag);
  s.add_flag = static_cast<uint32_t>(config->view_mode_keep);
  s.size_limit = static_cast<uint32_t>(config->size_limit);
  s.keep_marks = keep_marks;
  s.shift_tolerance = static_cast<uint16_t>(zyl::matchlib::param_get(ctx, 0xfe5e27d9u, 12));
  s.angle_tolerance = static_cast<uint8_t>(zyl::matchlib::param_get(ctx, 0xee9aaf74u, 16));
  s.maximum_views = views;
  s.least_coverage = zyl::matchlib::param_get(ctx, 0x0b578594u, config->unnamed_i32_1);
  s.least_distance =
      static_cast<int16_t>(zyl::matchlib::param_get(ctx, 0x48d59322u, config->unnamed_i32_2));
  s.least_size =
      static_cast<uint16_t>(zyl::matchlib::param_get(ctx, 0x7bc1c0b4u, config->unnamed_i32_3));
  EnrolSession* e = zyl::matchlib::multi_enrol_create(
      engine, ctx, finger, hooks, static_cast<uint32_t>(zyl::matchlib::engine_get_format(engine)),
      &s);
  // The promotion mode goes into the engine's configuration, where each
  // add reads it (and where the view selection reads the same word).
  if (e) config->view_selection = zyl::matchlib::param_get(ctx, 0x8c846b0au, config->view_selection);
  return e;
}

int zyl::matchlib::multi_enrol_add(EnrolSession* e, GrayImage* image, DataBlob* tmpl,
                                   void* progress) {
  if (!e) return ML_BAD_ARGUMENT;
  if (!tmpl || image) return ML_OUT_OF_LIMITS;
  return add(*self(e), tmpl, static_cast<int*>(progress));
}

extern "C" ZYL_API int multi_enrol_count(EnrolSession* e) { return e ? self(e)->accepted : 0; }

extern "C" ZYL_API int multi_enrol_set_tolerance(EnrolSession* e, uint16_t shift, uint8_t angle,
                                                 void*) {
  if (!e) return ML_BAD_ARGUMENT;
  self(e)->settings.shift_tolerance = shift;
  self(e)->settings.angle_tolerance = angle;
  return ML_OK;
}

static int multi_enrol_finalise_unguarded(EnrolSession* e, uint8_t maximum_views, DataBlob** out,
                                          void*) {
  if (!e) return ML_BAD_ARGUMENT;
  MultiSampleEnrol& m = *self(e);
  if (m.accepted < zyl::matchlib::param_get(m.context, 0x91d9186au, 1)) return ML_CORRUPT;
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  MultiViewTemplate* t = zyl::matchlib::mvt_create(maximum_views);
  if (!t) return ML_NO_MEMORY;
  zyl::matchlib::mvt_set_size_limit(t, m.settings.size_limit);
  if (!m.settings.keep_marks) zyl::matchlib::mvt_check_view_marks(t);
  std::vector<DataBlob*> blobs;
  for (int k = 0; k < m.accepted; ++k) blobs.push_back(m.slots[k].tmpl);
  int taken = 0;
  int status =
      zyl::matchlib::mvt_add_views(t, m.engine, blobs.data(), static_cast<int>(blobs.size()),
                                   m.settings.add_flag ? 2 : 0, &taken);
  // The selection may keep none of the samples (each one above the size
  // limit): no enrolment template, rather than an empty one.
  if (status == ML_OK && taken == 0) status = ML_TOO_MANY;
  if (status == ML_OK) {
    *out = zyl::matchlib::mvt_serialize(t, static_cast<int>(m.settings.serialise_flag));
    if (!*out) status = ML_NO_MEMORY;
  }
  zyl::matchlib::mvt_release(t);
  return status;
}

int zyl::matchlib::multi_enrol_finalise(EnrolSession* e, uint8_t maximum_views, DataBlob** out,
                                        void* a3) {
  return zyl::GuardedCall(
      ML_NO_MEMORY, [&] { return multi_enrol_finalise_unguarded(e, maximum_views, out, a3); });
}

extern "C" ZYL_API int multi_enrol_finalise_engine(MatchEngine* engine, EnrolSession* e,
                                                   DataBlob** out) {
  const EngineConfig* config = zyl::matchlib::engine_get_config(engine);
  return zyl::matchlib::multi_enrol_finalise(e, config ? config->most_views : 0, out, nullptr);
}

extern "C" ZYL_API const uint32_t* multi_enrol_zero_word(void) {
  static const uint32_t kZero = 0;
  return &kZero;
}

extern "C" ZYL_API void multi_enrol_destroy(EnrolSession* e) {
  if (!e) return;
  MultiSampleEnrol* m = self(e);
  for (int k = 0; k < m->settings.capacity; ++k) zyl::matchlib::blob_release(m->slots[k].tmpl);
  std::free(m->slots);
  zyl::matchlib::finger_info_release(m->finger);
  zyl::matchlib::ctx_release(m->context);
  zyl::matchlib::engine_release(m->engine);
  std::free(m);
}

extern "C" {

ZYL_API EnrolSession* multi_enrol_create(MatchEngine* engine, MatchContext* context,
                                         FingerInfo* finger, const EnrolHooks* hooks,
                                         uint32_t format, const MultiSampleSettings* settings) {
  return zyl::matchlib::multi_enrol_create(engine, context, finger, hooks, format, settings);
}
ZYL_API int multi_enrol_add(EnrolSession* e, GrayImage* image, DataBlob* tmpl, void* progress) {
  return zyl::matchlib::multi_enrol_add(e, image, tmpl, progress);
}
ZYL_API int multi_enrol_finalise(EnrolSession* e, uint8_t maximum_views, DataBlob** out, void* a3) {
  return zyl::matchlib::multi_enrol_finalise(e, maximum_views, out, a3);
}

}  // extern "C"
