// Matcher session: the object, its event log and its saved block.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "common/byte_io.h"
#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/core/match_engine.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_codec.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_kwzd.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/matchlib_xform.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_placed_enrol.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_session.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/byte_codec.h"
#include "matchlib/engine/engine_extract.h"
#include "matchlib/engine/enrol_dispatch.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/match/match_result.h"
#include "matchlib/engine/matcher_session.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_record.h"
#include "matchlib/filter/image_statistics.h"
#include "matchlib/filter/image_transforms.h"
#include "matchlib/match/keypoint_match_ops.h"
#include "matchlib/match/pair_matcher.h"
#include "matchlib/match/pairing_codec.h"
#include "matchlib/keypoint/block_record.h"
#include "matchlib/template/container.h"
#include "matchlib/template/impression_accumulator.h"
#include "matchlib/engine/impression_add.h"
#include "matchlib/template/kwzd_container.h"
#include "matchlib/match/match_decision.h"
#include "matchlib/template/multi_view.h"
#include "matchlib/template/multi_view_select.h"
#include "matchlib/engine/placed_enrol.h"

namespace zyl::matchlib {
namespace {

// Payload length of each event type.
constexpr int kPayloadLength[8] = {1, 4, 0, 1, 0, 0, 0, 0};

constexpr std::uint8_t kHead[4] = {'K', 'W', 'Z', 'R'};
constexpr std::uint8_t kTrailer[4] = {'R', 'Z', 'W', 'K'};

enum : std::uint16_t {
  kAccumulatorSection = 0x100,
  kStatisticsSection = 0x200,
  kLogSection = 0x300,
  kSettingsSection = 0x400,
  kAcceptedSection = 0x500,
  kDriftSection = 0x600,
};

void clear_images(MatcherSession& s) {
  for (SessionImageNode* n = s.first_image; n;) {
    SessionImageNode* next = n->next;
    zyl::matchlib::image_release(n->image);
    std::free(n);
    n = next;
  }
  s.first_image = s.last_image = nullptr;
  s.image_count = 0;
}

void destroy_session(MatcherSession* s) {
  zyl::matchlib::engine_release(s->engine);
  zyl::matchlib::match_result_release(s->pending);
  zyl::matchlib::accum_release(s->accumulator);
  if (s->user_release) s->user_release(s->user_data);
  zyl::matchlib::image_release(s->accepted_image);
  zyl::matchlib::blob_release(s->accepted_template);
  // The image list and the enrolment object die with the session too.
  clear_images(*s);
  zyl::matchlib::enrol_destroy(s->enrolment);
  std::free(s);
}

MatcherSession* new_session(MatchEngine* engine) {
  auto* s = static_cast<MatcherSession*>(ml_calloc(1, sizeof(MatcherSession)));
  if (!s) return nullptr;
  s->refcount = 1;
  s->version = SESSION_VERSION;
  s->engine = zyl::matchlib::engine_retain(engine);
  s->destroy = destroy_session;
  return s;
}

void publish_s0(const MatcherSession& s) {
  zyl::matchlib::param_set(zyl::matchlib::engine_get_context(s.engine),
                           static_cast<std::uint32_t>(SESSION_S0_PARAMETER), s.settings[0]);
}

// Index in the ring of the i-th newest event.
int ring_index(const MatcherSession& s, int i) {
  return static_cast<int>((static_cast<std::int64_t>(s.event_total) - 1 - i) % SESSION_LOG_SIZE);
}

void append_event(MatcherSession& s, int type, std::int32_t code, const std::uint8_t* payload,
                  int length) {
  SessionEvent& e = s.events[s.event_total % SESSION_LOG_SIZE];
  e = SessionEvent{};
  e.type = static_cast<std::uint8_t>(type);
  e.code = code;
  const int n = std::clamp(length, 0, kPayloadLength[type]);
  if (payload && n > 0) std::memcpy(e.payload, payload, static_cast<std::size_t>(n));
  // The total only counts up; past INT32_MAX events it stays on the last
  // ring cycle instead of turning negative.
  s.event_total = s.event_total == INT32_MAX ? INT32_MAX - SESSION_LOG_SIZE + 1 : s.event_total + 1;
}

template <class F>
void for_each_type1(const MatcherSession& s, F&& f) {
  const int n = zyl::matchlib::session_event_count(&s);
  for (int i = 0; i < n; ++i) {
    const SessionEvent& e = s.events[ring_index(s, i)];
    if (e.type == SESSION_EVENT_VERIFIED && e.code == 0 && !f(e)) return;
  }
}

// ---- impressions and enrolment ----

constexpr int kTriggerImages = 6;
// FAR level of the enrolment's comparisons.
constexpr int kEnrolLevel = 15;

SessionImageNode* find_node(const MatcherSession& s, const GrayImage* image) {
  for (SessionImageNode* n = s.first_image; n; n = n->next)
    if (n->image == image) return n;
  return nullptr;
}

SessionImageNode* append_node(MatcherSession& s, GrayImage* image) {
  auto* n = static_cast<SessionImageNode*>(ml_calloc(1, sizeof(SessionImageNode)));
  if (!n) return nullptr;
  n->image = zyl::matchlib::image_retain(image);
  n->previous = s.last_image;
  (s.last_image ? s.last_image->next : s.first_image) = n;
  s.last_image = n;
  ++s.image_count;
  return n;
}

int enrolled_count(const MatcherSession& s) {
  int count = 0;
  for (const SessionImageNode* n = s.first_image; n; n = n->next) count += n->enrolled != 0;
  return count;
}

void end_enrolment(MatcherSession& s) {
  zyl::matchlib::enrol_destroy(s.enrolment);
  s.enrolment = nullptr;
  clear_images(s);
  s.trigger_done = 0;
}

// An enrolment with the engine's default settings, over an empty list.
int ensure_enrolment(MatcherSession& s) {
  if (s.enrolment) return ML_OK;
  clear_images(s);
  s.trigger_done = 0;
  s.enrolment = zyl::matchlib::enrol_create_default(s.engine, nullptr, nullptr, nullptr);
  return s.enrolment ? ML_OK : ML_NO_MEMORY;
}

// Six listed impressions: they go to the accumulator as one series and a
// fresh enrolment takes the enrolled ones again.
int run_trigger(MatcherSession& s, MatchContext* ctx) {
  GrayImage* six[kTriggerImages];
  int k = 0;
  for (SessionImageNode* n = s.first_image; n && k < kTriggerImages; n = n->next) six[k++] = n->image;
  int status = zyl::matchlib::accum_add_images(s.accumulator, ctx, six, k);
  if (status != ML_OK) return status;
  zyl::matchlib::enrol_destroy(s.enrolment);
  s.enrolment = zyl::matchlib::enrol_create_default(s.engine, nullptr, nullptr, nullptr);
  if (!s.enrolment) return ML_NO_MEMORY;
  for (SessionImageNode* n = s.first_image; n && status == ML_OK; n = n->next)
    if (n->enrolled)
      status = zyl::matchlib::enrol_add_sample(s.enrolment, n->image, nullptr, nullptr);
  return status;
}

int accumulate(MatcherSession& s, MatchContext* ctx, GrayImage* const* images, int n) {
  if (!images || n <= 0) return ML_BAD_ARGUMENT;
  for (int i = 0; i < n; ++i)
    if (!images[i]) return ML_BAD_ARGUMENT;
  // Without a context there is nothing to accumulate with.
  if (!ctx) return ML_OK;
  if (!s.accumulator) {
    s.accumulator = zyl::matchlib::accum_create(images[0]);
    if (!s.accumulator) return ML_NO_MEMORY;
  }
  int status = ML_OK;
  if (s.statistics[SESSION_FINISHED_ENROLMENTS] == 0 && s.enrolment &&
      s.image_count == kTriggerImages && !s.trigger_done) {
    status = run_trigger(s, ctx);
    s.trigger_done = 1;
  }
  for (int i = 0; i < n && status == ML_OK; ++i)
    status = zyl::matchlib::accum_add_image(s.accumulator, ctx, images[i]);
  return status;
}

// Adds and logs: the answer is the first failing status (not 0 whatever
// the accumulator said), so a caller learns that an impression was not
// taken.
int add_logged(MatcherSession& s, MatchContext* ctx, GrayImage* const* images, int n) {
  const int status = accumulate(s, ctx, images, n);
  const std::uint8_t offered = static_cast<std::uint8_t>(std::clamp(n, 0, 255));
  append_event(s, SESSION_EVENT_ADDED, status, &offered, 1);
  return status;
}

// The template of the first enrolled impression against `tmpl`: the
// overlap of the impression's rectangle under their alignment when they match.
int first_overlap(MatcherSession& s, GrayImage* image, DataBlob* tmpl, std::uint8_t& out) {
  out = 0;
  const SessionImageNode* first = s.first_image;
  while (first && !first->enrolled) first = first->next;
  if (!first) return ML_OK;
  DataBlob* reference = nullptr;
  int status = zyl::matchlib::engine_extract_image(
      s.engine, first->image, zyl::matchlib::image_finger_info(first->image), &reference);
  std::int32_t decision = 0, gallery_index = 0, view_index = 0;
  RigidTransform* t = nullptr;
  if (status == ML_OK)
    status = zyl::matchlib::engine_match_decide(s.engine, &reference, 1, tmpl, kEnrolLevel,
                                                &decision, &t, &gallery_index, &view_index);
  if (status == ML_OK && decision && t) {
    const int dpi = zyl::matchlib::image_resolution(image);
    const int overlap = zyl::matchlib::xform_overlap_percent(
        t, zyl::matchlib::image_height(image), zyl::matchlib::image_width(image), dpi ? dpi : 500);
    out = static_cast<std::uint8_t>(std::clamp(overlap, 0, 100));
  }
  zyl::matchlib::xform_release(t);
  zyl::matchlib::blob_release(reference);
  return status;
}

// ---- committing ----

int commit(MatcherSession& s, DataBlob** out) {
  MatchResult* r = s.pending;
  if (out) *out = nullptr;
  const bool accepted = zyl::matchlib::match_result_is_match(r) != 0;
  int status = ML_OK;
  if (accepted && r->probe_image && r->probe_image != s.accepted_image) {
    DataBlob* tmpl = nullptr;
    status = zyl::matchlib::engine_extract_image(
        s.engine, r->probe_image, zyl::matchlib::image_finger_info(r->probe_image), &tmpl);
    if (status == ML_OK) {
      zyl::matchlib::image_release(s.accepted_image);
      zyl::matchlib::blob_release(s.accepted_template);
      s.accepted_image = zyl::matchlib::image_retain(r->probe_image);
      s.accepted_template = tmpl;
    } else {
      zyl::matchlib::blob_release(tmpl);
    }
  }
  // Only a match that carries the gallery template it matched and the
  // probe image can be adapted: the adaptation adds the probe as a view.
  if (status == ML_OK && out && accepted && r->further_blob && r->probe_image &&
      zyl::matchlib::blob_type(r->further_blob) == 80) {
    status = s.engine->adapt(s.engine, r->further_blob, r, out, nullptr, nullptr);
    if (status == ML_OK && *out) {
      ++s.statistics[SESSION_TEMPLATE_UPDATES];
      s.statistics[SESSION_ACCEPTED_SINCE_UPDATE] = 1;
      s.statistics[SESSION_REJECTED_SINCE_UPDATE] = 0;
    }
  }
  append_event(s, SESSION_EVENT_COMMITTED, status, nullptr, 0);
  if (status == ML_OK) ++s.statistics[SESSION_COMMITTED];
  zyl::matchlib::match_result_release(r);
  s.pending = nullptr;
  return status;
}

// ---- verification records ----

struct BlobDeleter {
  void operator()(DataBlob* b) const { zyl::matchlib::blob_release(b); }
};
using BlobPtr = std::unique_ptr<DataBlob, BlobDeleter>;

struct VerifyRecord {
  std::unique_ptr<MinutiaPairing, decltype(&zyl::matchlib::pairing_free)> pairing{
      nullptr, &zyl::matchlib::pairing_free};
  std::int32_t key = 0;
  std::uint16_t best = 0;
  std::vector<std::uint16_t> scores;
  std::uint8_t stage = 0;
  BlobPtr view_extensions, probe_extensions;
};

// The pairing, then the result record; every byte must belong to them.
int parse_record(const DataBlob* blob, VerifyRecord& out) {
  const std::uint8_t* bytes = zyl::matchlib::blob_data(blob);
  const std::uint32_t size = zyl::matchlib::blob_size(blob);
  MinutiaPairing* pairing = nullptr;
  const std::uint32_t used = bytes ? zyl::matchlib::pairing_read(bytes, size, &pairing) : 0;
  out.pairing.reset(pairing);
  if (used == 0) return ML_CORRUPT;
  // The stored settings reach the matcher's descriptor distances: a mode it
  // does not compute marks the record as damaged.
  if (!zyl::matchlib::pair_distance_mode_supported(pairing->settings.distance_mode))
    return ML_CORRUPT;
  ByteReader r(std::span<const std::uint8_t>(bytes + used, size - used));
  const std::uint8_t version = r.u8();
  if (r.ok() && version >= 2) return ML_WRONG_KIND;
  out.key = static_cast<std::int32_t>(r.u32());
  out.best = r.u16();
  const std::uint8_t m = r.u8();
  if (m > SESSION_RECORD_MAX_SCORES) return ML_CORRUPT;
  for (int i = 0; i < m; ++i) out.scores.push_back(r.u16());
  out.stage = r.u8();
  if (!r.ok()) return ML_CORRUPT;
  std::uint32_t at = used + static_cast<std::uint32_t>(r.pos());
  for (BlobPtr* extensions : {&out.view_extensions, &out.probe_extensions}) {
    DataBlob* b = nullptr;
    const std::uint32_t n = zyl::matchlib::blob_read_bounded(bytes + at, size - at, &b);
    extensions->reset(b);
    if (n == 0) return at < size && bytes[at] == 1 && size - at >= 6 ? ML_NO_MEMORY : ML_CORRUPT;
    at += n;
  }
  return at == size ? ML_OK : ML_CORRUPT;
}

// ---- saved block ----

std::uint32_t log_body_size(const MatcherSession& s) {
  std::uint32_t n = 4;
  const int count = zyl::matchlib::session_event_count(&s);
  const int oldest = count < SESSION_LOG_SIZE ? 0 : s.event_total % SESSION_LOG_SIZE;
  for (int i = 0; i < count; ++i)
    n += 1 + kPayloadLength[s.events[(oldest + i) % SESSION_LOG_SIZE].type & 7];
  return n;
}

struct Restore {
  MatcherSession* s;
};

int read_accumulator(void* target, const std::uint8_t* body, std::uint32_t length, void*,
                     const std::uint8_t*) {
  auto& s = *static_cast<Restore*>(target)->s;
  ImpressionAccumulator* a = nullptr;
  const int status = zyl::matchlib::accum_parse(body, length, &a);
  if (status != ML_OK) return status == ML_NO_MEMORY ? ML_NO_MEMORY : ML_WRONG_KIND;
  zyl::matchlib::accum_release(s.accumulator);
  s.accumulator = a;
  return ML_OK;
}

int read_statistics(void* target, const std::uint8_t* body, std::uint32_t length, void*,
                    const std::uint8_t*) {
  auto& s = *static_cast<Restore*>(target)->s;
  ByteReader r(std::span<const std::uint8_t>(body, length));
  if (r.u16() > 1) return ML_WRONG_KIND;
  std::int32_t t[SESSION_STATISTICS];
  for (auto& v : t) v = r.s32();
  if (!r.ok()) return ML_WRONG_KIND;
  std::memcpy(s.statistics, t, sizeof t);
  return ML_OK;
}

int read_log(void* target, const std::uint8_t* body, std::uint32_t length, void*,
             const std::uint8_t*) {
  auto& s = *static_cast<Restore*>(target)->s;
  ByteReader r(std::span<const std::uint8_t>(body, length));
  const std::uint16_t version = r.u16();
  const std::uint16_t count = r.u16();
  if (!r.ok() || version > 1) return ML_WRONG_KIND;
  // Check the whole section before taking any entry.
  ByteReader check = r;
  for (unsigned i = 0; i < count; ++i) check.skip(static_cast<std::size_t>(kPayloadLength[check.u8() >> 5]));
  if (!check.ok()) return ML_WRONG_KIND;
  for (unsigned i = 0; i < count && i < SESSION_LOG_SIZE; ++i) {
    const std::uint8_t head = r.u8();
    const int type = head >> 5;
    const auto payload = r.view(static_cast<std::size_t>(kPayloadLength[type]));
    append_event(s, type, head & 0x1f, payload.data(), static_cast<int>(payload.size()));
  }
  return ML_OK;
}

int read_settings(void* target, const std::uint8_t* body, std::uint32_t length, void*,
                  const std::uint8_t*) {
  auto& s = *static_cast<Restore*>(target)->s;
  ByteReader r(std::span<const std::uint8_t>(body, length));
  const std::uint16_t version = r.u16();
  if (!r.ok() || version > 3) return ML_WRONG_KIND;
  std::int32_t v[SESSION_SETTINGS] = {};
  v[0] = r.u8();
  if (version == 2) {
    v[1] = v[2] = v[3] = r.u8();
  } else if (version == 3) {
    for (int i = 1; i < SESSION_SETTINGS; ++i) v[i] = r.u8();
  }
  if (!r.ok()) return ML_WRONG_KIND;
  // Version 1 holds S0 alone; the others keep their values.
  s.settings[0] = v[0];
  if (version >= 2) std::copy(v + 1, v + SESSION_SETTINGS, s.settings + 1);
  publish_s0(s);
  return ML_OK;
}

int read_accepted(void* target, const std::uint8_t* body, std::uint32_t length, void*,
                  const std::uint8_t*) {
  auto& s = *static_cast<Restore*>(target)->s;
  ByteReader r(std::span<const std::uint8_t>(body, length));
  if (r.u16() > 1 || !r.ok()) return ML_WRONG_KIND;
  DataBlob* blob = nullptr;
  const std::uint32_t used = zyl::matchlib::blob_read_bounded(body + 2, length - 2, &blob);
  if (used == 0) {
    // A blob record that fits its section failed for want of memory.
    const bool fits =
        length >= 8 && body[2] == 1 && zyl::matchlib::bytes_read_be32(body + 4) <= length - 8;
    return fits ? ML_NO_MEMORY : ML_WRONG_KIND;
  }
  GrayImage* image = nullptr;
  const std::uint32_t image_used =
      zyl::matchlib::image_read_bounded(body + 2 + used, length - 2 - used, &image);
  if (image_used == 0) {
    zyl::matchlib::blob_release(blob);
    return ML_WRONG_KIND;
  }
  zyl::matchlib::blob_release(s.accepted_template);
  zyl::matchlib::image_release(s.accepted_image);
  s.accepted_template = blob;
  s.accepted_image = image;
  return ML_OK;
}

int read_drift(void* target, const std::uint8_t* body, std::uint32_t length, void*,
               const std::uint8_t*) {
  auto& s = *static_cast<Restore*>(target)->s;
  ByteReader r(std::span<const std::uint8_t>(body, length));
  const std::uint16_t version = r.u16();
  const std::uint8_t u0 = r.u8(), u1 = r.u8();
  if (!r.ok() || version > 1) return ML_WRONG_KIND;
  s.drift_updates = u0;
  s.skip_count = u1;
  return ML_OK;
}

constexpr BlockHandler kSections[] = {{kAccumulatorSection, read_accumulator},
                                      {kStatisticsSection, read_statistics},
                                      {kLogSection, read_log},
                                      {kSettingsSection, read_settings},
                                      {kAcceptedSection, read_accepted},
                                      {kDriftSection, read_drift},
                                      {0, nullptr}};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int session_create(const int32_t* settings, MatchEngine* engine,
                                      MatcherSession** out) {
  if (!engine || !out) return ML_BAD_ARGUMENT;
  MatcherSession* s = new_session(engine);
  if (!s) return ML_NO_MEMORY;
  if (settings) std::memcpy(s->settings, settings, sizeof s->settings);
  publish_s0(*s);
  *out = s;
  return ML_OK;
}

extern "C" ZYL_API int session_copy(const MatcherSession* session, MatcherSession** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (!session) return ML_OK;
  if (!session->engine) return ML_BAD_ARGUMENT;
  MatcherSession* c = new_session(session->engine);
  if (!c) return ML_NO_MEMORY;
  std::memcpy(c->settings, session->settings, sizeof c->settings);
  std::memcpy(c->statistics, session->statistics, sizeof c->statistics);
  std::memcpy(c->events, session->events, sizeof c->events);
  c->event_total = session->event_total;
  // A session without accumulator copies as one without.
  if (session->accumulator) {
    c->accumulator = zyl::matchlib::accum_copy(session->accumulator);
    if (!c->accumulator) {
      destroy_session(c);
      return ML_NO_MEMORY;
    }
  }
  publish_s0(*c);
  *out = c;
  return ML_OK;
}

extern "C" ZYL_API MatcherSession* session_retain(MatcherSession* s) {
  if (s) ++s->refcount;
  return s;
}

extern "C" ZYL_API void session_release(MatcherSession* s) {
  if (!s || --s->refcount != 0) return;
  if (s->destroy) s->destroy(s);
}

extern "C" ZYL_API void session_set_user_data(MatcherSession* s, void* data,
                                              void (*release)(void* data)) {
  if (!s) return;
  if (s->user_data && s->user_release) s->user_release(s->user_data);
  s->user_data = data;
  s->user_release = release;
}

extern "C" ZYL_API void* session_user_data(const MatcherSession* s) {
  return s ? s->user_data : nullptr;
}

extern "C" ZYL_API int session_reset_accumulator(MatcherSession* s) {
  if (!s) return ML_BAD_ARGUMENT;
  return s->accumulator ? zyl::matchlib::accum_reset(s->accumulator) : ML_OK;
}

// Kept in the session's set of entry points; they have no work to do.
extern "C" ZYL_API int session_reserved_first(MatcherSession*) { return ML_OK; }
extern "C" ZYL_API int session_reserved_second(MatcherSession*) { return ML_OK; }

extern "C" ZYL_API int session_reset_enrolment(MatcherSession* s) {
  if (s) end_enrolment(*s);
  return ML_OK;
}

extern "C" ZYL_API int session_add_images(MatcherSession* s, GrayImage* const* images, int n) {
  if (!s) return ML_BAD_ARGUMENT;
  return add_logged(*s, zyl::matchlib::engine_get_context(s->engine), images, n);
}

int zyl::matchlib::session_add_image(MatcherSession* s, MatchContext* context, GrayImage* image) {
  if (!s) return ML_BAD_ARGUMENT;
  GrayImage* one[1] = {image};
  return add_logged(*s, context ? context : zyl::matchlib::engine_get_context(s->engine), one, 1);
}

extern "C" ZYL_API int session_finalise_enrolment(MatcherSession* s, DataBlob** out) {
  if (out) *out = nullptr;
  if (!s || !out) return ML_BAD_ARGUMENT;
  int status = ensure_enrolment(*s);
  if (status == ML_OK) status = zyl::matchlib::enrol_finalise_engine(s->engine, s->enrolment, out);
  if (status == ML_OK) {
    ++s->statistics[SESSION_FINISHED_ENROLMENTS];
    s->statistics[SESSION_ACCEPTED_SINCE_ENROLMENT] = 0;
    s->statistics[SESSION_REJECTED_SINCE_ENROLMENT] = 0;
  }
  const std::uint8_t enrolled = static_cast<std::uint8_t>(std::min(enrolled_count(*s), 255));
  append_event(*s, SESSION_EVENT_FINALISED, status, &enrolled, 1);
  end_enrolment(*s);
  zyl::matchlib::match_result_release(s->pending);
  s->pending = nullptr;
  return status;
}

int zyl::matchlib::session_add_impression(MatcherSession* s, GrayImage* image,
                                          SessionImageStatistics* statistics,
                                          SessionImageMatch* match) {
  if (!s || !image) return ML_BAD_ARGUMENT;
  int status = ensure_enrolment(*s);
  if (status != ML_OK) return status;
  SessionImageNode* node = find_node(*s, image);
  if (!node) {
    status = zyl::matchlib::session_add_image(s, nullptr, image);
    if (status != ML_OK) return status;
    node = append_node(*s, image);
    if (!node) return ML_NO_MEMORY;
  }
  node->seen = 1;
  if (statistics) {
    *statistics = SessionImageStatistics{};
    const int quality = zyl::matchlib::image_quality(image);
    const int foreground = zyl::matchlib::image_foreground_percent(image);
    const int contrast = zyl::matchlib::image_block_contrast(image, nullptr, nullptr);
    if (quality < 0 || foreground < 0 || contrast < 0) return ML_CORRUPT;
    statistics->quality = static_cast<std::uint8_t>(quality);
    statistics->foreground_percent = static_cast<std::uint8_t>(foreground);
    statistics->block_contrast = static_cast<std::uint8_t>(std::min(contrast, 255));
    std::uint16_t rating = 0;
    int pass = 0;
    status =
        zyl::matchlib::engine_quality_decision(s->engine, image, s->settings[1], &rating, &pass);
    if (status != ML_OK) return status;
    statistics->engine_rating = rating;
  }
  if (match) {
    *match = SessionImageMatch{};
    DataBlob* tmpl = nullptr;
    status = zyl::matchlib::engine_extract_image(s->engine, image,
                                                 zyl::matchlib::image_finger_info(image), &tmpl);
    if (status == ML_OK)
      status = zyl::matchlib::enrol_best_match(s->enrolment, tmpl, &match->best_overlap,
                                               &match->best_score);
    if (status == ML_OK) status = first_overlap(*s, image, tmpl, match->first_overlap);
    zyl::matchlib::blob_release(tmpl);
  }
  return status;
}

int zyl::matchlib::session_enrol_images(MatcherSession* s, GrayImage* const* images, int n,
                                        int* enrolled, void* sample_data) {
  if (enrolled) *enrolled = 0;
  if (!s || !images) return ML_CORRUPT;
  if (n <= 0) return ML_BAD_ARGUMENT;
  int status = ensure_enrolment(*s);
  for (int i = 0; i < n && status == ML_OK; ++i) {
    GrayImage* image = images[i];
    SessionImageNode* node = find_node(*s, image);
    if (!node || !node->seen) {
      status = zyl::matchlib::session_add_image(s, nullptr, image);
      if (status == ML_OK && !node && !(node = append_node(*s, image))) status = ML_NO_MEMORY;
    }
    if (status == ML_OK)
      status = zyl::matchlib::enrol_add_sample(s->enrolment, image, nullptr, sample_data);
    if (status == ML_OK) node->enrolled = 1;
  }
  if (status == ML_OK) {
    DataBlob* tmpl = nullptr;
    GrayImage* last = images[n - 1];
    status = zyl::matchlib::engine_extract_image(s->engine, last,
                                                 zyl::matchlib::image_finger_info(last), &tmpl);
    if (status == ML_OK) {
      zyl::matchlib::image_release(s->accepted_image);
      zyl::matchlib::blob_release(s->accepted_template);
      s->accepted_image = zyl::matchlib::image_retain(last);
      s->accepted_template = tmpl;
    } else {
      zyl::matchlib::blob_release(tmpl);
    }
  }
  if (status != ML_OK) {
    end_enrolment(*s);
    return status;
  }
  if (enrolled) *enrolled = enrolled_count(*s);
  return ML_OK;
}

extern "C" ZYL_API int session_commit_result(MatcherSession* s, DataBlob** out) {
  if (out) *out = nullptr;
  if (!s) return ML_BAD_ARGUMENT;
  if (!s->pending) return ML_WRONG_KIND;
  return commit(*s, out);
}

extern "C" ZYL_API int session_commit_with_decision(MatcherSession* s,
                                                    const SessionDecision* decision,
                                                    DataBlob** out) {
  if (out) *out = nullptr;
  if (!s || !decision) return ML_BAD_ARGUMENT;
  if (!s->pending) return ML_WRONG_KIND;
  const std::int32_t own = s->pending->decision;
  const bool taken = decision->present == 1 && decision->level != -1;
  if (taken) {
    s->pending->decision = decision->decision;
    s->pending->reached_level = decision->level;
  }
  const int status = commit(*s, taken ? out : nullptr);
  if (status == ML_OK && taken && own != decision->decision) return ML_NOT_SET;
  return status;
}

static int session_update_from_record_unguarded(MatchEngine* engine, DataBlob* multi_view,
                                                DataBlob* probe, DataBlob* record, int update,
                                                SessionDecision* decision, DataBlob** out) {
  if (out) *out = nullptr;
  if (!engine || !multi_view || !probe || !record || !decision || !out) return ML_BAD_ARGUMENT;
  VerifyRecord rec;
  int status = parse_record(record, rec);
  if (status != ML_OK) return status;
  MultiViewTemplate* parsed = nullptr;
  if (zyl::matchlib::mvt_from_blob(multi_view, &parsed) != ML_OK) return ML_NO_MEMORY;
  std::unique_ptr<MultiViewTemplate, decltype(&zyl::matchlib::mvt_release)> t(
      parsed, &zyl::matchlib::mvt_release);
  BlobPtr view(zyl::matchlib::kwzd_find(zyl::matchlib::mvt_store(t.get()), rec.key));
  if (!view) return ML_NOT_FOUND;
  const StageObject* stage = zyl::matchlib::engine_get_stage(engine, rec.stage);
  const StageMatchOps* ops = stage ? zyl::matchlib::stage_get_match_ops(stage) : nullptr;
  const ScoreProfile* profile = ops ? zyl::matchlib::score_profile_find(
                                          zyl::matchlib::engine_get_score_profiles(engine), ops, 0)
                                    : nullptr;
  if (!profile || !ops->fuse) return ML_BAD_ARGUMENT;

  MatchContext* ctx = zyl::matchlib::engine_get_context(engine);
  auto extension = [](const BlobPtr& b) { return b ? zyl::matchlib::blob_data(b.get()) : nullptr; };
  auto extension_size = [](const BlobPtr& b) { return b ? zyl::matchlib::blob_size(b.get()) : 0u; };
  std::uint16_t* fresh = nullptr;
  std::uint16_t n = 0;
  status = zyl::matchlib::match_keypoints_with_pairing(
      ctx, view.get(), extension(rec.view_extensions), extension_size(rec.view_extensions), probe,
      extension(rec.probe_extensions), extension_size(rec.probe_extensions), rec.pairing.get(),
      &fresh, &n, nullptr);
  if (status != ML_OK) return status;
  // The vector keeps the record's length: the new sub-scores first (no more
  // than fit), then the record's own.
  const std::size_t m = rec.scores.size();
  std::vector<std::uint16_t> vector = rec.scores;
  const std::size_t taken = std::min<std::size_t>(n, m);
  if (taken) std::copy(fresh, fresh + taken, vector.begin());
  const bool same = n <= m && std::equal(fresh, fresh + n, rec.scores.begin());
  std::free(fresh);
  std::uint16_t fused = 0;
  status = ops->fuse(ctx, probe, view.get(), vector.data(), static_cast<std::uint16_t>(m), profile,
                     &fused);
  if (status != ML_OK) return status;
  const int views = zyl::matchlib::kwzd_record_count(zyl::matchlib::mvt_store(t.get()));
  const int far = zyl::matchlib::far_score_from_thresholds(fused, views, profile->thresholds);
  if (same && fused == rec.best && far > zyl::matchlib::far_level_row(9).score)
    decision->decision = 1;
  if (!update || decision->decision != 1) return ML_OK;
  std::int32_t removed = -1, added = -1;
  status = zyl::matchlib::mvt_pick_view_to_replace(t.get(), engine, probe, &removed, &added);
  if (status != ML_OK) return status;
  const EngineConfig* config = zyl::matchlib::engine_get_config(engine);
  *out = zyl::matchlib::mvt_serialize(t.get(), config ? config->serialize_flag : 0);
  return *out ? ML_OK : ML_NO_MEMORY;
}

extern "C" ZYL_API int session_update_from_record(MatchEngine* engine, DataBlob* multi_view,
                                                  DataBlob* probe, DataBlob* record, int update,
                                                  SessionDecision* decision, DataBlob** out) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return session_update_from_record_unguarded(engine, multi_view, probe, record, update, decision,
                                                out);
  });
}

