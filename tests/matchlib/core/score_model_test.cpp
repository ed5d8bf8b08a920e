// Score models: the six kinds' evaluation, the stored form and its reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "support/prefix_sweep.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_score.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t q16(uint32_t v) { return v << 16; }

ScoreModel linear_model(std::vector<ScoreLinearRow>& rows, ScoreEvaluate eval) {
  return ScoreModel{rows.data(), static_cast<int32_t>(rows.size()), eval, nullptr};
}

int32_t eval(const ScoreModel& m, std::vector<int32_t> f) {
  int32_t out = -1;
  EXPECT_EQ(score_model_evaluate(&m, f.data(), static_cast<int>(f.size()), &out, nullptr), ML_OK);
  return out;
}

TEST(ScoreModelLinear, KnownAnswers) {
  // One feature, mean 100, spread 10, weight 800: W / 8 = 100.
  std::vector<ScoreLinearRow> rows{{0, 1000, q16(100), q16(10), 800}};
  const ScoreModel k2 = linear_model(rows, score_model_eval_linear);
  const ScoreModel k3 = linear_model(rows, score_model_eval_linear_zero);
  struct Case {
    int32_t feature;
    int32_t kind2;
  } cases[] = {
      {100, 4096},                // at the mean: the base
      {110, 4096 + 32768},        // one spread above: 800 * 4096 / 100
      {90, 4096 - 32768},         // one spread below
      {105, 4096 + 16384},
      {-50, 4096 - 10 * 32768},   // clamped to the minimum 0
      {5000, 4096 + 90 * 32768},  // clamped to the maximum 1000
  };
  for (const Case& c : cases) {
    EXPECT_EQ(eval(k2, {c.feature}), c.kind2) << c.feature;
    EXPECT_EQ(eval(k3, {c.feature}), c.kind2 - 4096) << c.feature;
  }
}

TEST(ScoreModelLinear, WeightsCountEvenWhereTheSpreadIsZero) {
  // The second row has no spread: no term, but its weight still divides.
  std::vector<ScoreLinearRow> rows{{0, 1000, q16(100), q16(10), 800}, {0, 1000, q16(5), 0, -800}};
  EXPECT_EQ(eval(linear_model(rows, score_model_eval_linear), {110, 999}), 4096 + 16384);
  // Total weight 4 is below 8: the divisor is 1.
  std::vector<ScoreLinearRow> light{{0, 1000, q16(100), q16(10), 4}};
  EXPECT_EQ(eval(linear_model(light, score_model_eval_linear), {110}), 4096 + 4 * 4096);
}

TEST(ScoreModelLinear, OnlyTheLowEightBitsOfTheCountCount) {
  std::vector<ScoreLinearRow> rows(256, ScoreLinearRow{0, 1000, q16(100), q16(10), 800});
  const ScoreModel m = linear_model(rows, score_model_eval_linear);
  std::vector<int32_t> f(256, 110);
  EXPECT_EQ(eval(m, f), 0);
  f.resize(257);  // 257 & 0xff = 1 feature
  EXPECT_EQ(eval(m, f), 4096 + 32768);
  EXPECT_EQ(eval(m, {}), 0);
}

TEST(ScoreModelLinear, RefusesMoreFeaturesThanRows) {
  std::vector<ScoreLinearRow> rows{{0, 1000, q16(100), q16(10), 800}};
  const ScoreModel m = linear_model(rows, score_model_eval_linear);
  int32_t out = 5;
  const int32_t f[3] = {1, 2, 3};
  EXPECT_EQ(score_model_evaluate(&m, f, 3, &out, nullptr), ML_CORRUPT);
  EXPECT_EQ(out, 0);
  uint16_t s16 = 5;
  const uint16_t u[3] = {1, 2, 3};
  EXPECT_EQ(score_model_evaluate_u16(&m, u, 3, &s16, nullptr), ML_CORRUPT);
}

