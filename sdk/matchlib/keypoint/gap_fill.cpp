// Gap filling: new points where the two nearest given points are farthest,
// classed and oriented by a weighted orientation histogram refined by the
// local structure axis; and the two direction helpers of the family.
#include <algorithm>
#include <memory>
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
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_support.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/sorting.h"
#include "matchlib/image/gradient_variance.h"
#include "matchlib/image/grey_image.h"
#include "matchlib/image/mask_plane.h"
#include "matchlib/keypoint/gap_fill.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kFar = 65025;  // 255 squared: the farthest a distance counts
constexpr int kMinGap = 32;
constexpr int kRefineDisc = 30;

// Rows 0..5 of the 11 x 11 histogram weights, columns 0..5 (the middle
// last); the rest mirrors them.
constexpr int kWeightQuarter[6][6] = {{26, 40, 55, 69, 79, 82},     {40, 60, 82, 103, 118, 124},
                                      {55, 82, 113, 142, 162, 170}, {69, 103, 142, 177, 203, 212},
                                      {79, 118, 162, 203, 233, 243}, {82, 124, 170, 212, 243, 255}};

int weight(int dy, int dx) {  // offsets -5..5
  return kWeightQuarter[5 - std::abs(dy)][5 - std::abs(dx)];
}

int histogram_angle(const std::uint8_t* dir, const std::uint16_t* mag, int width, int height,
                    int x, int y) {
  long bins[32] = {};
  for (int dy = -5; dy <= 5; ++dy)
    for (int dx = -5; dx <= 5; ++dx) {
      const int yy = y + dy, xx = x + dx;
      if (yy < 1 || yy > height - 2 || xx < 1 || xx > width - 2) continue;
      const std::size_t i = static_cast<std::size_t>(yy) * width + xx;
      bins[dir[i] / 8] += static_cast<long>(mag[i]) * weight(dy, dx);
    }
  int peak = -1;
  for (int b = 0; b < 32; ++b)
    if (bins[b] > bins[(b + 31) % 32] && bins[b] > bins[(b + 1) % 32] &&
        (peak < 0 || bins[b] > bins[peak]))
      peak = b;
  if (peak < 0) return 0;  // no bin stands out: a flat neighbourhood
  const long l = bins[(peak + 31) % 32], c = bins[peak], r = bins[(peak + 1) % 32];
  const long den = 2 * (l - 2 * c + r);
  const long offset = den ? 8 * (l - r) / den : 0;
  return static_cast<int>((peak * 8 + 4 + offset) & 0xFF);
}

int axis_theta(const std::int8_t* gx, const std::int8_t* gy, int width, int height, int y, int x,
               int limit) {
  std::int64_t sxx = 0, syy = 0, sxy = 0;
  for (int i = -6; i <= 6; ++i)
    for (int j = -6; j <= 6; ++j) {
      const int yy = y + i, xx = x + j;
      if (i * i + j * j > limit || yy < 0 || yy >= height || xx < 0 || xx >= width) continue;
      const std::size_t k = static_cast<std::size_t>(yy) * width + xx;
      sxx += gx[k] * gx[k], syy += gy[k] * gy[k], sxy += gx[k] * gy[k];
    }
  return (zyl::matchlib::fx_atan2(static_cast<int>(2 * sxy), static_cast<int>(sxx - syy)) >> 1) &
         0x7F;
}

