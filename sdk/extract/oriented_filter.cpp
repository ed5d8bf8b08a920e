// Direction-adaptive smoothing: one oriented kernel per pixel, applied once
// with a given direction image, in passes with orientations estimated afresh,
// or as many times as a per-pixel strength says.
#include "zylscan/oriented_filter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "extract/filter_strength.h"
#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"
#include "extract/oriented_filter.h"
#include "extract/singular_points.h"

namespace zyl::extract {
namespace {

constexpr int kReach = 6;                     // the kernels reach 6 pixels each way
constexpr std::uint8_t kStrengthBits = 0x07;  // S bits 0..2: passes still due

// Interior kernels are applied with a fixed number of taps, so that the
// compiler unrolls the tap loop completely: a row is padded to the next of
// these lengths with taps of weight 0 at offset 0, which add exactly
// nothing. Kernel rows have 5, or 11 to 15 taps; a row with more than
// kPaddedTaps keeps the general loop.
constexpr int kShortTaps = 12;
constexpr int kPaddedTaps = 15;

// The image as it was when a pass began: every pass reads only these values
// and writes its results straight into the image. One contiguous copy lets
// an interior pixel reach its taps by fixed offsets.
class PassInput {
 public:
  PassInput(ByteImage image, int width, int height)
      : width_(width), height_(height),
        pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)),
        rows_(static_cast<std::size_t>(height)) {
    for (int y = 0; y < height; ++y) {
      rows_[y] = pixels_.data() + static_cast<std::size_t>(y) * width;
      std::copy_n(image[y], width, rows_[y]);
    }
    // Offsets and weights of every tap for this row length, side by side.
    for (int m = 0; m < 120; ++m) {
      padded_[m] = filter_c[m] <= kShortTaps ? kShortTaps : filter_c[m] <= kPaddedTaps ? kPaddedTaps : 0;
      for (int k = 0; k < filter_c[m] && k < ZYL_KERNEL_TAPS; ++k) {
        const std::int32_t offset = filter_y[m][k] * width + filter_x[m][k];
        if (k < kPaddedTaps) taps_[m][k] = {offset, filter_w[m][k]};
        offsets_[m][k] = offset;
      }
    }
  }
  void reload(ByteImage image) {
    for (int y = 0; y < height_; ++y) std::copy_n(image[y], width_, rows_[y]);
  }
  ByteImage rows() { return rows_.data(); }

  // True when the kernels at (x, y) reach only pixels inside the image.
  bool interior_row(int y) const { return y >= kReach && y <= height_ - 1 - kReach; }
  int interior_begin() const { return kReach; }
  int interior_end() const { return width_ - kReach; }  // one past the last interior column

  // The oriented kernel at (x, y). Orientations outside 0..119 (127 flat,
  // and values a direction byte should not hold) take the 3 x 3 mean.
  std::uint8_t smooth(int x, int y, int m) const {
    if (m < 0 || m >= 120) return flat_mean(x, y);
    if (x < kReach || x > width_ - 1 - kReach || y < kReach || y > height_ - 1 - kReach)
      return smooth_near_border(x, y, m);
    return smooth_interior(x, y, m);
  }

  // The kernel at an interior pixel (interior_row(y), x inside
  // [interior_begin(), interior_end())).
  std::uint8_t smooth_interior(int x, int y, int m) const {
    if (m < 0 || m >= 120) return flat_mean(x, y);
    const std::uint8_t* p = rows_[y] + x;
    // At most 255 x 112211 < 2^31: the sum fits its 32 bits.
    std::int32_t sum = filter_w0[m] * p[0];
    if (padded_[m] == kShortTaps) {
      sum += padded_sum<kShortTaps>(p, taps_[m]);
    } else if (padded_[m] == kPaddedTaps) {
      sum += padded_sum<kPaddedTaps>(p, taps_[m]);
    } else {
      const std::int32_t* off = offsets_[m];
      const std::int32_t* tw = filter_w[m];
      for (int k = 0, taps = std::min(filter_c[m], ZYL_KERNEL_TAPS); k < taps; ++k)
        sum += tw[k] * (p[off[k]] + p[-off[k]]);
    }
    return static_cast<std::uint8_t>(sum / ZYL_KERNEL_TOTAL);
  }