TEST(ScoreModelQuadratic, AddsTheSquaredTermAndClampsTo16Bits) {
  // Quadratic weight 100 only: two spreads from the mean give
  // ((D * D) / spread) * 100 / spread = 400; W / 8 = 12.
  std::vector<ScoreQuadraticRow> rows{{0, 1000, q16(100), q16(10), 0, 100}};
  ScoreModel k4{rows.data(), 1, score_model_eval_quadratic, nullptr};
  ScoreModel k5{rows.data(), 1, score_model_eval_quadratic_zero, nullptr};
  EXPECT_EQ(eval(k4, {120}), 4096 + 400 * 4096 / 12);
  EXPECT_EQ(eval(k5, {80}), 400 * 4096 / 12);  // the square has no sign
  uint16_t s = 0;
  const uint16_t f[1] = {120};
  EXPECT_EQ(score_model_evaluate_u16(&k4, f, 1, &s, nullptr), ML_OK);
  EXPECT_EQ(s, 65535);
  rows[0].quadratic_weight = -100;
  EXPECT_EQ(score_model_evaluate_u16(&k5, f, 1, &s, nullptr), ML_OK);
  EXPECT_EQ(s, 0);

  ScoreTrace trace[1];
  int32_t out = 0;
  rows[0].weight = 8;
  const int32_t g[1] = {120};
  ASSERT_EQ(score_model_evaluate(&k4, g, 1, &out, trace), ML_OK);
  EXPECT_EQ(trace[0].value, 120);
  EXPECT_EQ(trace[0].maximum, 1000);
  EXPECT_FLOAT_EQ(trace[0].mean, 100.0f);
  EXPECT_FLOAT_EQ(trace[0].spread, 10.0f);
  EXPECT_FLOAT_EQ(trace[0].weight, 8.0f - 100.0f);
  EXPECT_FLOAT_EQ(trace[0].contribution, 16.0f - 400.0f);
}

TEST(ScoreModelPass, ScoreIsTheFirstFeature) {
  const ScoreModel m{nullptr, -1, score_model_eval_pass, nullptr};
  EXPECT_EQ(eval(m, {-7, 3}), -7);
  EXPECT_EQ(score_model_kind(&m), 1);
}

// Kind 6: one term (mean 50, spread 10, linear weight 1) and a table from
// (0, 0) to (4, 400).
struct TableModel {
  ScoreTerm term{0, 100, 50.0f, 10.0f, 1.0f, 0.0f};
  ScoreTablePoint points[2] = {{0.0f, 0}, {4.0f, 400}};
  ScoreTableModel rows{&term, 1, 0, 0.0f, 0.0f, points, 2};
  ScoreModel model{&rows, -1, score_model_eval_table, nullptr};
};

TEST(ScoreModelTable, InterpolatesAndSaturates) {
  TableModel t;
  struct Case {
    int32_t feature;
    int32_t score;
  } cases[] = {{70, 200}, {65, 150}, {71, 210}, {100, 400}, {150, 400}, {0, 0}, {50, 0}};
  for (const Case& c : cases) EXPECT_EQ(eval(t.model, {c.feature}), c.score) << c.feature;
  // Features beyond the terms are ignored.
  EXPECT_EQ(eval(t.model, {70, 12345}), 200);
}

TEST(ScoreModelTable, OffsetScaleAndNoTable) {
  TableModel t;
  t.rows.point_count = 0;
  t.rows.has_offset_scale = 1;
  t.rows.offset = 1.0f;
  t.rows.scale = 32767.5f;  // S *= 2
  EXPECT_EQ(eval(t.model, {70}), 6);
  EXPECT_EQ(eval(t.model, {0}), 0);  // (-5 + 1) * 2 clamped to 0
  t.rows.scale = 0.0f;               // no scaling below or at 0
  EXPECT_EQ(eval(t.model, {70}), 3);
}

TEST(ScoreModelTable, UndefinedSumIsCorrupt) {
  TableModel t;
  t.rows.has_offset_scale = 1;
  t.rows.offset = std::numeric_limits<float>::quiet_NaN();
  int32_t out = 1;
  const int32_t f[1] = {70};
  EXPECT_EQ(score_model_evaluate(&t.model, f, 1, &out, nullptr), ML_CORRUPT);
  t.rows.point_count = 0;  // without a table an undefined sum gives 0
  EXPECT_EQ(eval(t.model, {70}), 0);
}

Bytes write(const ScoreModel& m) {
  Bytes out(score_model_write(nullptr, &m));
  EXPECT_EQ(score_model_write(out.data(), &m), out.size());
  return out;
}

// Writes, reads back and writes again: the same bytes.
void expect_round_trip(const ScoreModel& m, const std::vector<int32_t>& probe) {
  const Bytes first = write(m);
  auto* back = static_cast<ScoreModel*>(std::calloc(1, sizeof(ScoreModel)));
  ASSERT_EQ(score_model_read_bounded(first.data(), static_cast<uint32_t>(first.size()), back), ML_OK);
  EXPECT_EQ(score_model_kind(back), score_model_kind(&m));
  EXPECT_EQ(back->feature_count, m.feature_count);
  EXPECT_EQ(write(*back), first);
  EXPECT_EQ(eval(*back, probe), eval(m, probe));
  score_model_free(back);
}

