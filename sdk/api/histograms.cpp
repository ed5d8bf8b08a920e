// Rotation and translation histograms of the graph matcher: votes of the
// candidate line pairs become the rotation and shift of the sample template.
#include "api/histograms.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "api/match_data.h"
#include "zylscan/geometry.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

namespace zyl::api {
namespace {

constexpr std::int32_t kSmoothRadius = 4;    // rotation bins b-4..b+4
constexpr std::int32_t kCentroidRadius = 10; // 21 bins around the peak
constexpr std::int32_t kMinCentroidVotes = 20;
constexpr std::int32_t kNoRotationPeak = 230; // answer when no bin weighs
constexpr std::int32_t kShiftWindowBefore = 5;  // translation bins i-5..i+4
constexpr std::int32_t kShiftWindowAfter = 4;
constexpr std::int32_t kShiftPeakRadius = 10;

// x modulo 120 for x = 0..358: an orientation 0..119 turned by 0..239.
constexpr auto kRemainder120 = [] {
  std::array<std::uint8_t, 120 + ZYL_ANGLE_BINS - 1> t{};
  for (std::size_t x = 0; x < t.size(); ++x) t[x] = static_cast<std::uint8_t>(x % 120);
  return t;
}();

}  // namespace

std::int32_t rotation_peak(const std::int32_t* histogram, const std::uint8_t* flags, std::int32_t& max) {
  // The largest allowed value, at least 0, in independent lanes (a single
  // running choice makes every bin wait for the one before), then the first
  // allowed bin holding it; with no allowed value above 0 the answer is bin 0.
  constexpr std::int32_t kLanes = 8;
  static_assert(ZYL_ANGLE_BINS % kLanes == 0);
  std::int32_t lane_max[kLanes] = {};
  for (std::int32_t b = 0; b < ZYL_ANGLE_BINS; b += kLanes)
    for (std::int32_t k = 0; k < kLanes; ++k) {
      const std::int32_t v = histogram[b + k] & -static_cast<std::int32_t>(flags[b + k] == 1);
      lane_max[k] = v > lane_max[k] ? v : lane_max[k];
    }
  max = 0;
  for (std::int32_t k = 0; k < kLanes; ++k) max = lane_max[k] > max ? lane_max[k] : max;
  if (max == 0) return 0;
  std::int32_t b = 0;
  while (flags[b] != 1 || histogram[b] != max) ++b;  // one such bin exists
  return b;
}

namespace {

std::int32_t find_rotation(std::int32_t* histogram, const std::uint8_t* flags) {
  // A running sum over the bins b-4..b+4 of the histogram laid out once more
  // around its ends, so no bin needs wrapping. Every window sum is the
  // 32-bit sum of the same nine votes; the running total is kept in 64 bits
  // so that no step between two windows can overflow.
  // ring[i] is bin i - 4 wrapped into the turn: the last four bins, the
  // turn, the first four bins.
  std::int32_t ring[ZYL_ANGLE_BINS + 2 * kSmoothRadius];
  std::copy_n(histogram + ZYL_ANGLE_BINS - kSmoothRadius, kSmoothRadius, ring);
  std::copy_n(histogram, ZYL_ANGLE_BINS, ring + kSmoothRadius);
  std::copy_n(histogram, kSmoothRadius, ring + kSmoothRadius + ZYL_ANGLE_BINS);
  // The ring holds the votes, so the smoothed bins go straight back.
  std::int64_t sum = 0;
  for (std::int32_t i = 0; i < 2 * kSmoothRadius + 1; ++i) sum += ring[i];
  histogram[0] = static_cast<std::int32_t>(sum);
  for (std::int32_t b = 1; b < ZYL_ANGLE_BINS; ++b) {
    sum += std::int64_t{ring[b + 2 * kSmoothRadius]} - ring[b - 1];
    histogram[b] = static_cast<std::int32_t>(sum);
  }

  std::int32_t max = 0;
  const std::int32_t peak = rotation_peak(histogram, flags, max);

  std::int64_t weights = 0;
  std::int64_t moments = 0;
  for (std::int32_t e = 0; e <= 2 * kCentroidRadius; ++e) {
    const std::int32_t v = histogram[wrap240(peak - kCentroidRadius + e)];
    if (v > max / 2 && v > kMinCentroidVotes) {
      const std::int64_t w = v - max / 2;
      weights += w;
      moments += w * e * 100;
    }
  }
  if (weights == 0) return kNoRotationPeak;
  const std::int64_t position = (moments / weights + 50) / 100;
  return wrap240(static_cast<std::int32_t>(peak - kCentroidRadius + position));
}

// Smooths one translation histogram over ten bins and returns the offset of
// the weighted centre of its peak from the middle.
std::int32_t find_shift(std::int32_t* hist, std::int32_t* scratch, std::int32_t size) {
  if (size <= 0) return 0;
  // Sums stop two bins short of the end: bins 5..size-6 only, the others 0.
  // A running sum over the window i-5..i+4 (64 bits, so no step between two
  // windows can overflow) gives each bin the same value as adding its ten.
  // The peak is the first bin holding the largest value; bin 0 is always 0,
  // so it is the answer until a bin exceeds 0.
  std::fill(scratch, scratch + size, 0);
  std::int32_t max = 0;
  std::int32_t peak = 0;
  const std::int32_t last = size - 6;
  if (last >= kShiftWindowBefore) {
    std::int64_t sum = 0;
    for (std::int32_t k = 0; k <= kShiftWindowBefore + kShiftWindowAfter; ++k) sum += hist[k];
    for (std::int32_t i = kShiftWindowBefore;;) {
      const auto v = static_cast<std::int32_t>(sum);
      scratch[i] = v;
      if (v > max) {
        max = v;
        peak = i;
      }
      if (++i > last) break;
      sum += std::int64_t{hist[i + kShiftWindowAfter]} - hist[i - kShiftWindowBefore - 1];
    }
  }
  std::copy(scratch, scratch + size, hist);

  const std::int32_t from = std::max(peak - kShiftPeakRadius, 0);
  const std::int32_t to = std::min(peak + kShiftPeakRadius, size - 1);  // exclusive
  std::int64_t votes = 0;
  std::int64_t moments = 0;
  for (std::int32_t i = from; i < to; ++i) {
    if (hist[i] > 2 * max / 3) {
      votes += hist[i];
      moments += std::int64_t{hist[i]} * i;
    }
  }
  if (votes == 0) return 0;
  return static_cast<std::int32_t>(moments / votes - size / 2);
}

}  // namespace

std::int32_t shift_from_votes(const std::int32_t* hist, std::int32_t* scratch, std::int32_t size,
                              std::int32_t lo, std::int32_t hi) {
  if (size <= 0) return 0;
  // The smoothed value of bin i sums the votes of bins i-5..i+4, so only bins
  // lo-4..hi+5 can hold more than 0; sums are made for bins 5..size-6 only.
  // Every vote is positive and the peak starts at bin 0 with 0, so the
  // bins left out, all 0, could never become the peak nor pass the
  // two-thirds mark of the centroid: peak and centroid are find_shift's.
  lo = std::max(lo, 0);
  hi = std::min(hi, size - 1);
  const std::int32_t a = std::max(lo - kShiftWindowAfter, kShiftWindowBefore);
  const std::int32_t b = std::min(hi + kShiftWindowBefore, size - 6);
  std::int32_t max = 0;
  std::int32_t peak = 0;
  if (a <= b) {
    std::int64_t sum = 0;
    for (std::int32_t k = a - kShiftWindowBefore; k <= a + kShiftWindowAfter; ++k) sum += hist[k];
    for (std::int32_t i = a;;) {
      const auto v = static_cast<std::int32_t>(sum);
      scratch[i] = v;
      if (v > max) {
        max = v;
        peak = i;
      }
      if (++i > b) break;
      sum += std::int64_t{hist[i + kShiftWindowAfter]} - hist[i - kShiftWindowBefore - 1];
    }
  }
  const std::int32_t from = std::max({peak - kShiftPeakRadius, 0, a});
  const std::int32_t to = std::min({peak + kShiftPeakRadius, size - 1, b + 1});  // exclusive
  std::int64_t votes = 0;
  std::int64_t moments = 0;
  for (std::int32_t i = from; i < to; ++i) {
    if (scratch[i] > 2 * max / 3) {
      votes += scratch[i];
      moments += std::int64_t{scratch[i]} * i;
    }
  }
  if (votes == 0) return 0;
  return static_cast<std::int32_t>(moments / votes - size / 2);
}

}  // namespace zyl::api

