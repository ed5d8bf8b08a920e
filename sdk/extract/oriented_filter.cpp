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
#include "extract/oriented_chunks.h"
#include "extract/oriented_filter.h"
#include "extract/singular_points.h"

namespace zyl::extract {
namespace {

constexpr int kReach = OrientedChunks::kReach;
constexpr std::uint8_t kStrengthBits = 0x07;  // S bits 0..2: passes still due
constexpr int kLongestChunkedSide = 1 << 24;  // see PassInput::chunked_

// The image as it was when a pass began: every pass reads only these values
// and writes its results straight into the image. One contiguous copy
// serves the flat means and the estimates; two more hold the pixels as
// 16-bit integers for the chunked kernels, one as the image and one
// transposed (see OrientedChunks), each framed by kReach zeros on every
// side, so that a kernel anywhere in the image reads 0 for its taps
// outside.
class PassInput {
 public:
  PassInput(ByteImage image, int width, int height)
      : width_(width),
        height_(height),
        // Left uninitialised: every pixel is loaded before it is read.
        pixels_(std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(width) *
                                                               static_cast<std::size_t>(height))),
        stride_{width + 2 * kReach, height + 2 * kReach},
        // Both 16-bit copies in one block; the frames are cleared below,
        // the pixels loaded before they are read.
        wide_(std::make_unique_for_overwrite<std::int16_t[]>(2 * framed_area())),
        rows_(static_cast<std::size_t>(height)),
        chunks_(oriented_chunks()),
        // Every kernel must have its chunks, and an image must be long
        // enough both ways that no pixel lies near two opposite edges (see
        // edge_class) and short enough that the chunks' byte offsets (at
        // most 2 x (kReach x stride + kReach)) fit in 32 bits; else every
        // pixel is smoothed tap by tap.
        chunked_(chunks_.usable && width >= 2 * kReach + 1 && height >= 2 * kReach + 1 &&
                 std::max(width, height) <= kLongestChunkedSide) {
    for (int y = 0; y < height; ++y) rows_[y] = pixels_.get() + static_cast<std::size_t>(y) * width;
    // Pixel (x, y) lies at x + y * stride in the image's copy and at
    // y + x * stride in the transposed one, both from the first pixel.
    const int lines[2] = {height, width};
    for (int t = 0; t < 2; ++t) {
      std::int16_t* block = wide_.get() + t * framed_area();
      const std::ptrdiff_t stride = stride_[t];
      origin_[t] = block + kReach * stride + kReach;
      std::fill_n(block, kReach * stride + kReach, std::int16_t{0});
      for (int line = 0; line + 1 < lines[t]; ++line)
        std::fill_n(origin_[t] + line * stride + (stride - 2 * kReach), 2 * kReach, std::int16_t{0});
      std::fill_n(origin_[t] + (lines[t] - 1) * stride + (stride - 2 * kReach), kReach * stride + kReach,
                  std::int16_t{0});
    }
    reload(image);
    for (int m = 0; m < 120; ++m) {
      // One layout row is a stride on; the offsets count bytes.
      const std::ptrdiff_t row_step = stride_[chunks_.transposed[m] ? 1 : 0];
      for (int c = 0; c < OrientedChunks::kChunks; ++c)
        offsets_[m][c] = static_cast<std::int32_t>((chunks_.row[m][c] * row_step + chunks_.col[m][c]) *
                                                   static_cast<std::ptrdiff_t>(sizeof(std::int16_t)));
    }
  }
  void reload(ByteImage image) { reload_rows(image, 0, height_); }
  // Rows y0..y1-1 afresh.
  void reload_rows(ByteImage image, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      std::copy_n(image[y], width_, rows_[y]);
      widen_row(image[y], origin_[0] + y * stride_[0], width_);
    }
    transpose_rows(image, y0, y1);
  }
  ByteImage rows() { return rows_.data(); }

  // The pixels of a row whose kernels reach only pixels inside the image
  // (none when the chunked kernels cannot be used).
  int interior_begin(int y) const { return interior_row(y) ? std::min(kReach, width_) : width_; }
  int interior_end(int y) const { return std::max(width_ - kReach, interior_begin(y)); }
  bool interior_row(int y) const { return chunked_ && y >= kReach && y <= height_ - 1 - kReach; }

