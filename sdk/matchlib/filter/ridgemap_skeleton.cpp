// The ridge map: block orientation, the largest coherent foreground region,
// ridge period per block from a 32-point profile transform, the oriented
// filter, coding and thinning, all in the caller's buffers.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "zylscan/matchlib_array.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_ridgemap.h"
#include "matchlib/core/array_stats.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/ridgemap_filter.h"
#include "matchlib/filter/ridgemap_orientation.h"
#include "matchlib/filter/ridgemap_skeleton.h"
#include "matchlib/filter/ridgemap_thinning.h"

namespace zyl::matchlib {
namespace {

constexpr int kBlock = 16;
constexpr int kMaxLabels = 99;

struct UnionFind {
  std::uint8_t parent[kMaxLabels + 1];
  std::uint8_t rank[kMaxLabels + 1];
  UnionFind() {
    for (int i = 0; i <= kMaxLabels; ++i) {
      parent[i] = static_cast<std::uint8_t>(i);
      rank[i] = 0;
    }
  }
};

int unionfind_find(UnionFind& u, int a) {
  int root = a;
  while (u.parent[root] != root) root = u.parent[root];
  while (u.parent[a] != root) {
    const int next = u.parent[a];
    u.parent[a] = static_cast<std::uint8_t>(root);
    a = next;
  }
  return root;
}

// Union by rank; on equal ranks the first root goes under the second.
void unionfind_union(UnionFind& u, int a, int b) {
  const int ra = unionfind_find(u, a), rb = unionfind_find(u, b);
  if (ra == rb) return;
  if (u.rank[ra] < u.rank[rb]) {
    u.parent[ra] = static_cast<std::uint8_t>(rb);
  } else if (u.rank[rb] < u.rank[ra]) {
    u.parent[rb] = static_cast<std::uint8_t>(ra);
  } else {
    u.parent[ra] = static_cast<std::uint8_t>(rb);
    ++u.rank[rb];
  }
}

// Keeps the largest 4-connected region of the 0/1 block mask (labelled in
// place) and clears the orientation of every other block.
void keep_largest_region(std::uint8_t* mask, std::uint8_t* orientation, int bh, int bw) {
  UnionFind uf;
  int next = 1;
  for (int i = 0; i < bh; ++i)
    for (int j = 0; j < bw; ++j) {
      std::uint8_t& m = mask[i * bw + j];
      if (!m) continue;
      const int left = j > 0 ? mask[i * bw + j - 1] : 0;
      const int up = i > 0 ? mask[(i - 1) * bw + j] : 0;
      if (!left && !up) {
        if (next > kMaxLabels) {
          m = 0;  // out of labels: the block is dropped
          continue;
        }
        m = static_cast<std::uint8_t>(next++);
      } else if (!left || !up) {
        m = static_cast<std::uint8_t>(left ? left : up);
      } else {
        m = static_cast<std::uint8_t>(std::min(left, up));
        if (left != up) unionfind_union(uf, left, up);
      }
    }
  const int n = bh * bw;
  for (int k = 0; k < n; ++k)
    if (mask[k]) mask[k] = static_cast<std::uint8_t>(unionfind_find(uf, mask[k]));
  const int largest = zyl::matchlib::array_max_u8(mask, n);
  int winner = 1, best = -1;
  for (int label = 1; label <= largest; ++label) {
    const int count = static_cast<int>(std::count(mask, mask + n, label));
    if (count > best) {
      best = count;
      winner = label;
    }
  }
  for (int k = 0; k < n; ++k) {
    mask[k] = mask[k] == winner ? 1 : 0;
    if (!mask[k]) orientation[k] = 0;
  }
}

// Power spectrum of a 32-value profile by a radix-2 transform in Q14.
void profile_power(const int* profile, std::int32_t* power) {
  int re[32], im[32];
  for (int k = 0; k < 32; ++k) {
    int r = 0;
    for (int b = 0; b < 5; ++b) r |= ((k >> b) & 1) << (4 - b);
    re[r] = profile[k];
    im[r] = 0;
  }
  for (int m = 1; m < 32; m *= 2)
    for (int g = 0; g < 32; g += 2 * m)
      for (int k = 0; k < m; ++k) {
        const int angle = k * 256 / (2 * m);
        const int c = zyl::matchlib::fx_cos256_rounded(angle),
                  s = zyl::matchlib::fx_sin256_rounded(angle);
        const int a = re[g + k + m], b = im[g + k + m];
        const int tr = (a * c - b * s + 8192) >> 14;
        const int ti = (a * s + b * c + 8192) >> 14;
        re[g + k + m] = re[g + k] - tr;
        im[g + k + m] = im[g + k] - ti;
        re[g + k] += tr;
        im[g + k] += ti;
      }
  for (int k = 0; k < 32; ++k) power[k] = re[k] * re[k] + im[k] * im[k];
}

// Ridge period of one block in 1/16 pixel from the profile across its
// ridges.
std::uint8_t block_period(const std::uint8_t* px, int h, int w, int bi, int bj, int theta) {
  static constexpr std::uint8_t kPeriod[17] = {0,  0,  255, 171, 128, 102, 85, 73, 64,
                                               57, 51, 47,  43,  39,  37,  34, 32};
  const std::size_t stride = static_cast<std::size_t>(w);
  const int s = zyl::matchlib::fx_sin256_rounded(theta),
            c = zyl::matchlib::fx_cos256_rounded(theta);
  const int yc = bi * kBlock + 7, xc = bj * kBlock + 7;
  const bool inside = 19 < yc && yc < h - 19 && 19 < xc && xc < w - 19;
  int block_mean = -1;
  int profile[32];
  for (int k = 0; k < 32; ++k) {
    int sum = 0, taken = 0;
    for (int j = 0; j < 16; ++j) {
      const int y = yc + (((15 - k) * c + (j - 8) * s + 8192) >> 14);
      const int x = xc + (((k - 15) * s + (j - 8) * c + 8192) >> 14);
      if (!inside && (y < 0 || y >= h || x < 0 || x >= w)) continue;
      sum += px[y * stride + x];
      ++taken;
    }
    if (taken) {
      profile[k] = sum / taken;
      continue;
    }
    if (block_mean < 0) {
      const int y1 = std::min(bi * kBlock + kBlock, h), x1 = std::min(bj * kBlock + kBlock, w);
      int total = 0, count = 0;
      for (int y = bi * kBlock; y < y1; ++y)
        for (int x = bj * kBlock; x < x1; ++x) total += px[y * stride + x], ++count;
      block_mean = count ? total / count : 0;
    }
    profile[k] = block_mean;
  }
  std::int32_t power[32];
  profile_power(profile, power);
  return kPeriod[2 + zyl::matchlib::array_argmax_i32(power + 2, 15)];
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::ridgemap_skeleton(uint8_t* pixels, int height, int width, uint8_t* orientation,
                                      uint8_t* coherence, uint8_t* period, int bh, int bw,
                                      int dpi) {
  if (!pixels || !orientation || !coherence || !period || height <= 0 || width <= 0) return;
  // The block maps are bh x bw; a grid smaller than the image would leave
  // pixels whose block lies outside the maps.
  if (bh < (height + 15) / 16 || bw < (width + 15) / 16) return;
  const std::size_t full = static_cast<std::size_t>(height) * width;
  int step = 1, h = height, w = width;
  if (dpi > 600) {
    step = (dpi + 400) / 500;
    h = (height + step - 1) / step;
    w = (width + step - 1) / step;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        pixels[static_cast<std::size_t>(y) * w + x] =
            pixels[static_cast<std::size_t>(y) * step * width + static_cast<std::size_t>(x) * step];
    bh = (h + 15) / 16;
    bw = (w + 15) / 16;
  }
  const std::size_t stride = static_cast<std::size_t>(w);
  const int blocks = bh * bw;
  std::memset(orientation, 0, blocks);
  std::memset(coherence, 0, blocks);
  std::memset(period, 0, blocks);
  zyl::matchlib::ridgemap_block_orientation(pixels, h, w, orientation, coherence, period, bh, bw);

  for (int k = 0; k < blocks; ++k) period[k] = (orientation[k] && coherence[k] > 29) ? 1 : 0;
  keep_largest_region(period, orientation, bh, bw);

  std::memset(period, 160, blocks);
  for (int bi = 0; bi < bh; ++bi)
    for (int bj = 0; bj < bw; ++bj)
      if (orientation[bi * bw + bj])
        period[bi * bw + bj] = block_period(pixels, h, w, bi, bj, orientation[bi * bw + bj]);
  if (bh > 2 && bw > 2) zyl::matchlib::filter_smooth121_inplace_u8(period, bh, bw);

  zyl::matchlib::ridgemap_oriented_filter(pixels, h, w, orientation, period, bh, bw);

  if (h >= 3 && w >= 3) zyl::matchlib::filter_smooth121_inplace_u8(pixels, h, w);
  std::memset(pixels, 0, stride);
  std::memset(pixels + (h - 1) * stride, 0, stride);
  for (int y = 1; y < h - 1; ++y) {
    pixels[y * stride] = 0;
    pixels[y * stride + w - 1] = 0;
  }
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      uint8_t& p = pixels[y * stride + x];
      p = orientation[(y / 16) * bw + x / 16] == 0 ? RIDGEMAP_OUTSIDE
          : p >= 128                              ? RIDGEMAP_VALLEY
                                                  : RIDGEMAP_RIDGE;
    }
  zyl::matchlib::ridgemap_thin_ridges(pixels, h, w);
  zyl::matchlib::ridgemap_thin_valleys(pixels, h, w);
  if (step == 1) return;

  // Enlarge back: each reduced pixel fills a step x step square, working
  // from the last pixel backwards so nothing is overwritten before it is read.
  std::memset(pixels + static_cast<std::size_t>(h) * w, 0, full - static_cast<std::size_t>(h) * w);
  for (int y = h - 1; y >= 0; --y)
    for (int x = w - 1; x >= 0; --x) {
      const uint8_t v = pixels[static_cast<std::size_t>(y) * w + x];
      for (int dy = step - 1; dy >= 0; --dy) {
        const int yy = y * step + dy;
        if (yy >= height) continue;
        for (int dx = step - 1; dx >= 0; --dx) {
          const int xx = x * step + dx;
          if (xx < width) pixels[static_cast<std::size_t>(yy) * width + xx] = v;
        }
      }
    }
  zyl::matchlib::ridgemap_thin_ridges(pixels, height, width);
  zyl::matchlib::ridgemap_thin_valleys(pixels, height, width);
}

extern "C" {

ZYL_API void ridgemap_skeleton(uint8_t* pixels, int height, int width, uint8_t* orientation,
                               uint8_t* coherence, uint8_t* period, int bh, int bw, int dpi) {
  zyl::matchlib::ridgemap_skeleton(pixels, height, width, orientation, coherence, period, bh, bw,
                                   dpi);
}

}  // extern "C"