TEST(ScoreModelStoredForm, EveryKindRoundTrips) {
  std::vector<ScoreLinearRow> lin{{1, 900, q16(100), q16(10), 800}, {0, 65535, 77, 99, -3}};
  std::vector<ScoreQuadraticRow> quad{{2, 800, q16(50), q16(7), 300, -40}};
  const ScoreModel pass{nullptr, -1, score_model_eval_pass, nullptr};
  expect_round_trip(pass, {42});
  expect_round_trip(ScoreModel{lin.data(), 2, score_model_eval_linear, nullptr}, {110, 3});
  expect_round_trip(ScoreModel{lin.data(), 2, score_model_eval_linear_zero, nullptr}, {90, 3});
  expect_round_trip(ScoreModel{quad.data(), 1, score_model_eval_quadratic, nullptr}, {60});
  expect_round_trip(ScoreModel{quad.data(), 1, score_model_eval_quadratic_zero, nullptr}, {40});
  TableModel t;
  expect_round_trip(t.model, {70});
  t.rows.has_offset_scale = 1;
  t.rows.offset = 0.5f;
  t.rows.scale = 2.0f;
  expect_round_trip(t.model, {70});
}

TEST(ScoreModelStoredForm, ExactLayouts) {
  const ScoreModel pass{nullptr, -1, score_model_eval_pass, nullptr};
  EXPECT_EQ(write(pass), (Bytes{0, 1, 0xff, 0xff}));
  std::vector<ScoreLinearRow> lin{{0x0102, 0x0304, 0x05060708, 0x090a0b0c, -2}};
  EXPECT_EQ(write(ScoreModel{lin.data(), 1, score_model_eval_linear_zero, nullptr}),
            (Bytes{0, 3, 0, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xff, 0xfe}));
  TableModel t;
  const Bytes b = write(t.model);
  ASSERT_EQ(b.size(), 4u + 6 + 24 + 16);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 7), (Bytes{0, 6, 0xff, 0xff, 1, 0, 1}));
  // mean 50.0f = 0x42480000 after minimum 0 and maximum 100
  EXPECT_EQ(Bytes(b.begin() + 15, b.begin() + 19), (Bytes{0x42, 0x48, 0, 0}));
  t.rows.has_offset_scale = 1;
  EXPECT_EQ(score_model_write(nullptr, &t.model), 4u + 6 + 24 + 16 + 8);
  // A model whose routine is none of the six writes nothing.
  const ScoreModel odd{nullptr, 1, [](const int32_t*, int, const void*, int32_t*, ScoreTrace*) { return 0; },
                       nullptr};
  EXPECT_EQ(score_model_write(nullptr, &odd), 0u);
}

TEST(ScoreModelStoredForm, RejectsBadRecords) {
  ScoreModel m{};
  struct Case {
    Bytes bytes;
    int status;
  } cases[] = {
      {{0, 0, 0, 0}, ML_UNAVAILABLE},
      {{0, 7, 0, 0}, ML_UNAVAILABLE},
      {{0, 6, 0, 0, 2, 0, 0, 0, 0, 0}, ML_WRONG_KIND},      // kind-6 version 2
      {{0, 2, 0, 1, 0, 0}, ML_TOO_SHORT},                  // one row announced, none there
      {{0, 6, 0, 0, 1, 0, 1}, ML_TOO_SHORT},               // one term announced, none there
      {{0, 1}, ML_TOO_SHORT},
      {{0, 1, 0xff, 0xff}, ML_OK},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(score_model_read_bounded(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), &m),
              c.status);
    if (c.status != ML_OK) {
      EXPECT_EQ(m.rows, nullptr);
    }
  }
  // Every proper prefix of a valid kind-6 record is too short.
  TableModel t;
  t.rows.has_offset_scale = 1;
  const Bytes full = write(t.model);
  zyl::test::for_each_prefix(full, [&](std::span<const std::uint8_t> cut) {
    EXPECT_EQ(score_model_read_bounded(cut.data(), static_cast<uint32_t>(cut.size()), &m), ML_TOO_SHORT);
    EXPECT_EQ(m.rows, nullptr);
  });
  EXPECT_EQ(score_model_read(full.data(), &m), ML_OK);
  EXPECT_EQ(write(m), full);
  score_table_model_free(m.rows);
}

}  // namespace
