// Matcher session: verifying a probe image against enrolled multi-view
// templates, with the session's thresholds, pass-over and drift rules, the
// learned confirmation, its counters and event, and the replay record of a
// verification.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "common/guarded_call.h"
#include "common/byte_io.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_learned_match.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_session.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/matchlib_verify.h"
#include "matchlib/image/blob.h"
#include "matchlib/engine/engine_extract.h"
#include "matchlib/engine/engine_match.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/match_engine.h"
#include "matchlib/match/match_result.h"
#include "matchlib/engine/matcher_session.h"
#include "matchlib/core/param_store.h"
#include "matchlib/engine/session_verify.h"
#include "matchlib/core/stage_chain.h"
#include "matchlib/match/learned_match.h"
#include "matchlib/filter/quality_network.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/match/keypoint_match_ops.h"
#include "matchlib/match/pair_matcher.h"
#include "matchlib/match/pairing_codec.h"

namespace zyl::matchlib {
namespace {

constexpr int kMultiViewFormat = 80;
constexpr int kRelaxLevel = 8;
constexpr int kRelaxEvents = 4;
constexpr int kRelaxMostAttempts = 200;
constexpr int kDriftTolerance = 16;
constexpr int kDriftRun = 4;
constexpr std::uint8_t kPassOver = 3;

struct ResultDeleter {
  void operator()(MatchResult* r) const { zyl::matchlib::match_result_release(r); }
};
using ResultPtr = std::unique_ptr<MatchResult, ResultDeleter>;
struct BlobDeleter {
  void operator()(DataBlob* b) const { zyl::matchlib::blob_release(b); }
};
using BlobPtr = std::unique_ptr<DataBlob, BlobDeleter>;
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

std::int32_t& stat(MatcherSession& s, int i) { return s.statistics[i]; }

// Counters never go below 0: a take-back without a counted attempt (a
// restored or fresh session) must not wrap them.
void take_back(std::int32_t& counter) {
  if (counter > 0) --counter;
}

// The stricter of two FAR levels: the one whose score threshold is higher.
int stricter_level(int a, int b) {
  return zyl::matchlib::far_level_to_score(b) > zyl::matchlib::far_level_to_score(a) ? b : a;
}

// Four successful verifications in a row, newest first, that reached level 8.
bool recent_attempts_high(const MatcherSession& s) {
  int qualifying = 0;
  const int n = zyl::matchlib::session_event_count(&s);
  for (int i = 0; i < n && qualifying < kRelaxEvents; ++i) {
    const SessionEvent* e = zyl::matchlib::session_event_at(&s, i);
    if (e->type != SESSION_EVENT_VERIFIED || e->code != 0) continue;
    if (e->payload[3] < kRelaxLevel) return false;
    ++qualifying;
  }
  return qualifying == kRelaxEvents;
}

// The probe's template with every stage's section: a verification that
// decided early extracted only the stages it walked.
int complete_probe(MatchEngine* engine, MatchResult* r) {
  if (!r->probe_image) return r->probe_blob ? ML_OK : ML_CORRUPT;
  return zyl::matchlib::engine_extract(engine, r->probe_image, nullptr, &r->probe_blob);
}

// The stored accepted template against the new match: a run of
// comparisons whose value stays close to the step table makes the next
// attempts pass over.
int check_drift(MatcherSession& s, MatchResult* r) {
  if (s.drift_updates >= kDriftRun || !s.accepted_template || !r->probe_blob) return ML_OK;
  MatchResult* raw = nullptr;
  const int st = zyl::matchlib::engine_match_result(s.engine, &s.accepted_template, 1,
                                                    r->probe_blob, SESSION_DRIFT_LEVEL, &raw);
  const ResultPtr drift(raw);
  if (st != ML_OK) return st;
  const std::int64_t difference = static_cast<std::int64_t>(drift->values[1]) -
                                  zyl::matchlib::score_step_value(s.drift_updates);
  if (difference > kDriftTolerance || difference < -kDriftTolerance) {
    s.drift_updates = 0;
  } else if (++s.drift_updates >= kDriftRun) {
    s.drift_updates = 0;
    s.skip_count = kPassOver;
  }
  return ML_OK;
}

struct Attempt {
  int first = 0;     // the decision level
  int stricter = 0;  // the stricter of the two adjusted levels
  bool retry = false;
  bool matched = false;  // the engine compared the probe
};

int decide(MatcherSession& s, DataBlob* const* gallery, int n, GrayImage* probe,
           const std::uint8_t* data, const Attempt& a, MatchResult* r, bool& matched) {
  MatchEngine* engine = s.engine;
  matched = false;
  if (s.skip_count != 0) {
    r->decision = 0;
    r->scratch_value = SESSION_RESULT_SKIPPED;
    if (!a.retry) --s.skip_count;
    return ML_OK;
  }
  std::uint16_t rating = 0;
  int pass = 0;
  int st = zyl::matchlib::engine_quality_decision(engine, probe, s.settings[2], &rating, &pass);
  if (st != ML_OK) return st;
  if (!pass) return ML_OK;
  st = zyl::matchlib::engine_match_image(engine, gallery, static_cast<std::uint8_t>(n), nullptr,
                                         probe, a.first, r);
  if (st != ML_OK) return st;
  matched = true;
  r->requested_level = a.first;
  r->second_level = a.stricter;
  r->reached_level = zyl::matchlib::match_result_reached_level(r);
  if (!r->decision &&
      zyl::matchlib::param_get(zyl::matchlib::engine_get_context(engine),
                               static_cast<std::uint32_t>(SESSION_RELAX_PARAMETER), 0) &&
      static_cast<std::int64_t>(stat(s, SESSION_ACCEPTED)) + stat(s, SESSION_REJECTED) <=
          kRelaxMostAttempts &&
      recent_attempts_high(s) && zyl::matchlib::match_result_passes_level(r, kRelaxLevel)) {
    r->decision = 1;
    r->reached_level = a.first;
  }
  const bool confirm = zyl::matchlib::engine_get_quality_model(engine) &&
                       (r->decision || a.first == ENGINE_LEVEL_BEYOND);
  if (r->decision && s.drift_updates < kDriftRun && s.accepted_template) {
    st = complete_probe(engine, r);
    if (st == ML_OK) st = check_drift(s, r);
    if (st != ML_OK) return st;
  }
  if (!confirm) return ML_OK;
  const int model_level = data[2];
  if (model_level > 9) return ML_BAD_ARGUMENT;
  // Without an accepted template there is nothing to confirm against: the
  // engine's decision stands.
  if (!s.accepted_template) return ML_OK;
  st = complete_probe(engine, r);
  if (st == ML_OK)
    st = zyl::matchlib::learned_match_score(engine, r->probe_blob, s.accepted_template, r);
  if (st != ML_OK) return st;
  const int threshold = zyl::matchlib::quality_model_level_threshold(
      zyl::matchlib::engine_get_quality_model(engine), model_level);
  r->decision = r->learned_score >= threshold ? 1 : 0;
  return ML_OK;
}

void count_attempt(MatcherSession& s, bool retry, bool accepted) {
  if (retry) {
    if (stat(s, SESSION_CONSECUTIVE_REJECTS) != 0) {
      for (int i : {SESSION_REJECTED, SESSION_REJECTED_SINCE_ENROLMENT, SESSION_REJECTED_SINCE_UPDATE,
                    SESSION_CONSECUTIVE_REJECTS})
        take_back(stat(s, i));
    } else {
      for (int i : {SESSION_ACCEPTED, SESSION_ACCEPTED_SINCE_ENROLMENT, SESSION_CONSECUTIVE_ACCEPTS,
                    SESSION_ACCEPTED_SINCE_UPDATE})
        take_back(stat(s, i));
    }
  }
  if (accepted) {
    for (int i : {SESSION_ACCEPTED, SESSION_ACCEPTED_SINCE_ENROLMENT, SESSION_ACCEPTED_SINCE_UPDATE,
                  SESSION_CONSECUTIVE_ACCEPTS})
      ++stat(s, i);
    stat(s, SESSION_CONSECUTIVE_REJECTS) = 0;
  } else {
    for (int i : {SESSION_REJECTED, SESSION_REJECTED_SINCE_ENROLMENT, SESSION_REJECTED_SINCE_UPDATE,
                  SESSION_CONSECUTIVE_REJECTS})
      ++stat(s, i);
    stat(s, SESSION_CONSECUTIVE_ACCEPTS) = 0;
  }
}

int verify(MatcherSession& s, DataBlob* const* gallery, int n, GrayImage* probe, int level,
           const std::uint8_t* decision, MatchResult** out) {
  if (s.pending) return ML_WRONG_KIND;
  for (int i = 0; i < n; ++i)
    if (!gallery[i] || zyl::matchlib::blob_type(gallery[i]) != kMultiViewFormat)
      return ML_BAD_ARGUMENT;
  std::uint8_t data[SESSION_DECISION_BYTES] = {};
  if (decision) std::memcpy(data, decision, sizeof data);

  Attempt a;
  a.retry = zyl::matchlib::image_flag_word(probe) != 0;
  const std::int64_t attempts = static_cast<std::int64_t>(stat(s, SESSION_ACCEPTED_SINCE_ENROLMENT)) +
                                stat(s, SESSION_REJECTED_SINCE_ENROLMENT) - (a.retry ? 1 : 0);
  const int count = static_cast<int>(std::clamp<std::int64_t>(attempts, 0, INT32_MAX));
  a.first = zyl::matchlib::engine_adjust_far_level(s.engine, count, level, 1);
  a.stricter =
      stricter_level(a.first, zyl::matchlib::engine_adjust_far_level(s.engine, count, level, 2));

  ResultPtr r;
  int st = zyl::matchlib::session_add_image(&s, nullptr, probe);
  if (st == ML_OK) {
    r.reset(zyl::matchlib::match_result_create(n));
    if (!r) st = ML_NO_MEMORY;
  }
  bool matched = false;
  if (st == ML_OK) {
    r->requested_level = a.first;
    r->second_level = a.stricter;
    st = decide(s, gallery, n, probe, data, a, r.get(), matched);
  }
  MatchResult* copy = nullptr;
  if (st == ML_OK) {
    std::memcpy(r->scratch, data, sizeof data);
    copy = zyl::matchlib::match_result_copy(r.get());
    if (!copy) st = ML_NO_MEMORY;
  }
  const std::uint8_t reached = st == ML_OK ? static_cast<std::uint8_t>(r->reached_level) : 0;
  const std::uint8_t payload[4] = {data[0], static_cast<std::uint8_t>(a.first),
                                   static_cast<std::uint8_t>(a.stricter), reached};
  zyl::matchlib::session_log_event(&s, SESSION_EVENT_VERIFIED, st, payload, 4);
  if (st != ML_OK) return st;
  count_attempt(s, a.retry, r->decision == 1);
  s.pending = r.release();
  *out = copy;
  return ML_OK;
}

// ---- the replay record ----

struct Reduced {
  BlobPtr extensions, reduced;
};

int reduce(const DataBlob* tmpl, Reduced& out) {
  DataBlob* e = nullptr;
  DataBlob* t = nullptr;
  const int st = zyl::matchlib::template_reduce_keypoints(tmpl, &e, &t);
  out.extensions.reset(e);
  out.reduced.reset(t);
  return st;
}

const std::uint8_t* data_of(const BlobPtr& b) {
  return b ? zyl::matchlib::blob_data(b.get()) : nullptr;
}
std::uint32_t size_of(const BlobPtr& b) { return b ? zyl::matchlib::blob_size(b.get()) : 0; }

// The pairing of the matched view with the probe, then the result record
// as session_update_from_record reads it. The sub-scores and their fusion
// are those a replay on the reduced templates with the stored extension
// blocks gives, so that a faithful replay reproduces them.
int write_record(MatchEngine* engine, const MatchResult* r, DataBlob** out_record, DataBlob** out_reduced) {
  DataBlob* view = r->best_blob;
  DataBlob* probe = r->probe_blob;
  if (!view || !probe) return ML_CORRUPT;
  MatchContext* ctx = zyl::matchlib::engine_get_context(engine);
  const StageObject* stage = zyl::matchlib::engine_get_stage(engine, r->deciding_stage);
  const StageMatchOps* ops = stage ? zyl::matchlib::stage_get_match_ops(stage) : nullptr;
  const ScoreProfile* profile = ops ? zyl::matchlib::score_profile_find(
                                          zyl::matchlib::engine_get_score_profiles(engine), ops, 0)
                                    : nullptr;
  if (!profile || !ops->fuse) return ML_BAD_ARGUMENT;

  MinutiaPairing* raw_pairing = nullptr;
  int st = zyl::matchlib::match_keypoint_pairs(ctx, view, probe, &raw_pairing);
  const std::unique_ptr<MinutiaPairing, decltype(&zyl::matchlib::pairing_free)> pairing(
      raw_pairing, &zyl::matchlib::pairing_free);
  if (st != ML_OK) return st;
  Reduced v, p;
  st = reduce(view, v);
  if (st == ML_OK) st = reduce(probe, p);
  if (st != ML_OK) return st;
  std::uint16_t* raw_scores = nullptr;
  std::uint16_t m = 0;
  st = zyl::matchlib::match_keypoints_with_pairing(
      ctx, v.reduced.get(), data_of(v.extensions), size_of(v.extensions), p.reduced.get(),
      data_of(p.extensions), size_of(p.extensions), pairing.get(), &raw_scores, &m, nullptr);
  const std::unique_ptr<std::uint16_t, FreeDeleter> scores(raw_scores);
  if (st != ML_OK) return st;
  if (m > SESSION_RECORD_MAX_SCORES) return ML_CORRUPT;
  std::uint16_t fused = 0;
  st = ops->fuse(ctx, p.reduced.get(), view, scores.get(), m, profile, &fused);
  if (st != ML_OK) return st;

  const std::uint32_t pairing_size = zyl::matchlib::pairing_write(pairing.get(), nullptr);
  const std::uint32_t view_ext = zyl::matchlib::blob_write(nullptr, v.extensions.get());
  const std::uint32_t probe_ext = zyl::matchlib::blob_write(nullptr, p.extensions.get());
  const std::uint64_t total =
      std::uint64_t{pairing_size} + 1 + 4 + 2 + 1 + 2u * m + 1 + view_ext + probe_ext;
  if (pairing_size == 0 || total > UINT32_MAX) return ML_CORRUPT;
  std::vector<std::uint8_t> bytes(total);
  zyl::ByteWriter w(std::span<std::uint8_t>(bytes.data(), bytes.size()));
  if (std::uint8_t* at = w.reserve(pairing_size)) {
    if (zyl::matchlib::pairing_write(pairing.get(), at) != pairing_size) return ML_CORRUPT;
  }
  w.u8(SESSION_RECORD_VERSION);
  w.u32(static_cast<std::uint32_t>(r->record_key));
  w.u16(fused);
  w.u8(m);
  for (int i = 0; i < m; ++i) w.u16(scores.get()[i]);
  w.u8(static_cast<std::uint32_t>(r->deciding_stage));
  if (std::uint8_t* at = w.reserve(view_ext)) zyl::matchlib::blob_write(at, v.extensions.get());
  if (std::uint8_t* at = w.reserve(probe_ext)) zyl::matchlib::blob_write(at, p.extensions.get());
  if (!w.ok() || w.pos() != total) return ML_CORRUPT;
  DataBlob* record = zyl::matchlib::blob_create(0, bytes.data(), static_cast<std::uint32_t>(total));
  if (!record) return ML_NO_MEMORY;
  *out_record = record;
  *out_reduced = p.reduced.release();
  return ML_OK;
}

bool verify_arguments(const MatcherSession* s, DataBlob* const* gallery, int n, const GrayImage* probe,
                      int level, MatchResult** out) {
  return s && gallery && probe && out && n >= 1 && n <= ENGINE_MAX_GALLERY && level >= 0 &&
         level <= ENGINE_LEVEL_BEYOND;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::session_verify(MatcherSession* session, DataBlob* const* gallery, int n,
                                  GrayImage* probe, int level, const uint8_t* decision,
                                  MatchResult** out) {
  if (out) *out = nullptr;
  if (!verify_arguments(session, gallery, n, probe, level, out)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(
      ML_NO_MEMORY, [&] { return verify(*session, gallery, n, probe, level, decision, out); });
}

extern "C" ZYL_API int session_verify_with_record(MatcherSession* session, DataBlob* const* gallery,
                                                  int n, GrayImage* probe, int level,
                                                  const uint8_t* decision, MatchResult** out,
                                                  DataBlob** out_record, DataBlob** out_reduced) {
  if (out_record) *out_record = nullptr;
  if (out_reduced) *out_reduced = nullptr;
  if (!out_record || !out_reduced) {
    if (out) *out = nullptr;
    return ML_BAD_ARGUMENT;
  }
  int st = zyl::matchlib::session_verify(session, gallery, n, probe, level, decision, out);
  if (st != ML_OK || !(*out)->decision) return st;
  st = zyl::GuardedCall(
      ML_NO_MEMORY, [&] { return write_record(session->engine, *out, out_record, out_reduced); });
  if (st != ML_OK) {
    zyl::matchlib::match_result_release(*out);
    *out = nullptr;
  }
  return st;
}

extern "C" {

ZYL_API int session_verify(MatcherSession* session, DataBlob* const* gallery, int n,
                           GrayImage* probe, int level, const uint8_t* decision,
                           MatchResult** out) {
  return zyl::matchlib::session_verify(session, gallery, n, probe, level, decision, out);
}

}  // extern "C"
