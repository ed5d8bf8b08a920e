// The learned quality model: the built-in model record, the holder that
// ties a model to a context, the integer forward pass of the network, batch
// evaluation, the process-wide error index and the level thresholds.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"
#include "matchlib/core/match_context.h"
#include "matchlib/filter/quality_network.h"

namespace zyl::matchlib {
namespace {

constexpr int kShift = 11;  // activations are Q11: 2048 = 1.0

// The built-in network: 190 inputs, 8 hidden units, one output. Its weight
// table holds more entries than the layers use; every weight is 0, so the
// score is 500 whatever the input.
constexpr std::array<std::int32_t, 3> kLayers = {190, 8, 1};
constexpr int kWeightCount = 5768;
const std::array<std::int32_t, kWeightCount> kWeights{};
constexpr std::array<std::int32_t, 9> kBiases = {0, 0, 0, 0, 0, 0, 0, 0, 2};

// Input ranges. Only a few rows of the trained tables are known; the rest
// stay 0..0, which scales an input to 0. The weights are 0 anyway, so the
// ranges do not change a score while the built-in network is in use; a
// trained model brings its own record.
struct Range {
  int index;
  std::int32_t minimum, maximum;
};
constexpr std::array<Range, 4> kKnownRanges = {
    {{5, 0, 26}, {127, 0, 328611}, {128, 32202, 240079}, {189, 347, 8050}}};

constexpr std::array<std::int32_t, QUALITY_FEATURE_COUNT> range_table(bool maximum) {
  std::array<std::int32_t, QUALITY_FEATURE_COUNT> t{};
  for (const Range& r : kKnownRanges) t[r.index] = maximum ? r.maximum : r.minimum;
  return t;
}
constexpr auto kMinimum = range_table(false);
constexpr auto kMaximum = range_table(true);

const QualityModel kBuiltinModel = {
    1,
    {kLayers.data(), static_cast<std::int32_t>(kLayers.size()), kWeightCount,
     static_cast<std::int32_t>(kBiases.size()), kWeights.data(), kBiases.data(), kMinimum.data(),
     kMaximum.data()},
    {0, 75, 125, 250, 312, 375, 500, 725, 750, 875},
    10,
    10000,
    0xFFFF,
    10,
    10000,
    0xFFFF};

std::uint32_t g_error_index = 0;

template <class Wide>
std::int32_t saturate32(Wide v) {
  return static_cast<std::int32_t>(std::clamp<Wide>(v, std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max()));
}

// Sum of the layer sizes, or -1 when a size is not positive, the layers do
// not fit the activation array, or the weight and bias tables are too
// short for them.
int activation_count(const MlpNetwork& net) {
  if (net.layer_count < 1 || !net.layer_sizes) return -1;
  std::int64_t sum = 0, weights = 0, biases = 0;
  for (int l = 0; l < net.layer_count; ++l) {
    const std::int64_t size = net.layer_sizes[l];
    if (size <= 0) return -1;
    sum += size;
    if (sum > MLP_MAX_ACTIVATIONS) return -1;
    if (l > 0) {
      weights += size * net.layer_sizes[l - 1];
      biases += size;
    }
  }
  if (weights > net.weight_count || biases > net.bias_count) return -1;
  if (!net.minimum || !net.maximum || (weights && !net.weights) || (biases && !net.biases))
    return -1;
  return static_cast<int>(sum);
}

// Scaling in 64 bits: a range of 2^20 or more must not wrap the shift.
std::int32_t scale_input(std::int32_t v, std::int32_t lo, std::int32_t hi) {
  if (hi == lo) return 0;
  const std::int64_t scaled = (static_cast<std::int64_t>(v) - lo) * (std::int64_t{1} << kShift) /
                              (static_cast<std::int64_t>(hi) - lo);
  return saturate32(scaled);
}

int forward(const std::int32_t* values, const MlpNetwork& net) {
  if (activation_count(net) < 0) {
    g_error_index = MLP_ERROR_BAD_NETWORK;
    return 0;
  }
  std::array<std::int32_t, MLP_MAX_ACTIVATIONS> act{};
  const int inputs = net.layer_sizes[0];
  for (int i = 0; i < inputs; ++i) act[i] = scale_input(values[i], net.minimum[i], net.maximum[i]);

  int in = 0;           // start of the layer's inputs in the activations
  std::int64_t w0 = 0;  // start of the layer's weights
  int b0 = 0;           // start of the layer's biases
  for (int l = 1; l < net.layer_count; ++l) {
    const int n = net.layer_sizes[l - 1], m = net.layer_sizes[l];
    const int out = in + n;
    const bool hidden = l + 1 < net.layer_count;
    for (int k = 0; k < m; ++k) {
      // 128-bit sums: trained weights times unclamped inputs may pass 64 bits.
      __int128 s = static_cast<__int128>(net.biases[b0 + k]) * (1 << kShift);
      const std::int32_t* w = net.weights + w0 + static_cast<std::int64_t>(k) * n;
      for (int j = 0; j < n; ++j) s += static_cast<std::int64_t>(w[j]) * act[in + j];
      const std::int64_t h = saturate32(s >> kShift);  // arithmetic: toward minus infinity
      std::int64_t y = h * 1178 / ((h < 0 ? -h : h) + 2048) + 1024;
      if (hidden) y = std::clamp<std::int64_t>(y, 0, 2048);
      act[out + k] = static_cast<std::int32_t>(y);
    }
    in = out;
    w0 += static_cast<std::int64_t>(n) * m;
    b0 += m;
  }
  const std::int64_t y = act[in];
  return static_cast<int>(((y * 900) >> kShift) + 50);
}

void evaluate_batch(const MlpBatch& batch, const MlpNetwork& net, std::int32_t* scores) {
  const int total = activation_count(net);
  const int n = batch.values_per_sample, m = batch.sample_count;
  // A sample longer than the scratch would overrun it.
  if (total < 0 || n < 0 || n > total || m < 0 || (m > 0 && n > 0 && !batch.values)) {
    g_error_index = MLP_ERROR_BAD_NETWORK;
    return;
  }
  // Zeroed, so that inputs beyond a short sample read 0.
  std::unique_ptr<std::int32_t, decltype(&std::free)> scratch(
      static_cast<std::int32_t*>(ml_calloc(static_cast<std::size_t>(total), sizeof(std::int32_t))),
      &std::free);
  if (!scratch) {
    g_error_index = MLP_ERROR_NO_MEMORY;
    return;
  }
  for (int i = 0; i < m; ++i) {
    std::copy_n(batch.values + static_cast<std::int64_t>(i) * n, n, scratch.get());
    scores[i] = std::clamp(forward(scratch.get(), net), 0, 1000);
  }
}

void destroy_holder(QualityModelHolder* holder) {
  zyl::matchlib::ctx_release(holder->context);
  std::free(holder);
}

}  // namespace

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API const QualityModel* quality_model_builtin(void) { return &kBuiltinModel; }

QualityModelHolder* zyl::matchlib::quality_model_create(MatchContext* ctx,
                                                        const QualityModel* model) {
  if (!model) return nullptr;
  auto* holder = static_cast<QualityModelHolder*>(ml_calloc(1, sizeof(QualityModelHolder)));
  if (!holder) return nullptr;
  holder->refcount = 1;
  holder->context = zyl::matchlib::ctx_retain(ctx);
  holder->model = model;
  holder->destroy = destroy_holder;
  return holder;
}

QualityModelHolder* zyl::matchlib::quality_model_create_default(MatchContext* ctx) {
  return zyl::matchlib::quality_model_create(ctx, &kBuiltinModel);
}

extern "C" ZYL_API QualityModelHolder* quality_model_retain(QualityModelHolder* holder) {
  if (holder) ++holder->refcount;
  return holder;
}

void zyl::matchlib::quality_model_release(QualityModelHolder* holder) {
  if (!holder) return;
  if (holder->refcount-- == 1) holder->destroy(holder);
}

const MlpNetwork* zyl::matchlib::quality_model_network(const QualityModelHolder* holder) {
  return &holder->model->network;
}

int zyl::matchlib::quality_model_level_threshold(const QualityModelHolder* holder, int level) {
  if (!holder || static_cast<unsigned>(level) > 9u) return -1;
  return static_cast<std::uint16_t>(holder->model->levels[level]);
}

int zyl::matchlib::mlp_input_count(const MlpNetwork* network) {
  if (!network || network->layer_count <= 0 || !network->layer_sizes) return 0;
  return network->layer_sizes[0];
}

int zyl::matchlib::mlp_forward(const int32_t* values, const MlpNetwork* network) {
  if (!values || !network) {
    g_error_index = MLP_ERROR_BAD_NETWORK;
    return 0;
  }
  return forward(values, *network);
}

void zyl::matchlib::mlp_evaluate_batch(const MlpBatch* batch, const MlpNetwork* network,
                                       int32_t* scores) {
  if (!batch || !network || (!scores && batch->sample_count > 0)) {
    g_error_index = MLP_ERROR_BAD_NETWORK;
    return;
  }
  evaluate_batch(*batch, *network, scores);
}

uint32_t zyl::matchlib::mlp_get_error(void) { return g_error_index; }
void zyl::matchlib::mlp_set_error(uint32_t index) { g_error_index = index; }

int zyl::matchlib::mlp_error_status(uint32_t index) {
  if (index == 0) return ML_OK;
  if (index == 2 || index == 8 || index == 26) return ML_WRONG_KIND;
  if (index == 3) return ML_NO_MEMORY;
  if (index >= 16 && index <= 22) return ML_OUT_OF_LIMITS;
  if (index == 27) return ML_BAD_ARGUMENT;
  return ML_CORRUPT;
}

extern "C" {

ZYL_API QualityModelHolder* quality_model_create(MatchContext* ctx, const QualityModel* model) {
  return zyl::matchlib::quality_model_create(ctx, model);
}
ZYL_API QualityModelHolder* quality_model_create_default(MatchContext* ctx) {
  return zyl::matchlib::quality_model_create_default(ctx);
}
ZYL_API void quality_model_release(QualityModelHolder* holder) {
  zyl::matchlib::quality_model_release(holder);
}
ZYL_API const MlpNetwork* quality_model_network(const QualityModelHolder* holder) {
  return zyl::matchlib::quality_model_network(holder);
}
ZYL_API int quality_model_level_threshold(const QualityModelHolder* holder, int level) {
  return zyl::matchlib::quality_model_level_threshold(holder, level);
}
ZYL_API int mlp_input_count(const MlpNetwork* network) {
  return zyl::matchlib::mlp_input_count(network);
}
ZYL_API int mlp_forward(const int32_t* values, const MlpNetwork* network) {
  return zyl::matchlib::mlp_forward(values, network);
}
ZYL_API void mlp_evaluate_batch(const MlpBatch* batch, const MlpNetwork* network, int32_t* scores) {
  zyl::matchlib::mlp_evaluate_batch(batch, network, scores);
}
ZYL_API uint32_t mlp_get_error(void) { return zyl::matchlib::mlp_get_error(); }
ZYL_API void mlp_set_error(uint32_t index) { zyl::matchlib::mlp_set_error(index); }
ZYL_API int mlp_error_status(uint32_t index) { return zyl::matchlib::mlp_error_status(index); }

}  // extern "C"