using namespace zyl::api;

int32_t zyl::api::RotationHistogramProcessing(int32_t* histogram, const uint8_t* flags, int32_t n, int32_t* xs,
                                              int32_t* ys, int32_t* angles, int32_t line_count, GraphLine* lines,
                                              int32_t cx, int32_t cy) {
  if (!histogram || !flags || (n > 0 && (!xs || !ys || !angles)) || (line_count > 0 && !lines))
    return XW_ERR_NULL_ARGUMENT;
  const std::int32_t rotation = find_rotation(histogram, flags);
  const std::int32_t q = wrap240(240 - rotation);
  const std::int64_t cq = cos_x10E4[q];
  const std::int64_t sq = sin_x10E4[q];
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int64_t dx = std::int64_t{xs[i]} - cx;
    const std::int64_t dy = std::int64_t{ys[i]} - cy;
    xs[i] = static_cast<std::int32_t>(cx + round_x10E4(dx * cq + dy * sq));
    ys[i] = static_cast<std::int32_t>(cy + round_x10E4(dy * cq - dx * sq));
    angles[i] = wrap240(angles[i] + rotation);
  }
  // wrap240(x) folded into 0..119 is x modulo 120. Built lines' orientations
  // lie in 0..119 and the rotation in 0..239, so their sum is looked up in a
  // table of remainders; other values take the remainder itself.
  for (std::int32_t i = 0; i < line_count; ++i) {
    const std::int32_t v = lines[i].orientation;
    if (v >= 0 && v < 120) {
      lines[i].orientation = kRemainder120[static_cast<std::size_t>(v + rotation)];
    } else {
      const std::int32_t o = (v + rotation) % 120;
      lines[i].orientation = o < 0 ? o + 120 : o;
    }
  }
  return rotation;
}

