// Shared steps of every keypoint detector: the border detectors keep free,
// the collection of a score map into classed points, and the orientation
// finisher.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/keypoint/keypoint_detect.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/param_store.h"
#include "matchlib/image/gradient_variance.h"
#include "matchlib/image/local_maxima.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeyBorder = 0x35a4bbb3;
constexpr std::uint32_t kKeyDiscRadius = 0x21d91b23;
constexpr std::uint32_t kKeyResolution = 0x47664bcc;

// Angle at (x, y) from gradient sums over the disc i*i + j*j <= r*r + r,
// samples outside the height x width maps left out.
int disc_angle(const std::int8_t* gx, const std::int8_t* gy, int height, int width, int y, int x,
               int r) {
  std::int64_t sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
  const int limit = r * r + r;
  for (int i = -r; i <= r; ++i) {
    const int yy = y + i;
    if (yy < 0 || yy >= height) continue;
    for (int j = -r; j <= r; ++j) {
      const int xx = x + j;
      if (i * i + j * j > limit || xx < 0 || xx >= width) continue;
      const std::size_t k = static_cast<std::size_t>(yy) * width + xx;
      const int a = gx[k], b = gy[k];
      sx += a, sy += b, sxx += a * a, syy += b * b, sxy += a * b;
    }
  }
  const int e = zyl::matchlib::fx_atan2(static_cast<int>(sy), static_cast<int>(sx)) & 0xFF;
  const int f = zyl::matchlib::fx_atan2(static_cast<int>(2 * sxy), static_cast<int>(sxx - syy));
  const int theta = (f >> 1) & 0x7F;
  return zyl::matchlib::fx_dir_absdiff(theta + 128, e) < 64 ? theta + 128 : theta;
}

}  // namespace

int border_radius(const MatchContext* ctx) {
  return std::max(zyl::matchlib::param_get(ctx, kKeyBorder, 4),
                  zyl::matchlib::param_get(ctx, kKeyDiscRadius, 4));
}

int classify_point(const std::uint8_t* pixels, int height, int width, int x, int y,
                   int resolution) {
  const auto window = [&](int r, auto&& visit) {
    for (int yy = std::max(0, y - r); yy <= std::min(height - 1, y + r); ++yy)
      for (int xx = std::max(0, x - r); xx <= std::min(width - 1, x + r); ++xx)
        visit(pixels[static_cast<std::size_t>(yy) * width + xx]);
  };
  long sum = 0, n = 0;
  window(5, [&](int p) { sum += p, ++n; });
  if (n == 0) return 2;
  const long mean = sum / n;
  int at_or_above = 0;
  window(1, [&](int p) { at_or_above += p >= mean; });
  if (resolution < 255) return at_or_above >= 7 ? 1 : at_or_above >= 3 ? 3 : 2;
  return at_or_above >= 8 ? 1 : at_or_above >= 2 ? 3 : 2;
}

int collect_points(const MatchContext* ctx, const std::uint8_t* pixels, std::uint8_t* map,
                   int height, int width, int border, int skip, KeyPoint** points, int* count) {
  *points = nullptr;
  *count = 0;
  const int resolution = zyl::matchlib::param_get(ctx, kKeyResolution, 500);
  int found = 0;
  if (const int st = zyl::matchlib::img_local_maxima_u8(map, height, width, border, map, &found))
    return st;
  if (found <= 0) return ML_OK;
  auto* list = static_cast<KeyPoint*>(ml_malloc(sizeof(KeyPoint) * found));
  if (!list) return ML_NO_MEMORY;
  int n = 0;
  for (int y = border; y < height - border; ++y)
    for (int x = border; x < width - border && n < found; ++x) {
      const std::uint8_t v = map[static_cast<std::size_t>(y) * width + x];
      if (!v) continue;
      const int c = classify_point(pixels, height, width, x, y, resolution);
      if (skip && c == 1) continue;
      list[n++] = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0, v,
                   static_cast<std::uint8_t>(c), 0};
    }
  if (n == 0) {
    std::free(list);
    return ML_OK;
  }
  *points = list;
  *count = n;
  return ML_OK;
}

int orient_points(const MatchContext* ctx, const std::uint8_t* pixels, int height, int width,
                  KeyPoint* points, int count) {
  const int r = zyl::matchlib::param_get(ctx, kKeyDiscRadius, 4);
  if (count <= 0) return ML_OK;
  std::vector<std::int8_t> gx(static_cast<std::size_t>(height) * width),
      gy(static_cast<std::size_t>(height) * width);
  if (const int st = zyl::matchlib::filter_sobel_s8(pixels, height, width, gx.data(), gy.data()))
    return st;
  // The detectors' borders keep the disc inside the image for the usual
  // radii; samples past the edge are left out so that a larger radius
  // setting cannot read outside the maps.
  for (int i = 0; i < count; ++i)
    points[i].angle = static_cast<std::uint8_t>(
        disc_angle(gx.data(), gy.data(), height, width, points[i].y, points[i].x, r));
  return ML_OK;
}

int orientation_disc(const std::int8_t* gx, const std::int8_t* gy, int height, int width, int y,
                     int x, int radius) {
  return disc_angle(gx, gy, height, width, y, x, radius);
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API int keypoint_border_radius(const MatchContext* ctx) { return border_radius(ctx); }

ZYL_API int keypoint_collect(const MatchContext* ctx, const uint8_t* pixels, uint8_t* map,
                             uint16_t height, uint16_t width, int border, int skip,
                             KeyPoint** points, int* count) {
  if (!pixels || !map || !points || !count) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return collect_points(ctx, pixels, map, height, width, border, skip, points, count);
  });
}

ZYL_API int keypoint_classify(const uint8_t* pixels, int height, int width, int x, int y,
                              int resolution) {
  if (!pixels || height <= 0 || width <= 0) return 2;
  return classify_point(pixels, height, width, x, y, resolution);
}

ZYL_API int keypoint_orient(const MatchContext* ctx, const uint8_t* pixels, int height, int width,
                            KeyPoint* points, int count) {
  if (count > 0 && (!pixels || !points || height <= 0 || width <= 0)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return orient_points(ctx, pixels, height, width, points, count);
  });
}

ZYL_API int kp_orientation_disc(const int8_t* gx, const int8_t* gy, int width, int y, int x,
                                int radius) {
  if (!gx || !gy || width <= 0) return 0;
  // Without the maps' height the disc is trusted to lie inside them.
  return disc_angle(gx, gy, y + radius + 1, width, y, x, radius);
}

}  // extern "C"
