// Multi-sample enrolment over a scripted engine: acceptance and promotion,
// coverage and size refusals, duplicates, finalise, and the dispatch of the
// enrolment head's slots.
#include <gtest/gtest.h>

#include <vector>

#include "support/allocation_sweep.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_multi_enrol.h"
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
int record_event(MatchContext*, int code, FingerInfo*) {
  events().push_back(code);
  return 0;
}
const EnrolHooks kHooks{record_event, nullptr, nullptr, nullptr, nullptr, nullptr};

struct Rig {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  EnrolSession* e = nullptr;
  std::vector<DataBlob*> blobs;

  explicit Rig(int promotion = 0, uint16_t capacity = 5, int32_t least_coverage = 0) {
    script() = {};
    events().clear();
    StageChain* chain = chain_create();
    chain_append(chain, stage_create(nullptr, 79, nullptr, &zyl::test::kScriptedOps, 0, 0));
    EngineConfig config;
    engine_config_init(&config);
    config.view_selection = promotion;
    config.most_views = 10;
    engine = engine_create(ctx, chain, 84, 0, 0, nullptr, 0, nullptr, 0, &config);
    engine_set_score_profiles(engine, kProfiles);
    MultiSampleSettings s{};
    s.capacity = capacity;
    s.shift_tolerance = 12;
    s.angle_tolerance = 16;
    s.maximum_views = 10;
    s.least_coverage = least_coverage;
    e = multi_enrol_create(engine, ctx, nullptr, &kHooks, 84, &s);
  }
  ~Rig() {
    enrol_destroy(e);
    for (DataBlob* b : blobs) blob_release(b);
    engine_release(engine);
    ctx_release(ctx);
  }
  MultiSampleEnrol& m() { return *reinterpret_cast<MultiSampleEnrol*>(e); }
  DataBlob* tmpl(int id) {
    blobs.push_back(make_template(id, 60));
    return blobs.back();
  }
  int add(DataBlob* t) {
    int progress = -1;
    return enrol_add_sample(e, nullptr, t, &progress);
  }
};

// Template whose grid section (66) holds 4 cells, `covered` of them non-empty.
DataBlob* with_grid(DataBlob* base, int covered) {
  std::vector<uint8_t> c1 = {8, 0, 2, 0, 2};
  for (int i = 0; i < 4; ++i) c1.insert(c1.end(), {10, static_cast<uint8_t>(i < covered ? 5 : 0)});
  return container_put_entry(base, 66, c1.data(), static_cast<uint32_t>(c1.size()));
}

TEST(MultiSampleEnrol, FirstTemplateIsAcceptedOrMarkedUnderPromotion) {
  for (int promotion : {0, 1}) {
    Rig r(promotion);
    ASSERT_NE(r.e, nullptr);
    ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
    EXPECT_EQ(enrol_count(r.e), 1) << promotion;
    EXPECT_EQ(r.m().slots[0].mark, promotion ? 1 : 0);
    EXPECT_TRUE(script().calls.empty());
    EXPECT_EQ(events(), std::vector<int>{8203});
  }
}

TEST(MultiSampleEnrol, LowCoverageAndSmallTemplatesBecomeSpare) {
  Rig r(0, 5, 50);
  DataBlob* poor = with_grid(r.tmpl(1), 1);
  r.blobs.push_back(poor);
  ASSERT_EQ(r.add(poor), ML_OK);
  EXPECT_EQ(enrol_count(r.e), 0);
  EXPECT_EQ(r.m().spare, 1);
  EXPECT_EQ(events(), (std::vector<int>{8203, 61442}));
  DataBlob* good = with_grid(r.tmpl(2), 3);
  r.blobs.push_back(good);
  ASSERT_EQ(r.add(good), ML_OK);
  EXPECT_EQ(enrol_count(r.e), 1);
  // Missing grid while the least coverage is above 100: refused.
  r.m().settings.least_coverage = 101;
  events().clear();
  ASSERT_EQ(r.add(r.tmpl(3)), ML_OK);
  EXPECT_EQ(events(), (std::vector<int>{8203, 61442}));
  r.m().settings.least_coverage = 0;
  r.m().settings.least_size = 60000;
  events().clear();
  ASSERT_EQ(r.add(r.tmpl(4)), ML_OK);
  EXPECT_EQ(events(), (std::vector<int>{8203, 61443}));
  EXPECT_EQ(enrol_count(r.e), 1);
}

TEST(MultiSampleEnrol, DuplicateOfTheNearestSampleIsRefused) {
  Rig r;
  script().default_score = 60000;  // every pair matches
  script().transform_dx = 0;       // at the same place
  ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
  events().clear();
  ASSERT_EQ(r.add(r.tmpl(2)), ML_OK);
  EXPECT_EQ(events(), (std::vector<int>{8203, 61441, 4103}));
  EXPECT_EQ(enrol_count(r.e), 1);
  EXPECT_EQ(r.m().spare, 1);
  // Moved far enough: accepted.
  script().transform_dx = 60;
  events().clear();
  ASSERT_EQ(r.add(r.tmpl(3)), ML_OK);
  EXPECT_EQ(enrol_count(r.e), 2);
  EXPECT_EQ(events(), std::vector<int>{8203});
}

