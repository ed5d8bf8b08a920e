// Block orientation and coherence of the ridge map on 16 x 16 blocks, with
// the in-place grey normalisation of usable blocks, and the 1-2-1 smoother
// that the ridge map's steps share.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_ridgemap.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/ridgemap_orientation.h"

namespace zyl::matchlib {
namespace {

constexpr int kBlock = 16;
constexpr int kPatch = 21;

// 1-2-1 along n values spaced step apart, every output from the values as
// they were before the pass.
void smooth121_line(std::uint8_t* v, int n, std::ptrdiff_t step) {
  if (n < 2) return;
  int prev = v[0];
  v[0] = static_cast<std::uint8_t>((3 * prev + v[step]) >> 2);
  for (int i = 1; i < n - 1; ++i) {
    const int cur = v[i * step];
    v[i * step] = static_cast<std::uint8_t>((prev + 2 * cur + v[(i + 1) * step]) >> 2);
    prev = cur;
  }
  const std::ptrdiff_t last = (n - 1) * step;
  v[last] = static_cast<std::uint8_t>((prev + 3 * v[last]) >> 2);
}

// First pass over one block: normalises its pixels in place and answers
// its coherence and first-pass orientation (0 for a block left alone).
void block_first_pass(std::uint8_t* px, int h, int w, int bi, int bj, std::uint8_t& coherence,
                      std::uint8_t& orientation) {
  coherence = 0;
  orientation = 0;
  const std::size_t stride = static_cast<std::size_t>(w);
  const int y0 = bi * kBlock, y1 = std::min(y0 + kBlock, h);
  const int x0 = bj * kBlock, x1 = std::min(x0 + kBlock, w);
  const int count = (y1 - y0) * (x1 - x0);
  int sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) sum += px[y * stride + x];
  const int mean = static_cast<std::uint8_t>(sum / count);
  if (mean < 16 || mean > 253) return;
  int sq = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const int d = px[y * stride + x] - mean;
      sq += d * d;
    }
  const int var = sq / count;
  if (var <= 29) return;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      std::uint8_t& p = px[y * stride + x];
      const int d = p - mean;
      const int t = zyl::matchlib::fx_isqrt_round(d * d * 6400 / var);
      p = static_cast<std::uint8_t>(zyl::matchlib::clamp_u8(p > mean ? 128 + t : 128 - t));
    }
  // Smoothed 21 x 21 patch about the block; outside the image is white.
  std::uint8_t patch[kPatch * kPatch];
  for (int r = 0; r < kPatch; ++r)
    for (int c = 0; c < kPatch; ++c) {
      const int y = y0 - 3 + r, x = x0 - 3 + c;
      patch[r * kPatch + c] = (y >= 0 && y < h && x >= 0 && x < w) ? px[y * stride + x] : 255;
    }
  zyl::matchlib::filter_smooth121_inplace_u8(patch, kPatch, kPatch);
  std::int64_t gxx = 0, gyy = 0, gxy = 0;
  for (int r = 1; r < kPatch - 1; ++r)
    for (int c = 1; c < kPatch - 1; ++c) {
      const int gx = patch[r * kPatch + c + 1] - patch[r * kPatch + c - 1];
      const int gy = patch[(r + 1) * kPatch + c] - patch[(r - 1) * kPatch + c];
      gxx += gx * gx;
      gyy += gy * gy;
      gxy += gx * gy;
    }
  std::int64_t m = std::max({gxx, gyy, std::abs(gxy)});
  if (m > 131070) {
    const std::int64_t f = m / 65535 + 1;
    gxx /= f;
    gyy /= f;
    gxy /= f;
    m /= f;
  }
  if (m > 0) {
    gxx = (gxx << 14) / m;
    gyy = (gyy << 14) / m;
    gxy = (gxy << 14) / m;
  }
  if (gxx + gyy == 0) return;
  const std::int64_t diff = gxx - gyy;
  const int root = zyl::matchlib::fx_isqrt_round(static_cast<int>(diff * diff + 4 * gxy * gxy));
  coherence = static_cast<std::uint8_t>(root * 255 / (gxx + gyy));
  if (coherence <= 14) return;
  const int g = static_cast<std::uint8_t>(zyl::matchlib::fx_atan2_approx(
                    static_cast<int>(diff), static_cast<int>(2 * gxy))) /
                2;
  orientation = static_cast<std::uint8_t>(g <= 64 ? g + 64 : g - 64);
}

