// The texture-feature algorithm: an image's learned-quality features as a
// kind-87 template, the raw-image wrapper, a template's grid map and the
// decision over a grid-map comparison's sub-scores.
#include <cstdint>
#include <cstdlib>

#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_texture_algorithm.h"

namespace zyl::matchlib {
namespace {

// The stored feature vector of the image's 190 features.
int serialise_features(MatchContext* ctx, const GrayImage* image, std::uint8_t** bytes,
                       std::uint16_t* size) {
  QualityModelHolder* holder = quality_model_create_default(ctx);
  if (!holder) return ML_NO_MEMORY;
  FeatureVector* vector = nullptr;
  int rc = featvec_create(static_cast<std::uint16_t>(image_height(image)),
                          static_cast<std::uint16_t>(image_width(image)), &vector);
  if (rc == ML_OK) rc = quality_extract_features(holder, image, &vector->values, &vector->count);
  if (rc == ML_OK) rc = featvec_write(vector, bytes, size);
  featvec_free(vector);
  quality_model_release(holder);
  return rc;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API int texture_extract(MatchContext* ctx, const GrayImage* image, const void*, int kind,
                            DataBlob** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (kind != TEXTURE_TEMPLATE_KIND) return ML_WRONG_KIND;
  if (!image) return ML_BAD_ARGUMENT;
  std::uint8_t* bytes = nullptr;
  std::uint16_t size = 0;
  const int rc = serialise_features(ctx, image, &bytes, &size);
  if (rc != ML_OK) return rc;
  *out = blob_wrap(TEXTURE_TEMPLATE_KIND, bytes, size, 1, free_callback, bytes);
  if (!*out) {
    std::free(bytes);
    return ML_NO_MEMORY;
  }
  return ML_OK;
}

ZYL_API int texture_image_from_raw(const void*, const uint8_t* pixels, uint32_t length, int height,
                                   int width, int resolution, GrayImage** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  const std::uint32_t h = static_cast<std::uint16_t>(height), w = static_cast<std::uint16_t>(width);
  if (!pixels || h * w != length) return ML_BAD_ARGUMENT;
  *out = texture_image_wrap(pixels, static_cast<int>(h), static_cast<int>(w), resolution);
  return *out ? ML_OK : ML_UNAVAILABLE;
}

ZYL_API GrayImage* texture_image_wrap(const uint8_t* pixels, int height, int width,
                                      int resolution) {
  return image_create(height, width, resolution, resolution, pixels, 0);
}

ZYL_API int texture_gridmap_of(const DataBlob* blob, TextureGridMap* out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = {};
  const std::uint8_t* section = nullptr;
  std::uint32_t length = 0;
  const int rc = tmpl_get_section(blob, TEXTURE_GRIDMAP_KIND, &section, &length);
  if (rc != ML_OK) return rc;
  std::uint8_t* map = nullptr;
  std::uint32_t size = 0;
  int vo = 0, ho = 0, rows = 0, cols = 0;
  if (gridmap_from_compact(section, length, &map, &size, &vo, &ho, &rows, &cols, 0, nullptr,
                           nullptr) == ML_OK) {
    *out = {map, size, map};
  } else {
    *out = {section, length, nullptr};
  }
  return ML_OK;
}

ZYL_API void texture_gridmap_free(TextureGridMap* map) {
  if (!map) return;
  std::free(map->owned);
  *map = {};
}

ZYL_API int texture_decide(const void*, const void*, const void*, const uint16_t* sub_scores,
                           int count, const ScoreProfile* profile, int16_t* out_score) {
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (count != TEXTURE_SUBSCORE_COUNT) return ML_CORRUPT;
  if (!sub_scores) return ML_BAD_ARGUMENT;
  if (sub_scores[0] == 0) return ML_OK;
  std::uint16_t fused = 0;
  const int rc = score_profile_fuse(sub_scores, TEXTURE_SUBSCORE_COUNT, profile, &fused);
  *out_score = static_cast<std::int16_t>(fused);
  return rc;
}

}  // extern "C"