extern "C" ZYL_API void AddTranslationHistogramValue(const int32_t* txs, const int32_t* tys, const int32_t* sxs,
                                                     const int32_t* sys, int32_t* hist_x, int32_t* hist_y,
                                                     int32_t half_x, int32_t half_y, const GraphLine* test_line,
                                                     const GraphLine* sample_line, int32_t weight, int32_t tolerance) {
  if (weight == 0) return;
  if (!txs || !tys || !sxs || !sys || !hist_x || !hist_y || !test_line || !sample_line) return;
  std::int32_t bx = 0, by = 0;
  if (!translation_bins(txs, tys, sxs, sys, half_x, half_y, *test_line, *sample_line, tolerance, bx, by)) return;
  hist_x[bx] += weight;
  hist_y[by] += weight;
}

extern "C" ZYL_API void TranslationHistogramProcessing(int32_t* hist_x, int32_t* hist_y, int32_t* scratch,
                                                       int32_t size_x, int32_t size_y, int32_t* xs, int32_t* ys,
                                                       int32_t n, int32_t* dx, int32_t* dy) {
  if (!hist_x || !hist_y || !scratch || (n > 0 && (!xs || !ys))) return;
  const std::int32_t shift_x = find_shift(hist_x, scratch, size_x);
  const std::int32_t shift_y = find_shift(hist_y, scratch, size_y);
  for (std::int32_t i = 0; i < n; ++i) {
    xs[i] += shift_x;
    ys[i] += shift_y;
  }
  if (dx) *dx = shift_x;
  if (dy) *dy = shift_y;
}

int32_t zyl::api::LineLocationSimilarity(const int32_t* txs, const int32_t* tys, const int32_t* sxs, const int32_t* sys,
                                         const GraphLine* test_line, const GraphLine* sample_line, int32_t tolerance) {
  if (!txs || !tys || !sxs || !sys || !test_line || !sample_line) return 0;
  return lines_coincide(txs, tys, sxs, sys, *test_line, *sample_line, tolerance) ? 1 : 0;
}

extern "C" {

ZYL_API int32_t RotationHistogramProcessing(int32_t* histogram, const uint8_t* flags, int32_t n, int32_t* xs,
                                            int32_t* ys, int32_t* angles, int32_t line_count, GraphLine* lines,
                                            int32_t cx, int32_t cy) {
  return zyl::api::RotationHistogramProcessing(histogram, flags, n, xs, ys, angles, line_count, lines, cx, cy);
}
ZYL_API int32_t LineLocationSimilarity(const int32_t* txs, const int32_t* tys, const int32_t* sxs, const int32_t* sys,
                                       const GraphLine* test_line, const GraphLine* sample_line, int32_t tolerance) {
  return zyl::api::LineLocationSimilarity(txs, tys, sxs, sys, test_line, sample_line, tolerance);
}

}  // extern "C"