 private:
  struct Tap {
    std::int32_t offset = 0;
    std::int32_t weight = 0;
  };

  template <int kTaps>
  static std::int32_t padded_sum(const std::uint8_t* p, const Tap* t) {
    std::int32_t sum = 0;
    for (int k = 0; k < kTaps; ++k) sum += t[k].weight * (p[t[k].offset] + p[-t[k].offset]);
    return sum;
  }

  // Near the border: only the taps whose pixel lies inside, divided by the
  // weights actually used.
  std::uint8_t smooth_near_border(int x, int y, int m) const {
    std::int32_t sum = filter_w0[m] * rows_[y][x];
    std::int32_t total = filter_w0[m];
    for (int k = 0; k < filter_c[m]; ++k) {
      for (int side : {1, -1}) {
        const int yy = y + side * filter_y[m][k];
        const int xx = x + side * filter_x[m][k];
        if (yy < 0 || yy >= height_ || xx < 0 || xx >= width_) continue;
        sum += filter_w[m][k] * rows_[yy][xx];
        total += filter_w[m][k];
      }
    }
    return static_cast<std::uint8_t>(sum / total);
  }

  // Mean of the 3 x 3 window clipped to the image: the smoothing of a pixel
  // without an orientation.
  std::uint8_t flat_mean(int x, int y) const {
    int sum = 0, count = 0;
    for (int yy = std::max(0, y - 1); yy <= std::min(height_ - 1, y + 1); ++yy)
      for (int xx = std::max(0, x - 1); xx <= std::min(width_ - 1, x + 1); ++xx) {
        sum += rows_[yy][xx];
        ++count;
      }
    return static_cast<std::uint8_t>(sum / count);
  }

  int width_;
  int height_;
  std::vector<std::uint8_t> pixels_;
  std::vector<std::uint8_t*> rows_;
  Tap taps_[120][kPaddedTaps] = {};
  int padded_[120] = {};  // the padded length of each row, 0 for the general loop
  std::int32_t offsets_[120][ZYL_KERNEL_TAPS] = {};
};

// Smooths row y of G: out[x] = the kernel of orientation(x) at (x, y), or
// left alone where orientation(x) is -1. Interior pixels of an interior row
// skip the border tests. Returns the number of pixels smoothed.
template <typename Orientation>
long smooth_row(const PassInput& input, int width, int y, std::uint8_t* out, Orientation&& orientation) {
  long smoothed = 0;
  auto one = [&](int x, bool interior) {
    const int m = orientation(x);
    if (m == -1) return;
    out[x] = interior ? input.smooth_interior(x, y, m) : input.smooth(x, y, m);
    ++smoothed;
  };
  if (!input.interior_row(y) || input.interior_end() <= input.interior_begin()) {
    for (int x = 0; x < width; ++x) one(x, false);
    return smoothed;
  }
  int x = 0;
  for (; x < input.interior_begin(); ++x) one(x, false);
  for (; x < input.interior_end(); ++x) one(x, true);
  for (; x < width; ++x) one(x, false);
  return smoothed;
}

// One smoothing pass over G. orientation(x, y) gives the kernel of a pixel,
// or -1 to leave it alone. Returns the number of pixels smoothed.
template <typename Orientation>
long SmoothPass(PassInput& input, int width, int height, ByteImage g, Orientation&& orientation) {
  input.reload(g);
  long smoothed = 0;
  for (int y = 0; y < height; ++y)
    smoothed += smooth_row(input, width, y, g[y], [&](int x) { return orientation(x, y); });
  return smoothed;
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;


void zyl::extract::DirectSmoothImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D) {
  if (!valid_image(width, height, G) || D == nullptr) return;
  PassInput input(G, width, height);
  SmoothPass(input, width, height, G, [D](int x, int y) { return D[y][x] & 0x7F; });
}