TEST(MultiSampleEnrol, UnmatchedWaitsUnderPromotionAndIsAcceptedWithout) {
  for (int promotion : {0, 1}) {
    Rig r(promotion);
    script().default_score = 0;  // nothing matches
    ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
    events().clear();
    ASSERT_EQ(r.add(r.tmpl(2)), ML_OK);
    EXPECT_EQ(events(), (std::vector<int>{8203, 4104}));
    EXPECT_EQ(enrol_count(r.e), promotion ? 1 : 2);
    EXPECT_EQ(r.m().pending, promotion ? 1 : 0);
  }
}

TEST(MultiSampleEnrol, FullAndFinalise) {
  Rig r(0, 2);
  script().default_score = 0;
  DataBlob* out = nullptr;
  EXPECT_EQ(enrol_finalise(r.e, 10, &out, nullptr), ML_CORRUPT);
  ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
  ASSERT_EQ(r.add(r.tmpl(2)), ML_OK);
  int progress = -1;
  EXPECT_EQ(enrol_add_sample(r.e, nullptr, r.tmpl(3), &progress), ML_TOO_MANY);
  EXPECT_EQ(progress, 100);
  EXPECT_EQ(enrol_add_sample(r.e, nullptr, nullptr, &progress), ML_OUT_OF_LIMITS);
  EXPECT_EQ(enrol_finalise(r.e, 10, nullptr, nullptr), ML_BAD_ARGUMENT);
  ASSERT_EQ(enrol_finalise(r.e, 10, &out, nullptr), ML_OK);
  ASSERT_NE(out, nullptr);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(out, &t), ML_OK);
  EXPECT_EQ(kwzd_record_count(mvt_store(t)), 2);
  mvt_release(t);
  blob_release(out);
  EXPECT_EQ(enrol_set_limits(r.e, 3, 4, nullptr), ML_OK);
  EXPECT_EQ(r.m().settings.shift_tolerance, 3);
  // The head's further slots are empty here.
  EXPECT_EQ(enrol_context(r.e), nullptr);
  EXPECT_EQ(enrol_reset(r.e), ML_OUT_OF_LIMITS);
}

TEST(MultiSampleEnrol, SizeLimitAnswers19AfterTakingTheTemplate) {
  Rig r;
  r.m().settings.size_limit = 1;
  EXPECT_EQ(r.add(r.tmpl(1)), ML_TOO_MANY);
  EXPECT_EQ(enrol_count(r.e), 1);
}

TEST(MultiSampleEnrol, CreationRefusals) {
  Rig r;
  MultiSampleSettings s{};
  EXPECT_EQ(multi_enrol_create(r.engine, r.ctx, nullptr, nullptr, 84, &s), nullptr);
  EXPECT_EQ(multi_enrol_create_default(r.engine, nullptr, nullptr, 0, 2), nullptr);
  param_set(r.ctx, 0xfe5e27d9u, 7);
  EnrolSession* d = multi_enrol_create_default(r.engine, nullptr, nullptr, 3, 1);
  ASSERT_NE(d, nullptr);
  auto& m = *reinterpret_cast<MultiSampleEnrol*>(d);
  EXPECT_EQ(m.settings.shift_tolerance, 7);
  EXPECT_EQ(m.settings.angle_tolerance, 16);
  EXPECT_EQ(m.settings.most_compared, 3);
  EXPECT_EQ(m.settings.capacity, 10);
  enrol_destroy(d);
}

}  // namespace

namespace {

TEST(MultiSampleEnrol, AllocationFailuresLeaveTheEnrolmentUsable) {
  Rig r;
  script().default_score = 60000;
  script().transform_dx = 60;
  ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
  // Templates made before the sweep, so only the enrolment's allocations fail.
  std::vector<DataBlob*> fresh;
  for (int id = 2; id < 200; ++id) fresh.push_back(r.tmpl(id));
  size_t next = 0;
  zyl::test::sweep_allocation_failures([&] {
    const int before = enrol_count(r.e);
    ASSERT_LT(next, fresh.size());
    const int status = r.add(fresh[next++]);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(enrol_count(r.e), before);
    }
  });
  zyl::test::sweep_allocation_failures([&] {
    DataBlob* out = nullptr;
    const int status = enrol_finalise(r.e, 10, &out, nullptr);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(out, nullptr);
    }
    blob_release(out);
  });
}

}  // namespace

namespace {

TEST(MultiSampleEnrol, SparesMakeRoomForNewSamples) {
  Rig r(0, 3, 50);
  for (int id : {1, 2}) {
    DataBlob* poor = with_grid(r.tmpl(id), 1);
    r.blobs.push_back(poor);
    ASSERT_EQ(r.add(poor), ML_OK);
  }
  EXPECT_EQ(r.m().spare, 2);
  for (int id : {3, 4}) {
    DataBlob* good = with_grid(r.tmpl(id), 4);
    r.blobs.push_back(good);
    ASSERT_EQ(r.add(good), ML_OK);
  }
  // The second good sample took the room of one spare; the other stays.
  EXPECT_EQ(enrol_count(r.e), 2);
  EXPECT_EQ(r.m().spare, 1);
  EXPECT_EQ(zyl::test::template_id(r.m().slots[2].tmpl), 2);
}

}  // namespace

