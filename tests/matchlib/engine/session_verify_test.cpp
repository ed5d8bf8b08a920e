// Matcher session verification: thresholds, counters and the event of an
// attempt over a scripted engine; pass-over, relaxed decision and drift;
// the learned confirmation and the replay record with the mode-4 engine on
// real prints.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "support/print_images.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_pair_matcher.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_score.h"
#include "zylscan/matchlib_session.h"

namespace {

// A scripted engine (template id = the image's first pixel), a one-view
// gallery of id 5 and 64 x 64 probes of id 33.
struct VerifyRig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  MatcherSession* s = nullptr;
  DataBlob* gallery = nullptr;
  std::vector<GrayImage*> probes;

  VerifyRig() {
    zyl::test::script() = {};
    EngineConfig config;
    engine_config_init(&config);
    config.most_views = 8;
    engine = zyl::test::scripted_engine(ctx, config);
    session_create(nullptr, engine, &s);
    MultiViewTemplate* t = mvt_create(8);
    DataBlob* view = zyl::test::make_template(5);
    mvt_add_view(mvt_store(t), view, nullptr, 0, 0, nullptr);
    blob_release(view);
    gallery = mvt_serialize(t, 0);
    mvt_release(t);
  }
  ~VerifyRig() {
    session_release(s);
    for (GrayImage* p : probes) image_release(p);
    blob_release(gallery);
    engine_release(engine);
    ctx_release(ctx);
  }
  GrayImage* probe(std::uint32_t flag = 0) {
    std::vector<std::uint8_t> px(64 * 64, 90);
    px[0] = 33;
    probes.push_back(image_create(64, 64, 500, 500, px.data(), 0));
    image_set_flag_word(probes.back(), flag);
    return probes.back();
  }
  // One attempt scored `score`; the pending result is committed away.
  int attempt(std::uint16_t score, int level, std::uint32_t flag = 0, const std::uint8_t* data = nullptr,
              MatchResult** keep = nullptr) {
    zyl::test::script().default_score = score;
    MatchResult* out = nullptr;
    const int st = session_verify(s, &gallery, 1, probe(flag), level, data, &out);
    if (keep) {
      *keep = out;
    } else {
      match_result_release(out);
    }
    if (s->pending) {
      match_result_release(s->pending);
      s->pending = nullptr;
    }
    return st;
  }
  const SessionEvent& newest() const { return *session_event_at(s, 0); }
  int32_t t(int i) const { return s->statistics[i]; }
};

// A score on the FAR scale just above the given level's (the scripted
// profile has no threshold table: raw scores are FAR-scale scores).
std::uint16_t above(int level) { return static_cast<std::uint16_t>(far_level_to_score(level) + 1); }

