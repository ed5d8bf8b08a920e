// Direction-adaptive smoothing: one oriented kernel per pixel, applied once
// with a given direction image, in passes with orientations estimated afresh,
// or as many times as a per-pixel strength says.
#include "zylscan/oriented_filter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "extract/filter_strength.h"
#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"

namespace zyl::extract {
namespace {

constexpr int kReach = 6;                     // the kernels reach 6 pixels each way
constexpr int kKernelRows = 2 * kReach + 1;   // rows one output row reads
constexpr std::uint8_t kStrengthBits = 0x07;  // S bits 0..2: passes still due

// The input rows y - 6..y + 6 of one output row (null outside the image).
struct RowWindow {
  const std::uint8_t* rows[kKernelRows];
  const std::uint8_t* operator[](int dy) const { return rows[dy + kReach]; }
};

template <typename Rows>
RowWindow FetchRows(Rows& source, int height, int y) {
  RowWindow w{};
  // Ask for the lowest row first: a RowRing loads rows in order.
  for (int dy = kReach; dy >= -kReach; --dy) {
    const int yy = y + dy;
    w.rows[dy + kReach] = (yy >= 0 && yy < height) ? source[yy] : nullptr;
  }
  return w;
}

// Mean of the 3 x 3 window clipped to the image: the smoothing of a pixel
// without an orientation.
std::uint8_t FlatMean(const RowWindow& r, int width, int x) {
  int sum = 0, count = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    const std::uint8_t* row = r[dy];
    if (row == nullptr) continue;
    for (int xx = std::max(0, x - 1); xx <= std::min(width - 1, x + 1); ++xx) {
      sum += row[xx];
      ++count;
    }
  }
  return static_cast<std::uint8_t>(sum / count);
}

// The oriented kernel at pixel x of the row centred in r. Orientations
// outside 0..119 (127 flat, and values a direction byte should not hold)
// take the 3 x 3 mean.
std::uint8_t SmoothPixel(const RowWindow& r, int width, int height, int x, int y, int m) {
  if (m < 0 || m >= 120) return FlatMean(r, width, x);
  const int taps = filter_c[m];
  const std::int32_t* ty = filter_y[m];
  const std::int32_t* tx = filter_x[m];
  const std::int32_t* tw = filter_w[m];
  std::int32_t sum = filter_w0[m] * r[0][x];
  if (x >= kReach && x <= width - 1 - kReach && y >= kReach && y <= height - 1 - kReach) {
    for (int k = 0; k < taps; ++k) {
      sum += tw[k] * (r[ty[k]][x + tx[k]] + r[-ty[k]][x - tx[k]]);
    }
    return static_cast<std::uint8_t>(sum / ZYL_KERNEL_TOTAL);
  }
  // Near the border: only the taps whose pixel lies inside, divided by the
  // weights actually used.
  std::int32_t total = filter_w0[m];
  for (int k = 0; k < taps; ++k) {
    for (int side : {1, -1}) {
      const int dy = side * ty[k];
      const int xx = x + side * tx[k];
      if (r[dy] == nullptr || xx < 0 || xx >= width) continue;
      sum += tw[k] * r[dy][xx];
      total += tw[k];
    }
  }
  return static_cast<std::uint8_t>(sum / total);
}

// One smoothing pass over G reading only values from before the pass.
// orientation(x, y) gives the kernel of a pixel, or -1 to leave it alone.
// Returns the number of pixels smoothed.
template <typename Orientation>
long SmoothPass(int width, int height, ByteImage g, Orientation&& orientation) {
  RowRing ring(g, width, height, kKernelRows);
  long smoothed = 0;
  for (int y = 0; y < height; ++y) {
    const RowWindow r = FetchRows(ring, height, y);
    std::uint8_t* out = g[y];
    for (int x = 0; x < width; ++x) {
      const int m = orientation(x, y);
      if (m == -1) continue;
      out[x] = SmoothPixel(r, width, height, x, y, m);
      ++smoothed;
    }
  }
  return smoothed;
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

extern "C" {

ZYL_API void DirectSmoothImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D) {
  if (!valid_image(width, height, G) || D == nullptr) return;
  SmoothPass(width, height, G, [D](int x, int y) { return D[y][x] & 0x7F; });
}

ZYL_API std::int32_t DirFilterImage(std::int32_t width, std::int32_t height, ByteImage G,
                                    std::int32_t radius, std::int32_t passes) {
  if (!valid_image(width, height, G)) return ZYL_FILTER_BAD_IMAGE;
  // The pass keeps 2 x radius + 4 input rows; below the minimum that ring
  // would not hold the 13 rows the kernel reads.
  if (radius < ZYL_FILTER_MIN_RADIUS) return ZYL_FILTER_REFUSED;
  std::vector<std::uint8_t> orientation(static_cast<std::size_t>(width));
  for (int pass = 0; pass < passes; ++pass) {
    RowRing ring(G, width, height, ring_rows(radius, 1, height));
    DirectionWindow<DifferenceKind::Absolute, RowRing> window(ring, width, height, radius);
    for (int y = 0; y < height; ++y) {
      window.advance();
      for (int x = 0; x < width; ++x) orientation[x] = window.estimate(x).orientation;
      const RowWindow r = FetchRows(ring, height, y);
      std::uint8_t* out = G[y];
      for (int x = 0; x < width; ++x) out[x] = SmoothPixel(r, width, height, x, y, orientation[x]);
    }
  }
  return 0;
}

ZYL_API std::int32_t ComputeDirImageF(std::int32_t width, std::int32_t height, ByteImage G,
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
  DirectionWindow<DifferenceKind::Absolute, DirectRows> window(rows, width, height, radius);
  for (int y = 0; y < height; ++y) {
    window.advance();
    // Only rows within reach of a singular point need the per-pixel test.
    bool near_row = false;
    for (int i = 0; i < points && !near_row; ++i) {
      near_row = std::abs(singular_points->y[i] - y) < kProtectRadius;
    }
    std::uint8_t* d = D[y];
    std::uint8_t* s = S[y];
    for (int x = 0; x < width; ++x) {
      const OrientationEstimate e = window.estimate(x);
      const bool bad = (d[x] & kBadBit) != 0;
      d[x] = static_cast<std::uint8_t>(e.orientation | (d[x] & kBadBit));
      std::uint8_t strength = 0;
      if (!bad && !(near_row && IsSingularPointNear(singular_points, y, x, kProtectRadius))) {
        strength = strength_of[e.noise];
      }
      s[x] = static_cast<std::uint8_t>((s[x] & ~kStrengthBits) | strength);
    }
  }
  return 0;
}

ZYL_API void FilterImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D,
                         ByteImage S) {
  if (!valid_image(width, height, G) || D == nullptr || S == nullptr) return;
  // Each pass smooths every pixel that still has passes due and counts it
  // down; strengths are at most 7, so this ends after at most 8 passes.
  for (;;) {
    const long smoothed = SmoothPass(width, height, G, [D, S](int x, int y) {
      std::uint8_t& s = S[y][x];
      if ((s & kStrengthBits) == 0) return -1;
      --s;  // bits 0..2 are non-zero, so nothing borrows from bit 3
      return D[y][x] & 0x7F;
    });
    if (smoothed == 0) break;
  }
}

}  // extern "C"
