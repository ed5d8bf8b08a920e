// False-accept scale, threshold tables and score profiles.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_score.h"

namespace {

// Thresholds rising along each row and down each column:
// row r, level L -> 1000 * (r + 1) + 100 * L.
FarThresholdTable rising_table() {
  FarThresholdTable t{};
  for (int r = 0; r < FAR_CLASS_COUNT; ++r)
    for (int l = 0; l < FAR_LEVEL_COUNT; ++l) t.t[r][l] = static_cast<uint16_t>(1000 * (r + 1) + 100 * l);
  return t;
}

FarThresholdTable neutral_table() {
  FarThresholdTable t{};
  t.t[6][27] = 1;
  return t;
}

struct Context {
  MatchContext* ctx = ctx_create();
  ~Context() { ctx_release(ctx); }
};

TEST(FarScale, LevelAndScoreConversions) {
  struct Case {
    int level;
    int score;
  } cases[] = {{0, 0},       {1, 2048},  {9, 20410},      {26, 59182}, {27, 61230},
               {28, -2258},  {-1, -2258}, {INT_MAX, 0}};
  for (const Case& c : cases) EXPECT_EQ(far_level_to_score(c.level), c.score) << c.level;
  EXPECT_EQ(static_cast<uint16_t>(far_level_to_score(28)), 63278);

  struct Back {
    uint16_t score;
    int level;
  } back[] = {{0, 0},      {1, 0},      {2047, 0},   {2048, 1},   {4754, 1},  {4755, 2},
              {61229, 26}, {61230, 27}, {63277, 27}, {63278, 28}, {65535, 28}};
  for (const Back& b : back) EXPECT_EQ(far_score_to_level(b.score), b.level) << b.score;
}

TEST(FarScale, AddBitsClampsToScale) {
  struct Case {
    uint16_t score;
    int bits;
    int expected;
  } cases[] = {{2048, 1, 4096}, {4096, -1, 2048}, {100, -5, 0}, {60000, 10, 63277},
               {63277, 0, 63277}, {63278, 1, -2258}, {0, INT_MAX, 63277}, {10, INT_MIN, 0}};
  for (const Case& c : cases) EXPECT_EQ(far_score_add_bits(c.score, c.bits), c.expected);
}

TEST(FarScale, RowLookupsInterpolate) {
  struct Case {
    FarScaleRow got;
    FarScaleRow want;
  } cases[] = {
      {far_level_row(27), {61230, 27, 1000000000}},
      {far_level_row(0), {0, 0, 1}},
      {far_level_row(30), {63278, 28, 2000000000}},
      {far_level_row(-1), {0, INT_MAX, INT_MAX}},
      {far_level_row(INT_MAX), {0, INT_MAX, INT_MAX}},
      {far_row_from_n(0), {0, 0, 1}},
      {far_row_from_n(1000), {20410, 9, 1000}},
      {far_row_from_n(1500), {21434, 9, 1500}},
      {far_row_from_n(1500000000u), {62254, 27, 1500000000}},
      {far_row_from_n(2000000000u), {63278, 28, 2000000000}},
      {far_row_from_score(0), {0, 0, 1}},
      {far_row_from_score(2048), {2048, 1, 2}},
      {far_row_from_score(21434), {21434, 9, 1500}},
      {far_row_from_score(62254), {62254, 27, 1500000000}},
      {far_row_from_score(63278), {63278, 28, 2000000000}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got.score, c.want.score);
    EXPECT_EQ(c.got.level, c.want.level);
    EXPECT_EQ(c.got.n, c.want.n);
  }
  EXPECT_EQ(far_scale_table()[29].level, INT_MAX);
}

TEST(FarScale, LevelHelpersAndScoreSteps) {
  EXPECT_EQ(far_level_limit(28), 28);
  EXPECT_EQ(far_level_limit(29), INT_MAX);
  EXPECT_EQ(far_level_clamp(-3), 0);
  EXPECT_EQ(far_level_clamp(27), 27);
  EXPECT_EQ(far_level_clamp(40), 28);
  EXPECT_EQ(far_level_shift(28, -5), 28);
  EXPECT_EQ(far_level_shift(10, 3), 13);
  EXPECT_EQ(far_level_shift(10, -20), 0);
  EXPECT_EQ(far_level_shift(27, 1), 28);
  EXPECT_EQ(score_step_value(-4), 0);
  EXPECT_EQ(score_step_value(3), 32768);
  EXPECT_EQ(score_step_value(12), 39571);
  EXPECT_EQ(score_step_passes(0, -100), 1);
  EXPECT_EQ(score_step_passes(9, 39570), 0);
  EXPECT_EQ(score_step_passes(50, 39571), 1);
}

TEST(FarThresholdAccept, InterpolatesByGallerySize) {
  Context c;
  const FarThresholdTable t = rising_table();
  struct Case {
    uint8_t candidates;
    int level;
    uint16_t threshold;
  } cases[] = {
      {0, 5, 1500},  {1, 5, 1500},  {2, 5, 2500},  {3, 5, 3000},  {4, 5, 3500},
      {6, 0, 3500},  {64, 27, 9700}, {48, 1, 6600},
      // above 64 the 32..64 segment goes on: 6100 + 1000 * 168 / 32
      {200, 1, 11350},
  };
  for (const Case& k : cases) {
    int accept = -1;
    uint16_t thr = 0;
    ASSERT_EQ(far_threshold_accept(c.ctx, k.threshold, k.candidates, k.level, &t, &accept, &thr), ML_OK);
    EXPECT_EQ(thr, k.threshold) << int(k.candidates);
    EXPECT_EQ(accept, 0) << "a score equal to the threshold is rejected";
    ASSERT_EQ(far_threshold_accept(c.ctx, k.threshold + 1, k.candidates, k.level, &t, &accept, nullptr), ML_OK);
    EXPECT_EQ(accept, 1);
  }
}

TEST(FarThresholdAccept, ExtrapolationSaturatesInsteadOfWrapping) {
  Context c;
  FarThresholdTable t = rising_table();
  t.t[5][3] = 40000;  // 32 candidates
  t.t[6][3] = 50000;  // 64 candidates
  struct Case {
    uint8_t candidates;
    uint16_t raw;
    uint16_t threshold;
    int accept;
  } cases[] = {
      {64, 45000, 50000, 0},
      {255, 45000, 0xffff, 0},  // 40000 + 10000 * 223 / 32 is beyond 16 bits
      {255, 0xffff, 0xffff, 0},
      {128, 65000, 0xffff, 0},  // 70000
      {96, 60000, 60000, 0},    // still inside the range
      {96, 60001, 60000, 1},
  };
  for (const Case& k : cases) {
    int accept = -1;
    uint16_t thr = 0;
    ASSERT_EQ(far_threshold_accept(c.ctx, k.raw, k.candidates, 3, &t, &accept, &thr), ML_OK);
    EXPECT_EQ(thr, k.threshold) << int(k.candidates);
    EXPECT_EQ(accept, k.accept) << int(k.candidates);
  }
  // A falling table extrapolates below zero: the threshold stops at 0.
  t.t[5][3] = 50000;
  t.t[6][3] = 40000;
  int accept = -1;
  uint16_t thr = 7;
  ASSERT_EQ(far_threshold_accept(c.ctx, 1, 255, 3, &t, &accept, &thr), ML_OK);
  EXPECT_EQ(thr, 0);
  EXPECT_EQ(accept, 1);
}

TEST(FarThresholdAccept, RefusesBadInputAndUnusableTables) {
  Context c;
  FarThresholdTable t = rising_table();
  int accept = 7;
  uint16_t thr = 0;
  EXPECT_EQ(far_threshold_accept(nullptr, 1, 1, 3, &t, &accept, &thr), ML_BAD_ARGUMENT);
  EXPECT_EQ(far_threshold_accept(c.ctx, 1, 1, 3, &t, nullptr, &thr), ML_BAD_ARGUMENT);
  EXPECT_EQ(far_threshold_accept(c.ctx, 1, 1, 3, nullptr, &accept, &thr), ML_WRONG_KIND);
  EXPECT_EQ(far_threshold_accept(c.ctx, 1, 1, INT_MAX, &t, &accept, &thr), ML_BAD_ARGUMENT);
  EXPECT_EQ(far_threshold_accept(c.ctx, 1, 1, 28, &t, &accept, &thr), ML_BAD_ARGUMENT);
  EXPECT_EQ(far_threshold_accept(c.ctx, 1, 1, -1, &t, &accept, &thr), ML_BAD_ARGUMENT);

  t.t[1][4] = 0xffff;  // level 4 has no threshold for 2 candidates
  accept = 7;
  EXPECT_EQ(far_threshold_accept(c.ctx, 60000, 3, 4, &t, &accept, &thr), ML_WRONG_KIND);
  EXPECT_EQ(accept, 0);
  EXPECT_EQ(thr, 0xffff);

  FarThresholdTable zero{};
  EXPECT_EQ(far_threshold_accept(c.ctx, 60000, 1, 4, &zero, &accept, &thr), ML_CORRUPT);

  const FarThresholdTable neutral = neutral_table();
  for (int level = 0; level < 28; ++level) {
    ASSERT_EQ(far_threshold_accept(c.ctx, 1, 1, level, &neutral, &accept, nullptr), ML_OK);
    EXPECT_EQ(accept, 1);
    ASSERT_EQ(far_threshold_accept(c.ctx, 0, 1, level, &neutral, &accept, nullptr), ML_OK);
    EXPECT_EQ(accept, 0);
  }
}

TEST(FarScoreFromThresholds, MapsRawScoresOntoTheScale) {
  const FarThresholdTable t = rising_table();
  struct Case {
    uint16_t raw;
    int candidates;
    int expected;
  } cases[] = {
      {0, 1, 0},            // below level 1: between level 0 (threshold 0) and 1
      {550, 1, 1024},       // half way to level 1's threshold 1100
      {1100, 1, 2048},      // exactly level 1
      {1150, 1, 2048 + (4755 - 2048) / 2},
      {3650, 1, 59182 + 1024},  // half way from level 26 to 27
      {3700, 1, 63277},         // at level 27's threshold: beyond the last interval
      {3800, 1, 63277},
      {2100, 2, 2048},      // two candidates use row 1
      {2600, 3, 2048},      // three: half way between rows 1 and 2
      {7100, 64, 2048},     // row 6
      {7100, 200, 2048},    // and no extrapolation beyond it
      {1234, 0, far_score_from_thresholds(1234, 1, &t)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(far_score_from_thresholds(c.raw, c.candidates, &t), c.expected)
        << c.raw << " " << c.candidates;
  EXPECT_EQ(far_score_from_thresholds(777, 1, nullptr), 777);
  const FarThresholdTable neutral = neutral_table();
  for (uint16_t raw : {0, 1, 500, 65535}) EXPECT_EQ(far_score_from_thresholds(raw, 1, &neutral), 63277);
}

int fixed_score(const int32_t* f, int count, const void*, int32_t* out, ScoreTrace*) {
  *out = count > 0 ? f[0] * 100 - 1000 : 0;
  return 0;
}

TEST(ScoreProfile, FindsByOperationsAndVariant) {
  static const int ops_a = 0, ops_b = 0;
  const ScoreProfile p1{&ops_a, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
  const ScoreProfile p2{&ops_a, 3, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
  const ScoreProfile p3{nullptr, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
  const ScoreProfile* list[] = {&p1, &p2, &p3, nullptr};
  EXPECT_EQ(score_profile_find(list, &ops_a, 0), &p1);
  EXPECT_EQ(score_profile_find(list, &ops_a, 3), &p2);
  EXPECT_EQ(score_profile_find(list, nullptr, 0), &p3);
  EXPECT_EQ(score_profile_find(list, &ops_b, 0), nullptr);
  EXPECT_EQ(score_profile_find(nullptr, &ops_a, 0), nullptr);
}

TEST(ScoreProfile, FusesThroughItsModelAndClamps) {
  const ScoreProfile pass{nullptr, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
  const ScoreProfile two{nullptr, 0, {nullptr, 2, fixed_score, nullptr}, nullptr};
  const ScoreProfile none{nullptr, 0, {nullptr, -1, nullptr, nullptr}, nullptr};
  const uint16_t v[3] = {1234, 5, 6};
  uint16_t out = 9;
  EXPECT_EQ(score_profile_fuse(v, 3, &pass, &out), ML_OK);
  EXPECT_EQ(out, 1234);
  EXPECT_EQ(score_profile_fuse(v, 3, &two, &out), ML_CORRUPT);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(score_profile_fuse(v, 2, &two, &out), ML_OK);
  EXPECT_EQ(out, 65535);  // 123400 - 1000 clamped
  const uint16_t low[1] = {3};
  EXPECT_EQ(score_profile_fuse(low, 1, &two, &out), ML_OK);
  EXPECT_EQ(out, 0);  // -700 clamped
  EXPECT_EQ(score_profile_fuse(v, 1, &none, &out), ML_OUT_OF_LIMITS);
}

}  // namespace
