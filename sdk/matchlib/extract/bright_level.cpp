// Bright background levelling: a grey histogram of the darker blocks is
// searched for three modes (ridges, valleys, bright residue around the
// finger); when they are well separated, pixels brighter than a threshold
// below the first valley are pushed towards white in proportion to their
// bright neighbours, and bright border pixels become white.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/extract/bright_level.h"
#include "matchlib/image/block_stats.h"

namespace zyl::matchlib {
namespace {

constexpr int kBins = 64;
using Histogram = std::array<int, kBins>;

enum class Mark : std::uint8_t { None, Peak, Valley };

// Histogram of the blocks darker than the level, scaled to a total of 1024.
Histogram dark_block_histogram(const std::uint8_t* img, int h, int w, int n,
                               const std::uint8_t* means, int level) {
  Histogram hist{};
  const int rows = h / n, cols = w / n;
  long total = 0;
  for (int bi = 0; bi < rows; ++bi)
    for (int bj = 0; bj < cols; ++bj) {
      if (means[bi * cols + bj] >= level) continue;
      for (int y = bi * n; y < bi * n + n; ++y)
        for (int x = bj * n; x < bj * n + n; ++x) ++hist[img[y * w + x] / 4];
      total += long{n} * n;
    }
  if (total > 0)
    for (int& v : hist) v = static_cast<int>(long{v} * 1024 / total);
  return hist;
}

Histogram smooth(const Histogram& h) {
  Histogram s{};
  s[0] = (h[0] + h[1]) / 2;
  s[kBins - 1] = (h[kBins - 2] + h[kBins - 1]) / 2;
  for (int k = 1; k < kBins - 1; ++k) s[k] = (h[k - 1] + h[k] + h[k + 1]) / 3;
  return s;
}

// Valleys where a rise begins, peaks where a fall begins after a rise (or
// at the start); flat stretches continue the trend.
std::vector<int> find_extrema(const Histogram& h, std::array<Mark, kBins>& kind) {
  kind.fill(Mark::None);
  std::vector<int> marks;
  int trend = 0;  // 0 unknown, 1 rising, -1 falling
  for (int k = 0; k < kBins - 1; ++k) {
    const int s = h[k + 1] - h[k];
    if (s > 0 && trend != 1) {
      kind[k] = Mark::Valley;
      marks.push_back(k);
      trend = 1;
    } else if (s < 0 && trend != -1) {
      kind[k] = Mark::Peak;
      marks.push_back(k);
      trend = -1;
    }
  }
  return marks;
}

// Collapses shallow peak-valley-peak (or valley-peak-valley) triples into
// their stronger outer mark.
std::vector<int> thin_extrema(const Histogram& h, const std::vector<int>& marks,
                              const std::array<Mark, kBins>& kind) {
  std::vector<int> kept;
  for (int i : marks) {
    if (kept.size() >= 2) {
      const int n = kept[kept.size() - 2], m = kept.back();
      if (std::abs(h[n] - h[m]) <= 7 && std::abs(h[m] - h[i]) <= 7) {
        const bool m_valley = kind[m] == Mark::Valley;
        const bool keep_n = m_valley ? h[n] > h[i] : h[n] < h[i];
        kept.pop_back();
        kept.pop_back();
        kept.push_back(keep_n ? n : i);
        continue;
      }
    }
    kept.push_back(i);
  }
  return kept;
}

int mass(const Histogram& h, int from, int to) {
  int s = 0;
  for (int k = std::max(from, 0); k <= std::min(to, kBins - 1); ++k) s += h[k];
  return s;
}

int mass_above(const Histogram& h, int from, int to, int level) {
  int s = 0;
  for (int k = from; k <= to; ++k) s += std::max(0, h[k] - level);
  return s;
}

// The grey threshold above which pixels are pushed, or -1 when the
// histogram does not show three separated modes.
int level_threshold(const Histogram& raw) {
  const Histogram h = smooth(raw);
  std::array<Mark, kBins> kind{};
  const std::vector<int> marks = thin_extrema(h, find_extrema(h, kind), kind);
  std::vector<int> peaks, valleys;
  int last_valley = -1;
  for (int m : marks) {
    if (kind[m] == Mark::Valley) {
      last_valley = m;
      continue;
    }
    if (peaks.size() == 8) break;
    if (!peaks.empty()) valleys.push_back(last_valley < 0 ? m : last_valley);
    peaks.push_back(m);
  }
  while (peaks.size() > 3) {
    std::array<int, 3> area{};
    for (int k = 0; k < 3; ++k) {
      const int from = k == 0 ? 0 : valleys[k - 1];
      int level = h[valleys[k]];
      if (k > 0 || peaks[0] != 0) level = std::max(level, h[from]);
      area[k] = mass_above(h, from, valleys[k], level);
    }
    auto drop_higher_valley = [&](int a, int b) {
      valleys.erase(valleys.begin() + (h[valleys[a]] <= h[valleys[b]] ? b : a));
    };
    if (area[1] < area[0] && area[1] < area[2]) {
      peaks.erase(peaks.begin() + 1);
      drop_higher_valley(0, 1);
    } else if (area[1] < area[0] || area[0] >= area[2]) {
      peaks.erase(peaks.begin() + 2);
      drop_higher_valley(1, 2);
    } else {
      peaks.erase(peaks.begin());
      valleys.erase(valleys.begin());
    }
  }
  if (peaks.size() != 3) return -1;
  const int k = valleys[0];
  const int e = mass(h, 0, k);
  const int o = k == kBins - 1 ? e : mass(h, 0, valleys[1]);
  if (o <= 0) return -1;  // an empty histogram has no modes to separate
  const int p = h[k], p1 = peaks[0], p2 = peaks[1];
  const int share = e * 100 / o;
  if (share * (p2 - p1) / std::max(p * p1, 1) < 6 || p2 < 23 || share < 21) return -1;
  if (k == 0) return 0;
  if (h[k] > e / 20) return (k * 255) >> 6;
  int sum = h[k], b = k;
  while (sum <= e / 20 && b > 0) sum += h[--b];
  if (sum <= e / 20) return 3;
  return (b * 255) >> 6;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::bright_level_apply(const uint8_t* input, int height, int width, uint8_t* out,
                                      int n, uint8_t* block_means, uint8_t* row_buffer) {
  (void)input;
  const int h = height, w = width;
  if (!out || !block_means || !row_buffer || h <= 0 || w <= 0 || n <= 0) return ML_BAD_ARGUMENT;
  const std::size_t total = std::size_t(h) * w;
  int top = 0;
  bool saturated = false;
  for (std::size_t i = 0; i < total; ++i) {
    top = std::max<int>(top, out[i]);
    saturated |= out[i] == 255;
  }
  const int level = saturated ? 247 : top - std::min(top, 8);
  const int d = level_threshold(dark_block_histogram(out, h, w, n, block_means, level));
  if (d < 0) return ML_OK;
  // Push interior pixels; the row buffer keeps the unchanged row above and
  // the unchanged current row.
  std::uint8_t* above = row_buffer;
  std::uint8_t* current = row_buffer + w;
  if (h >= 3 && w >= 3) {
    std::memcpy(above, out, w);
    for (int y = 1; y < h - 1; ++y) {
      std::memcpy(current, out + std::size_t(y) * w, w);
      const std::uint8_t* below = out + std::size_t(y + 1) * w;
      std::uint8_t* row = out + std::size_t(y) * w;
      for (int x = 1; x < w - 1; ++x) {
        const int p = current[x];
        if (p <= d) continue;
        const int c = (above[x - 1] > d) + (above[x] > d) + (above[x + 1] > d) +
                      (current[x - 1] > d) + (current[x + 1] > d) + (below[x - 1] > d) +
                      (below[x] > d) + (below[x + 1] > d);
        row[x] = static_cast<std::uint8_t>(p + ((c * (255 - p)) >> 3));
      }
      std::swap(above, current);
    }
  }
  auto whiten = [d](std::uint8_t& v) {
    if (v > d) v = 255;
  };
  for (int x = 0; x < w; ++x) {
    whiten(out[x]);
    whiten(out[std::size_t(h - 1) * w + x]);
  }
  for (int y = 0; y < h; ++y) {
    whiten(out[std::size_t(y) * w]);
    whiten(out[std::size_t(y) * w + w - 1]);
  }
  return ML_OK;
}

int zyl::matchlib::bright_level_run(const uint8_t* input, int height, int width, uint8_t* out,
                                    int n) {
  if (!input || !out || height <= 0 || width <= 0 || n <= 0) return ML_BAD_ARGUMENT;
  if (out != input) std::memcpy(out, input, std::size_t(height) * width);
  const int rows = height / n, cols = width / n;
  std::vector<std::uint8_t> means, rows2;
  const int outcome = zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    means.assign(std::size_t(std::max(rows * cols, 1)), 0);
    rows2.assign(std::size_t(2) * width, 0);
    return ML_OK;
  });
  if (outcome != ML_OK) return outcome;
  if (rows > 0 && cols > 0) {
    const int status =
        zyl::matchlib::block_mean<std::uint8_t>(out, width, n, rows, cols, means.data());
    if (status != ML_OK) return status;
  }
  return zyl::matchlib::bright_level_apply(input, height, width, out, n, means.data(),
                                           rows2.data());
}

int zyl::matchlib::bright_level_blocks(const uint8_t* input, int height, int width, uint8_t* out,
                                       int n) {
  if (n == 0) return ML_BAD_ARGUMENT;
  return zyl::matchlib::bright_level_run(input, height, width, out, n);
}

extern "C" ZYL_API int bright_level_blocks12(const uint8_t* input, int height, int width,
                                             uint8_t* out) {
  return zyl::matchlib::bright_level_blocks(input, height, width, out, 12);
}

extern "C" {

ZYL_API int bright_level_apply(const uint8_t* input, int height, int width, uint8_t* out, int n,
                               uint8_t* block_means, uint8_t* row_buffer) {
  return zyl::matchlib::bright_level_apply(input, height, width, out, n, block_means, row_buffer);
}
ZYL_API int bright_level_run(const uint8_t* input, int height, int width, uint8_t* out, int n) {
  return zyl::matchlib::bright_level_run(input, height, width, out, n);
}
ZYL_API int bright_level_blocks(const uint8_t* input, int height, int width, uint8_t* out, int n) {
  return zyl::matchlib::bright_level_blocks(input, height, width, out, n);
}

}  // extern "C"