// Second pass: the coherence-weighted mean of the doubled first-pass
// orientations around a block, over a radius of 2 where one direction
// dominates and of 1 otherwise.
std::uint8_t smoothed_orientation(const std::uint8_t* first, const std::uint8_t* coherence,
                                  int bh, int bw, int bi, int bj) {
  int bins[8] = {}, total = 0;
  for (int i = std::max(bi - 2, 0); i <= std::min(bi + 2, bh - 1); ++i)
    for (int j = std::max(bj - 2, 0); j <= std::min(bj + 2, bw - 1); ++j) {
      const int o = first[i * bw + j];
      if (!o) continue;
      ++bins[(o % 128) / 16];
      ++total;
    }
  const int largest = *std::max_element(bins, bins + 8);
  const int r = total * 256 / largest < 900 ? 2 : 1;
  int sx = 0, sy = 0;
  for (int i = std::max(bi - r, 0); i <= std::min(bi + r, bh - 1); ++i)
    for (int j = std::max(bj - r, 0); j <= std::min(bj + r, bw - 1); ++j) {
      const int o = first[i * bw + j];
      if (!o) continue;
      const int a = (2 * o) & 255;
      sx += coherence[i * bw + j] * zyl::matchlib::fx_cos256_rounded(a);
      sy += coherence[i * bw + j] * zyl::matchlib::fx_sin256_rounded(a);
    }
  const int g = static_cast<std::uint8_t>(zyl::matchlib::fx_atan2_approx(sx, sy)) / 2;
  return static_cast<std::uint8_t>(g == 0 ? 128 : g);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::filter_smooth121_inplace_u8(uint8_t* map, int rows, int columns) {
  if (!map || rows <= 0 || columns <= 0) return;
  for (int r = 0; r < rows; ++r) smooth121_line(map + static_cast<std::size_t>(r) * columns, columns, 1);
  for (int c = 0; c < columns; ++c) smooth121_line(map + c, rows, columns);
}

extern "C" ZYL_API void filter_smooth121_guarded_u8(uint8_t* map, int rows, int columns) {
  if (rows > 2 && columns > 2) zyl::matchlib::filter_smooth121_inplace_u8(map, rows, columns);
}

void zyl::matchlib::ridgemap_block_orientation(uint8_t* pixels, int height, int width,
                                               uint8_t* orientation, uint8_t* coherence,
                                               uint8_t* work, int bh, int bw) {
  if (!pixels || !orientation || !coherence || !work || bh < 1 || bw < 1 || height <= 0 ||
      width <= 0)
    return;
  // Blocks past the image have no pixels: the grid stops at the image.
  const int rows = std::min(bh, (height + 15) / 16), cols = std::min(bw, (width + 15) / 16);
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj)
      block_first_pass(pixels, height, width, bi, bj, coherence[bi * bw + bj], work[bi * bw + bj]);
  for (int bi = 0; bi < bh; ++bi)
    for (int bj = 0; bj < bw; ++bj)
      orientation[bi * bw + bj] =
          work[bi * bw + bj] ? smoothed_orientation(work, coherence, bh, bw, bi, bj) : 0;
  if (bh > 2 && bw > 2) zyl::matchlib::filter_smooth121_inplace_u8(coherence, bh, bw);
}

extern "C" {

ZYL_API void filter_smooth121_inplace_u8(uint8_t* map, int rows, int columns) {
  zyl::matchlib::filter_smooth121_inplace_u8(map, rows, columns);
}
ZYL_API void ridgemap_block_orientation(uint8_t* pixels, int height, int width,
                                        uint8_t* orientation, uint8_t* coherence, uint8_t* work,
                                        int bh, int bw) {
  zyl::matchlib::ridgemap_block_orientation(pixels, height, width, orientation, coherence, work, bh,
                                            bw);
}

}  // extern "C"
