// The learned quality network: the built-in model's constant score, the
// forward pass at its extremes, batch clamping, the error index and its
// statuses, the level table and the holder's reference counting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
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

// A plain evaluation of a layered network from its description: scaled
// inputs, hidden layers clamped to 0..2048, a last layer without clamp,
// the score from the last layer's first output. Weights of the layer from
// n to m units sit at k*n + j after the layers before it.
int reference_score(const std::vector<int>& sizes, const std::vector<std::int32_t>& weights,
                    const std::vector<std::int32_t>& biases, const std::vector<std::int32_t>& lo,
                    const std::vector<std::int32_t>& hi, const std::vector<std::int32_t>& in) {
  std::vector<std::int64_t> act;
  for (int i = 0; i < sizes[0]; ++i)
    act.push_back(hi[i] == lo[i] ? 0 : (std::int64_t{in[i]} - lo[i]) * 2048 / (std::int64_t{hi[i]} - lo[i]));
  std::size_t w_at = 0, b_at = 0;
  for (std::size_t l = 1; l < sizes.size(); ++l) {
    const int n = sizes[l - 1], m = sizes[l];
    std::vector<std::int64_t> next(m);
    for (int k = 0; k < m; ++k) {
      std::int64_t s = std::int64_t{biases[b_at + k]} * 2048;
      for (int j = 0; j < n; ++j) s += std::int64_t{weights[w_at + k * n + j]} * act[j];
      // Floor division by 2048 (an arithmetic shift), then a truncating one.
      const std::int64_t h = s >= 0 ? s / 2048 : -((-s + 2047) / 2048);
      std::int64_t y = h * 1178 / ((h < 0 ? -h : h) + 2048) + 1024;
      if (l + 1 < sizes.size()) y = std::min<std::int64_t>(std::max<std::int64_t>(y, 0), 2048);
      next[k] = y;
    }
    act = next;
    w_at += static_cast<std::size_t>(n) * m;
    b_at += m;
  }
  const std::int64_t t = act[0] * 900;
  return static_cast<int>((t >= 0 ? t / 2048 : -((-t + 2047) / 2048)) + 50);
}

TEST(QualityNetwork, LayersOfDifferentWidthsMatchAPlainEvaluation) {
  // Four layers of widths 3, 5, 4 and 2: every layer reads its own block of
  // weights and biases and the activations of the layer before it.
  const std::vector<int> sizes = {3, 5, 4, 2};
  std::mt19937 rng(2024);
  auto between = [&](int a, int b) { return a + static_cast<int>(rng() % static_cast<unsigned>(b - a + 1)); };
  std::vector<std::int32_t> weights(3 * 5 + 5 * 4 + 4 * 2), biases(5 + 4 + 2);
  for (auto& w : weights) w = between(-20000, 20000);
  for (auto& b : biases) b = between(-3000, 3000);
  // Entries past what the layers use are never read.
  std::vector<std::int32_t> stored_weights = weights, stored_biases = biases;
  stored_weights.insert(stored_weights.end(), {999999, -999999, 123456});
  stored_biases.insert(stored_biases.end(), {77777, -77777});
  const std::vector<std::int32_t> lo = {0, -500, 1000}, hi = {255, 500, 1000};  // input 2: no range
  std::int32_t layer_sizes[4] = {3, 5, 4, 2};
  const MlpNetwork net = {layer_sizes,          4,
                          static_cast<std::int32_t>(stored_weights.size()),
                          static_cast<std::int32_t>(stored_biases.size()),
                          stored_weights.data(), stored_biases.data(),
                          lo.data(),             hi.data()};
  ASSERT_EQ(mlp_input_count(&net), 3);
  std::vector<std::vector<std::int32_t>> inputs = {
      {0, -500, 1000}, {255, 500, 7}, {128, 0, 0}, {-300, 1400, 1}, {700, -2000, -5}, {37, 13, 99}};
  for (int i = 0; i < 40; ++i) inputs.push_back({between(-300, 600), between(-1500, 1500), between(-9, 9)});
  int lowest = 1000, highest = 0;
  mlp_set_error(0);
  for (const auto& in : inputs) {
    const int want = reference_score(sizes, weights, biases, lo, hi, in);
    EXPECT_EQ(mlp_forward(in.data(), &net), want) << in[0] << " " << in[1] << " " << in[2];
    lowest = std::min(lowest, want);
    highest = std::max(highest, want);
  }
  // The vectors reach well apart: the table is not a constant answer.
  EXPECT_GT(highest - lowest, 200);
  // Batch evaluation: the same scores, clamped to 0..1000.
  std::vector<std::int32_t> flat;
  for (const auto& in : inputs) flat.insert(flat.end(), in.begin(), in.end());
  std::vector<std::int32_t> scores(inputs.size(), -1);
  const MlpBatch batch = {3, static_cast<std::int32_t>(inputs.size()), flat.data()};
  mlp_evaluate_batch(&batch, &net, scores.data());
  for (std::size_t i = 0; i < inputs.size(); ++i)
    EXPECT_EQ(scores[i], std::clamp(reference_score(sizes, weights, biases, lo, hi, inputs[i]), 0, 1000)) << i;
  EXPECT_EQ(mlp_get_error(), 0u);
}

TEST(QualityNetwork, TwoLayerNetworkByHand) {
  // 2 inputs, 2 hidden units, 1 output, worked out by hand.
  // Inputs 50 of 0..100 and 10 of 0..40 scale to 1024 and 512.
  // Hidden 0: (1 << 11) + 2 x 1024 - 4 x 512 = 2048 -> h = 1,
  //   y = 1178 / 2049 = 0, + 1024 = 1024.
  // Hidden 1: (-3 << 11) + 1024 + 512 = -4608 -> h = -3 (floor of -2.25),
  //   y = -3534 / 2051 = -1, + 1024 = 1023.
  // Output: (5 << 11) + 3 x 1024 - 1 x 1023 = 12289 -> h = 6,
  //   y = 7068 / 2054 = 3, + 1024 = 1027; score (1027 x 900 >> 11) + 50 = 501.
  std::int32_t layers[3] = {2, 2, 1};
  std::int32_t weights[6] = {2, -4, 1, 1, 3, -1};
  std::int32_t biases[3] = {1, -3, 5};
  std::int32_t lo[2] = {0, 0}, hi[2] = {100, 40};
  const MlpNetwork net = {layers, 3, 6, 3, weights, biases, lo, hi};
  const std::int32_t in[2] = {50, 10};
  EXPECT_EQ(mlp_forward(in, &net), 501);
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