std::int32_t zyl::extract::DirFilterImage(std::int32_t width, std::int32_t height, ByteImage G,
                                    std::int32_t radius, std::int32_t passes) {
  if (!valid_image(width, height, G)) return ZYL_FILTER_BAD_IMAGE;
  // Radii below the kernel's reach are refused as the context refuses them:
  // a filter that kept only 2 x radius + 4 input rows could not serve the
  // 13 rows the kernel reads.
  if (radius < ZYL_FILTER_MIN_RADIUS) return ZYL_FILTER_REFUSED;
  PassInput input(G, width, height);
  with_sum_type(direction_sum_fits(width, height), [&](auto zero) {
    for (int pass = 0; pass < passes; ++pass) {
      input.reload(G);
      ByteImage before = input.rows();
      DirectRows rows(before);
      DirectionWindow<DifferenceKind::Absolute, DirectRows, decltype(zero)> window(rows, width, height, radius);
      for (int y = 0; y < height; ++y) {
        window.advance();
        smooth_row(input, width, y, G[y], [&](int x) { return window.estimate(x).orientation; });
      }
    }
  });
  return 0;
}

std::int32_t zyl::extract::ComputeDirImageF(std::int32_t width, std::int32_t height, ByteImage G,
                                      ByteImage D, ByteImage S,
                                      const SingularPointList* singular_points,
                                      std::int32_t radius, std::int32_t cap, std::int32_t base,
                                      std::int32_t start, std::int32_t factor) {
  if (!valid_image(width, height, G) || D == nullptr || S == nullptr) return ZYL_FILTER_BAD_IMAGE;
  if (!ValidStrengthSettings(cap, base, start, factor)) return ZYL_FILTER_REFUSED;
  const std::array<std::uint8_t, 256> strength_of = StrengthTable(cap, base, start, factor);
  constexpr int kProtectRadius = 16;  // no filtering this close to a core or delta
  const int points =
      singular_points ? std::clamp(singular_points->count, 0, ZYL_MAX_SINGULAR_POINTS) : 0;

  DirectRows rows(G);
  with_sum_type(direction_sum_fits(width, height), [&](auto zero) {
    DirectionWindow<DifferenceKind::Absolute, DirectRows, decltype(zero)> window(rows, width, height, radius);
    for (int y = 0; y < height; ++y) {
      window.advance();
      // Only rows within reach of a singular point need the per-pixel test.
      bool near_row = false;
      for (int i = 0; i < points && !near_row; ++i) {
        near_row = std::abs(std::int64_t{singular_points->y[i]} - y) < kProtectRadius;
      }
      std::uint8_t* d = D[y];
      std::uint8_t* s = S[y];
      for (int x = 0; x < width; ++x) {
        const OrientationEstimate e = window.estimate(x);
        const bool bad = (d[x] & kBadBit) != 0;
        d[x] = static_cast<std::uint8_t>(e.orientation | (d[x] & kBadBit));
        std::uint8_t strength = 0;
        if (!bad && !(near_row && zyl::extract::IsSingularPointNear(singular_points, y, x, kProtectRadius))) {
          strength = strength_of[e.noise];
        }
        s[x] = static_cast<std::uint8_t>((s[x] & ~kStrengthBits) | strength);
      }
    }
  });
  return 0;
}

void zyl::extract::FilterImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D,
                         ByteImage S) {
  if (!valid_image(width, height, G) || D == nullptr || S == nullptr) return;
  // Each pass smooths every pixel that still has passes due and counts it
  // down; strengths are at most 7, so this ends after at most 8 passes.
  PassInput input(G, width, height);
  for (;;) {
    const long smoothed = SmoothPass(input, width, height, G, [D, S](int x, int y) {
      std::uint8_t& s = S[y][x];
      if ((s & kStrengthBits) == 0) return -1;
      --s;  // bits 0..2 are non-zero, so nothing borrows from bit 3
      return D[y][x] & 0x7F;
    });
    if (smoothed == 0) break;
  }
}

extern "C" {

ZYL_API void DirectSmoothImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D) { zyl::extract::DirectSmoothImage(width, height, G, D); }
ZYL_API std::int32_t DirFilterImage(std::int32_t width, std::int32_t height, ByteImage G, std::int32_t radius, std::int32_t passes) { return zyl::extract::DirFilterImage(width, height, G, radius, passes); }
ZYL_API std::int32_t ComputeDirImageF(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D, ByteImage S, const SingularPointList* singular_points, std::int32_t radius, std::int32_t cap, std::int32_t base, std::int32_t start, std::int32_t factor) { return zyl::extract::ComputeDirImageF(width, height, G, D, S, singular_points, radius, cap, base, start, factor); }
ZYL_API void FilterImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D, ByteImage S) { zyl::extract::FilterImage(width, height, G, D, S); }

}  // extern "C"
