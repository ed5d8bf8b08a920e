// Learned quality of images and template pairs: the 190 texture features
// of an image under the model's limits, the image's cached learned score
// and its level test, and the input vector of a template pair.
#include "matchlib/filter/learned_match.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_ridgemap.h"
#include "zylscan/matchlib_texture_features.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint16_t kAnyResolution = 0xFFFF;
constexpr std::uint16_t kNotComputed = 0xFFFF;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Malloced = std::unique_ptr<T, FreeDeleter>;

struct FeatureVectorDeleter {
  void operator()(FeatureVector* v) const { featvec_free(v); }
};
using OwnedVector = std::unique_ptr<FeatureVector, FeatureVectorDeleter>;

template <class T>
Malloced<T> malloc_array(std::size_t n) {
  return Malloced<T>(static_cast<T*>(ml_calloc(n ? n : 1, sizeof(T))));
}

int extract_features(const QualityModelHolder& holder, const GrayImage* image,
                     Malloced<std::int32_t>& out) {
  const QualityModel& model = *holder.model;
  if (!model.enabled) return ML_WRONG_KIND;
  const int h = image_height(image), w = image_width(image);
  if (w < model.min_width || w > model.max_width || h < model.min_height || h > model.max_height)
    return ML_OUT_OF_LIMITS;
  if (model.resolution_y != kAnyResolution && model.resolution_y != image_resolution_y(image))
    return ML_OUT_OF_LIMITS;
  if (model.resolution_x != kAnyResolution && model.resolution_x != image_resolution_x(image))
    return ML_OUT_OF_LIMITS;
  const std::size_t n = static_cast<std::size_t>(h) * w;
  auto work = malloc_array<std::uint8_t>(n);
  auto values = malloc_array<std::int32_t>(QUALITY_FEATURE_COUNT);
  if (!work || !values) return ML_NO_MEMORY;
  if (mlp_input_count(&model.network) != QUALITY_FEATURE_COUNT) return ML_BAD_ARGUMENT;
  const int bh = (h + 15) >> 4, bw = (w + 15) >> 4;
  const std::size_t blocks = static_cast<std::size_t>(bh) * bw;
  auto map1 = malloc_array<std::uint8_t>(blocks), map2 = malloc_array<std::uint8_t>(blocks),
       map3 = malloc_array<std::uint8_t>(blocks);
  if (!map1 || !map2 || !map3) return ML_NO_MEMORY;
  const std::uint8_t* pixels = image_pixels(image);
  std::memcpy(work.get(), pixels, n);
  const int resolution =
      model.resolution_y != kAnyResolution ? model.resolution_y : image_resolution(image);
  ridgemap_skeleton(work.get(), h, w, map1.get(), map2.get(), map3.get(), bh, bw, resolution);
  if (mlp_get_error() != 0) return mlp_error_status(mlp_get_error());
  texture_features_compute(pixels, work.get(), h, w, values.get());
  if (mlp_get_error() != 0) return mlp_error_status(mlp_get_error());
  out = std::move(values);
  return ML_OK;
}

// The cached score, or one computed now and stored in the image.
int image_score(const QualityModelHolder& holder, GrayImage* image, std::int16_t& score) {
  const std::uint16_t stored = image_stored_quality(image);
  score = static_cast<std::int16_t>(stored);
  if (stored != kNotComputed) return ML_OK;
  mlp_set_error(0);
  Malloced<std::int32_t> values;
  int rc = extract_features(holder, image, values);
  if (rc != ML_OK) return rc;
  const MlpBatch batch = {QUALITY_FEATURE_COUNT, 1, values.get()};
  std::int32_t computed = 0;
  mlp_evaluate_batch(&batch, &holder.model->network, &computed);
  if (mlp_get_error() != 0) return mlp_error_status(mlp_get_error());
  image_set_stored_quality(image, static_cast<std::uint16_t>(computed));
  score = static_cast<std::int16_t>(computed);
  return ML_OK;
}

// The kind-87 feature vector of a template container.
int template_vector(const DataBlob* blob, OwnedVector& out) {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  int rc = container_find_entry(blob, 87, &data, &length);
  if (rc != ML_OK) return rc;
  FeatureVector* v = nullptr;
  rc = featvec_read(data, length, &v);
  if (rc != ML_OK) return rc;
  out.reset(v);
  return ML_OK;
}

}  // namespace

int learned_match_inputs(const std::uint16_t* sub_scores, int count, const DataBlob* first,
                         const DataBlob* second, const MlpNetwork& network,
                         std::int32_t** out_values, std::int32_t* out_length) {
  *out_values = nullptr;
  *out_length = 0;
  if (count < 0 || (count > 0 && !sub_scores)) return ML_BAD_ARGUMENT;
  OwnedVector a, b;
  int rc = template_vector(first, a);
  if (rc == ML_OK) rc = template_vector(second, b);
  if (rc != ML_OK) return rc;
  if (a->count != b->count) return ML_UNAVAILABLE;
  const std::size_t c = a->count;
  const std::size_t length = static_cast<std::size_t>(count) + 2 * c;
  // The forward pass reads the network's whole input count: a shorter
  // vector is padded with zeros rather than read past its end.
  const std::size_t room = std::max<std::size_t>(length, std::max(mlp_input_count(&network), 0));
  auto values = malloc_array<std::int32_t>(room);
  if (!values) return ML_NO_MEMORY;
  std::int32_t* v = values.get();
  for (int i = 0; i < count; ++i) *v++ = sub_scores[i];
  v = std::copy_n(b->values, c, v);
  std::copy_n(a->values, c, v);
  *out_values = values.release();
  *out_length = static_cast<std::int32_t>(length);
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API int quality_extract_features(const QualityModelHolder* holder, const GrayImage* image,
                                     int32_t** out_values, uint16_t* out_count) {
  if (!holder || !image || !out_values || !out_count) return ML_BAD_ARGUMENT;
  mlp_set_error(0);
  try {
    Malloced<std::int32_t> values;
    const int rc = extract_features(*holder, image, values);
    if (rc != ML_OK) return rc;
    *out_values = values.release();
    *out_count = QUALITY_FEATURE_COUNT;
    return ML_OK;
  } catch (const std::bad_alloc&) {
    return ML_NO_MEMORY;
  }
}

ZYL_API int quality_model_image_score(const QualityModelHolder* holder, GrayImage* image,
                                      int16_t* out_score) {
  if (!holder || !image || !out_score) return ML_BAD_ARGUMENT;
  try {
    return image_score(*holder, image, *out_score);
  } catch (const std::bad_alloc&) {
    return ML_NO_MEMORY;
  }
}

ZYL_API int quality_model_image_meets_level(const QualityModelHolder* holder, GrayImage* image,
                                            int level, int* out_flag) {
  if (!out_flag || static_cast<unsigned>(level) > 9u) return ML_BAD_ARGUMENT;
  *out_flag = 0;
  if (!holder || !image) return ML_BAD_ARGUMENT;
  try {
    std::int16_t score = 0;
    const int rc = image_score(*holder, image, score);
    if (rc != ML_OK) return rc;
    *out_flag = score >= static_cast<std::int16_t>(quality_model_level_threshold(holder, level));
    return ML_OK;
  } catch (const std::bad_alloc&) {
    return ML_NO_MEMORY;
  }
}

}  // extern "C"
