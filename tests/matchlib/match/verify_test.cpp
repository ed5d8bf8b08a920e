// The verification walk over multi-view templates, the ranking of a flat
// list of views and pair scoring, driven by scripted stage routines.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "support/scripted_stages.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_verify.h"

namespace {

using zyl::test::make_template;
using zyl::test::script;
using Calls = std::vector<std::pair<int, int>>;
constexpr int kProbe = 99;

const ScoreProfile kProfile1{&zyl::test::kScriptedOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile kProfile2{&zyl::test::kScriptedOps2, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile kProfile3{&zyl::test::kScriptedOps3, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile* const kProfiles[] = {&kProfile1, &kProfile2, &kProfile3, nullptr};
const StageMatchOps* const kOps[] = {&zyl::test::kScriptedOps, &zyl::test::kScriptedOps2, &zyl::test::kScriptedOps3};

struct Walk {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  std::vector<StageObject*> stages;
  std::vector<DataBlob*> gallery;
  DataBlob* probe = make_template(kProbe, 80);
  MatchResult* result = nullptr;

  explicit Walk(int stage_count = 1, const std::vector<uint16_t>& flags = {}) {
    script() = {};
    StageChain* chain = chain_create();
    for (int i = 0; i < stage_count; ++i) {
      StageObject* s = stage_create(nullptr, 79, nullptr, kOps[i % 3], 0, 0);
      if (i < static_cast<int>(flags.size())) stage_set_flags(s, flags[static_cast<size_t>(i)]);
      chain_append(chain, s);
      stages.push_back(s);
    }
    engine = engine_create(ctx, chain, 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
    engine_set_score_profiles(engine, kProfiles);
  }
  ~Walk() {
    for (DataBlob* b : gallery) blob_release(b);
    blob_release(probe);
    match_result_release(result);
    engine_release(engine);
    ctx_release(ctx);
  }
  // A multi-view template of views with these ids (and qualities).
  void entry(const std::vector<int>& ids, uint8_t quality = 80, int16_t dx = 0) {
    MultiViewTemplate* t = mvt_create(255);
    for (int id : ids) {
      DataBlob* v = make_template(id, quality);
      RigidTransform* xf = xform_create(dx, 0, 0);
      mvt_add_view(mvt_store(t), v, xf, 0, 0, nullptr);
      xform_release(xf);
      blob_release(v);
    }
    gallery.push_back(mvt_serialize(t, 0));
    mvt_release(t);
  }
  void score(int id, uint16_t s) { script().table[{id, kProbe}] = {s}; }
  int run(int level) {
    match_result_release(result);
    result = match_result_create(static_cast<int>(gallery.size()));
    return verify_against_gallery(gallery.data(), static_cast<uint8_t>(gallery.size()), engine_get_chain(engine),
                                  ctx, probe, nullptr, level, result, engine_get_config(engine));
  }
};

TEST(VerifyWalk, VisitsTheViewsOfTheEntriesInTurn) {
  Walk w;
  w.entry({1, 2, 3});
  w.entry({10});
  w.entry({20, 21});
  ASSERT_EQ(w.run(28), ML_OK);
  EXPECT_EQ(script().calls, (Calls{{1, kProbe}, {10, kProbe}, {20, kProbe}, {2, kProbe}, {21, kProbe}, {3, kProbe}}));
  EXPECT_EQ(w.result->decision, 0);
  EXPECT_EQ(w.result->candidates[0].slots[0][0], 3u);
  EXPECT_EQ(w.result->candidates[1].slots[0][0], 1u);
}

TEST(VerifyWalk, FusionWeightGrowsWithTheViewCount) {
  struct Case {
    int n;
    uint16_t fused;
  } cases[] = {{0, 0},    {1, 1100},  {2, 1000},  {8, 1000},  {9, 916},  {17, 916},
               {18, 846}, {27, 846},  {28, 785},  {35, 785},  {36, 733}, {255, 733}};
  for (const Case& c : cases) EXPECT_EQ(verify_fuse_top(1100, 0, c.n), c.fused) << c.n;

  Walk w;
  w.entry({1, 2});
  w.score(1, 1100);
  w.score(2, 0);
  ASSERT_EQ(w.run(28), ML_OK);
  EXPECT_EQ(w.result->score, 1000);
  EXPECT_EQ(w.result->best_raw_score, 1000);   // fused raw
  EXPECT_EQ(w.result->second_raw_score, 1100);  // best single view
  EXPECT_EQ(w.result->best_view, 0);
}

TEST(VerifyWalk, AcceptsOnTheFirstViewWhoseFusedScorePassesAndReportsTheBestEntry) {
  Walk w;
  w.entry({1, 2, 3});
  w.entry({10, 11});
  w.score(1, 100);
  w.score(10, 30000);  // above level 10 (22458); fused with 0 over two views: 27272
  ASSERT_EQ(w.run(10), ML_OK);
  EXPECT_EQ(w.result->decision, 1);
  EXPECT_EQ(script().calls, (Calls{{1, kProbe}, {10, kProbe}}));
  EXPECT_EQ(w.result->best_candidate, 1);
  EXPECT_EQ(w.result->score, 27272);
  EXPECT_EQ(w.result->requested_level, 10);
  EXPECT_EQ(w.result->deciding_stage, 0);
  EXPECT_EQ(match_result_check(w.result), 1);
}

TEST(VerifyWalk, EarlyRejectFinishesAnEntry) {
  Walk w;
  stage_set_early_decision(w.stages[0], 5, 1);  // at or below 11559 after one view
  w.entry({1, 2, 3});
  w.entry({10, 11});
  w.score(1, 100);
  w.score(10, 20000);
  w.score(11, 20000);
  ASSERT_EQ(w.run(28), ML_OK);
  EXPECT_EQ(script().calls, (Calls{{1, kProbe}, {10, kProbe}, {11, kProbe}}));
  EXPECT_EQ(w.result->best_candidate, 1);
}

TEST(VerifyWalk, QualityGateRemovesPoorViews) {
  Walk w;
  w.entry({1, 2}, 10);
  w.entry({10}, 60);
  w.result = match_result_create(2);
  w.result->angle_limit = 50;  // minimum view quality
  script().calls.clear();
  ASSERT_EQ(verify_against_gallery(w.gallery.data(), 2, engine_get_chain(w.engine), w.ctx, w.probe, nullptr, 28,
                                   w.result, engine_get_config(w.engine)),
            ML_OK);
  EXPECT_EQ(script().calls, (Calls{{10, kProbe}}));

  Walk all;
  all.entry({1, 2}, 10);
  all.result = match_result_create(1);
  all.result->angle_limit = 50;
  EXPECT_EQ(verify_against_gallery(all.gallery.data(), 1, engine_get_chain(all.engine), all.ctx, all.probe,
                                   nullptr, 28, all.result, engine_get_config(all.engine)),
            ML_CORRUPT);
  EXPECT_TRUE(script().calls.empty());
}

// Calls of the second stage for an entry of ten views, with the second
// stage's candidate limit, the budget parameters and percentage.
size_t second_stage_calls(uint8_t limit, int k1, int k2, int percent, int stages = 3) {
  Walk w(stages);
  stage_set_max_candidates(w.stages[1], limit);
  if (k1) param_set(w.ctx, 0xedd2395e, k1);
  if (k2) param_set(w.ctx, 0x2ad7b5de, k2);
  w.entry({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  w.result = match_result_create(1);
  w.result->score_limit = percent;
  const int status = verify_against_gallery(w.gallery.data(), 1, engine_get_chain(w.engine), w.ctx, w.probe,
                                            nullptr, 28, w.result, engine_get_config(w.engine));
  if (status != ML_OK) return 1000 + static_cast<size_t>(status);
  return static_cast<size_t>(w.result->candidates[0].slots[1][0]);
}

TEST(VerifyWalk, BudgetsTrimTheViewsForTheNextStage) {
  struct Case {
    uint8_t limit;
    int k1, k2, percent;
    size_t calls;
  } cases[] = {
      {4, 0, 0, 0, 4},
      {2, 20, 4, 0, 3},       // x = (18 * 4 - 2 * 10) / 16 = 3.25 -> 3; B = max(2, 3)
      {2, 12, 4, 0, 2},       // x = (10 * 4 - 2 * 10) / 8 = 2.5 -> 2
      {2, 6, 6, 0, 10},       // K2 = K1: the budget is the view count
      {4, 0, 0, 50, 6},       // 4 + 2
      {4, 0, 0, -100, 1},     // shrinks to 1 at the least
      {0, 0, 0, 0, 0},        // a budget of 0 finishes the entry
  };
  for (const Case& c : cases)
    EXPECT_EQ(second_stage_calls(c.limit, c.k1, c.k2, c.percent), c.calls)
        << int{c.limit} << " " << c.k1 << " " << c.k2 << " " << c.percent;
  // The percentage applies only when the next stage has a following one.
  EXPECT_EQ(second_stage_calls(4, 0, 0, 50, 2), 4u);
  EXPECT_EQ(second_stage_calls(4, 0, 0, -101), 1000u + ML_BAD_ARGUMENT);
}

TEST(VerifyWalk, AStageThatSkipsPairsConsumesAGroup) {
  Walk w(2, {STAGE_FLAG_SKIP_PAIR, 0});
  w.entry({1, 2});
  w.score(1, 500);
  ASSERT_EQ(w.run(28), ML_OK);
  EXPECT_EQ(w.result->candidates[0].slots[0][0], 0u);
  EXPECT_EQ(w.result->candidates[0].slots[1][0], 2u);
  EXPECT_EQ(w.result->deciding_stage, 1);
  EXPECT_EQ(w.result->candidates[0].slots[1][2] & 0xffff, 500u);
}

TEST(VerifyWalk, AlignmentIsTheViewTransformAfterTheInverseMatchTransform) {
  Walk w;
  w.entry({1}, 80, 20);
  script().transform_dx = 5;
  w.score(1, 700);
  ASSERT_EQ(w.run(28), ML_OK);
  ASSERT_NE(w.result->transform, nullptr);
  EXPECT_EQ(xform_get_dx(w.result->second_transform), 5);
  EXPECT_EQ(xform_get_dx(w.result->transform), 15);
  EXPECT_EQ(w.result->best_blob != nullptr, true);
  EXPECT_EQ(w.result->further_blob, w.gallery[0]);
  EXPECT_EQ(w.result->probe_resolution, 500);
}

TEST(VerifyWalk, RefusesBadArguments) {
  Walk w(7);
  w.entry({1});
  EXPECT_EQ(w.run(28), ML_BAD_ARGUMENT);  // more than six stages
  Walk v;
  v.entry({1});
  EXPECT_EQ(v.run(INT_MAX), ML_BAD_ARGUMENT);
  GrayImage* image = image_create(8, 8, 500, 500, nullptr, 0);
  EXPECT_EQ(verify_against_gallery(v.gallery.data(), 1, engine_get_chain(v.engine), v.ctx, v.probe, image, 28,
                                   v.result, engine_get_config(v.engine)),
            ML_BAD_ARGUMENT);
  image_release(image);
  script().fail_status = ML_TOO_POOR;
  EXPECT_EQ(v.run(28), ML_TOO_POOR);
}

// The thresholds of a profile that puts raw 1000 at level 10 for any view count.
FarThresholdTable level_table() {
  FarThresholdTable t{};
  for (auto& row : t.t)
    for (int k = 0; k < FAR_LEVEL_COUNT; ++k) row[k] = static_cast<uint16_t>(k * 100);
  return t;
}

TEST(VerifyWalk, LevelBeyondTheTableRunsEveryStageAndReportsTheAdjustedScore) {
  static const FarThresholdTable table = level_table();
  static const ScoreProfile p1{&zyl::test::kScriptedOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, &table};
  static const ScoreProfile p2{&zyl::test::kScriptedOps2, 0, {nullptr, -1, score_model_eval_pass, nullptr}, &table};
  static const ScoreProfile* const profiles[] = {&p1, &p2, nullptr};
  Walk w(2);
  engine_set_score_profiles(w.engine, profiles);
  stage_set_threshold_offset(w.stages[1], 1);
  script().default_score = 1000;
  DataBlob* plain = make_template(1, 80);
  uint16_t score = 0;
  ASSERT_EQ(engine_verify_score(w.engine, &plain, 1, w.probe, &score), ML_OK);
  EXPECT_EQ(script().calls.size(), 2u);  // both stages, nothing accepted at level 28
  EXPECT_EQ(score, 22458 - 2048);
  blob_release(plain);
}

TEST(VerifyWalk, MultiViewGalleryBlobsArriveUnwrapped) {
  Walk w;
  w.entry({1, 2});
  DataBlob* plain = make_template(3);
  DataBlob* gallery[] = {w.gallery[0], plain};
  DataBlob** views = engine_gallery_to_views(w.engine, gallery, 2);
  ASSERT_NE(views, nullptr);
  EXPECT_EQ(views[0], w.gallery[0]);
  EXPECT_NE(views[1], plain);
  EXPECT_EQ(blob_type(views[1]), KWZD_FORMAT);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(views[1], &t), ML_OK);
  EXPECT_EQ(mvt_count_unmarked_views(t), 1);
  mvt_release(t);
  engine_free_views(views, 2);
  blob_release(plain);
  uint16_t score = 7;
  EXPECT_EQ(engine_verify_score(w.engine, gallery, 0, w.probe, &score), ML_BAD_ARGUMENT);
  EXPECT_EQ(score, 0);
  MatchResult* r = match_result_create(1);
  GrayImage* image = image_create(8, 8, 500, 500, nullptr, 0);
  EXPECT_EQ(engine_match_gallery(w.engine, gallery, 1, w.probe, image, 28, r), ML_BAD_ARGUMENT);
  image_release(image);
  match_result_release(r);
}

TEST(VerifyWalk, AGalleryBlobAboveTheSizeLimitFailsTheMatch) {
  // A plain gallery blob becomes a one-view template under the engine's
  // size limit; one that the template cannot take would leave an entry
  // without views, so the gallery is not made and the match fails (9)
  // without scoring anything.
  Walk w;
  DataBlob* plain = make_template(3);
  const_cast<EngineConfig*>(engine_get_config(w.engine))->size_limit = static_cast<int32_t>(blob_size(plain));
  EXPECT_EQ(engine_gallery_to_views(w.engine, &plain, 1), nullptr);
  MatchResult* r = match_result_create(1);
  EXPECT_EQ(engine_match_gallery(w.engine, &plain, 1, w.probe, nullptr, 28, r), ML_NO_MEMORY);
  EXPECT_TRUE(script().calls.empty());
  // Under a limit that leaves room for the view's record it is matched.
  const_cast<EngineConfig*>(engine_get_config(w.engine))->size_limit = static_cast<int32_t>(blob_size(plain) + 200);
  DataBlob** views = engine_gallery_to_views(w.engine, &plain, 1);
  ASSERT_NE(views, nullptr);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(views[0], &t), ML_OK);
  EXPECT_EQ(mvt_count_unmarked_views(t), 1);
  mvt_release(t);
  engine_free_views(views, 1);
  EXPECT_EQ(engine_match_gallery(w.engine, &plain, 1, w.probe, nullptr, 28, r), ML_OK);
  EXPECT_FALSE(script().calls.empty());
  match_result_release(r);
  blob_release(plain);
}

TEST(VerifyViews, NeverComparesTheProbeWithItself) {
  Walk w;
  DataBlob* a = make_template(1);
  DataBlob* b = make_template(2);
  DataBlob* views[] = {a, w.probe, b};
  w.score(1, 100);
  w.score(2, 30000);
  ViewVerdict verdicts[3] = {};
  int count = 3;
  ASSERT_EQ(verify_against_views(views, 3, engine_get_chain(w.engine), w.ctx, w.probe, 10, &count, verdicts), ML_OK);
  EXPECT_EQ(script().calls, (Calls{{1, kProbe}, {2, kProbe}}));
  ASSERT_EQ(count, 3);
  EXPECT_EQ(verdicts[0].view_index, 2);
  EXPECT_EQ(verdicts[0].decision, 1);
  EXPECT_EQ(verdicts[1].view_index, 0);
  EXPECT_EQ(verdicts[1].decision, 0);
  EXPECT_EQ(verdicts[2].view_index, 1);
  EXPECT_EQ(verdicts[2].score, 0);
  for (ViewVerdict& v : verdicts) xform_release(v.transform);
  blob_release(a);
  blob_release(b);
}

TEST(PairScoring, RestartingStagesSendTheVectorBackToTheFront) {
  Walk w(3, {0, STAGE_FLAG_RESTART_SCORES, 0});
  script().sequence = {{1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11, 12}};
  DataBlob* view = make_template(1);
  uint16_t* scores = nullptr;
  uint16_t count = 0;
  uint16_t fused = 0;
  ASSERT_EQ(engine_score_pair(w.engine, view, w.probe, &fused, &scores, &count, nullptr, nullptr), ML_OK);
  ASSERT_EQ(count, 5);
  EXPECT_EQ(std::vector<uint16_t>(scores, scores + 5), (std::vector<uint16_t>{8, 9, 10, 11, 12}));
  EXPECT_EQ(fused, 12);
  std::free(scores);

  // Stopping at the second stage's ops: the count so far.
  script().calls.clear();
  ASSERT_EQ(engine_score_pair(w.engine, view, w.probe, &fused, nullptr, &count, nullptr, &zyl::test::kScriptedOps2),
            ML_OK);
  EXPECT_EQ(count, 7);

  Walk big(2);
  script().sequence = {std::vector<uint16_t>(100, 1), std::vector<uint16_t>(29, 1)};
  EXPECT_EQ(engine_score_pair(big.engine, view, big.probe, &fused, nullptr, &count, nullptr, nullptr), ML_CORRUPT);
  blob_release(view);
}

TEST(PairScoring, ViewScoresOfAMultiViewTemplate) {
  Walk w(2);
  w.entry({1, 2, 3}, 80, 12);
  w.score(1, 100);
  w.score(2, 300);
  w.score(3, 200);
  GalleryEntry entry{};
  ASSERT_EQ(mvt_score_views(w.gallery[0], nullptr, w.ctx, w.probe, &entry), ML_OK);
  EXPECT_EQ(entry.best_view, 1u);
  EXPECT_EQ(entry.best_score, 300);
  EXPECT_EQ(entry.fused_score, (10 * 300 + 200) / 11);
  EXPECT_EQ(xform_get_dx(entry.alignment), 12);
  gallery_entry_clear(&entry);
  EXPECT_EQ(entry.best_blob, nullptr);

  EXPECT_EQ(engine_pick_stage(w.engine), &zyl::test::kScriptedOps2);
  param_set(w.ctx, 0x4bc0d3c6, 0);
  EXPECT_EQ(engine_pick_stage(w.engine), &zyl::test::kScriptedOps);
  param_set(w.ctx, 0x4bc0d3c6, 2);
  EXPECT_EQ(engine_pick_stage(w.engine), nullptr);

  // The gallery's best score is the entry's fused score.
  uint16_t best = 0;
  param_set(w.ctx, 0x4bc0d3c6, -1);
  ASSERT_EQ(engine_best_score(w.engine, w.gallery.data(), 1, w.probe, &best, nullptr), ML_OK);
  EXPECT_EQ(best, (10 * 300 + 200) / 11);
}

TEST(PairScoring, GalleryScoringRanksEntriesByTheirFusedScore) {
  // Views scoring {300, 0, 0} fuse to 272, views scoring {280, 280, 280} to
  // 280: the second entry wins whichever comes first, though the first
  // holds the best single view. The result's best raw score is the fused
  // score, its second raw score the winner's best single view.
  const struct {
    bool agreeing_first;
    int winner;
  } cases[] = {{false, 1}, {true, 0}};
  for (const auto& c : cases) {
    Walk w;
    const std::vector<int> one_good = {1, 2, 3}, agreeing = {4, 5, 6};
    w.entry(c.agreeing_first ? agreeing : one_good);
    w.entry(c.agreeing_first ? one_good : agreeing);
    w.score(1, 300);
    w.score(2, 0);
    w.score(3, 0);
    for (int id : agreeing) w.score(id, 280);
    w.result = match_result_create(2);
    ASSERT_EQ(engine_call_gallery_score(w.engine, w.gallery.data(), 2, w.probe, w.result), ML_OK);
    EXPECT_EQ(w.result->best_candidate, c.winner) << c.agreeing_first;
    EXPECT_EQ(w.result->best_raw_score, 280) << c.agreeing_first;
    EXPECT_EQ(w.result->second_raw_score, 280) << c.agreeing_first;
  }
  Walk alone;
  alone.entry({1, 2, 3});
  alone.score(1, 300);
  alone.score(2, 0);
  alone.score(3, 0);
  alone.result = match_result_create(1);
  ASSERT_EQ(engine_score_gallery(alone.engine, alone.gallery.data(), 1, alone.probe, alone.result), ML_OK);
  EXPECT_EQ(alone.result->best_raw_score, (10 * 300) / 11);
  EXPECT_EQ(alone.result->second_raw_score, 300);
  EXPECT_EQ(alone.result->best_view, 0);
}

TEST(PairScoring, DecisionCountsAreIndexedByTheBestRawScore) {
  // A threshold table makes the FAR-scale score differ from the raw score:
  // the counter of the raw score (the fused raw score of the best entry)
  // goes up, not that of the FAR-scale score.
  static const FarThresholdTable table = level_table();
  static const ScoreProfile p1{&zyl::test::kScriptedOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, &table};
  static const ScoreProfile* const profiles[] = {&p1, nullptr};
  Walk w;
  engine_set_score_profiles(w.engine, profiles);
  script().default_score = 1000;
  DataBlob* plain = make_template(1, 80);
  std::vector<uint32_t> counters(65536, 0);
  ASSERT_EQ(engine_count_decision(w.engine, &plain, 1, w.probe, nullptr, counters.data()), ML_OK);
  EXPECT_EQ(counters[1000], 1u);
  EXPECT_EQ(counters[22458], 0u) << "the FAR-scale score of 1000";
  uint32_t total = 0;
  for (uint32_t c : counters) total += c;
  EXPECT_EQ(total, 1u);
  blob_release(plain);
}

}  // namespace

namespace {

TEST(VerifyWalk, AStageGroupKeepsAtMost64SubScores) {
  Walk w;
  w.entry({1});
  std::vector<uint16_t> many(70);
  for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint16_t>(i + 1);
  script().table[{1, kProbe}] = many;
  ASSERT_EQ(w.run(28), ML_OK);
  const uint32_t* g = w.result->candidates[0].slots[0];
  EXPECT_EQ(g[36], 64u);
  EXPECT_EQ(g[4], 1u | (2u << 16));
  EXPECT_EQ(g[35], 63u | (64u << 16));
  EXPECT_EQ(g[2] & 0xffff, 70u);  // the fused raw score: the newest sub-score
  EXPECT_EQ(w.result->index_count, 70);  // the result's own list is not cut
}

}  // namespace

namespace {

// What the spy template operations were given and answer.
struct TemplateSpy {
  int merge_calls = 0, adapt_calls = 0;
  int count = -1;
  DataBlob* const* blobs = nullptr;
  const KwzdWriter* writer = nullptr;
  void* writer_data = nullptr;
  MatchResult* result = nullptr;
  int status = ML_OK;
  bool give_blob = true;
};
TemplateSpy tspy;

int SpyMerge(MatchEngine*, DataBlob* base, DataBlob* const* blobs, int count, DataBlob** out,
             const KwzdWriter* writer, void* writer_data) {
  ++tspy.merge_calls;
  tspy.blobs = blobs;
  tspy.count = count;
  tspy.writer = writer;
  tspy.writer_data = writer_data;
  *out = tspy.give_blob ? blob_retain(base) : nullptr;
  return tspy.status;
}
int SpyAdapt(MatchEngine*, DataBlob* blob, MatchResult* result, DataBlob** out, const KwzdWriter* writer,
             void*) {
  ++tspy.adapt_calls;
  tspy.result = result;
  tspy.writer = writer;
  *out = tspy.give_blob ? blob_retain(blob) : nullptr;
  return tspy.status;
}

TEST(TemplateSlots, ThinCallsReachTheInstalledOperations) {
  Walk w;
  w.entry({1, 2});
  tspy = {};
  const EngineTemplateOps ops{SpyMerge, SpyAdapt};
  engine_set_template_ops(w.engine, &ops);
  DataBlob* base = w.gallery[0];
  DataBlob* blobs[] = {w.probe};
  DataBlob* out = nullptr;
  ASSERT_EQ(engine_call_merge(w.engine, base, blobs, 1, &out), ML_OK);
  EXPECT_EQ(out, base);
  blob_release(out);
  EXPECT_EQ(tspy.blobs, blobs);
  EXPECT_EQ(tspy.count, 1);
  EXPECT_EQ(tspy.writer, nullptr);
  const KwzdWriter writer{};
  int data = 0;
  ASSERT_EQ(engine_call_merge_with(w.engine, base, blobs, 1, &out, &writer, &data), ML_OK);
  blob_release(out);
  EXPECT_EQ(tspy.writer, &writer);
  EXPECT_EQ(tspy.writer_data, &data);
  MatchResult* r = match_result_create(1);
  ASSERT_EQ(engine_call_adapt(w.engine, base, r, &out), ML_OK);
  blob_release(out);
  EXPECT_EQ(tspy.result, r);
  EXPECT_EQ(tspy.adapt_calls, 1);
  EXPECT_EQ(tspy.merge_calls, 2);

  // Missing engine, blob pointers, output or count: 2, and no slot called.
  EXPECT_EQ(engine_call_merge(nullptr, base, blobs, 1, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_merge(w.engine, nullptr, blobs, 1, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_merge(w.engine, base, nullptr, 1, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_merge(w.engine, base, blobs, 0, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_merge(w.engine, base, blobs, 1, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_merge_with(w.engine, base, blobs, 0, &out, &writer, &data), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_reserialize(w.engine, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_reserialize(nullptr, base, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_adapt(w.engine, nullptr, r, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_adapt(w.engine, base, nullptr, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_adapt(nullptr, base, r, &out), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_gallery_score(w.engine, w.gallery.data(), 0, w.probe, r), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_call_gallery_score(w.engine, w.gallery.data(), 1, nullptr, r), ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tspy.merge_calls, 2);
  EXPECT_EQ(tspy.adapt_calls, 1);

  // Re-serialisation: the merge slot with no blobs; a 17 that leaves no
  // blob becomes 19, any other answer passes as it is.
  const struct {
    int status;
    bool blob;
    int expected;
  } cases[] = {{ML_CORRUPT, false, ML_TOO_MANY}, {ML_CORRUPT, true, ML_CORRUPT},
               {ML_NO_MEMORY, false, ML_NO_MEMORY}, {ML_OK, true, ML_OK}};
  for (const auto& c : cases) {
    tspy.status = c.status;
    tspy.give_blob = c.blob;
    EXPECT_EQ(engine_call_reserialize(w.engine, base, &out), c.expected) << c.status << c.blob;
    EXPECT_EQ(tspy.count, 0);
    EXPECT_EQ(tspy.blobs, nullptr);
    EXPECT_EQ(out != nullptr, c.blob);
    blob_release(out);
    out = nullptr;
  }

  // The built-in merge of a template in append mode adds nothing without
  // blobs: 19 through the wrapper.
  engine_set_template_ops(w.engine, nullptr);
  MultiViewTemplate* t = mvt_create(4);
  DataBlob* v = make_template(1, 80);
  kwzd_append(mvt_store(t), v, nullptr);
  blob_release(v);
  DataBlob* appending = mvt_serialize(t, 0);
  mvt_release(t);
  EXPECT_EQ(engine_call_reserialize(w.engine, appending, &out), ML_TOO_MANY);
  EXPECT_EQ(out, nullptr);
  blob_release(appending);
  match_result_release(r);
}

}  // namespace