  // Where row y begins in each layout, and how far one pixel on lies, in
  // bytes.
  struct Row {
    const char* origin[2];
    std::ptrdiff_t step[2];
  };
  Row row(int y) const {
    return {{reinterpret_cast<const char*>(origin_[0] + y * stride_[0]), reinterpret_cast<const char*>(origin_[1] + y)},
            {static_cast<std::ptrdiff_t>(sizeof(std::int16_t)),
             stride_[1] * static_cast<std::ptrdiff_t>(sizeof(std::int16_t))}};
  }

  // The oriented kernel at (x, y) of row `row`. Orientations outside
  // 0..119 (127 flat, and values a direction byte should not hold) take the
  // 3 x 3 mean.
  std::uint8_t smooth(const Row& row, int x, int y, int m) const {
    if (static_cast<unsigned>(m) >= 120) return flat_mean(x, y);
    if (!chunked_) return smooth_near_border(x, y, m);
    // The taps outside read 0 from the frame; the divisor is the weight of
    // those inside.
    const std::uint32_t total = static_cast<std::uint32_t>(
        chunks_.clipped_total[m][OrientedChunks::edge_class(y, height_)][OrientedChunks::edge_class(x, width_)]);
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(kernel_sum(row, x, m)) / total);
  }

#if defined(__SSE2__)
  // The kernels of orientations m[0..3] (each 0..119) at the interior
  // pixels x..x+3, into out[x..x+3]: smooth_interior four times, with the
  // sums reduced and divided side by side.
  void smooth_interior_four(const Row& row, int x, const int* m, std::uint8_t* out) const {
    const std::uint32_t bytes = divide_four_by_kernel_total(kernel_lanes(row, x, m[0]), kernel_lanes(row, x + 1, m[1]),
                                                            kernel_lanes(row, x + 2, m[2]), kernel_lanes(row, x + 3, m[3]));
    std::memcpy(out + x, &bytes, sizeof bytes);  // little-endian: the first quotient first
  }

  // flat_mean at the pixels x..x+3 of row y, into out[x..x+3], for pixels
  // at least one from every edge with x + 6 inside the row.
  void flat_mean_four(int x, int y, std::uint8_t* out) const {
    const std::uint32_t bytes = flat_means_four(rows_[y - 1] + x - 1, rows_[y] + x - 1, rows_[y + 1] + x - 1);
    std::memcpy(out + x, &bytes, sizeof bytes);  // little-endian: the first mean first
  }
