// Block keypoint pipeline: the image is enhanced block by block, binarised
// into complementary ridge and valley maps, thinned, and the thinned lines
// are sampled at a minimum spacing (optionally moved to the strongest ring
// corner nearby); ridge samples become dark points, valley samples bright
// ones.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "matchlib/extract/contour_thinning.h"
#include "matchlib/image/cell_map_expand.h"
#include "matchlib/keypoint/keypoint_detect.h"
#include "zylscan/matchlib_bilevel.h"
#include "zylscan/matchlib_binarize.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_fft_enhance.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_stft.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/core/param_store.h"
#include "matchlib/filter/bilevel.h"
#include "matchlib/filter/binarize.h"
#include "matchlib/filter/normalize_blocks.h"
#include "matchlib/filter/quality_coherence.h"
#include "matchlib/image/border_extend.h"
#include "matchlib/spectral/block_frequency.h"
#include "matchlib/spectral/fft_enhance.h"
#include "matchlib/spectral/orientation.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeyEnhanceLevel = 0xa661db6d;
constexpr std::uint32_t kKeySpacing = 0x6dd096c5;
constexpr std::uint32_t kKeyBorder = 0x21d91b23;
constexpr std::uint32_t kKeyMoveToCorner = 0xb7831aa4;
constexpr std::uint32_t kKeyMoveRadius = 0x56dbfdf5;
constexpr std::uint32_t kKeyNoBackground = 0x0281dd6d;
constexpr int kBlock = 12;
constexpr std::uint8_t kLine = 0, kBackground = 1, kSkipped = 127, kMoved = 253, kSample = 254;

using Bytes = std::vector<std::uint8_t>;

int candidates_thin(std::uint8_t* map, int h, int w, int n, int r) {
  int samples = 0;
  const long r2 = static_cast<long>(r) * r;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t& p = map[static_cast<std::size_t>(y) * w + x];
      if (p != kLine) continue;
      if (y < n || y >= h - n || x < n || x >= w - n) {
        p = kSkipped;
        continue;
      }
      bool near = false;
      for (int yy = std::max(0, y - r); yy <= y && !near; ++yy)
        for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r) && !near; ++xx) {
          const long dy = yy - y, dx = xx - x;
          near = map[static_cast<std::size_t>(yy) * w + xx] == kSample && dy * dy + dx * dx < r2;
        }
      p = near ? kSkipped : kSample;
      samples += !near;
    }
  return samples;
}

void candidates_by_corner(std::uint8_t* map, const std::uint8_t* corner, int h, int w, int q,
                          int n, bool no_background) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      if (map[i] != kSample) continue;
      // The sample's own response stands unless a candidate beats it; on
      // equal responses the earlier position in row order is kept.
      std::size_t best = i;
      int best_value = corner[i];
      for (int yy = std::max(n, y - q); yy <= std::min(h - 1 - n, y + q); ++yy)
        for (int xx = std::max(n, x - q); xx <= std::min(w - 1 - n, x + q); ++xx) {
          const std::size_t j = static_cast<std::size_t>(yy) * w + xx;
          if (map[j] == kSample || map[j] == kMoved) continue;
          if (no_background && map[j] == kBackground) continue;
          if (corner[j] > best_value) best = j, best_value = corner[j];
        }
      if (best != i) {
        map[i] = kSkipped;
        map[best] = kMoved;
      }
    }
  for (std::size_t i = 0; i < static_cast<std::size_t>(h) * w; ++i)
    if (map[i] == kMoved) map[i] = kSample;
}

