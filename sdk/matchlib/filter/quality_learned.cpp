// Learned quality of images: the 190 texture features of an image under
// the model's limits, the image's cached learned score and its level test.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_ridgemap.h"
#include "zylscan/matchlib_texture_features.h"
#include "matchlib/filter/quality_learned.h"
#include "matchlib/filter/quality_network.h"
#include "matchlib/filter/ridgemap_skeleton.h"
#include "matchlib/filter/texture_features.h"
#include "matchlib/image/grey_image.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kAnyResolution = 0xFFFF;
constexpr std::uint16_t kNotComputed = 0xFFFF;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Malloced = std::unique_ptr<T, FreeDeleter>;

template <class T>
Malloced<T> malloc_array(std::size_t n) {
  return Malloced<T>(static_cast<T*>(ml_calloc(n ? n : 1, sizeof(T))));
}

int extract_features(const QualityModelHolder& holder, const GrayImage* image,
                     Malloced<std::int32_t>& out) {
  const QualityModel& model = *holder.model;
  if (!model.enabled) return ML_WRONG_KIND;
  const int h = zyl::matchlib::image_height(image), w = zyl::matchlib::image_width(image);
  if (w < model.min_width || w > model.max_width || h < model.min_height || h > model.max_height)
    return ML_OUT_OF_LIMITS;
  if (model.resolution_y != kAnyResolution &&
      model.resolution_y != zyl::matchlib::image_resolution_y(image))
    return ML_OUT_OF_LIMITS;
  if (model.resolution_x != kAnyResolution &&
      model.resolution_x != zyl::matchlib::image_resolution_x(image))
    return ML_OUT_OF_LIMITS;
  const std::size_t n = static_cast<std::size_t>(h) * w;
  auto work = malloc_array<std::uint8_t>(n);
  auto values = malloc_array<std::int32_t>(QUALITY_FEATURE_COUNT);
  if (!work || !values) return ML_NO_MEMORY;
  if (zyl::matchlib::mlp_input_count(&model.network) != QUALITY_FEATURE_COUNT)
    return ML_BAD_ARGUMENT;
  const int bh = (h + 15) >> 4, bw = (w + 15) >> 4;
  const std::size_t blocks = static_cast<std::size_t>(bh) * bw;
  auto map1 = malloc_array<std::uint8_t>(blocks), map2 = malloc_array<std::uint8_t>(blocks),
       map3 = malloc_array<std::uint8_t>(blocks);
  if (!map1 || !map2 || !map3) return ML_NO_MEMORY;
  const std::uint8_t* pixels = zyl::matchlib::image_pixels(image);
  std::memcpy(work.get(), pixels, n);
  const int resolution = model.resolution_y != kAnyResolution
                             ? model.resolution_y
                             : zyl::matchlib::image_resolution(image);
  zyl::matchlib::ridgemap_skeleton(work.get(), h, w, map1.get(), map2.get(), map3.get(), bh, bw,
                                   resolution);
  if (zyl::matchlib::mlp_get_error() != 0)
    return zyl::matchlib::mlp_error_status(zyl::matchlib::mlp_get_error());
  zyl::matchlib::texture_features_compute(pixels, work.get(), h, w, values.get());
  if (zyl::matchlib::mlp_get_error() != 0)
    return zyl::matchlib::mlp_error_status(zyl::matchlib::mlp_get_error());
  out = std::move(values);
  return ML_OK;
}

// The cached score, or one computed now and stored in the image.
int image_score(const QualityModelHolder& holder, GrayImage* image, std::int16_t& score) {
  const std::uint16_t stored = zyl::matchlib::image_stored_quality(image);
  score = static_cast<std::int16_t>(stored);
  if (stored != kNotComputed) return ML_OK;
  zyl::matchlib::mlp_set_error(0);
  Malloced<std::int32_t> values;
  int rc = extract_features(holder, image, values);
  if (rc != ML_OK) return rc;
  const MlpBatch batch = {QUALITY_FEATURE_COUNT, 1, values.get()};
  std::int32_t computed = 0;
  zyl::matchlib::mlp_evaluate_batch(&batch, &holder.model->network, &computed);
  if (zyl::matchlib::mlp_get_error() != 0)
    return zyl::matchlib::mlp_error_status(zyl::matchlib::mlp_get_error());
  zyl::matchlib::image_set_stored_quality(image, static_cast<std::uint16_t>(computed));
  score = static_cast<std::int16_t>(computed);
  return ML_OK;
}

}  // namespace

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::quality_extract_features(const QualityModelHolder* holder,
                                            const GrayImage* image, int32_t** out_values,
                                            uint16_t* out_count) {
  if (!holder || !image || !out_values || !out_count) return ML_BAD_ARGUMENT;
  zyl::matchlib::mlp_set_error(0);
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    Malloced<std::int32_t> values;
    const int rc = extract_features(*holder, image, values);
    if (rc != ML_OK) return rc;
    *out_values = values.release();
    *out_count = QUALITY_FEATURE_COUNT;
    return ML_OK;
  });
}

extern "C" ZYL_API int quality_model_image_score(const QualityModelHolder* holder, GrayImage* image,
                                                 int16_t* out_score) {
  if (!holder || !image || !out_score) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return image_score(*holder, image, *out_score); });
}

extern "C" ZYL_API int quality_model_image_meets_level(const QualityModelHolder* holder,
                                                       GrayImage* image, int level, int* out_flag) {
  if (!out_flag || static_cast<unsigned>(level) > 9u) return ML_BAD_ARGUMENT;
  *out_flag = 0;
  if (!holder || !image) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    std::int16_t score = 0;
    const int rc = image_score(*holder, image, score);
    if (rc != ML_OK) return rc;
    *out_flag = score >= static_cast<std::int16_t>(
                             zyl::matchlib::quality_model_level_threshold(holder, level));
    return ML_OK;
  });
}

extern "C" {

ZYL_API int quality_extract_features(const QualityModelHolder* holder, const GrayImage* image,
                                     int32_t** out_values, uint16_t* out_count) {
  return zyl::matchlib::quality_extract_features(holder, image, out_values, out_count);
}

}  // extern "C"