#endif

  // The kernel of orientation m (0..119) at pixel x of an interior row
  // (x inside [interior_begin(y), interior_end(y))): every tap inside, so
  // the divisor is the full total.
  std::uint8_t smooth_interior(const Row& row, int x, int m) const {
    return static_cast<std::uint8_t>(divide_by_kernel_total(static_cast<std::uint32_t>(kernel_sum(row, x, m))));
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

 private:
  std::size_t framed_area() const {
    return static_cast<std::size_t>(stride_[0]) * static_cast<std::size_t>(stride_[1]);
  }

  // The weighted sum of the taps of orientation m (0..119) at pixel x.
  std::int32_t kernel_sum(const Row& row, int x, int m) const {
    // The layout is picked by table, not by a branch: neighbouring pixels
    // change between near-horizontal and near-vertical kernels often.
    const int t = chunks_.transposed[m];
    const auto* p = reinterpret_cast<const std::int16_t*>(row.origin[t] + x * row.step[t]);
    // Every kernel takes the same number of chunks, the short ones padded
    // with chunks of weight 0: the loop unrolls completely and no branch
    // depends on the orientation.
    return oriented_sum(p, chunks_.weight[m], offsets_[m]);
  }

#if defined(__SSE2__)
  __m128i kernel_lanes(const Row& row, int x, int m) const {
    const int t = chunks_.transposed[m];
    const auto* p = reinterpret_cast<const std::int16_t*>(row.origin[t] + x * row.step[t]);
    return oriented_lanes(p, chunks_.weight[m], offsets_[m]);
  }
#endif

  static void widen_row(const std::uint8_t* __restrict in, std::int16_t* __restrict out, int width) {
    for (int x = 0; x < width; ++x) out[x] = in[x];
  }

  // Rows y0..y1-1 of the image into the transposed copy: blocks of 8 x 8
  // pixels turned in registers where the target has SSE2, the rest one by
  // one.
  void transpose_rows(ByteImage image, int y0, int y1) {
    const std::ptrdiff_t stride = stride_[1];
    int y = y0;
#if defined(__SSE2__)
    for (; y + 8 <= y1; y += 8) {
      int x = 0;
      for (; x + 8 <= width_; x += 8) {
        const __m128i zero = _mm_setzero_si128();
        __m128i a[8];
        for (int i = 0; i < 8; ++i)
          a[i] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(image[y + i] + x)), zero);
        const __m128i t0 = _mm_unpacklo_epi16(a[0], a[1]), t1 = _mm_unpackhi_epi16(a[0], a[1]);
        const __m128i t2 = _mm_unpacklo_epi16(a[2], a[3]), t3 = _mm_unpackhi_epi16(a[2], a[3]);
        const __m128i t4 = _mm_unpacklo_epi16(a[4], a[5]), t5 = _mm_unpackhi_epi16(a[4], a[5]);
        const __m128i t6 = _mm_unpacklo_epi16(a[6], a[7]), t7 = _mm_unpackhi_epi16(a[6], a[7]);
        const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
        const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
        const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
        const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
        const __m128i column[8] = {_mm_unpacklo_epi64(u0, u4), _mm_unpackhi_epi64(u0, u4),
                                   _mm_unpacklo_epi64(u1, u5), _mm_unpackhi_epi64(u1, u5),
                                   _mm_unpacklo_epi64(u2, u6), _mm_unpackhi_epi64(u2, u6),
                                   _mm_unpacklo_epi64(u3, u7), _mm_unpackhi_epi64(u3, u7)};
        for (int j = 0; j < 8; ++j)
          _mm_storeu_si128(reinterpret_cast<__m128i*>(origin_[1] + (x + j) * stride + y), column[j]);
      }
      for (int i = 0; i < 8; ++i) transpose_part(image[y + i], y + i, x);
    }
#endif
    for (; y < y1; ++y) transpose_part(image[y], y, 0);
  }
  // Pixels x0.. of row y into the transposed copy, one by one.
  void transpose_part(const std::uint8_t* __restrict in, int y, int x0) {
    std::int16_t* __restrict out = origin_[1] + y;
    for (int x = x0; x < width_; ++x) out[x * stride_[1]] = in[x];
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

  int width_;
  int height_;
  std::unique_ptr<std::uint8_t[]> pixels_;
  std::ptrdiff_t stride_[2];  // of the image's copy and of the transposed one
  std::unique_ptr<std::int16_t[]> wide_;
  std::vector<std::uint8_t*> rows_;
  const OrientedChunks& chunks_;
  bool chunked_;
  std::int16_t* origin_[2];  // pixel (0, 0) in each copy
  std::int32_t offsets_[120][OrientedChunks::kChunks] = {};
};

// Smooths row y of G: out[x] = the kernel of orientation(x) at (x, y).
// Interior pixels of an interior row skip the border tests.
template <typename Orientation>
void smooth_row(const PassInput& input, int width, int y, std::uint8_t* out, Orientation&& orientation) {
  const int begin = input.interior_begin(y), end = input.interior_end(y);
  const PassInput::Row row = input.row(y);
  int x = 0;
  for (; x < begin; ++x) out[x] = input.smooth(row, x, y, orientation(x));
#if defined(__SSE2__)
  // Four at a time where all four have kernels or all four are flat (each
  // comes in runs).
  for (; x + 4 <= end; x += 4) {
    int m[4];
    int kernels = 0;
    for (int i = 0; i < 4; ++i) {
      m[i] = orientation(x + i);
      kernels += static_cast<unsigned>(m[i]) < 120;
    }
    if (kernels == 4) {
      input.smooth_interior_four(row, x, m, out);
      continue;
    }
    if (kernels == 0) {
      input.flat_mean_four(x, y, out);
      continue;
    }
    for (int i = 0; i < 4; ++i)
      out[x + i] = static_cast<unsigned>(m[i]) < 120 ? input.smooth_interior(row, x + i, m[i]) : input.flat_mean(x + i, y);
  }
#endif
  for (; x < end; ++x) {
    const int m = orientation(x);
    out[x] = static_cast<unsigned>(m) < 120 ? input.smooth_interior(row, x, m) : input.flat_mean(x, y);
  }
  for (; x < width; ++x) out[x] = input.smooth(row, x, y, orientation(x));
}