int fill_gaps(GrayImage* image, const KeyPoint* points, int count, int wanted, KeyPoint** out,
              int* out_count) {
  const int H = zyl::matchlib::image_height(image), W = zyl::matchlib::image_width(image);
  if (zyl::matchlib::image_resolution(image) == 0) return ML_WRONG_KIND;
  // The new points take bit 0x20 of their mask cell.
  const MaskPlane* mask = zyl::matchlib::image_mask_plane(image);
  if (!mask || zyl::matchlib::mask_height(mask) != H || zyl::matchlib::mask_width(mask) != W)
    return ML_BAD_ARGUMENT;
  const std::uint8_t* px = zyl::matchlib::image_pixels(image);
  if (!px || H <= 0 || W <= 0) return ML_BAD_ARGUMENT;
  std::uint8_t* usable_raw = nullptr;
  if (const int st = zyl::matchlib::image_usable_mask_bytes(image, &usable_raw)) return st;
  std::unique_ptr<std::uint8_t, decltype(&std::free)> usable(usable_raw, &std::free);

  const std::size_t n = static_cast<std::size_t>(H) * W;
  std::vector<std::uint16_t> dist(n, 0);
  if (H > 10)
    for (int y = 5; y <= H - 6; ++y)
      for (int x = 5; x <= W - 6; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * W + x;
        if (!usable.get()[i]) continue;
        std::uint32_t d1 = kFar, d2 = kFar;
        for (int k = 0; k < count; ++k) {
          const long dx = points[k].x - x, dy = points[k].y - y;
          const std::uint32_t d = static_cast<std::uint32_t>(std::min<long>(dx * dx + dy * dy, kFar));
          if (d < d1) d2 = d1, d1 = d;
          else if (d < d2) d2 = d;
        }
        // Two distances of up to 65025 each: the sum saturates at 65535.
        dist[i] = static_cast<std::uint16_t>(std::min<std::uint32_t>(d1 + d2, 0xFFFF));
      }

  std::vector<std::uint16_t> keep(n, 0);
  for (int y = 5; y <= H - 6; ++y)
    for (int x = 5; x <= W - 6; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * W + x;
      const std::uint16_t v = dist[i];
      if (v < kMinGap) continue;
      bool top = true;
      for (int dy = -1; dy <= 1 && top; ++dy)
        for (int dx = -1; dx <= 1 && top; ++dx) top = dist[i + dy * W + dx] <= v;
      if (top) keep[i] = v;
    }
  std::vector<GapCandidate> cand;
  const std::size_t most = n / 16;
  for (int y = 5; y <= H - 6; ++y)
    for (int x = 5; x <= W - 6; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * W + x;
      if (!keep[i]) continue;
      if (keep[i + 1] || keep[i + W - 1] || keep[i + W] || keep[i + W + 1]) {
        keep[i] = 0;
        continue;
      }
      if (cand.size() < most)
        cand.push_back({static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(x), keep[i]});
    }
  if (!cand.empty())
    zyl::matchlib::shell_sort(cand.data(), static_cast<int>(cand.size()), sizeof(GapCandidate),
                              keypoint_cmp_score_desc);

  const int total = std::max(0, std::min(count + static_cast<int>(cand.size()), wanted));
  std::vector<KeyPoint> result(points, points + std::min(count, total));
  const int added = total - static_cast<int>(result.size());
  if (added > 0) {
    std::vector<std::uint8_t> smooth(n);
    if (const int st = zyl::matchlib::binomial3x3<std::uint8_t>(px, H, W, smooth.data())) return st;
    const int res = zyl::matchlib::image_resolution(image);
    const std::uint8_t* cells = zyl::matchlib::mask_cells(mask);
    for (int k = 0; k < added; ++k) {
      const GapCandidate& c = cand[k];
      result.push_back({static_cast<std::int16_t>(c.column), static_cast<std::int16_t>(c.row), 0, 0,
                        static_cast<std::uint8_t>(
                            classify_point(smooth.data(), H, W, c.column, c.row, res)),
                        static_cast<std::uint8_t>(cells[static_cast<std::size_t>(c.row) * W + c.column] &
                                                  MASK_ACCUMULATOR_WEAK)});
    }
    if (const int st = zyl::matchlib::binomial3x3<std::uint8_t>(smooth.data(), H, W, smooth.data()))
      return st;
    KeyPoint* fresh = result.data() + (result.size() - added);
    if (const int st = zyl::matchlib::kp_orientation_histogram(smooth.data(), W, H, fresh, added))
      return st;
    std::vector<std::int8_t> gx(n), gy(n);
    if (const int st = zyl::matchlib::filter_sobel_s8(smooth.data(), H, W, gx.data(), gy.data()))
      return st;
    for (int k = 0; k < added; ++k) {
      KeyPoint& p = fresh[k];
      const int theta = axis_theta(gx.data(), gy.data(), W, H, p.y, p.x, kRefineDisc);
      p.angle = static_cast<std::uint8_t>(
          zyl::matchlib::fx_dir_absdiff(theta + 128, p.angle) < 64 ? theta + 128 : theta);
    }
  }
  if (result.empty()) return ML_OK;
  auto* list = static_cast<KeyPoint*>(ml_malloc(sizeof(KeyPoint) * result.size()));
  if (!list) return ML_NO_MEMORY;
  std::copy(result.begin(), result.end(), list);
  *out = list;
  *out_count = static_cast<int>(result.size());
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API int keypoint_cmp_score_desc(const void* a, const void* b) {
  return static_cast<const GapCandidate*>(b)->value - static_cast<const GapCandidate*>(a)->value;
}

int zyl::matchlib::kp_orientation_histogram(const uint8_t* pixels, int width, int height,
                                            KeyPoint* points, int n) {
  if (n <= 0) return ML_OK;
  if (!pixels || !points || width <= 0 || height <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const std::size_t size = static_cast<std::size_t>(height) * width;
    std::vector<std::uint8_t> dir(size, 0);
    std::vector<std::uint16_t> mag(size, 0);
    const std::ptrdiff_t w = width;
    for (int y = 1; y < height - 1; ++y)
      for (int x = 1; x < width - 1; ++x) {
        const std::uint8_t* p = pixels + y * w + x;
        const int gx = ((p[-w + 1] + 2 * p[1] + p[w + 1]) - (p[-w - 1] + 2 * p[-1] + p[w - 1])) / 8;
        const int gy = ((p[w - 1] + 2 * p[w] + p[w + 1]) - (p[-w - 1] + 2 * p[-w] + p[-w + 1])) / 8;
        dir[y * w + x] = static_cast<std::uint8_t>(zyl::matchlib::fx_atan2(gy, gx));
        mag[y * w + x] = static_cast<std::uint16_t>(
            zyl::matchlib::fx_isqrt16_alt(static_cast<std::uint16_t>(gx * gx + gy * gy)));
      }
    for (int i = 0; i < n; ++i)
      points[i].angle = static_cast<std::uint8_t>(
          histogram_angle(dir.data(), mag.data(), width, height, points[i].x, points[i].y));
    return int{ML_OK};
  });
}