TEST(SessionVerify, ArgumentsAndPendingResult) {
  VerifyRig r;
  GrayImage* p = r.probe();
  MatchResult* out = reinterpret_cast<MatchResult*>(1);
  EXPECT_EQ(session_verify(nullptr, &r.gallery, 1, p, 5, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(session_verify(r.s, &r.gallery, 0, p, 5, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_verify(r.s, &r.gallery, 256, p, 5, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_verify(r.s, &r.gallery, 1, p, 29, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_verify(r.s, &r.gallery, 1, p, -1, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(session_verify(r.s, &r.gallery, 1, nullptr, 5, nullptr, &out), ML_BAD_ARGUMENT);
  // A gallery entry that is no multi-view template.
  DataBlob* single = zyl::test::make_template(5);
  EXPECT_EQ(session_verify(r.s, &single, 1, p, 5, nullptr, &out), ML_BAD_ARGUMENT);
  blob_release(single);
  EXPECT_EQ(session_event_count(r.s), 0);
  // A pending result must be committed first.
  r.s->pending = match_result_create(1);
  EXPECT_EQ(session_verify(r.s, &r.gallery, 1, p, 5, nullptr, &out), ML_WRONG_KIND);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(session_event_count(r.s), 0);
}

TEST(SessionVerify, AMatchIsPendingCountedAndLogged) {
  VerifyRig r;
  zyl::test::script().default_score = above(12);
  const std::uint8_t data[4] = {0xA1, 0xB2, 3, 0xD4};
  MatchResult* out = nullptr;
  ASSERT_EQ(session_verify(r.s, &r.gallery, 1, r.probe(), 10, data, &out), ML_OK);
  ASSERT_NE(out, nullptr);
  ASSERT_NE(r.s->pending, nullptr);
  EXPECT_NE(out, r.s->pending);  // the caller gets a copy
  EXPECT_EQ(out->decision, 1);
  EXPECT_EQ(r.s->pending->decision, 1);
  EXPECT_EQ(out->requested_level, 10);
  EXPECT_EQ(out->second_level, 10);
  EXPECT_EQ(out->reached_level, 12);
  EXPECT_EQ(std::vector<uint8_t>(out->scratch, out->scratch + 4), std::vector<uint8_t>(data, data + 4));
  EXPECT_EQ(r.t(SESSION_ACCEPTED), 1);
  EXPECT_EQ(r.t(SESSION_ACCEPTED_SINCE_ENROLMENT), 1);
  EXPECT_EQ(r.t(SESSION_ACCEPTED_SINCE_UPDATE), 1);
  EXPECT_EQ(r.t(SESSION_CONSECUTIVE_ACCEPTS), 1);
  EXPECT_EQ(r.t(SESSION_REJECTED), 0);
  // The probe was accumulated (event 3), then the attempt logged (event 1).
  ASSERT_EQ(session_event_count(r.s), 2);
  EXPECT_EQ(session_event_at(r.s, 1)->type, SESSION_EVENT_ADDED);
  const SessionEvent& e = r.newest();
  EXPECT_EQ(e.type, SESSION_EVENT_VERIFIED);
  EXPECT_EQ(e.code, ML_OK);
  EXPECT_EQ(std::vector<uint8_t>(e.payload, e.payload + 4), (std::vector<uint8_t>{0xA1, 10, 10, 12}));
  ASSERT_NE(r.s->accumulator, nullptr);
  // Committing makes the probe the accepted image.
  ASSERT_EQ(session_commit_result(r.s, nullptr), ML_OK);
  EXPECT_NE(r.s->accepted_template, nullptr);
  match_result_release(out);
}

TEST(SessionVerify, CountersOfRejectionsAndRepresentedProbes) {
  VerifyRig r;
  ASSERT_EQ(r.attempt(above(4), 10), ML_OK);  // rejected
  EXPECT_EQ(r.t(SESSION_REJECTED), 1);
  EXPECT_EQ(r.t(SESSION_REJECTED_SINCE_ENROLMENT), 1);
  EXPECT_EQ(r.t(SESSION_REJECTED_SINCE_UPDATE), 1);
  EXPECT_EQ(r.t(SESSION_CONSECUTIVE_REJECTS), 1);
  EXPECT_EQ(r.newest().payload[3], 4);
  ASSERT_EQ(r.attempt(above(4), 10), ML_OK);
  EXPECT_EQ(r.t(SESSION_CONSECUTIVE_REJECTS), 2);
  // The same attempt presented again takes the rejection back, then counts
  // its own outcome.
  ASSERT_EQ(r.attempt(above(12), 10, 1), ML_OK);
  EXPECT_EQ(r.t(SESSION_REJECTED), 1);
  EXPECT_EQ(r.t(SESSION_REJECTED_SINCE_ENROLMENT), 1);
  EXPECT_EQ(r.t(SESSION_CONSECUTIVE_REJECTS), 0);
  EXPECT_EQ(r.t(SESSION_ACCEPTED), 1);
  EXPECT_EQ(r.t(SESSION_CONSECUTIVE_ACCEPTS), 1);
  ASSERT_EQ(r.attempt(above(12), 10, 1), ML_OK);  // takes back the accept
  EXPECT_EQ(r.t(SESSION_ACCEPTED), 1);
  EXPECT_EQ(r.t(SESSION_CONSECUTIVE_ACCEPTS), 1);

  // On a fresh session a take-back finds nothing to take: no counter
  // goes below 0.
  VerifyRig fresh;
  ASSERT_EQ(fresh.attempt(above(4), 10, 1), ML_OK);
  for (int i = 0; i < SESSION_STATISTICS; ++i) EXPECT_GE(fresh.t(i), 0) << i;
  EXPECT_EQ(fresh.t(SESSION_REJECTED), 1);
  EXPECT_EQ(fresh.t(SESSION_ACCEPTED), 0);
}

TEST(SessionVerify, ThresholdsFollowTheEnginesFarAdjustments) {
  VerifyRig r;
  // Block 1 moves the level by 2, block 2 by 5, whatever the count.
  engine_set_far_adjust(r.engine, 1, 2, 2, 1);  // bit value 1: block 1
  engine_set_far_adjust(r.engine, 1, 5, 5, 2);  // bit value 2: block 2
  MatchResult* out = nullptr;
  ASSERT_EQ(r.attempt(above(13), 10, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->requested_level, 12);
  EXPECT_EQ(out->second_level, 15);
  EXPECT_EQ(out->decision, 1);  // decided at the first threshold
  EXPECT_EQ(r.newest().payload[1], 12);
  EXPECT_EQ(r.newest().payload[2], 15);
  match_result_release(out);
}

TEST(SessionVerify, PassOverWhileU1IsSet) {
  VerifyRig r;
  r.s->skip_count = 2;
  MatchResult* out = nullptr;
  ASSERT_EQ(r.attempt(above(20), 5, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->decision, 0);
  EXPECT_EQ(out->scratch_value, SESSION_RESULT_SKIPPED);
  EXPECT_TRUE(zyl::test::script().calls.empty());  // nothing compared
  EXPECT_EQ(r.s->skip_count, 1);
  EXPECT_EQ(r.t(SESSION_REJECTED), 1);
  match_result_release(out);
  // A re-presented probe does not use up a pass-over.
  ASSERT_EQ(r.attempt(above(20), 5, 1), ML_OK);
  EXPECT_EQ(r.s->skip_count, 1);
  ASSERT_EQ(r.attempt(above(20), 5), ML_OK);
  EXPECT_EQ(r.s->skip_count, 0);
  ASSERT_EQ(r.attempt(above(20), 5, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->decision, 1);
  match_result_release(out);
}

TEST(SessionVerify, ARejectionIsTakenBackAtLevel8AfterFourHighAttempts) {
  VerifyRig r;
  param_set(r.ctx, static_cast<uint32_t>(SESSION_RELAX_PARAMETER), 1);
  const uint8_t high[4] = {0, 0, 0, 9};
  const uint8_t low[4] = {0, 0, 0, 7};
  for (int i = 0; i < 3; ++i) session_log_event(r.s, SESSION_EVENT_VERIFIED, 0, high, 4);
  MatchResult* out = nullptr;
  // Three qualifying events: the rejection stands.
  ASSERT_EQ(r.attempt(above(9), 20, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->decision, 0);
  match_result_release(out);
  // The attempt just logged reached level 9: now four in a row.
  ASSERT_EQ(r.attempt(above(9), 20, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->decision, 1);
  EXPECT_EQ(out->reached_level, 20);  // a match at its own decision level
  match_result_release(out);
  // A score below level 8 is not taken back.
  for (int i = 0; i < 4; ++i) session_log_event(r.s, SESSION_EVENT_VERIFIED, 0, high, 4);
  ASSERT_EQ(r.attempt(above(7), 20, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->decision, 0);
  match_result_release(out);
  // A newer event below level 8 ends the scan; failed attempts do not count.
  for (int i = 0; i < 4; ++i) session_log_event(r.s, SESSION_EVENT_VERIFIED, 0, high, 4);
  session_log_event(r.s, SESSION_EVENT_VERIFIED, 0, low, 4);
  session_log_event(r.s, SESSION_EVENT_VERIFIED, 9, high, 4);
  ASSERT_EQ(r.attempt(above(9), 20, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->decision, 0);
  match_result_release(out);
  // Switched off, or more than 200 attempts counted: no second decision.
  for (int i = 0; i < 4; ++i) session_log_event(r.s, SESSION_EVENT_VERIFIED, 0, high, 4);
  r.s->statistics[SESSION_REJECTED] = 200;
  ASSERT_EQ(r.attempt(above(9), 20, 0, nullptr, &out), ML_OK);
  EXPECT_EQ(out->decision, 0);
  match_result_release(out);
}

TEST(SessionVerify, DriftCountsAgainstTheStepTable) {
  VerifyRig r;
  r.s->accepted_template = zyl::test::make_template(7);
  // The verification engine leaves the result's step value at -1: within
  // 16 of step 0's score (0), far from step 1's (28196).
  ASSERT_EQ(r.attempt(above(12), 10), ML_OK);
  EXPECT_EQ(r.s->drift_updates, 1);
  ASSERT_EQ(r.attempt(above(12), 10), ML_OK);
  EXPECT_EQ(r.s->drift_updates, 0);
  EXPECT_EQ(r.s->skip_count, 0);
  // Four in a row already: no comparison, nothing changes.
  r.s->drift_updates = 4;
  const size_t calls = zyl::test::script().calls.size();
  ASSERT_EQ(r.attempt(above(12), 10), ML_OK);
  EXPECT_EQ(zyl::test::script().calls.size(), calls + 1);  // the verification alone
  EXPECT_EQ(r.s->drift_updates, 4);
}

TEST(SessionVerify, FailuresAreLoggedAndLeaveNothingPending) {
  VerifyRig r;
  zyl::test::script().fail_status = ML_CORRUPT;
  EXPECT_EQ(r.attempt(1000, 10), ML_CORRUPT);
  EXPECT_EQ(r.newest().type, SESSION_EVENT_VERIFIED);
  EXPECT_EQ(r.newest().code, ML_CORRUPT);
  EXPECT_EQ(r.s->pending, nullptr);
  for (int i = 0; i < SESSION_STATISTICS; ++i) EXPECT_EQ(r.t(i), 0) << i;
  zyl::test::script().fail_status = 0;
  // A probe the accumulator does not take.
  std::vector<std::uint8_t> px(100 * 120, 33);
  GrayImage* other = image_create(100, 120, 500, 500, px.data(), 0);
  MatchResult* out = nullptr;
  ASSERT_EQ(r.attempt(1000, 10), ML_OK);
  EXPECT_EQ(session_verify(r.s, &r.gallery, 1, other, 10, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(r.newest().code, ML_BAD_ARGUMENT);
  image_release(other);
  // A quality model on templates without feature vectors: the learned
  // confirmation fails and says so.
  QualityModelHolder* h = quality_model_create_default(r.ctx);
  engine_set_quality_model(r.engine, h);
  quality_model_release(h);
  r.s->accepted_template = zyl::test::make_template(7);
  r.s->drift_updates = 4;
  EXPECT_NE(r.attempt(above(12), 10), ML_OK);
  EXPECT_EQ(r.s->pending, nullptr);
  // A model level above 9 is refused.
  const uint8_t data[4] = {0, 0, 10, 0};
  EXPECT_EQ(r.attempt(above(12), 10, 0, data), ML_BAD_ARGUMENT);
}

TEST(SessionVerify, OutOfMemoryAnswers9AndLeaksNothing) {
  VerifyRig r;
  zyl::test::script().default_score = above(12);
  GrayImage* probe = r.probe();
  int failures = 0;
  zyl::test::sweep_allocation_failures([&] {
    MatchResult* out = nullptr;
    const int st = session_verify(r.s, &r.gallery, 1, probe, 10, nullptr, &out);
    if (zyl::test::allocation_failed()) {
      EXPECT_NE(st, ML_OK);
      EXPECT_EQ(out, nullptr);
      ++failures;
    } else {
      EXPECT_EQ(st, ML_OK);
    }
    match_result_release(out);
    match_result_release(r.s->pending);
    r.s->pending = nullptr;
  });
  EXPECT_GT(failures, 0);
}

}  // namespace

namespace {

// The mode-4 engine with its texture stage and the built-in quality model;
// the gallery is one view of a real print, which is also the session's
// accepted template.
struct PrintRig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  MatcherSession* s = nullptr;
  GrayImage* a1 = nullptr;
  GrayImage* a2 = nullptr;
  DataBlob* gallery = nullptr;

  PrintRig() {
    param_set(ctx, 0x79ce7252u, 1);
    engine = preset_create_light_verify(ctx);
    QualityModelHolder* h = quality_model_create_default(ctx);
    engine_set_quality_model(engine, h);
    quality_model_release(h);
    session_create(nullptr, engine, &s);
    a1 = load("fvc2002_101_1_crop.pgm");
    a2 = load("fvc2002_101_2_crop.pgm");
    DataBlob* view = nullptr;
    EXPECT_EQ(engine_extract_image(engine, a1, nullptr, &view), ML_OK);
    MultiViewTemplate* t = mvt_create(8);
    mvt_add_view(mvt_store(t), view, nullptr, 0, 0, nullptr);
    gallery = mvt_serialize(t, 0);
    mvt_release(t);
    s->accepted_template = view;
  }
  ~PrintRig() {
    session_release(s);
    image_release(a1);
    image_release(a2);
    blob_release(gallery);
    engine_release(engine);
    ctx_release(ctx);
  }
  static GrayImage* load(const std::string& name) {
    return zyl::test::load_print_image(name);
  }
  void drop_pending() {
    match_result_release(s->pending);
    s->pending = nullptr;
  }
};

TEST(SessionVerifyPrints, TheLearnedScoreConfirmsOrOverrulesTheMatch) {
  PrintRig r;
  ASSERT_NE(r.engine, nullptr);
  ASSERT_NE(r.gallery, nullptr);
  struct Case {
    int level;
    uint8_t model_level;
    int decision;
  } cases[] = {
      {5, 6, 1},   // 500 reaches level 6's threshold (500)
      {5, 7, 0},   // but not level 7's (725)
      {28, 6, 1},  // at level 28 the learned score alone decides
      {28, 7, 0},
  };
  for (const Case& c : cases) {
    const uint8_t data[4] = {0, 0, c.model_level, 0};
    MatchResult* out = nullptr;
    ASSERT_EQ(session_verify(r.s, &r.gallery, 1, r.a1, c.level, data, &out), ML_OK) << c.level;
    EXPECT_EQ(out->decision, c.decision) << c.level << " " << int{c.model_level};
    EXPECT_EQ(out->learned_score, 500);
    // The full matcher's N + 57 sub-scores and two 190-value vectors.
    EXPECT_GE(out->learned_length, 57 + 1 + 380);
    ASSERT_NE(out->learned_inputs, nullptr);
    match_result_release(out);
    r.drop_pending();
  }
}

TEST(SessionVerifyPrints, TheRecordOfAMatchReplaysOnTheStrippedTemplate) {
  PrintRig r;
  MatchResult* out = nullptr;
  DataBlob* record = nullptr;
  DataBlob* reduced = nullptr;
  const uint8_t data[4] = {0, 0, 6, 0};
  ASSERT_EQ(session_verify_with_record(r.s, &r.gallery, 1, r.a2, 5, data, &out, &record, &reduced), ML_OK);
  ASSERT_EQ(out->decision, 1);
  ASSERT_NE(record, nullptr);
  ASSERT_NE(reduced, nullptr);
  EXPECT_EQ(blob_type(record), 0);
  match_result_release(out);
  DataBlob* stripped = nullptr;
  ASSERT_EQ(session_strip_views(r.gallery, &stripped), ML_OK);
  SessionDecision d{1, 0, 9};
  DataBlob* updated = nullptr;
  ASSERT_EQ(session_update_from_record(r.engine, stripped, reduced, record, 1, &d, &updated), ML_OK);
  EXPECT_EQ(d.decision, 1);  // the replay reproduces the record
  EXPECT_NE(updated, nullptr);
  blob_release(updated);
  // A record whose best value was altered does not.
  std::vector<uint8_t> bytes(blob_data(record), blob_data(record) + blob_size(record));
  // The best value sits 5 bytes after the version byte; the version byte
  // follows the pairing, whose size the reader reports.
  MinutiaPairing* p = nullptr;
  const uint32_t used = pairing_read(bytes.data(), static_cast<uint32_t>(bytes.size()), &p);
  pairing_free(p);
  ASSERT_GT(used, 0u);
  bytes[used + 6] ^= 1;
  DataBlob* tampered = blob_create(0, bytes.data(), static_cast<uint32_t>(bytes.size()));
  d = {1, 0, 9};
  ASSERT_EQ(session_update_from_record(r.engine, stripped, reduced, tampered, 1, &d, &updated), ML_OK);
  EXPECT_EQ(d.decision, 0);
  EXPECT_EQ(updated, nullptr);
  blob_release(tampered);
  blob_release(stripped);
  blob_release(record);
  blob_release(reduced);
  // A rejection writes no record.
  r.drop_pending();
  GrayImage* other = PrintRig::load("fvc2002_102_1_crop.pgm");
  const uint8_t strict[4] = {0, 0, 9, 0};  // level 9 (875): the built-in 500 never reaches it
  ASSERT_EQ(session_verify_with_record(r.s, &r.gallery, 1, other, 5, strict, &out, &record, &reduced), ML_OK);
  EXPECT_EQ(out->decision, 0);
  EXPECT_EQ(record, nullptr);
  EXPECT_EQ(reduced, nullptr);
  match_result_release(out);
  image_release(other);
  EXPECT_EQ(session_verify_with_record(r.s, &r.gallery, 1, r.a1, 5, nullptr, &out, nullptr, &reduced), ML_BAD_ARGUMENT);
}

}  // namespace