// Smooths the pixels xs[0..count-1] (in increasing order) of row y of G,
// each with the kernel of orientation(x).
template <typename Orientation>
void smooth_listed(const PassInput& input, int y, std::uint8_t* out, const int* xs, int count,
                   Orientation&& orientation) {
  const int begin = input.interior_begin(y), end = input.interior_end(y);
  const PassInput::Row row = input.row(y);
  for (int i = 0; i < count; ++i) {
    const int x = xs[i], m = orientation(x);
    if (x >= begin && x < end)
      out[x] = static_cast<unsigned>(m) < 120 ? input.smooth_interior(row, x, m) : input.flat_mean(x, y);
    else
      out[x] = input.smooth(row, x, y, m);
  }
}

// Lists the pixels of a row of S with passes due (bits 0..2 non-zero) in
// xs, counts each of them down by one, and sets *again when one still has
// passes due after that. Returns how many it listed. Bits 0..2 of a listed
// pixel are non-zero, so its count-down borrows nothing from bit 3.
int count_down_row(std::uint8_t* s, int width, int* xs, bool* again) {
  int count = 0, x = 0;
#if defined(__SSE2__)
  // Sixteen pixels at a time: most rows hold long runs without passes due.
  const __m128i bits = _mm_set1_epi8(static_cast<char>(kStrengthBits)), one = _mm_set1_epi8(1);
  const __m128i zero = _mm_setzero_si128();
  for (; x + 16 <= width; x += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
    const __m128i idle = _mm_cmpeq_epi8(_mm_and_si128(v, bits), zero);
    unsigned due = ~static_cast<unsigned>(_mm_movemask_epi8(idle)) & 0xFFFFu;
    if (due == 0) continue;
    const __m128i after = _mm_sub_epi8(v, _mm_andnot_si128(idle, one));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s + x), after);
    *again |= _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(after, bits), zero)) != 0xFFFF;
    for (; due != 0; due &= due - 1) xs[count++] = x + __builtin_ctz(due);
  }
#endif
  for (; x < width; ++x) {
    if ((s[x] & kStrengthBits) == 0) continue;
    --s[x];
    *again |= (s[x] & kStrengthBits) != 0;
    xs[count++] = x;
  }
  return count;
}

// One smoothing pass over G, orientation(x, y) giving each pixel's kernel.
template <typename Orientation>
void SmoothPass(PassInput& input, int width, int height, ByteImage g, Orientation&& orientation) {
  input.reload(g);
  for (int y = 0; y < height; ++y) smooth_row(input, width, y, g[y], [&](int x) { return orientation(x, y); });
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
  std::vector<int> listed(static_cast<std::size_t>(width));
  for (;;) {
    // Runs of changed rows at once: the transposed copy takes them in
    // blocks.
    for (int y = 0; y < height;) {
      if (!changed[y]) {
        ++y;
        continue;
      }
      const int first = y;
      while (y < height && changed[y]) ++y;
      input.reload_rows(G, first, y);
    }
    long smoothed = 0;
    for (int y = 0; y < height; ++y) {
      changed[y] = 0;
      if (!pending[y]) continue;
      bool due = false;
      const int count = count_down_row(S[y], width, listed.data(), &due);
      const std::uint8_t* d = D[y];
      smooth_listed(input, y, G[y], listed.data(), count, [d](int x) { return d[x] & 0x7F; });
      pending[y] = due;
      changed[y] = count != 0;
      smoothed += count;
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