static int session_save_unguarded(const MatcherSession* s, uint8_t** out, uint32_t* out_size) {
  if (!s || !out || !out_size) return ML_BAD_ARGUMENT;
  const std::uint32_t accum_size =
      s->accumulator ? zyl::matchlib::accum_write(nullptr, s->accumulator) : 0;
  const std::uint32_t log_size = log_body_size(*s);
  const std::uint32_t accepted_size = 2 + zyl::matchlib::blob_write(nullptr, s->accepted_template) +
                                      zyl::matchlib::image_write(nullptr, s->accepted_image);
  const std::uint64_t total = 6 + (accum_size ? 6 + std::uint64_t{accum_size} : 0) + 52 +
                              (6 + log_size) + 12 + (6 + std::uint64_t{accepted_size}) + 10 + 4;
  if (total > UINT32_MAX) return ML_BAD_ARGUMENT;
  auto* block = static_cast<std::uint8_t*>(ml_malloc(total));
  if (!block) return ML_NO_MEMORY;
  zyl::ByteWriter w(std::span<std::uint8_t>(block, total));
  w.bytes(kHead, 4);
  w.u16(static_cast<std::uint32_t>(s->version));
  if (accum_size) {
    w.u16(kAccumulatorSection);
    w.u32(6 + accum_size);
    if (std::uint8_t* p = w.reserve(accum_size)) zyl::matchlib::accum_write(p, s->accumulator);
  }
  w.u16(kStatisticsSection);
  w.u32(52);
  w.u16(1);
  for (std::int32_t t : s->statistics) w.u32(static_cast<std::uint32_t>(t));
  w.u16(kLogSection);
  w.u32(6 + log_size);
  w.u16(1);
  const int count = zyl::matchlib::session_event_count(s);
  w.u16(static_cast<std::uint32_t>(count));
  const int oldest = count < SESSION_LOG_SIZE ? 0 : s->event_total % SESSION_LOG_SIZE;
  for (int i = 0; i < count; ++i) {
    const SessionEvent& e = s->events[(oldest + i) % SESSION_LOG_SIZE];
    const int type = e.type & 7;
    w.u8(static_cast<std::uint32_t>(type << 5 | (e.code & 0x1f)));
    w.bytes(e.payload, static_cast<std::size_t>(kPayloadLength[type]));
  }
  w.u16(kSettingsSection);
  w.u32(12);
  w.u16(3);
  for (std::int32_t v : s->settings) w.u8(static_cast<std::uint32_t>(v) & 0xff);
  w.u16(kAcceptedSection);
  w.u32(6 + accepted_size);
  w.u16(1);
  if (std::uint8_t* p = w.reserve(zyl::matchlib::blob_write(nullptr, s->accepted_template)))
    zyl::matchlib::blob_write(p, s->accepted_template);
  if (std::uint8_t* p = w.reserve(zyl::matchlib::image_write(nullptr, s->accepted_image)))
    zyl::matchlib::image_write(p, s->accepted_image);
  w.u16(kDriftSection);
  w.u32(10);
  w.u16(1);
  w.u8(s->drift_updates);
  w.u8(s->skip_count);
  w.bytes(kTrailer, 4);
  if (!w.ok() || w.pos() != total) {
    std::free(block);
    return ML_CORRUPT;
  }
  *out = block;
  *out_size = static_cast<std::uint32_t>(total);
  return ML_OK;
}

