// Static profile data of the light presets: the given rows pinned, the
// interpolated rows monotone, the neutral table and the last-stage model.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_profiles.h"
#include "zylscan/matchlib_score.h"

namespace {

using Row = std::vector<uint16_t>;

Row row(const FarThresholdTable* t, int r) { return Row(t->t[r], t->t[r] + FAR_LEVEL_COUNT); }

TEST(StaticProfiles, GivenRowsOfTheLightTables) {
  struct Case {
    const char* name;
    const FarThresholdTable* t;
    Row one, sixty_four;
  } cases[] = {
      {"light", far_table_light(),
       {0,   134, 192, 225, 256, 294, 320, 343, 377, 402, 429, 466, 484, 505,
        537, 565, 590, 622, 647, 671, 704, 728, 753, 785, 810, 835, 867, 892},
       {0,   303, 340, 364, 386, 415, 437, 457, 487, 507, 530, 561, 587, 612,
        645, 664, 687, 717, 739, 763, 794, 816, 839, 870, 892, 915, 946, 969}},
      {"light verify", far_table_light_verify(),
       {0,   196, 258, 298, 337, 387, 423, 459,  508,  546,  582,  633,  669,  706,
        762, 801, 834, 884, 922, 959, 1009, 1047, 1085, 1134, 1172, 1210, 1259, 1297},
       {0,   385, 441, 476,  510,  553,  586,  620,  665,  701,  736,  784,  820,  858,
        906, 939, 975, 1021, 1057, 1093, 1139, 1175, 1210, 1257, 1293, 1328, 1375, 1411}},
      {"light verify model", far_table_light_verify_model(),
       {0,    2442, 2721, 2852, 2945, 3039, 3096, 3147, 3211, 3258, 3311, 3385, 3455, 3533,
        3652, 3731, 3810, 3941, 4037, 4141, 4285, 4399, 4517, 4681, 4810, 4943, 5126, 5270},
       {0,    3110, 3161, 3195, 3228, 3273, 3312, 3357, 3432, 3504, 3589, 3718, 3811, 3912,
        4040, 4154, 4242, 4402, 4541, 4674, 4859, 5005, 5157, 5366, 5532, 5703, 5937, 6121}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(row(c.t, 0), c.one) << c.name;
    EXPECT_EQ(row(c.t, 6), c.sixty_four) << c.name;
    // Rows in between: non-decreasing along levels and candidate classes,
    // and halfway (8 candidates) at the midpoint.
    for (int r = 0; r < FAR_CLASS_COUNT; ++r)
      for (int l = 0; l < FAR_LEVEL_COUNT; ++l) {
        if (l) {
          EXPECT_LE(c.t->t[r][l - 1], c.t->t[r][l]) << c.name << " " << r << " " << l;
        }
        if (r) {
          EXPECT_LE(c.t->t[r - 1][l], c.t->t[r][l]) << c.name << " " << r << " " << l;
        }
      }
    EXPECT_EQ(c.t->t[3][27], (c.one[27] + c.sixty_four[27] + 1) / 2) << c.name;
  }
  // The light table's 8-candidate row at level 1: 134 + (303 - 134) / 2.
  EXPECT_EQ(far_table_light()->t[3][1], 219);
}

TEST(StaticProfiles, NeutralTableAcceptsEveryPositiveScore) {
  const FarThresholdTable* t = far_table_neutral();
  for (int r = 0; r < FAR_CLASS_COUNT; ++r)
    for (int l = 0; l < FAR_LEVEL_COUNT; ++l)
      EXPECT_EQ(t->t[r][l], r == 6 && l == 27 ? 1 : 0);
  EXPECT_EQ(far_score_from_thresholds(5, 1, t), FAR_SCORE_MAX);
}

TEST(StaticProfiles, LightVerifyModelRows) {
  const ScoreQuadraticRow* rows = score_rows_light_verify();
  const ScoreQuadraticRow& f30 = rows[30];
  EXPECT_EQ(f30.minimum, 0);
  EXPECT_EQ(f30.maximum, 18125);
  EXPECT_EQ(f30.mean, 227849676u);
  EXPECT_EQ(f30.spread, 908614515u);
  EXPECT_EQ(f30.weight, 1454);
  EXPECT_EQ(f30.quadratic_weight, -200);
  const ScoreQuadraticRow& f32 = rows[32];
  EXPECT_EQ(f32.maximum, 421);
  EXPECT_EQ(f32.mean, 6007106u);
  EXPECT_EQ(f32.spread, 23402951u);
  EXPECT_EQ(f32.weight, 3360);
  EXPECT_EQ(f32.quadratic_weight, 3429);
  for (int i = 0; i < LIGHT_VERIFY_MODEL_FIRST_ACTIVE; ++i) {
    EXPECT_EQ(rows[i].weight, 0) << i;
    EXPECT_EQ(rows[i].quadratic_weight, 0) << i;
  }

  ScoreModel m = score_model_light_verify();
  EXPECT_EQ(score_model_kind(&m), 4);
  EXPECT_EQ(m.feature_count, 58);
  // Scores rise with feature 32 (the match count of the last stage), the
  // other features at their rows' means (with every feature 0 the fitted
  // rows put the score at the bottom of its range).
  std::vector<uint16_t> low(58, 0), high(58, 0);
  for (int i = LIGHT_VERIFY_MODEL_FIRST_ACTIVE; i < LIGHT_VERIFY_MODEL_FEATURES; ++i)
    low[i] = high[i] = static_cast<uint16_t>(rows[i].mean >> 16);
  low[32] = 20;
  high[32] = 200;
  uint16_t s_low = 0, s_high = 0;
  ASSERT_EQ(score_model_evaluate_u16(&m, low.data(), 58, &s_low, nullptr), ML_OK);
  ASSERT_EQ(score_model_evaluate_u16(&m, high.data(), 58, &s_high, nullptr), ML_OK);
  EXPECT_GT(s_high, s_low);
}

// The 26 fitted rows: usable data of the model's form (a spread, a range
// that holds the mean's feature values, linear weights only), and enough of
// them weighted that the score depends on more than the two given rows.
TEST(StaticProfiles, LightVerifyFittedRowsAreUsable) {
  const ScoreQuadraticRow* rows = score_rows_light_verify();
  int weighted = 0;
  for (int i = LIGHT_VERIFY_MODEL_FIRST_ACTIVE; i < LIGHT_VERIFY_MODEL_FEATURES; ++i) {
    if (i == 30 || i == 32) continue;
    EXPECT_GT(rows[i].spread, 0u) << i;
    EXPECT_GT(rows[i].maximum, rows[i].minimum) << i;
    EXPECT_EQ(rows[i].quadratic_weight, 0) << i;
    weighted += rows[i].weight != 0;
  }
  EXPECT_GE(weighted, 20);
  // A grid-block feature with a fitted weight moves the score.
  ScoreModel m = score_model_light_verify();
  std::vector<uint16_t> base(58, 0), moved(58, 0);
  moved[48] = 4000;
  uint16_t s_base = 0, s_moved = 0;
  ASSERT_EQ(score_model_evaluate_u16(&m, base.data(), 58, &s_base, nullptr), ML_OK);
  ASSERT_EQ(score_model_evaluate_u16(&m, moved.data(), 58, &s_moved, nullptr), ML_OK);
  EXPECT_NE(s_base, s_moved);
}

}  // namespace