namespace {

TEST(MultiSampleEnrol, DefaultCreationReadsTheConfigurationCountAndWritesThePromotionMode) {
  // Capacity: the smaller of the configuration's count and its most views
  // (10 in the rig); a count of 0 gives no object.
  const struct {
    uint8_t count;
    int capacity;  // 0: no object
  } cases[] = {{0, 0}, {3, 3}, {10, 10}, {32, 10}};
  for (const auto& c : cases) {
    Rig r;
    const_cast<EngineConfig*>(engine_get_config(r.engine))->unnamed_u8_1 = c.count;
    EnrolSession* d = multi_enrol_create_default(r.engine, nullptr, nullptr, 0, 0);
    EXPECT_EQ(d != nullptr, c.capacity != 0) << int{c.count};
    if (d) {
      EXPECT_EQ(reinterpret_cast<MultiSampleEnrol*>(d)->settings.capacity, c.capacity);
    }
    enrol_destroy(d);
  }
  // Parameter 0x8c846b0a goes into the configuration's view-selection word
  // (its default is that word).
  for (int mode : {0, 1}) {
    Rig r;
    param_set(r.ctx, 0x8c846b0au, mode);
    EnrolSession* d = multi_enrol_create_default(r.engine, nullptr, nullptr, 0, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(engine_get_config(r.engine)->view_selection, mode);
    enrol_destroy(d);
  }
  Rig kept(1);
  EnrolSession* d = multi_enrol_create_default(kept.engine, nullptr, nullptr, 0, 0);
  EXPECT_EQ(engine_get_config(kept.engine)->view_selection, 1);
  enrol_destroy(d);
}

TEST(MultiSampleEnrol, EachAddReadsThePromotionModeFromTheEngine) {
  // Created without promotion; the engine's word set afterwards applies to
  // the next add: the first template is marked (promotion) rather than
  // accepted unmarked.
  Rig r(0);
  const_cast<EngineConfig*>(engine_get_config(r.engine))->view_selection = 1;
  ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
  EXPECT_EQ(r.m().slots[0].mark, 1);
  Rig off(1);
  const_cast<EngineConfig*>(engine_get_config(off.engine))->view_selection = 0;
  ASSERT_EQ(off.add(off.tmpl(1)), ML_OK);
  EXPECT_EQ(off.m().slots[0].mark, 0);
}

TEST(MultiSampleEnrol, KeepMarksFlagChoosesSelectionAtFinalise) {
  // Without the keep-marks flag the views are appended (the add flag's keep
  // option has no part in appending); with it they are selected, and the
  // add flag keep-flags each one.
  for (uint16_t keep_marks : {0, 1}) {
    Rig r(0, 2);
    script().default_score = 0;
    r.m().settings.add_flag = 1;
    r.m().settings.keep_marks = keep_marks;
    ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
    ASSERT_EQ(r.add(r.tmpl(2)), ML_OK);
    DataBlob* out = nullptr;
    ASSERT_EQ(enrol_finalise(r.e, 10, &out, nullptr), ML_OK);
    MultiViewTemplate* t = nullptr;
    ASSERT_EQ(mvt_from_blob(out, &t), ML_OK);
    EXPECT_EQ(kwzd_record_count(mvt_store(t)), 2);
    EXPECT_EQ(mvt_count_flagged_views(t, MVT_VIEW_KEEP), keep_marks ? 2 : 0) << keep_marks;
    mvt_release(t);
    blob_release(out);
  }
}

TEST(MultiSampleEnrol, FinaliseThatKeepsNoSampleGivesNoTemplate) {
  // With the keep-marks flag the samples are selected; a size limit below
  // every sample's size leaves none of them in the template, which is no
  // enrolment template: 19 and no blob, whichever way the views are added.
  for (uint16_t keep_marks : {0, 1}) {
    Rig r(0, 2);
    script().default_score = 0;
    r.m().settings.keep_marks = keep_marks;
    ASSERT_EQ(r.add(r.tmpl(1)), ML_OK);
    ASSERT_EQ(r.add(r.tmpl(2)), ML_OK);
    r.m().settings.size_limit = 40;
    DataBlob* out = nullptr;
    EXPECT_EQ(enrol_finalise(r.e, 10, &out, nullptr), ML_TOO_MANY) << keep_marks;
    EXPECT_EQ(out, nullptr) << keep_marks;
    blob_release(out);
    // Without the limit the same samples finalise.
    r.m().settings.size_limit = 0;
    ASSERT_EQ(enrol_finalise(r.e, 10, &out, nullptr), ML_OK) << keep_marks;
    blob_release(out);
  }
}

TEST(MultiSampleEnrol, ZeroWordIsAConstantZero) {
  const uint32_t* w = multi_enrol_zero_word();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(*w, 0u);
  EXPECT_EQ(multi_enrol_zero_word(), w);
}

}  // namespace
