// Direction-adaptive smoothing: one oriented kernel per pixel, applied once
// with a given direction image, in passes with orientations estimated afresh,
// or as many times as a per-pixel strength says.
#include "zylscan/oriented_filter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
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

// Four floats side by side; the compiler maps it onto whatever vector
// registers the target has (or plain registers where it has none).
typedef float Float4 __attribute__((vector_size(16)));

// An interior kernel as chunks of four horizontally adjacent taps: chunk c
// of orientation m weighs the pixels at (dx + 0..3, dy) with weight[0..3].
// The kernel's own taps (both halves and the centre) are laid out densely
// row by row, so a chunk is one load, one multiply and one add for four
// taps; the taps a chunk covers beyond the kernel weigh 0. A chunk starts
// at most at dx = kReach - 3, so it reads only pixels the kernel reaches.
//
// The sums are taken in single precision on pixel values shifted to
// -128..127, and are exact: every weight is a whole number, a product is a
// whole number below 128 x 112211 < 2^24 in size, and so is every partial
// sum, since all weights are positive and together make at most
// ZYL_KERNEL_TOTAL (checked when the chunks are built). Whole numbers below
// 2^24 are exact in a float, so no product or sum is rounded, and the sum
// of the unshifted pixels is the float sum plus 128 x the kernel's total.
struct KernelChunks {
  static constexpr int kMaxChunks = 2 * ZYL_KERNEL_TAPS + 1;  // one per tap at worst
  static constexpr int kPaddedChunks = 13;                      // what the kernels take at most
  struct Chunk {
    Float4 weight;
    int dx;
    int dy;
  };
  Chunk chunk[120][kMaxChunks];
  int count[120];
  std::int32_t total[120];  // the kernel's weights summed
  int reach_x[120];         // how far its taps lie from the centre, across
  int reach_y[120];         // and down
  bool exact;               // every kernel meets the bound above
  bool padded;              // every kernel fits in kPaddedChunks (the rest weigh 0)

  KernelChunks() : chunk{}, count{}, total{}, reach_x{}, reach_y{}, exact(true), padded(true) {
    for (int m = 0; m < 120; ++m) {
      std::int32_t dense[2 * kReach + 1][2 * kReach + 1] = {};
      bool inside = true;
      auto add = [&](int dy, int dx, std::int32_t w) {
        if (dy < -kReach || dy > kReach || dx < -kReach || dx > kReach || w < 0) {
          inside = false;
          return;
        }
        dense[dy + kReach][dx + kReach] += w;
        total[m] += w;
        if (w != 0) {
          reach_x[m] = std::max(reach_x[m], std::abs(dx));
          reach_y[m] = std::max(reach_y[m], std::abs(dy));
        }
      };
      add(0, 0, filter_w0[m]);
      for (int k = 0, taps = std::min(filter_c[m], ZYL_KERNEL_TAPS); k < taps; ++k) {
        add(filter_y[m][k], filter_x[m][k], filter_w[m][k]);
        add(-filter_y[m][k], -filter_x[m][k], filter_w[m][k]);
      }
      if (!inside || total[m] > ZYL_KERNEL_TOTAL) exact = false;
      for (int dy = -kReach; dy <= kReach && inside; ++dy) {
        const std::int32_t* row = dense[dy + kReach] + kReach;
        for (int dx = -kReach; dx <= kReach; ++dx) {
          if (row[dx] == 0) continue;
          Chunk& c = chunk[m][count[m]++];
          // A chunk moved left to stay inside leaves the taps before dx to
          // the chunk that holds them already.
          c.dx = std::min(dx, kReach - 3);
          c.dy = dy;
          for (int i = 0; i < 4; ++i) c.weight[i] = c.dx + i < dx ? 0.0f : static_cast<float>(row[c.dx + i]);
          dx = c.dx + 3;
        }
      }
      if (count[m] > kPaddedChunks) padded = false;
    }
  }
};

const KernelChunks& kernel_chunks() {
  static const KernelChunks chunks;
  return chunks;
}