extern "C" ZYL_API int session_save(const MatcherSession* s, uint8_t** out, uint32_t* out_size) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return session_save_unguarded(s, out, out_size); });
}

extern "C" ZYL_API int session_restore(const uint8_t* block, uint32_t size, MatchEngine* engine,
                                       MatcherSession** out) {
  if (!block || size == 0 || !engine || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (size < 10) return ML_TOO_SHORT;
  if (std::memcmp(block, kHead, 4) != 0 || std::memcmp(block + size - 4, kTrailer, 4) != 0)
    return ML_WRONG_KIND;
  MatcherSession* s = new_session(engine);
  if (!s) return ML_NO_MEMORY;
  s->version = zyl::matchlib::bytes_read_be16(block + 4);
  publish_s0(*s);
  Restore r{s};
  int status = zyl::matchlib::blocks_dispatch6(&r, kSections, block + 6, size - 10, nullptr);
  if (status != ML_OK && status != ML_NO_MEMORY) status = ML_WRONG_KIND;
  if (status != ML_OK) {
    destroy_session(s);
    return status;
  }
  *out = s;
  return ML_OK;
}

int zyl::matchlib::session_event_count(const MatcherSession* s) {
  return s ? std::min(s->event_total, static_cast<int32_t>(SESSION_LOG_SIZE)) : 0;
}

const SessionEvent* zyl::matchlib::session_event_at(const MatcherSession* s, int i) {
  if (!s || i < 0 || i >= zyl::matchlib::session_event_count(s)) return nullptr;
  return &s->events[ring_index(*s, i)];
}

int zyl::matchlib::session_log_event(MatcherSession* s, int type, int32_t code,
                                     const uint8_t* payload, int length) {
  if (!s || type < 0 || type > 7) return ML_BAD_ARGUMENT;
  append_event(*s, type, code, payload, length);
  return ML_OK;
}

extern "C" ZYL_API int session_count_recent_type1(const MatcherSession* s, int threshold,
                                                  int limit) {
  int count = 0;
  if (!s || limit <= 0) return 0;
  for_each_type1(*s, [&](const SessionEvent& e) {
    if (e.payload[3] >= threshold) ++count;
    return count < limit;
  });
  return count;
}

extern "C" ZYL_API int session_mean_recent_type1(const MatcherSession* s, int limit) {
  int count = 0, sum = 0;
  if (s && limit > 0) {
    for_each_type1(*s, [&](const SessionEvent& e) {
      sum += e.payload[3];
      return ++count < limit;
    });
  }
  return count ? (sum + count / 2) / count : 28;
}

extern "C" ZYL_API int session_collect_type1(const MatcherSession* s, uint8_t* buffer, int* count) {
  if (!s || !buffer || !count) return ML_BAD_ARGUMENT;
  const int capacity = *count;
  int n = 0;
  if (capacity > 0) {
    for_each_type1(*s, [&](const SessionEvent& e) {
      std::memcpy(buffer + 4 * n, e.payload, 4);
      return ++n < capacity;
    });
  }
  *count = n;
  return ML_OK;
}

extern "C" ZYL_API int session_tiling(const MatcherSession* s, GrayImage* image, GrayImage** tiles,
                                      int* count) {
  if (!s || !image || !tiles || !count) return ML_BAD_ARGUMENT;
  *count = 0;
  const EngineConfig* config = zyl::matchlib::engine_get_config(s->engine);
  if (!config) return ML_BAD_ARGUMENT;
  const int n = zyl::matchlib::tiling_tile_count(&config->tiling);
  if (n > SESSION_MAX_TILES) return ML_WRONG_KIND;
  const int status = zyl::matchlib::image_split_tiles(image, &config->tiling, tiles);
  if (status == ML_OK) *count = n;
  return status;
}

int zyl::matchlib::template_reduce_keypoints(const DataBlob* tmpl, DataBlob** out_extensions,
                                             DataBlob** out_reduced) {
  if (out_extensions) *out_extensions = nullptr;
  if (out_reduced) *out_reduced = nullptr;
  const std::uint8_t* info = nullptr;
  const std::uint8_t* keypoints = nullptr;
  std::uint32_t info_length = 0, keypoint_length = 0;
  int status = zyl::matchlib::tmpl_get_section(tmpl, 86, &info, &info_length);
  if (status == ML_OK)
    status = zyl::matchlib::tmpl_get_section(tmpl, 79, &keypoints, &keypoint_length);
  if (status != ML_OK) return status;
  BlockRecord* record = nullptr;
  status = zyl::matchlib::blockrec_parse(keypoints, keypoint_length, 0, 0, &record);
  if (status != ML_OK) return status;
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  DataBlob* extensions = nullptr;
  DataBlob* reduced = nullptr;
  if (out_extensions) {
    status = zyl::matchlib::blockrec_write_extensions(record, &bytes, &size);
    if (status == ML_OK) {
      extensions = zyl::matchlib::blob_create(0, bytes, size);
      if (!extensions) status = ML_NO_MEMORY;
    }
    std::free(bytes);
    bytes = nullptr;
  }
  if (status == ML_OK && out_reduced) {
    // The sample information unchanged and the keypoints without their
    // extension data, in a new container.
    status = zyl::matchlib::blockrec_write_copy(record, &bytes, &size);
    if (status == ML_OK) {
      DataBlob* with_info = zyl::matchlib::container_put_entry(nullptr, 86, info, info_length);
      reduced =
          with_info ? zyl::matchlib::container_put_entry(with_info, 79, bytes, size) : nullptr;
      if (reduced != with_info) zyl::matchlib::blob_release(with_info);
      if (!reduced) status = ML_NO_MEMORY;
    }
    std::free(bytes);
  }
  zyl::matchlib::blockrec_free(record);
  if (status != ML_OK) {
    zyl::matchlib::blob_release(extensions);
    zyl::matchlib::blob_release(reduced);
    return status;
  }
  if (out_extensions) *out_extensions = extensions;
  if (out_reduced) *out_reduced = reduced;
  return ML_OK;
}

int zyl::matchlib::session_strip_views(DataBlob* multi_view, DataBlob** out) {
  if (!multi_view || !out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  MultiViewTemplate* t = nullptr;
  if (zyl::matchlib::mvt_from_blob(multi_view, &t) != ML_OK) return ML_NO_MEMORY;
  KwzdContainer* store = zyl::matchlib::mvt_store(t);
  int status = ML_OK;
  for (int i = 0; status == ML_OK && i < zyl::matchlib::kwzd_record_count(store); ++i) {
    std::int32_t key = 0;
    DataBlob* view = zyl::matchlib::kwzd_get_at(store, i, &key);
    if (!view) {
      status = ML_CORRUPT;
      break;
    }
    DataBlob* reduced = nullptr;
    status = zyl::matchlib::template_reduce_keypoints(view, nullptr, &reduced);
    if (status == ML_OK) status = zyl::matchlib::kwzd_replace(store, key, reduced);
    zyl::matchlib::blob_release(reduced);
    zyl::matchlib::blob_release(view);
  }
  if (status == ML_OK) {
    *out = zyl::matchlib::mvt_serialize(t, 0);
    if (!*out) status = ML_NO_MEMORY;
  }
  zyl::matchlib::mvt_release(t);
  return status;
}

extern "C" {

ZYL_API int session_add_image(MatcherSession* s, MatchContext* context, GrayImage* image) {
  return zyl::matchlib::session_add_image(s, context, image);
}
ZYL_API int session_add_impression(MatcherSession* s, GrayImage* image,
                                   SessionImageStatistics* statistics, SessionImageMatch* match) {
  return zyl::matchlib::session_add_impression(s, image, statistics, match);
}
ZYL_API int session_enrol_images(MatcherSession* s, GrayImage* const* images, int n, int* enrolled,
                                 void* sample_data) {
  return zyl::matchlib::session_enrol_images(s, images, n, enrolled, sample_data);
}
ZYL_API int session_event_count(const MatcherSession* s) {
  return zyl::matchlib::session_event_count(s);
}
ZYL_API const SessionEvent* session_event_at(const MatcherSession* s, int i) {
  return zyl::matchlib::session_event_at(s, i);
}
ZYL_API int session_log_event(MatcherSession* s, int type, int32_t code, const uint8_t* payload,
                              int length) {
  return zyl::matchlib::session_log_event(s, type, code, payload, length);
}
ZYL_API int template_reduce_keypoints(const DataBlob* tmpl, DataBlob** out_extensions,
                                      DataBlob** out_reduced) {
  return zyl::matchlib::template_reduce_keypoints(tmpl, out_extensions, out_reduced);
}
ZYL_API int session_strip_views(DataBlob* multi_view, DataBlob** out) {
  return zyl::matchlib::session_strip_views(multi_view, out);
}

}  // extern "C"
