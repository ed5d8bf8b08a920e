// The learned quality network: the built-in model's constant score, the
// forward pass at its extremes, batch clamping, the error index and its
// statuses, the level table and the holder's reference counting.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/allocation_sweep.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"

namespace {

struct Holder {
  MatchContext* ctx = ctx_create();
  QualityModelHolder* h = quality_model_create_default(ctx);
  ~Holder() {
    quality_model_release(h);
    ctx_release(ctx);
  }
};

// A 1-1-1 network whose output saturates: input range 0..1, a hidden
// weight of 1000 and an output weight of +-2e9.
struct Extreme {
  std::int32_t layers[3] = {1, 1, 1};
  std::int32_t weights[2] = {1000, 2000000000};
  std::int32_t biases[2] = {0, 0};
  std::int32_t minimum[1] = {0};
  std::int32_t maximum[1] = {1};
  MlpNetwork net() const { return {layers, 3, 2, 2, weights, biases, minimum, maximum}; }
};

TEST(QualityNetwork, BuiltinScoresEveryVector500) {
  Holder m;
  const MlpNetwork* net = quality_model_network(m.h);
  EXPECT_EQ(mlp_input_count(net), 190);
  std::vector<std::int32_t> zeros(190, 0), far(190, 2000000000), negative(190, -2000000000);
  for (const auto* v : {&zeros, &far, &negative}) EXPECT_EQ(mlp_forward(v->data(), net), 500);
  EXPECT_EQ(mlp_get_error(), 0u);
}

TEST(QualityNetwork, OutputExtremesAndBatchClamp) {
  Extreme e;
  MlpNetwork net = e.net();
  std::vector<std::int32_t> in = {10};  // ten times its range: scaled 20480, not clamped
  EXPECT_EQ(mlp_forward(in.data(), &net), 1017);
  e.weights[1] = -2000000000;
  net = e.net();
  EXPECT_EQ(mlp_forward(in.data(), &net), -18);

  // Batch: -18 stored as 0, 1017 as 1000.
  std::int32_t scores[2] = {7, 7};
  const std::int32_t two[2] = {10, 10};
  mlp_set_error(0);
  MlpBatch batch = {1, 2, two};
  mlp_evaluate_batch(&batch, &net, scores);
  EXPECT_EQ(scores[0], 0);
  e.weights[1] = 2000000000;
  net = e.net();
  mlp_evaluate_batch(&batch, &net, scores);
  EXPECT_EQ(scores[1], 1000);
  EXPECT_EQ(mlp_get_error(), 0u);
}

TEST(QualityNetwork, WideRangesScaleWithoutWrapping) {
  // A range of 2^21: the middle of the range scales to 1024 and scores
  // above the range's low end (a wrapped shift would scale it to -1024).
  Extreme e;
  e.maximum[0] = 1 << 21;
  e.weights[0] = 2048;
  e.weights[1] = 2048;
  const MlpNetwork net = e.net();
  const std::int32_t half[1] = {1 << 20}, low[1] = {0};
  EXPECT_EQ(mlp_forward(half, &net), 711);
  EXPECT_EQ(mlp_forward(low, &net), 672);
}

TEST(QualityNetwork, RefusesOversizedNetworksAndSamples) {
  std::int32_t layers[2] = {514, 1};  // 515 activations
  std::vector<std::int32_t> weights(514, 0), biases(1, 0), range(514, 0);
  const MlpNetwork big = {layers, 2, 514, 1, weights.data(), biases.data(), range.data(),
                          range.data()};
  std::vector<std::int32_t> in(514, 0);
  mlp_set_error(0);
  EXPECT_EQ(mlp_forward(in.data(), &big), 0);
  EXPECT_EQ(mlp_get_error(), std::uint32_t{MLP_ERROR_BAD_NETWORK});
  EXPECT_EQ(mlp_error_status(mlp_get_error()), ML_BAD_ARGUMENT);

  // A sample longer than the layer sizes together (199) is refused whole.
  Holder m;
  std::vector<std::int32_t> sample(200, 0);
  std::int32_t score = -5;
  const MlpBatch batch = {200, 1, sample.data()};
  mlp_set_error(0);
  mlp_evaluate_batch(&batch, quality_model_network(m.h), &score);
  EXPECT_EQ(mlp_get_error(), std::uint32_t{MLP_ERROR_BAD_NETWORK});
  EXPECT_EQ(score, -5);

  // A short sample reads zeros beyond its end.
  const MlpBatch shorter = {3, 1, sample.data()};
  mlp_set_error(0);
  mlp_evaluate_batch(&shorter, quality_model_network(m.h), &score);
  EXPECT_EQ(mlp_get_error(), 0u);
  EXPECT_EQ(score, 500);
}

TEST(QualityNetwork, AllocationFailureIsReportedOnce) {
  Holder m;
  std::vector<std::int32_t> sample(190, 1);
  std::int32_t score = -5;
  const MlpBatch batch = {190, 1, sample.data()};
  mlp_set_error(0);
  zyl::matchlib::test_hook::fail_allocation(1);
  mlp_evaluate_batch(&batch, quality_model_network(m.h), &score);
  EXPECT_TRUE(zyl::test::allocation_failed());
  EXPECT_EQ(mlp_get_error(), std::uint32_t{MLP_ERROR_NO_MEMORY});
  EXPECT_EQ(mlp_error_status(mlp_get_error()), ML_NO_MEMORY);
  EXPECT_EQ(score, -5);
  // The callers clear the index before the next step, which then succeeds.
  mlp_set_error(0);
  mlp_evaluate_batch(&batch, quality_model_network(m.h), &score);
  EXPECT_EQ(mlp_get_error(), 0u);
  EXPECT_EQ(score, 500);
}

TEST(QualityNetwork, ErrorIndexStatuses) {
  struct Case {
    std::uint32_t index;
    int status;
  } cases[] = {{0, 0},   {1, 17},  {2, 1},   {3, 9},   {4, 17},  {7, 17},  {8, 1},
               {9, 17},  {15, 17}, {16, 18}, {22, 18}, {23, 17}, {25, 17}, {26, 1},
               {27, 2},  {28, 17}, {1000, 17}};
  for (const Case& c : cases) EXPECT_EQ(mlp_error_status(c.index), c.status) << c.index;
}

TEST(QualityModelHolder, LevelThresholdsAndReferenceCounting) {
  Holder m;
  const int expected[10] = {0, 75, 125, 250, 312, 375, 500, 725, 750, 875};
  for (int l = 0; l < 10; ++l) EXPECT_EQ(quality_model_level_threshold(m.h, l), expected[l]);
  EXPECT_EQ(quality_model_level_threshold(m.h, 10), -1);
  EXPECT_EQ(quality_model_level_threshold(m.h, -1), -1);
  EXPECT_EQ(quality_model_level_threshold(nullptr, 9), -1);

  // The holder keeps the context alive: two holder references, two releases.
  MatchContext* ctx = ctx_create();
  QualityModelHolder* h = quality_model_create(ctx, quality_model_builtin());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ctx_refcount(ctx), 2u);
  EXPECT_EQ(quality_model_retain(h), h);
  quality_model_release(h);
  EXPECT_EQ(h->refcount, 1u);
  EXPECT_EQ(ctx_refcount(ctx), 2u);
  quality_model_release(h);
  EXPECT_EQ(ctx_refcount(ctx), 1u);
  ctx_release(ctx);
  EXPECT_EQ(quality_model_create(nullptr, nullptr), nullptr);
  EXPECT_EQ(quality_model_retain(nullptr), nullptr);
  quality_model_release(nullptr);
}

}  // namespace
