// Enrolment job over a scripted engine: quality and size refusals, the
// duplicate refusal with its events, finalise, and the result slot.
#include <gtest/gtest.h>

#include <vector>

#include "support/allocation_sweep.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_enrol_job.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_param.h"

namespace {

using zyl::test::make_template;
using zyl::test::script;

const ScoreProfile kProfile{&zyl::test::kScriptedOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile* const kProfiles[] = {&kProfile, nullptr};

std::vector<int>& events() {
  static std::vector<int> e;
  return e;
}
std::vector<std::pair<int, int>>& progress_calls() {
  static std::vector<std::pair<int, int>> p;
  return p;
}
const EnrolHooks kHooks{[](MatchContext*, int code, FingerInfo*) {
                          events().push_back(code);
                          return 0;
                        },
                        nullptr, nullptr, nullptr,
                        [](MatchContext*, int count, int limit) { progress_calls().push_back({count, limit}); },
                        nullptr};

// A grid section (66) of 4 cells, `covered` of them non-empty.
DataBlob* gridded(int id, int covered = 4) {
  DataBlob* base = make_template(id, 60);
  std::vector<uint8_t> c1 = {8, 0, 2, 0, 2};
  for (int i = 0; i < 4; ++i) c1.insert(c1.end(), {10, static_cast<uint8_t>(i < covered ? 5 : 0)});
  DataBlob* out = container_put_entry(base, 66, c1.data(), static_cast<uint32_t>(c1.size()));
  if (out != base) blob_release(base);
  return out;
}

struct Rig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  EnrolSession* job = nullptr;
  std::vector<DataBlob*> blobs;
  explicit Rig(uint32_t reject = 1) {
    script() = {};
    events().clear();
    progress_calls().clear();
    StageChain* chain = chain_create();
    chain_append(chain, stage_create(nullptr, 79, nullptr, &zyl::test::kScriptedOps, 0, 0));
    engine = engine_create(ctx, chain, 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
    engine_set_score_profiles(engine, kProfiles);
    EnrolJobSettings s{};
    s.sample_limit = 3;
    s.quality_minimum = 50;
    s.minimum_size = 10;
    s.reject_duplicates = reject;
    s.shift_limit = 12;
    s.angle_limit = 16;
    job = enrol_job_create(ctx, nullptr, nullptr, &s, &kHooks, this);
  }
  ~Rig() {
    enrol_destroy(job);
    for (DataBlob* b : blobs) blob_release(b);
    engine_release(engine);
    ctx_release(ctx);
  }
  int add(DataBlob* t, int* progress = nullptr) {
    blobs.push_back(t);
    return enrol_add_sample(job, nullptr, t, progress);
  }
};

TEST(EnrolJob, RefusesPoorSamplesAndDuplicatesWith21) {
  Rig r;
  ASSERT_NE(r.job, nullptr);
  EXPECT_EQ(r.add(gridded(1, 1)), ML_TOO_POOR);          // 25 % of the grid
  EXPECT_EQ(r.add(make_template(2, 60)), ML_TOO_POOR);   // no grid at all
  ASSERT_EQ(r.add(gridded(3)), ML_OK);
  EXPECT_EQ(enrol_count(r.job), 1);
  EXPECT_TRUE(script().calls.empty());
  script().default_score = 60000;
  script().transform_dx = 0;
  EXPECT_EQ(r.add(gridded(4)), ML_TOO_POOR);
  EXPECT_EQ(events(), std::vector<int>{4103});
  EXPECT_EQ(enrol_count(r.job), 1);
  script().transform_dx = 60;
  int progress = -1;
  ASSERT_EQ(r.add(gridded(5), &progress), ML_OK);
  EXPECT_EQ(progress, 0);
  ASSERT_EQ(r.add(gridded(6), &progress), ML_OK);
  EXPECT_EQ(progress, 100);
  EXPECT_EQ(progress_calls().back(), (std::pair<int, int>{3, 3}));
  EXPECT_EQ(r.add(gridded(7), &progress), ML_TOO_MANY);
  EXPECT_EQ(enrol_add_sample(r.job, nullptr, nullptr, &progress), ML_OUT_OF_LIMITS);

  DataBlob* out = nullptr;
  ASSERT_EQ(enrol_finalise(r.job, 5, &out, nullptr), ML_OK);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(out, &t), ML_OK);
  EXPECT_EQ(kwzd_record_count(mvt_store(t)), 3);
  mvt_release(t);
  // The result slot keeps one reference and hands it over once.
  EXPECT_EQ(enrol_result_slot_set(out), ML_OK);
  blob_release(out);
  DataBlob* taken = enrol_result_slot_take();
  EXPECT_NE(taken, nullptr);
  EXPECT_EQ(enrol_result_slot_take(), nullptr);
  blob_release(taken);
}

TEST(EnrolJob, ToleratedDuplicatesAndFinaliseGuards) {
  Rig r(0);
  DataBlob* out = nullptr;
  EXPECT_EQ(enrol_finalise(r.job, 5, &out, nullptr), ML_CORRUPT);
  ASSERT_EQ(r.add(gridded(1)), ML_OK);
  script().default_score = 60000;
  ASSERT_EQ(r.add(gridded(2)), ML_OK);
  EXPECT_EQ(enrol_count(r.job), 2);
  MatchContext* other_ctx = ctx_create();
  MatchEngine* other = engine_create(other_ctx, chain_create(), 79, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  EXPECT_EQ(enrol_finalise_engine(other, r.job, &out), ML_WRONG_KIND);
  engine_release(other);
  ctx_release(other_ctx);
  EnrolJobSettings s{};
  s.sample_limit = 2;
  EXPECT_EQ(enrol_job_create_guarded(r.ctx, nullptr, nullptr, &s, &kHooks, nullptr), nullptr);
  s.reject_duplicates = 1;
  EXPECT_EQ(enrol_job_create_guarded(r.ctx, nullptr, nullptr, &s, nullptr, nullptr), nullptr);
  param_set(r.ctx, 0x87d98ca7u, 4);
  EnrolSession* j = enrol_job_create_from_params(r.ctx, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(reinterpret_cast<EnrolJob*>(j)->settings.sample_limit, 4);
  enrol_destroy(j);
}

}  // namespace

namespace {

TEST(EnrolJob, AllocationFailuresLeaveTheJobUsable) {
  Rig r(1);
  script().default_score = 60000;
  script().transform_dx = 60;
  std::vector<DataBlob*> fresh;
  for (int id = 1; id < 100; ++id) fresh.push_back(gridded(id));
  size_t next = 0;
  zyl::test::sweep_allocation_failures([&] {
    const int before = enrol_count(r.job);
    ASSERT_LT(next, fresh.size());
    const int status = enrol_add_sample(r.job, nullptr, fresh[next++], nullptr);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(enrol_count(r.job), before);
    }
  });
  zyl::test::sweep_allocation_failures([&] {
    DataBlob* out = nullptr;
    const int status = enrol_finalise(r.job, 5, &out, nullptr);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(out, nullptr);
    }
    blob_release(out);
  });
  for (DataBlob* b : fresh) blob_release(b);
}

}  // namespace

