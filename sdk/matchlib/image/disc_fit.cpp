// Fit of a circular region: the largest disc, over candidate centres near a
// given one, whose rings keep a steady texture from ring to ring.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zylscan/matchlib_array.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/array_stats.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/disc_fit.h"

namespace zyl::matchlib {
namespace {

constexpr int kDirections = 256;
constexpr int kBins = 32;

using Histogram = std::array<int, kBins>;

// Samples the ring of radius r around (row, col) at 256 directions
// (points outside the image are skipped), detrends and smooths the
// profile, and counts its neighbour differences, clipped at +-33 and
// halved, in 32 bins. False when the ring holds too few samples.
bool ring_histogram(const std::uint8_t* px, int h, int w, int row, int col, int r,
                    Histogram& hist) {
  std::uint8_t ring[kDirections], detrended[kDirections], smooth[kDirections];
  int n = 0;
  for (int d = 0; d < kDirections; ++d) {
    const int y = row + ((r * zyl::matchlib::fx_sin256(d)) >> 14);
    const int x = col + ((r * zyl::matchlib::fx_cos256(d)) >> 14);
    if (y < 0 || x < 0 || y >= h || x >= w) continue;
    ring[n++] = px[std::size_t(y) * w + x];
  }
  if (zyl::matchlib::array_circular_detrend_u8(ring, n, 4, detrended) != ML_OK ||
      zyl::matchlib::array_circular_mean_u8(detrended, n, 1, smooth) != ML_OK)
    return false;
  hist.fill(0);
  for (int k = 0; k + 1 < n; ++k) {
    const int diff = std::clamp(int{smooth[k + 1]} - int{smooth[k]}, -33, 33) / 2;
    ++hist[std::clamp(diff + kBins / 2, 0, kBins - 1)];
  }
  return true;
}

int histogram_change(const Histogram& a, const Histogram& b) {
  long sum = 0;
  for (int k = 0; k < kBins; ++k) sum += long(a[k] - b[k]) * (a[k] - b[k]);
  return static_cast<int>(std::sqrt(100.0 * double(sum)));
}

// The largest radius around one centre whose ring-to-ring change stays
// within its running mean plus the threshold; growth stops at the first
// ring that breaks it. 0 when no ring qualifies.
int largest_steady_radius(const std::uint8_t* px, int h, int w, int row, int col, int rmin,
                          int rmax, int threshold) {
  Histogram previous{}, current{};
  int rings = 0, best = 0;
  long change_sum = 0;
  int changes = 0;
  for (int r = std::max(rmin, 1); r <= rmax; r += 2) {
    if (!ring_histogram(px, h, w, row, col, r, current)) break;
    ++rings;
    if (rings >= 2) {
      const int change = histogram_change(current, previous);
      if (rings >= 3) {
        const long mean = change_sum / changes;
        if (change > mean + threshold) break;
        best = r;
      }
      change_sum += change;
      ++changes;
    }
    previous = current;
  }
  return best;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::img_fit_disc(const uint8_t* pixels, int height, int width, int min_radius,
                                int max_radius, int centre_column, int centre_row,
                                int search_radius, int threshold, uint8_t* out_map, int* out_column,
                                int* out_row, int* out_radius) {
  if (!pixels || height <= 0 || width <= 0 || min_radius < 0 || max_radius < min_radius ||
      search_radius < 0)
    return ML_BAD_ARGUMENT;
  const int cx = centre_column ? centre_column : width / 2;
  const int cy = centre_row ? centre_row : height / 2;
  int best_r = 0, best_x = cx, best_y = cy;
  for (int dy = -search_radius; dy <= search_radius; dy += 2)
    for (int dx = -search_radius; dx <= search_radius; dx += 2) {
      const int r = largest_steady_radius(pixels, height, width, cy + dy, cx + dx, min_radius,
                                          max_radius, threshold);
      if (r > best_r) {
        best_r = r;
        best_x = cx + dx;
        best_y = cy + dy;
      }
    }
  if (out_column) *out_column = best_x;
  if (out_row) *out_row = best_y;
  if (out_radius) *out_radius = best_r;
  if (out_map) {
    std::memset(out_map, 0, std::size_t(height) * width);
    const long r2 = long(best_r) * best_r;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (long(y - best_y) * (y - best_y) + long(x - best_x) * (x - best_x) < r2)
          out_map[std::size_t(y) * width + x] = 1;
  }
  return ML_OK;
}

extern "C" {

ZYL_API int img_fit_disc(const uint8_t* pixels, int height, int width, int min_radius,
                         int max_radius, int centre_column, int centre_row, int search_radius,
                         int threshold, uint8_t* out_map, int* out_column, int* out_row,
                         int* out_radius) {
  return zyl::matchlib::img_fit_disc(pixels, height, width, min_radius, max_radius, centre_column,
                                     centre_row, search_radius, threshold, out_map, out_column,
                                     out_row, out_radius);
}

}  // extern "C"
