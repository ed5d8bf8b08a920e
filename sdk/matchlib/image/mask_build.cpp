// Building an image's mask bits from its nine mask settings: the region of
// interest (circle and rectangle) and the local-variance background.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/core/param_store.h"
#include "matchlib/image/mask_build.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/image/segmentation.h"

namespace zyl::matchlib {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Map = std::unique_ptr<std::uint8_t[], FreeDeleter>;

Map alloc_map(std::size_t n) { return Map(static_cast<std::uint8_t*>(ml_malloc(n ? n : 1))); }

constexpr int kDefaultVarianceThreshold = 64;
constexpr int kDefaultVotePercent = 75;

// The region map: 255 inside the circle and/or rectangle, 0 outside; null
// in `map` (and true) when the settings name neither.
bool build_region_map(const GrayImage* img, const MaskSettings& s, Map& map) {
  const bool circle = s.circle_radius > 0;
  const bool rect = s.rect_width > 0 && s.rect_height > 0;
  if (!circle && !rect) return true;
  const std::size_t h = img->height, w = img->width;
  map = alloc_map(h * w);
  if (!map) return false;
  const std::int64_t r2 = std::int64_t{s.circle_radius} * s.circle_radius;
  const std::int64_t right = std::int64_t{s.rect_left} + s.rect_width;
  const std::int64_t bottom = std::int64_t{s.rect_top} + s.rect_height;
  for (std::size_t i = 0; i < h; ++i) {
    for (std::size_t j = 0; j < w; ++j) {
      bool inside = true;
      if (circle) {
        const std::int64_t dy = std::int64_t(i) - s.circle_row;
        const std::int64_t dx = std::int64_t(j) - s.circle_column;
        inside = dy * dy + dx * dx <= r2;
      }
      if (rect)
        inside = inside && std::int64_t(i) >= s.rect_top && std::int64_t(i) < bottom &&
                 std::int64_t(j) >= s.rect_left && std::int64_t(j) < right;
      map[i * w + j] = inside ? 255 : 0;
    }
  }
  return true;
}

int or_bit_where_clear(GrayImage* img, int bit, const std::uint8_t* map) {
  MaskPlane* plane = zyl::matchlib::image_mask_plane_ensure(img);
  if (!plane) return ML_NO_MEMORY;
  zyl::matchlib::mask_set_bits_where_clear(plane, bit, map);
  return ML_OK;
}

int build_background(GrayImage* img, int threshold, int percent) {
  const std::size_t n = pixel_count(img);
  if (n == 0) return ML_OK;  // nothing to mark
  if (!img->pixels) return ML_BAD_ARGUMENT;
  Map map = alloc_map(n);
  if (!map) return ML_NO_MEMORY;
  const int st = zyl::matchlib::imgproc_segment_local_variance(
      img->pixels, img->height, img->width, threshold > 0 ? threshold : kDefaultVarianceThreshold,
      percent > 0 ? percent : kDefaultVotePercent, map.get());
  if (st != ML_OK) return st;
  return or_bit_where_clear(img, MASK_BACKGROUND, map.get());
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::mask_settings_from_params(const GrayImage* image, const MatchContext* ctx,
                                             MaskSettings* out) {
  if (!image || !out) return ML_BAD_ARGUMENT;
  *out = MaskSettings{
      zyl::matchlib::param_get(ctx, 0x0cb73cb4, 0),
      zyl::matchlib::param_get(ctx, 0x4dc10c80, image->width / 2),
      zyl::matchlib::param_get(ctx, 0x967d3b73, image->height / 2),
      zyl::matchlib::param_get(ctx, 0x45561a26, 0),
      zyl::matchlib::param_get(ctx, 0x22e25999, 0),
      zyl::matchlib::param_get(ctx, 0x3739a685, 0),
      zyl::matchlib::param_get(ctx, 0x4a550e6a, 0),
      zyl::matchlib::param_get(ctx, 0xe01198e0, kDefaultVarianceThreshold),
      zyl::matchlib::param_get(ctx, 0xb4f25cce, kDefaultVotePercent),
  };
  return ML_OK;
}

int zyl::matchlib::image_build_masks(GrayImage* image, const MaskSettings* settings, int force) {
  if (!image || !settings) return ML_BAD_ARGUMENT;
  const MaskSettings s = *settings;  // the image's own settings may be passed
  if (!image->region_built || force) {
    Map map;
    if (!build_region_map(image, s, map)) return ML_NO_MEMORY;
    if (map) {
      const int st = or_bit_where_clear(image, MASK_OUTSIDE_ROI, map.get());
      if (st != ML_OK) return st;
    }
    image->mask_settings = s;
  }
  if (!image->background_built || force) {
    const int st = build_background(image, s.variance_threshold, s.vote_percent);
    if (st != ML_OK) return st;
    image->mask_settings = s;
  }
  image->region_built = 1;
  image->background_built = 1;
  return ML_OK;
}

int zyl::matchlib::image_build_masks_from_params(GrayImage* image, const MatchContext* ctx) {
  if (!image) return ML_BAD_ARGUMENT;
  MaskSettings s;
  zyl::matchlib::mask_settings_from_params(image, ctx, &s);
  return zyl::matchlib::image_build_masks(image, &s, 0);
}

extern "C" ZYL_API int image_rebuild_masks(GrayImage* image) {
  if (!image) return ML_BAD_ARGUMENT;
  return zyl::matchlib::image_build_masks(image, &image->mask_settings, 0);
}

extern "C" ZYL_API int image_build_background_default(GrayImage* image) {
  if (!image) return ML_BAD_ARGUMENT;
  return build_background(image, kDefaultVarianceThreshold, kDefaultVotePercent);
}

extern "C" ZYL_API int image_mask_from_map(GrayImage* image, const uint8_t* map, int which) {
  if (!image || !map) return ML_BAD_ARGUMENT;
  MaskPlane* plane = zyl::matchlib::image_mask_plane_ensure(image);
  if (!plane) return ML_NO_MEMORY;
  zyl::matchlib::mask_assign_bits_where_clear(plane, which ? MASK_BACKGROUND : MASK_OUTSIDE_ROI,
                                              map);
  return ML_OK;
}

extern "C" ZYL_API int image_mask_or_from_map(GrayImage* image, const uint8_t* map, int which) {
  if (!image || !map) return ML_BAD_ARGUMENT;
  return or_bit_where_clear(image, which ? MASK_BACKGROUND : MASK_OUTSIDE_ROI, map);
}

extern "C" ZYL_API void mask_ellipse_map(uint8_t* map, int height, int width, int row_semi_axis,
                                         int column_semi_axis) {
  if (!map || height <= 0 || width <= 0) return;
  const std::int64_t rs2 = std::int64_t{row_semi_axis} * row_semi_axis;
  const std::int64_t cs2 = std::int64_t{column_semi_axis} * column_semi_axis;
  for (int r = 0; r < height; ++r) {
    const std::int64_t i = r - height / 2;
    for (int c = 0; c < width; ++c) {
      const std::int64_t j = c - width / 2;
      if (i * i * cs2 + j * j * rs2 > rs2 * cs2) map[std::size_t(r) * width + c] = 0;
    }
  }
}

extern "C" {

ZYL_API int mask_settings_from_params(const GrayImage* image, const MatchContext* ctx,
                                      MaskSettings* out) {
  return zyl::matchlib::mask_settings_from_params(image, ctx, out);
}
ZYL_API int image_build_masks(GrayImage* image, const MaskSettings* settings, int force) {
  return zyl::matchlib::image_build_masks(image, settings, force);
}
ZYL_API int image_build_masks_from_params(GrayImage* image, const MatchContext* ctx) {
  return zyl::matchlib::image_build_masks_from_params(image, ctx);
}

}  // extern "C"