extern "C" ZYL_API int kp_centroid_direction(const uint8_t* pixels, int width, int y, int x,
                                             int r) {
  if (!pixels || width <= 0) return 0;
  long mx = 0, my = 0;
  for (int dy = -r; dy <= r; ++dy)
    for (int dx = -r; dx <= r; ++dx) {
      if (dy * dy + dx * dx > r * r + r) continue;
      const int p = pixels[static_cast<std::ptrdiff_t>(y + dy) * width + x + dx];
      mx += -dx * p;
      my += -dy * p;
    }
  return zyl::matchlib::fx_atan2(static_cast<int>(my), static_cast<int>(mx));
}

extern "C" ZYL_API int kp_axis_direction(const int8_t* gx, const int8_t* gy, int width, int y,
                                         int x, int r) {
  if (!gx || !gy || width <= 0) return 0;
  std::int64_t sxx = 0, syy = 0, sxy = 0;
  for (int dy = -r; dy <= r; ++dy)
    for (int dx = -r; dx <= r; ++dx) {
      if (dy * dy + dx * dx > r * r + r) continue;
      const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(y + dy) * width + x + dx;
      sxx += gx[k] * gx[k], syy += gy[k] * gy[k], sxy += gx[k] * gy[k];
    }
  return ((zyl::matchlib::fx_atan2(static_cast<int>(2 * sxy), static_cast<int>(sxx - syy)) >> 1) &
          0x7F) +
         64;
}

extern "C" ZYL_API int keypoint_fill_gaps(GrayImage* image, const KeyPoint* points, int count,
                                          int wanted, KeyPoint** out, int* out_count) {
  if (!out || !out_count) return ML_BAD_ARGUMENT;
  *out = nullptr;
  *out_count = 0;
  if (!image || count < 0 || (count > 0 && !points)) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return fill_gaps(image, points, count, wanted, out, out_count); });
}

extern "C" {

ZYL_API int kp_orientation_histogram(const uint8_t* pixels, int width, int height, KeyPoint* points,
                                     int n) {
  return zyl::matchlib::kp_orientation_histogram(pixels, width, height, points, n);
}

}  // extern "C"