int block_corners(const MatchContext* ctx, const std::uint8_t* px, int height, int width,
                  KeyPoint** points, int* count) {
  std::uint8_t* fitted_raw = nullptr;
  std::uint32_t fh = 0, fw = 0;
  std::int32_t ro = 0, co = 0;
  if (const int st = zyl::matchlib::img_fit_to_block_multiple(px, height, width, kBlock, 0,
                                                              &fitted_raw, &fh, &fw, &ro, &co))
    return st;
  std::unique_ptr<std::uint8_t, decltype(&std::free)> fitted(fitted_raw, &std::free);
  const int h = static_cast<int>(fh), w = static_cast<int>(fw);
  const int rows = h / kBlock, cols = w / kBlock;
  const std::size_t n = static_cast<std::size_t>(h) * w, nb = static_cast<std::size_t>(rows) * cols;
  Bytes norm(n);
  if (const int st = zyl::matchlib::imgproc_normalize_blocks(fitted.get(), h, w, nullptr, kBlock,
                                                             rows, cols, 150, 120, norm.data()))
    return st;
  Bytes ori(nb), coh(nb), raw(nb), dir_px(n);
  if (const int st = zyl::matchlib::orient_block_field_presmoothed(
          norm.data(), h, w, nullptr, ori.data(), coh.data(), rows, cols, kBlock, raw.data()))
    return st;
  if (const int st =
          zyl::matchlib::orient_map_resize(ori.data(), rows, cols, kBlock, dir_px.data(), h, w))
    return st;
  Bytes dom(nb), period(nb), freq(nb), sori(nb), period_px(n), quality(n);
  if (const int st = zyl::matchlib::stft_block_analysis32(norm.data(), nullptr, h, w, kBlock, 18, 5,
                                                          nullptr, rows, cols, dom.data(),
                                                          period.data(), freq.data(), sori.data()))
    return st;
  if (const int st = zyl::matchlib::expand_bilinear<std::uint8_t>(period.data(), rows, cols, kBlock,
                                                                  period_px.data(), h, w))
    return st;
  // The blocks' coherence stands for their quality.
  if (const int st = zyl::matchlib::quality_map_expand(coh.data(), nullptr, rows, cols, kBlock,
                                                       quality.data(), h, w))
    return st;
  std::vector<std::int8_t> enhanced(n);
  if (const int st = zyl::matchlib::fftenh_enhance32(
          norm.data(), h, w, period_px.data(), dir_px.data(), nullptr, nullptr,
          zyl::matchlib::param_get(ctx, kKeyEnhanceLevel, 5), rows, cols, kBlock, enhanced.data()))
    return st;
  Bytes ridges(n), valleys(n);
  if (const int st = zyl::matchlib::binarize_blocks_percentile(
          enhanced.data(), nullptr, h, w, nullptr, kBlock, 47, ridges.data(), valleys.data()))
    return st;
  for (Bytes* m : {&ridges, &valleys})
    if (const int st = zyl::matchlib::bilevel_set_border(m->data(), h, w, 1, 1, 1, 1)) return st;
  if (const int st =
          zyl::matchlib::bilevel_smooth_pair(ridges.data(), valleys.data(), quality.data(), h, w))
    return st;
  for (Bytes* m : {&ridges, &valleys})
    if (const int st = thin_contours(m->data(), h, w)) return st;
  const int border = zyl::matchlib::param_get(ctx, kKeyBorder, 4);
  const int spacing = zyl::matchlib::param_get(ctx, kKeySpacing, 4);
  for (Bytes* m : {&ridges, &valleys}) candidates_thin(m->data(), h, w, border, spacing);
  if (zyl::matchlib::param_get(ctx, kKeyMoveToCorner, 0)) {
    Bytes corner(n, 0);
    if (const int st = ring_corner_map(ctx, norm.data(), h, w, corner.data())) return st;
    const int q = zyl::matchlib::param_get(ctx, kKeyMoveRadius, 1);
    const bool no_bg = zyl::matchlib::param_get(ctx, kKeyNoBackground, 0) != 0;
    for (Bytes* m : {&ridges, &valleys})
      candidates_by_corner(m->data(), corner.data(), h, w, q, border, no_bg);
  }
  std::vector<KeyPoint> found;
  const std::pair<const Bytes*, std::uint8_t> maps[] = {{&ridges, 2}, {&valleys, 1}};
  for (const auto& [m, cls] : maps)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        if ((*m)[i] != kSample) continue;
        // Back to the input's frame; samples on a padded margin are left out.
        const int sx = x + co, sy = y + ro;
        if (sx < 0 || sy < 0 || sx >= width || sy >= height) continue;
        found.push_back({static_cast<std::int16_t>(sx), static_cast<std::int16_t>(sy), 0,
                         quality[i], cls, 0});
      }
  if (found.empty()) return ML_OK;
  if (const int st = orient_points(ctx, px, height, width, found.data(),
                                   static_cast<int>(found.size())))
    return st;
  auto* list = static_cast<KeyPoint*>(ml_malloc(sizeof(KeyPoint) * found.size()));
  if (!list) return ML_NO_MEMORY;
  std::copy(found.begin(), found.end(), list);
  *points = list;
  *count = static_cast<int>(found.size());
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API int block_candidates_thin(uint8_t* map, int height, int width, int border, int radius) {
  if (!map || height <= 0 || width <= 0) return 0;
  return candidates_thin(map, height, width, border, radius);
}

ZYL_API void block_candidates_by_corner(uint8_t* map, const uint8_t* corner, int height, int width,
                                        int radius, int border, int no_background) {
  if (!map || !corner || height <= 0 || width <= 0) return;
  candidates_by_corner(map, corner, height, width, radius, border, no_background != 0);
}

ZYL_API int detect_block_corners(const MatchContext* ctx, const uint8_t* pixels, int height,
                                 int width, KeyPoint** points, int* count) {
  if (points) *points = nullptr;
  if (count) *count = 0;
  if (!pixels || !points || !count || height <= 0 || width <= 0 || height > 0x7FFF ||
      width > 0x7FFF)
    return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return block_corners(ctx, pixels, height, width, points, count);
  });
}

}  // extern "C"