// The image as it was when a pass began: every pass reads only these values
// and writes its results straight into the image. One contiguous copy lets
// an interior pixel reach its taps by fixed offsets; a second one holds the
// pixels shifted to -128..127 as floats for the chunked kernels.
class PassInput {
 public:
  PassInput(ByteImage image, int width, int height)
      : width_(width),
        height_(height),
        // Left uninitialised: every pixel is loaded before it is read.
        pixels_(std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(width) *
                                                               static_cast<std::size_t>(height))),
        shifted_(std::make_unique_for_overwrite<float[]>(
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) + 2 * kGuard)),
        rows_(static_cast<std::size_t>(height)),
        chunks_(kernel_chunks()) {
    for (int y = 0; y < height; ++y) rows_[y] = pixels_.get() + static_cast<std::size_t>(y) * width;
    std::fill_n(shifted_.get(), kGuard, 0.0f);
    std::fill_n(shifted() + static_cast<std::size_t>(width) * static_cast<std::size_t>(height), kGuard, 0.0f);
    reload(image);
    for (int m = 0; m < 120; ++m)
      for (int c = 0; c < chunks_.count[m]; ++c)
        offsets_[m][c] = chunks_.chunk[m][c].dy * width + chunks_.chunk[m][c].dx;
  }
  void reload(ByteImage image) {
    for (int y = 0; y < height_; ++y) reload_row(image, y);
  }
  void reload_row(ByteImage image, int y) {
    std::copy_n(image[y], width_, rows_[y]);
    shift_row(image[y], shifted() + static_cast<std::size_t>(y) * width_, width_);
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
    if (x < kReach || x > width_ - 1 - kReach || y < kReach || y > height_ - 1 - kReach) {
      // Near the border a kernel whose taps all lie inside is the interior
      // kernel all the same (its weights used are all of them); its chunks
      // may read up to kReach pixels beyond the row, which lie in the next
      // or previous row or in the guard, and weigh 0.
      const int rx = chunks_.reach_x[m], ry = chunks_.reach_y[m];
      if (chunks_.total[m] != ZYL_KERNEL_TOTAL || x < rx || x > width_ - 1 - rx || y < ry || y > height_ - 1 - ry)
        return smooth_near_border(x, y, m);
    }
    return smooth_interior(x, y, m);
  }

  // The kernel at an interior pixel (interior_row(y), x inside
  // [interior_begin(), interior_end())).
  // (Or a pixel whose kernel's taps all lie inside, with the full total.)
  std::uint8_t smooth_interior(int x, int y, int m) const {
    if (m < 0 || m >= 120) return flat_mean(x, y);
    if (!chunks_.exact) return smooth_near_border(x, y, m);  // the same taps, all inside
    const float* p = shifted() + static_cast<std::size_t>(y) * width_ + x;
    const KernelChunks::Chunk* c = chunks_.chunk[m];
    const std::int32_t* off = offsets_[m];
    // Every kernel takes the same number of chunks, the short ones padded
    // with chunks of weight 0 at offset 0: the loop unrolls completely and
    // no branch depends on the orientation.
    const Float4 acc = chunks_.padded ? chunk_sum<KernelChunks::kPaddedChunks>(p, c, off)
                                      : chunk_sum(p, c, off, chunks_.count[m]);
    const auto shifted_sum = static_cast<std::int32_t>((acc[0] + acc[1]) + (acc[2] + acc[3]));
    // At most 255 x 112211 < 2^31: the sum fits its 32 bits.
    return static_cast<std::uint8_t>((shifted_sum + 128 * chunks_.total[m]) / ZYL_KERNEL_TOTAL);
  }

 private:
  template <int kCount>
  static Float4 chunk_sum(const float* p, const KernelChunks::Chunk* c, const std::int32_t* off) {
    return chunk_sum(p, c, off, kCount);
  }
  // Two sums taken in turn, so that the additions do not wait on each other
  // (every sum is exact, so the grouping does not matter).
  static Float4 chunk_sum(const float* p, const KernelChunks::Chunk* c, const std::int32_t* off, int count) {
    Float4 even = {0.0f, 0.0f, 0.0f, 0.0f}, odd = even;
    int k = 0;
    for (; k + 1 < count; k += 2) {
      Float4 a, b;
      std::memcpy(&a, p + off[k], sizeof a);
      std::memcpy(&b, p + off[k + 1], sizeof b);
      even += a * c[k].weight;
      odd += b * c[k + 1].weight;
    }
    if (k < count) {
      Float4 a;
      std::memcpy(&a, p + off[k], sizeof a);
      even += a * c[k].weight;
    }
    return even + odd;
  }

  // The pixels start kGuard floats into the allocation, which holds as many
  // beyond them; the guards hold 0.
  static constexpr std::size_t kGuard = 8;
  float* shifted() const { return shifted_.get() + kGuard; }

  static void shift_row(const std::uint8_t* __restrict in, float* __restrict out, int width) {
    for (int x = 0; x < width; ++x) out[x] = static_cast<float>(in[x] - 128);
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
    if (x >= 1 && x < width_ - 1 && y >= 1 && y < height_ - 1) {
      const std::uint8_t* above = rows_[y - 1] + x;
      const std::uint8_t* here = rows_[y] + x;
      const std::uint8_t* below = rows_[y + 1] + x;
      const int sum = above[-1] + above[0] + above[1] + here[-1] + here[0] + here[1] + below[-1] + below[0] + below[1];
      return static_cast<std::uint8_t>(sum / 9);
    }
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
  std::unique_ptr<std::uint8_t[]> pixels_;
  std::unique_ptr<float[]> shifted_;
  std::vector<std::uint8_t*> rows_;
  const KernelChunks& chunks_;
  std::int32_t offsets_[120][KernelChunks::kMaxChunks] = {};
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

std::int32_t zyl::extract::DirFilterImage(std::int32_t width, std::int32_t height, ByteImage G, std::int32_t radius,
                                          std::int32_t passes) {
  if (!valid_image(width, height, G)) return ZYL_FILTER_BAD_IMAGE;
  // Radii below the kernel's reach are refused as the context refuses them:
  // a filter that kept only 2 x radius + 4 input rows could not serve the
  // 13 rows the kernel reads.
  if (radius < ZYL_FILTER_MIN_RADIUS) return ZYL_FILTER_REFUSED;
  PassInput input(G, width, height);
  // The orientations of a row are estimated before any of its pixels is
  // smoothed: the estimates of neighbouring pixels are independent and
  // overlap, where each one interleaved with a kernel would wait for its
  // divisions.
  std::vector<std::int32_t> orientation(static_cast<std::size_t>(width));
  with_sum_type(direction_sum_fits(width, height), [&](auto zero) {
    for (int pass = 0; pass < passes; ++pass) {
      input.reload(G);
      ByteImage before = input.rows();
      DirectRows rows(before);
      DirectionWindow<DifferenceKind::Absolute, DirectRows, decltype(zero)> window(rows, width, height, radius);
      for (int y = 0; y < height; ++y) {
        window.advance();
        for (int x = 0; x < width; ++x) orientation[x] = window.estimate(x).orientation;
        smooth_row(input, width, y, G[y], [&](int x) { return orientation[x]; });
      }
    }
  });
  return 0;
}

std::int32_t zyl::extract::ComputeDirImageF(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D,
                                            ByteImage S, const SingularPointList* singular_points, std::int32_t radius,
                                            std::int32_t cap, std::int32_t base, std::int32_t start,
                                            std::int32_t factor) {
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

void zyl::extract::FilterImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D, ByteImage S) {
  if (!valid_image(width, height, G) || D == nullptr || S == nullptr) return;
  // Each pass smooths every pixel that still has passes due and counts it
  // down; strengths are at most 7, so this ends after at most 8 passes.
  // A pass needs afresh only the rows the previous one changed, and visits
  // only the rows that still hold a pixel with passes due (in the others
  // it would leave every pixel alone).
  PassInput input(G, width, height);
  std::vector<std::uint8_t> changed(static_cast<std::size_t>(height), 0);
  std::vector<std::uint8_t> pending(static_cast<std::size_t>(height), 1);
  for (;;) {
    for (int y = 0; y < height; ++y)
      if (changed[y]) input.reload_row(G, y);
    long smoothed = 0;
    for (int y = 0; y < height; ++y) {
      changed[y] = 0;
      if (!pending[y]) continue;
      bool due = false;
      std::uint8_t* s = S[y];
      const std::uint8_t* d = D[y];
      const long row = smooth_row(input, width, y, G[y], [&](int x) {
        if ((s[x] & kStrengthBits) == 0) return -1;
        --s[x];  // bits 0..2 are non-zero, so nothing borrows from bit 3
        due |= (s[x] & kStrengthBits) != 0;
        return d[x] & 0x7F;
      });
      pending[y] = due;
      changed[y] = row != 0;
      smoothed += row;
    }
    if (smoothed == 0) break;
  }
}

extern "C" {

ZYL_API void DirectSmoothImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D) {
  zyl::extract::DirectSmoothImage(width, height, G, D);
}
ZYL_API std::int32_t DirFilterImage(std::int32_t width, std::int32_t height, ByteImage G, std::int32_t radius,
                                    std::int32_t passes) {
  return zyl::extract::DirFilterImage(width, height, G, radius, passes);
}
ZYL_API std::int32_t ComputeDirImageF(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D, ByteImage S,
                                      const SingularPointList* singular_points, std::int32_t radius, std::int32_t cap,
                                      std::int32_t base, std::int32_t start, std::int32_t factor) {
  return zyl::extract::ComputeDirImageF(width, height, G, D, S, singular_points, radius, cap, base, start, factor);
}
ZYL_API void FilterImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D, ByteImage S) {
  zyl::extract::FilterImage(width, height, G, D, S);
}

}  // extern "C"
