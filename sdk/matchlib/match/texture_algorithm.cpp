// The texture-feature algorithm: an image's learned-quality features as a
// kind-87 template, the raw-image wrapper, a template's grid map, the
// comparison of two templates' grid maps, the decision over its sub-scores
// and the algorithm descriptor that bundles them.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_texture_algorithm.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/far_scale.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/rigid_transform.h"
#include "matchlib/filter/feature_vector.h"
#include "matchlib/filter/quality_learned.h"
#include "matchlib/filter/quality_network.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/match/texture_algorithm.h"
#include "matchlib/match/gridmap_match.h"
#include "matchlib/template/block_maps.h"
#include "matchlib/template/container.h"

namespace zyl::matchlib {
namespace {

// The stored feature vector of the image's 190 features.
int serialise_features(MatchContext* ctx, const GrayImage* image, std::uint8_t** bytes,
                       std::uint16_t* size) {
  QualityModelHolder* holder = zyl::matchlib::quality_model_create_default(ctx);
  if (!holder) return ML_NO_MEMORY;
  FeatureVector* vector = nullptr;
  int rc = zyl::matchlib::featvec_create(
      static_cast<std::uint16_t>(zyl::matchlib::image_height(image)),
      static_cast<std::uint16_t>(zyl::matchlib::image_width(image)), &vector);
  if (rc == ML_OK)
    rc = zyl::matchlib::quality_extract_features(holder, image, &vector->values, &vector->count);
  if (rc == ML_OK) rc = zyl::matchlib::featvec_write(vector, bytes, size);
  zyl::matchlib::featvec_free(vector);
  zyl::matchlib::quality_model_release(holder);
  return rc;
}

constexpr std::uint32_t kTransformResolutionKey = 0x94547f74;
constexpr int kDefaultResolution = 500;

// Both templates' grid maps, released on every path.
struct MapPair {
  TextureGridMap first{}, second{};
  ~MapPair() {
    zyl::matchlib::texture_gridmap_free(&first);
    zyl::matchlib::texture_gridmap_free(&second);
  }
};

// The work size of two maps. The comparison reads 16-bit lengths, so a
// longer section cannot be a valid map: no work size, like any other map
// the comparison refuses.
std::uint32_t work_size_of(const MapPair& maps, std::uint32_t flags) {
  if (maps.first.length > 0xFFFF || maps.second.length > 0xFFFF) return 0;
  return zyl::matchlib::gridmap_match_work_size(
      maps.first.bytes, static_cast<std::uint16_t>(maps.first.length), maps.second.bytes,
      static_cast<std::uint16_t>(maps.second.length), flags);
}

// The comparison itself; the caller's transform has been read and released.
int compare(MatchContext* ctx, DataBlob* first, DataBlob* second, const GridAlignment* start,
            std::uint16_t** out_scores, RigidTransform** found) {
  std::uint32_t flags =
      zyl::matchlib::param_get_360(ctx) ? GRIDMAP_FULL_TURN | GRIDMAP_DETAIL : GRIDMAP_DETAIL;
  if (start) flags |= GRIDMAP_GIVEN_ONLY;
  MapPair maps;
  int rc = zyl::matchlib::texture_gridmap_of(first, &maps.first);
  if (rc != ML_OK) return rc;
  rc = zyl::matchlib::texture_gridmap_of(second, &maps.second);
  if (rc != ML_OK) return rc;
  const std::uint32_t size = work_size_of(maps, flags);
  if (size == 0) return ML_UNAVAILABLE;
  // The comparison's work area is 16-bit aligned.
  std::unique_ptr<std::uint16_t, decltype(&std::free)> work(
      static_cast<std::uint16_t*>(ml_malloc(size)), std::free);
  if (!work) return ML_NO_MEMORY;
  GridMatchDetail detail{0, GRIDMAP_DETAIL_KIND, 0, {}};
  GridAlignment alignment = start ? *start : GridAlignment{};
  rc = zyl::matchlib::gridmap_match(
      work.get(), size, maps.first.bytes, static_cast<std::uint16_t>(maps.first.length),
      maps.second.bytes, static_cast<std::uint16_t>(maps.second.length), 0, &detail.score, nullptr,
      &alignment, flags);
  if (rc != ML_OK) return rc;
  auto* scores = static_cast<std::uint16_t*>(
      ml_malloc(TEXTURE_SUBSCORE_COUNT * sizeof(std::uint16_t)));
  if (!scores) return ML_NO_MEMORY;
  scores[0] = detail.score;
  for (int k = 0; k < GRIDMAP_DETAIL_VALUES; ++k) scores[1 + k] = detail.values[k];
  if (start) {
    // A resolution that is not positive cannot scale the offsets; it is
    // taken as the default rather than failing the comparison.
    int dpi = zyl::matchlib::param_get(ctx, kTransformResolutionKey, kDefaultResolution);
    if (dpi <= 0) dpi = kDefaultResolution;
    // 32-bit offsets: a wide map's shift does not wrap.
    *found = zyl::matchlib::xform_create_dpi_phase(
        alignment.dx, alignment.dy, static_cast<std::int32_t>(alignment.angle) << 16, dpi);
    if (!*found) {
      std::free(scores);
      return ML_NO_MEMORY;
    }
  }
  *out_scores = scores;
  return ML_OK;
}

int match_templates(MatchContext* ctx, DataBlob* first, DataBlob* second,
                    std::uint16_t** out_scores, std::uint16_t* out_count,
                    RigidTransform** transform) {
  GridAlignment start{};
  const bool given = transform && *transform;
  if (given) {
    std::int16_t x = 0, y = 0;
    std::uint8_t angle = 0;
    zyl::matchlib::xform_get_dpi(*transform, &x, &y, &angle, kDefaultResolution);
    start = {angle, x, y};
    zyl::matchlib::xform_release(std::exchange(*transform, nullptr));
  }
  RigidTransform* found = nullptr;
  const int rc = compare(ctx, first, second, given ? &start : nullptr, out_scores, &found);
  if (rc != ML_OK) return rc;
  *out_count = TEXTURE_SUBSCORE_COUNT;
  if (given) *transform = found;
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int texture_extract(MatchContext* ctx, GrayImage* image, void*, int32_t kind,
                                       DataBlob** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  if (kind != TEXTURE_TEMPLATE_KIND) return ML_WRONG_KIND;
  if (!image) return ML_BAD_ARGUMENT;
  std::uint8_t* bytes = nullptr;
  std::uint16_t size = 0;
  const int rc = serialise_features(ctx, image, &bytes, &size);
  if (rc != ML_OK) return rc;
  *out = zyl::matchlib::blob_wrap(TEXTURE_TEMPLATE_KIND, bytes, size, 1, free_callback, bytes);
  if (!*out) {
    std::free(bytes);
    return ML_NO_MEMORY;
  }
  return ML_OK;
}

extern "C" ZYL_API int texture_image_from_raw(const void*, const uint8_t* pixels, uint32_t length,
                                              int height, int width, int resolution,
                                              GrayImage** out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = nullptr;
  const std::uint32_t h = static_cast<std::uint16_t>(height), w = static_cast<std::uint16_t>(width);
  if (!pixels || h * w != length) return ML_BAD_ARGUMENT;
  *out = zyl::matchlib::texture_image_wrap(pixels, static_cast<int>(h), static_cast<int>(w),
                                           resolution);
  return *out ? ML_OK : ML_UNAVAILABLE;
}

GrayImage* zyl::matchlib::texture_image_wrap(const uint8_t* pixels, int height, int width,
                                             int resolution) {
  return zyl::matchlib::image_create(height, width, resolution, resolution, pixels, 0);
}

int zyl::matchlib::texture_gridmap_of(const DataBlob* blob, TextureGridMap* out) {
  if (!out) return ML_BAD_ARGUMENT;
  *out = {};
  const std::uint8_t* section = nullptr;
  std::uint32_t length = 0;
  const int rc = zyl::matchlib::tmpl_get_section(blob, TEXTURE_GRIDMAP_KIND, &section, &length);
  if (rc != ML_OK) return rc;
  std::uint8_t* map = nullptr;
  std::uint32_t size = 0;
  int vo = 0, ho = 0, rows = 0, cols = 0;
  if (zyl::matchlib::gridmap_from_compact(section, length, &map, &size, &vo, &ho, &rows, &cols, 0,
                                          nullptr, nullptr) == ML_OK) {
    *out = {map, size, map};
  } else {
    *out = {section, length, nullptr};
  }
  return ML_OK;
}

void zyl::matchlib::texture_gridmap_free(TextureGridMap* map) {
  if (!map) return;
  std::free(map->owned);
  *map = {};
}

extern "C" ZYL_API int texture_match(MatchContext* ctx, DataBlob* first, DataBlob* second,
                                     uint16_t** out_scores, uint16_t* out_count,
                                     RigidTransform** transform) {
  if (!out_scores || !out_count) {
    if (transform) zyl::matchlib::xform_release(std::exchange(*transform, nullptr));
    return ML_BAD_ARGUMENT;
  }
  *out_scores = nullptr;
  *out_count = 0;
  const int rc = zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return match_templates(ctx, first, second, out_scores, out_count, transform);
  });
  if (rc != ML_OK) {
    std::free(std::exchange(*out_scores, nullptr));
    *out_count = 0;
    if (transform) zyl::matchlib::xform_release(std::exchange(*transform, nullptr));
  }
  return rc;
}

extern "C" ZYL_API int texture_decide(MatchContext*, DataBlob*, DataBlob*,
                                      const uint16_t* sub_scores, uint16_t count,
                                      const ScoreProfile* profile, uint16_t* out_score) {
  if (!out_score) return ML_BAD_ARGUMENT;
  *out_score = 0;
  if (count != TEXTURE_SUBSCORE_COUNT) return ML_CORRUPT;
  if (!sub_scores) return ML_BAD_ARGUMENT;
  if (sub_scores[0] == 0) return ML_OK;
  return zyl::matchlib::score_profile_fuse(sub_scores, TEXTURE_SUBSCORE_COUNT, profile, out_score);
}

const AlgorithmDescriptor TextureAlgorithm = {
    TEXTURE_ALGORITHM_ID, model_set_load,   texture_extract, texture_image_from_raw,
    texture_match,        texture_decide,   detect_extremum, detect_extremum_scaled};

extern "C" {

ZYL_API GrayImage* texture_image_wrap(const uint8_t* pixels, int height, int width,
                                      int resolution) {
  return zyl::matchlib::texture_image_wrap(pixels, height, width, resolution);
}
ZYL_API int texture_gridmap_of(const DataBlob* blob, TextureGridMap* out) {
  return zyl::matchlib::texture_gridmap_of(blob, out);
}
ZYL_API void texture_gridmap_free(TextureGridMap* map) { zyl::matchlib::texture_gridmap_free(map); }

}  // extern "C"