namespace {

TEST(EnrolJob, StoredSamplesAreTheViewsOfTheEnginesTemplate) {
  // After each accepted sample the stored samples are finalised through the
  // engine and split again: with the engine's most views at 2, two distinct
  // samples are the two views of the template the engine finalises. A third
  // one cannot be kept beside them (the template would drop a sample): it is
  // refused as for a full job, and the stored samples stay as they were.
  Rig r;
  const_cast<EngineConfig*>(engine_get_config(r.engine))->most_views = 2;
  script().default_score = 0;  // no sample matches another
  ASSERT_EQ(r.add(gridded(1)), ML_OK);
  ASSERT_EQ(r.add(gridded(2)), ML_OK);
  EXPECT_EQ(enrol_count(r.job), 2);
  const EnrolJob& j = *reinterpret_cast<EnrolJob*>(r.job);
  const std::vector<DataBlob*> before = {j.samples[0].blob, j.samples[1].blob};
  const uint32_t size_before = j.total_size;
  int progress = -1;
  EXPECT_EQ(r.add(gridded(3), &progress), ML_TOO_MANY);
  EXPECT_EQ(progress, 0);
  EXPECT_EQ(enrol_count(r.job), 2);
  EXPECT_EQ(j.samples[0].blob, before[0]);
  EXPECT_EQ(j.samples[1].blob, before[1]);
  EXPECT_EQ(j.samples[2].blob, nullptr);
  EXPECT_EQ(j.total_size, size_before);
  EXPECT_EQ(progress_calls().size(), 2u);
  DataBlob* out = nullptr;
  ASSERT_EQ(enrol_finalise_engine(r.engine, r.job, &out), ML_OK);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(out, &t), ML_OK);
  ASSERT_EQ(kwzd_record_count(mvt_store(t)), 2);
  uint32_t total = 0;
  for (int i = 0; i < 2; ++i) {
    DataBlob* view = kwzd_get_at(mvt_store(t), i, nullptr);
    EXPECT_EQ(blob_equal(view, j.samples[i].blob), 1) << i;
    EXPECT_EQ(zyl::test::template_id(view), i + 1) << i;
    total += blob_size(view);
    blob_release(view);
  }
  EXPECT_EQ(j.total_size, total);
  mvt_release(t);
  blob_release(out);
}

TEST(EnrolJob, AnEngineTemplateThatHoldsNoViewKeepsNoSampleAndSaysSo) {
  // An engine whose most views is 0: the template keeps nothing, so no add
  // can keep its sample and none answers 0; finalising a job with samples
  // into such a template gives no (empty) template either.
  Rig r(0);
  const_cast<EngineConfig*>(engine_get_config(r.engine))->most_views = 0;
  script().default_score = 0;
  for (int id = 1; id <= 4; ++id) {
    int progress = -1;
    EXPECT_EQ(r.add(gridded(id), &progress), ML_TOO_MANY) << id;
    EXPECT_EQ(progress, 0) << id;
    EXPECT_EQ(enrol_count(r.job), 0) << id;
  }
  const EnrolJob& j = *reinterpret_cast<EnrolJob*>(r.job);
  EXPECT_EQ(j.total_size, 0u);
  EXPECT_EQ(j.samples[0].blob, nullptr);
  EXPECT_TRUE(progress_calls().empty());

  const_cast<EngineConfig*>(engine_get_config(r.engine))->most_views = 3;
  ASSERT_EQ(r.add(gridded(5)), ML_OK);
  EXPECT_EQ(enrol_count(r.job), 1);
  DataBlob* out = nullptr;
  EXPECT_EQ(enrol_finalise(r.job, 0, &out, nullptr), ML_TOO_MANY);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(enrol_finalise(r.job, 3, &out, nullptr), ML_OK);
  blob_release(out);
}

}  // namespace
