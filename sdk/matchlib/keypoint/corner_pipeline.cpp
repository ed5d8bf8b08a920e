// Minimum-eigenvalue corner pipeline: the smaller eigenvalue of the
// smoothed structure tensor, its local maxima (four variants of the maximum
// test) strongest first, classed and oriented.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/keypoint/keypoint_detect.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_support.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/param_store.h"
#include "matchlib/core/sorting.h"
#include "matchlib/image/gradient_variance.h"
#include "matchlib/keypoint/corner_pipeline.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeyResolution = 0x47664bcc;
constexpr int kOrientRadius = 4;

struct CornerCandidate {
  std::int16_t column;
  std::int16_t row;
  std::int16_t response;
};

int corner_cmp_value_desc(const void* a, const void* b) {
  return static_cast<const CornerCandidate*>(b)->response -
         static_cast<const CornerCandidate*>(a)->response;
}

int pipeline(const MatchContext* ctx, const std::uint8_t* pixels, int height, int width,
             KeyPoint** points, int* count, int variant) {
  const int resolution = zyl::matchlib::param_get(ctx, kKeyResolution, 500);
  const std::size_t n = static_cast<std::size_t>(height) * width;
  std::vector<std::uint8_t> smooth(n);
  if (const int st = zyl::matchlib::binomial3x3<std::uint8_t>(pixels, height, width, smooth.data()))
    return st;
  if (const int st =
          zyl::matchlib::binomial3x3<std::uint8_t>(smooth.data(), height, width, smooth.data()))
    return st;
  std::vector<std::int8_t> gx(n), gy(n);
  if (const int st =
          zyl::matchlib::filter_sobel_s8(smooth.data(), height, width, gx.data(), gy.data()))
    return st;
  std::vector<std::int16_t> xx(n), yy(n), xy(n);
  for (std::size_t i = 0; i < n; ++i) {
    xx[i] = static_cast<std::int16_t>(gx[i] * gx[i]);
    yy[i] = static_cast<std::int16_t>(gy[i] * gy[i]);
    xy[i] = static_cast<std::int16_t>(gx[i] * gy[i]);
  }
  for (auto* m : {&xx, &yy, &xy})
    if (const int st =
            zyl::matchlib::binomial3x3<std::int16_t>(m->data(), height, width, m->data()))
      return st;

  std::vector<std::int16_t> resp(n, 0);
  for (int y = 2; y <= height - 3; ++y)
    for (int x = 2; x <= width - 3; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * width + x;
      const std::int64_t sxx = xx[i], syy = yy[i], sxy = xy[i];
      const std::int64_t m = (sxx + syy) / 2;
      const std::int64_t w = m * m + sxy * sxy - sxx * syy;
      if (w < 0) continue;
      const std::int64_t root = zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(w));
      resp[i] = static_cast<std::int16_t>(std::max<std::int64_t>(0, m - root));
    }

  std::vector<CornerCandidate> cand;
  if (height >= 9) {
    const int w = width;
    for (int y = 4; y <= height - 5; ++y)
      for (int x = 4; x <= width - 5; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        const int r = resp[i];
        if (r < 0) continue;
        auto above = [&](std::initializer_list<std::ptrdiff_t> offs) {
          for (std::ptrdiff_t o : offs)
            if (r <= resp[i + o]) return false;
          return true;
        };
        if (!above({-w, w, -1, 1})) continue;
        if (variant >= 1 && !above({-w - 1, -w + 1, w - 1, w + 1})) continue;
        if (variant >= 2 && !above({-2 * w, 2 * w, -2, 2})) continue;
        cand.push_back({static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                        static_cast<std::int16_t>(r)});
      }
  }
  if (!cand.empty())
    zyl::matchlib::shell_sort(cand.data(), static_cast<int>(cand.size()), sizeof(CornerCandidate),
                              corner_cmp_value_desc);

  std::vector<KeyPoint> found;
  for (const CornerCandidate& c : cand) {
    std::int16_t& r = resp[static_cast<std::size_t>(c.row) * width + c.column];
    if (r <= 0) continue;
    // The score byte saturates: a response of 255 x 16 or more is 255.
    const int score = std::min(r / 16, 255);
    found.push_back({c.column, c.row, 0, static_cast<std::uint8_t>(score),
                     static_cast<std::uint8_t>(
                         classify_point(smooth.data(), height, width, c.column, c.row, resolution)),
                     0});
    r = 0;
  }

  if (const int st = zyl::matchlib::binomial3x3<std::uint8_t>(pixels, height, width, smooth.data()))
    return st;
  if (const int st =
          zyl::matchlib::filter_sobel_s8(smooth.data(), height, width, gx.data(), gy.data()))
    return st;
  for (KeyPoint& p : found)
    p.angle = static_cast<std::uint8_t>(
        orientation_disc(gx.data(), gy.data(), height, width, p.y, p.x, kOrientRadius));

  if (found.empty()) return ML_OK;
  auto* list = static_cast<KeyPoint*>(ml_malloc(sizeof(KeyPoint) * found.size()));
  if (!list) return ML_NO_MEMORY;
  std::copy(found.begin(), found.end(), list);
  *points = list;
  *count = static_cast<int>(found.size());
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::corner_pipeline_run(const MatchContext* ctx, const uint8_t* pixels, int height,
                                       int width, KeyPoint** points, int* count, int variant) {
  if (points) *points = nullptr;
  if (count) *count = 0;
  if (!pixels || !points || !count || height <= 0 || width <= 0 || height > 0x7FFF ||
      width > 0x7FFF)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return pipeline(ctx, pixels, height, width, points, count, variant);
  });
}

#define ZYL_CORNER_VARIANT(v)                                                                 \
  extern "C" ZYL_API int corner_pipeline_v##v(const MatchContext* ctx, const uint8_t* pixels, \
                                              int height, int width, KeyPoint** points,       \
                                              int* count) {                                   \
    return zyl::matchlib::corner_pipeline_run(ctx, pixels, height, width, points, count, v);  \
  }
ZYL_CORNER_VARIANT(0)
ZYL_CORNER_VARIANT(1)
ZYL_CORNER_VARIANT(2)
ZYL_CORNER_VARIANT(3)
#undef ZYL_CORNER_VARIANT

extern "C" {

ZYL_API int corner_pipeline_run(const MatchContext* ctx, const uint8_t* pixels, int height,
                                int width, KeyPoint** points, int* count, int variant) {
  return zyl::matchlib::corner_pipeline_run(ctx, pixels, height, width, points, count, variant);
}

}  // extern "C"
