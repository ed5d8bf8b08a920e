// The 210-value feature vector of a 500-dpi image (grey statistics, dark
// neighbourhoods, the halved texture features, the mean grey) and its
// check by a classifier callback.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_image_features.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_ridgemap.h"
#include "zylscan/matchlib_texture_features.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/image_features.h"
#include "matchlib/filter/quality_network.h"
#include "matchlib/filter/ridgemap_skeleton.h"
#include "matchlib/filter/texture_features.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/image_stats.h"

namespace zyl::matchlib {
namespace {

constexpr int kStats = 0, kStats127 = 5, kDark = 10, kTexture = 19, kMean = 209;

std::int16_t per_mille(std::uint64_t count, std::uint64_t total) {
  return static_cast<std::int16_t>(total ? count * 1000 / total : 0);
}

void grey_stats(const std::uint8_t* px, std::size_t n, int centre, int d, std::int16_t* out) {
  std::array<std::uint64_t, 5> c{};
  for (std::size_t i = 0; i < n; ++i) {
    const int v = px[i];
    c[0] += v > centre;
    c[1] += v > centre + d;
    c[2] += v > centre + 2 * d;
    c[3] += v < centre - d;
    c[4] += v < centre - 2 * d;
  }
  for (int k = 0; k < 5; ++k) out[k] = per_mille(c[k], n);
}

void dark_neighbourhoods(const std::uint8_t* px, int h, int w, int m, std::int16_t* out) {
  std::array<std::uint64_t, 9> counts{};
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      const std::uint8_t* p = px + static_cast<std::size_t>(y) * w + x;
      if (*p >= m) continue;
      int k = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if ((dy || dx) && p[dy * w + dx] < m) ++k;
      ++counts[k];
    }
  const std::uint64_t total = static_cast<std::uint64_t>(h) * w;
  for (int k = 1; k <= 8; ++k) out[k] = per_mille(counts[k], total);
}

// The 190 texture features of the image into slots 19-208. On failure the
// slots stay 0 and the status is answered.
int texture_slots(const std::uint8_t* px, int h, int w, std::int16_t* out) {
  zyl::matchlib::mlp_set_error(0);
  const std::size_t n = static_cast<std::size_t>(h) * w;
  const int bh = (h + 15) >> 4, bw = (w + 15) >> 4;
  const std::size_t blocks = static_cast<std::size_t>(bh) * bw;
  std::vector<std::uint8_t> map(px, px + n), b1(blocks), b2(blocks), b3(blocks);
  zyl::matchlib::ridgemap_skeleton(map.data(), h, w, b1.data(), b2.data(), b3.data(), bh, bw, 0);
  if (zyl::matchlib::mlp_get_error() != 0)
    return zyl::matchlib::mlp_error_status(zyl::matchlib::mlp_get_error());
  std::array<std::int32_t, TEXTURE_FEATURE_COUNT> features{};
  zyl::matchlib::texture_features_compute(px, map.data(), h, w, features.data());
  if (zyl::matchlib::mlp_get_error() != 0)
    return zyl::matchlib::mlp_error_status(zyl::matchlib::mlp_get_error());
  for (int i = 0; i < TEXTURE_FEATURE_COUNT; ++i)
    out[i] = static_cast<std::int16_t>(zyl::matchlib::imgfeat_halve_texture(features[i]));
  return ML_OK;
}

int compute(const GrayImage* image, std::int16_t* v) {
  const int h = zyl::matchlib::image_height(image), w = zyl::matchlib::image_width(image);
  const std::uint8_t* px = zyl::matchlib::image_pixels(image);
  const std::size_t n = static_cast<std::size_t>(h) * w;
  const int m = zyl::matchlib::image_mean<std::uint8_t>(px, h, w);
  const int d = static_cast<int>(zyl::matchlib::fx_isqrt16_alt(static_cast<std::uint16_t>(
      std::min<std::uint32_t>(zyl::matchlib::image_variance<std::uint8_t>(px, h, w), 0xFFFF))));
  grey_stats(px, n, m, d, v + kStats);
  grey_stats(px, n, 127, d, v + kStats127);
  dark_neighbourhoods(px, h, w, m, v + kDark);
  v[kMean] = static_cast<std::int16_t>(m);
  return texture_slots(px, h, w, v + kTexture);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

uint16_t zyl::matchlib::imgfeat_halve_texture(int32_t value) {
  if (value < -1) return 0;
  if (value > 131071) return 65535;
  return static_cast<std::uint16_t>(value / 2);
}

extern "C" ZYL_API void imgfeat_grey_stats(const uint8_t* pixels, int height, int width, int centre,
                                           int d, int16_t* out) {
  if (!out) return;
  if (!pixels || height <= 0 || width <= 0) {
    std::fill_n(out, 5, 0);
    return;
  }
  grey_stats(pixels, static_cast<std::size_t>(height) * width, centre, d, out);
}

int zyl::matchlib::imgfeat_compute(const void*, const GrayImage* image, int16_t** out_vector,
                                   int* out_count) {
  if (!image || !out_vector || !out_count) return ML_BAD_ARGUMENT;
  const int dpi = zyl::matchlib::image_resolution_y(image);
  if (dpi < 492 || dpi > 508) return ML_WRONG_KIND;
  if (!zyl::matchlib::image_pixels(image) || zyl::matchlib::image_height(image) <= 0 ||
      zyl::matchlib::image_width(image) <= 0)
    return ML_BAD_ARGUMENT;
  auto* v = static_cast<std::int16_t*>(ml_calloc(IMAGE_FEATURE_COUNT, sizeof(std::int16_t)));
  if (!v) return ML_NO_MEMORY;
  int rc = ML_OK;
  rc = zyl::GuardedCall(ML_NO_MEMORY, [&] { return compute(image, v); });
  // A vector whose texture slots could not be filled is not handed out.
  if (rc != ML_OK) {
    std::free(v);
    return rc;
  }
  *out_vector = v;
  *out_count = IMAGE_FEATURE_COUNT;
  return ML_OK;
}

void zyl::matchlib::imgfeat_free(int16_t* vector) { std::free(vector); }

extern "C" ZYL_API int imgfeat_classify(MatchContext* ctx, const GrayImage* image,
                                        const ImageClassifier* classifier, int* out_flag) {
  if (!out_flag) return ML_BAD_ARGUMENT;
  *out_flag = 0;
  if (!classifier || !classifier->rate) return ML_BAD_ARGUMENT;
  std::int16_t* v = nullptr;
  int count = 0;
  int rc = zyl::matchlib::imgfeat_compute(nullptr, image, &v, &count);
  if (rc != ML_OK) return rc;
  std::uint16_t score = 0;
  rc = classifier->rate(ctx, v, count, &score);
  if (rc == ML_OK) *out_flag = score >= classifier->threshold;
  zyl::matchlib::imgfeat_free(v);
  return rc;
}

extern "C" {

ZYL_API uint16_t imgfeat_halve_texture(int32_t value) {
  return zyl::matchlib::imgfeat_halve_texture(value);
}
ZYL_API int imgfeat_compute(const void* arg0, const GrayImage* image, int16_t** out_vector,
                            int* out_count) {
  return zyl::matchlib::imgfeat_compute(arg0, image, out_vector, out_count);
}
ZYL_API void imgfeat_free(int16_t* vector) { zyl::matchlib::imgfeat_free(vector); }

}  // extern "C"
