// Image preparation steps before extraction and the saturation mask of the
// band-filter step.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_prep_steps.h"
#include "zylscan/matchlib_stretch.h"
#include "matchlib/core/param_store.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/filter/normalize_global.h"
#include "matchlib/image/stretch.h"
#include "matchlib/filter/stripe.h"
#include "matchlib/image/grey_morphology.h"
#include "matchlib/image/histogram.h"
#include "matchlib/filter/enhancement_operations.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kKeyFinalPercent = 0xeeb6a790;
constexpr std::uint32_t kKeyRadialC = 0xb2a8c686;
constexpr std::uint32_t kKeyRadialB = 0x6b4b4e52;
constexpr std::uint32_t kKeyRadialE = 0x5991c5b5;
constexpr std::uint32_t kKeyBuildMask = 0xb21c9796;
constexpr std::uint32_t kKeyFlagLimit = 0xbfaead9e;

constexpr std::uint8_t kMark = 128, kTail = 64, kFilled = 255;

int saturation_mask(const std::uint8_t* px, int h, int w, std::uint8_t* mask,
                    std::uint32_t* count) {
  const std::size_t n = static_cast<std::size_t>(h) * w;
  std::int32_t hist[256];
  zyl::matchlib::hist_build_u8(px, h, w, hist);
  const long tail = static_cast<long>(n / 32), bright = static_cast<long>(n / 64);
  int low = 255;
  for (long below = 0, v = 0; v < 256; below += hist[v++])
    if (below >= tail) {
      low = static_cast<int>(v);
      break;
    }
  int high = -1, level = 225;
  for (long above = 0, v = 255; v >= 0; above += hist[v--]) {
    if (high < 0 && above >= tail) high = static_cast<int>(v);
    if (above >= bright && level == 225 && v > 225) level = static_cast<int>(v);
  }
  std::vector<std::uint8_t> m(n);
  for (std::size_t i = 0; i < n; ++i) m[i] = px[i] > level ? kMark : 0;
  if (const int st = zyl::matchlib::filter_open3x3_u8(m.data(), h, w, m.data())) return st;
  *count = static_cast<std::uint32_t>(std::count_if(m.begin(), m.end(), [](auto v) { return v; }));
  for (std::size_t i = 0; i < n; ++i)
    if ((px[i] < low || px[i] > high) && m[i] != kMark) m[i] = kTail;
  for (int x = 0; x < w; ++x) m[x] = m[(h - 1) * static_cast<std::size_t>(w) + x] = 0;
  for (int y = 0; y < h; ++y) m[static_cast<std::size_t>(y) * w] = m[static_cast<std::size_t>(y) * w + w - 1] = 0;

  // Tails joined to a mark (4-connected) belong to it.
  std::vector<std::size_t> stack;
  for (std::size_t s = 0; s < n; ++s) {
    if (m[s] != kMark) continue;
    m[s] = kFilled;
    stack.push_back(s);
    while (!stack.empty()) {
      const std::size_t i = stack.back();
      stack.pop_back();
      const std::size_t y = i / w, x = i % w;
      auto visit = [&](std::size_t j) {
        if (m[j] == kTail) {
          m[j] = kFilled;
          stack.push_back(j);
        }
      };
      if (x > 0) visit(i - 1);
      if (x + 1 < static_cast<std::size_t>(w)) visit(i + 1);
      if (y > 0) visit(i - w);
      if (y + 1 < static_cast<std::size_t>(h)) visit(i + w);
    }
  }
  for (auto& v : m) v = (v == kFilled || v == kMark) ? kFilled : 0;

  // Shadow cast away from the centre to the border, in 1/256 pixel steps.
  const long cy = h / 2, cx = w / 2, uw = static_cast<long>(w) * 256, vh = static_cast<long>(h) * 256;
  for (long row = 0; row < h; ++row)
    for (long col = 0; col < w; ++col) {
      if (m[row * w + col] != kFilled) continue;
      const long o = row - cy, l = col - cx, t = std::max(std::labs(l), std::labs(o));
      if (!t) continue;
      const long du = l * 256 / t, dv = o * 256 / t;
      long u = col * 256 + du, v = row * 256 + dv;
      if (u < 0 || u >= uw) continue;
      while (v >= 0 && v < vh) {
        std::uint8_t& c = m[(v / 256) * w + u / 256];
        if (c == kMark) break;
        c |= kMark;
        u += du;
        v += dv;
        if (u < 0 || u >= uw) break;
      }
    }

  // Widen over rows row-4 .. row+3 and columns column-4 .. column+3.
  std::vector<std::uint8_t> across(n);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t best = 0;
      for (int k = std::max(0, x - 4); k <= std::min(w - 1, x + 3); ++k)
        best = std::max(best, m[static_cast<std::size_t>(y) * w + k]);
      across[static_cast<std::size_t>(y) * w + x] = best;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t best = 0;
      for (int k = std::max(0, y - 4); k <= std::min(h - 1, y + 3); ++k)
        best = std::max(best, across[static_cast<std::size_t>(k) * w + x]);
      if (best) mask[static_cast<std::size_t>(y) * w + x] = 0;
    }
  return ML_OK;
}

bool bad_step(const std::uint8_t* px, int h, int w, const std::uint8_t* out) {
  return !px || !out || h <= 0 || w <= 0;
}

int band_filter(MatchContext* ctx, const std::uint8_t* px, int h, int w, int resolution,
                std::uint8_t* out, std::uint8_t** out_mask, int* out_flag) {
  zyl::matchlib::imgproc_stretch_percentile_below(px, h, w, 1, 250, out);
  const int radial = zyl::matchlib::param_get(ctx, kKeyRadialC, 0);
  const int st = radial <= 0
                     ? zyl::matchlib::fftfilt_band_by_resolution_u8(out, h, w, resolution, out)
                     : zyl::matchlib::fftfilt_radial_u8(
                           out, h, w, resolution, zyl::matchlib::param_get(ctx, kKeyRadialB, 128),
                           0, radial, zyl::matchlib::param_get(ctx, kKeyRadialE, 256), 0, out);
  if (st) return st;
  zyl::matchlib::imgproc_stretch_percentile(
      out, h, w, zyl::matchlib::param_get(ctx, kKeyFinalPercent, 0), out);
  if (!zyl::matchlib::param_get(ctx, kKeyBuildMask, 0)) return ML_OK;
  auto* mask = static_cast<std::uint8_t*>(ml_malloc(static_cast<std::size_t>(h) * w));
  if (!mask) return ML_NO_MEMORY;
  std::memset(mask, 1, static_cast<std::size_t>(h) * w);
  std::uint32_t count = 0;
  const int built =
      zyl::GuardedCall(ML_NO_MEMORY, [&] { return saturation_mask(px, h, w, mask, &count); });
  if (built) {
    std::free(mask);
    return built;
  }
  if (count >
          static_cast<std::uint32_t>(zyl::matchlib::param_get(ctx, kKeyFlagLimit, 0x7fffffff)) &&
      out_flag)
    *out_flag = 1;
  if (out_mask) *out_mask = mask;
  else std::free(mask);
  return ML_OK;
}

constexpr ImagePrepDescriptor kListGlobal[] = {{prep_normalize_global}, {nullptr}};
constexpr ImagePrepDescriptor kListLocal[] = {{prep_normalize_local}, {nullptr}};
constexpr ImagePrepDescriptor kListDestripeBand[] = {{prep_destripe}, {prep_band_filter}, {nullptr}};
constexpr ImagePrepDescriptor kListBand[] = {{prep_band_filter}, {nullptr}};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API int prep_destripe(MatchContext*, const uint8_t* pixels, const uint8_t*, int height,
                          int width, int, const SourceWindow*, uint8_t* out, uint8_t** out_mask,
                          int*) {
  if (out_mask) *out_mask = nullptr;
  if (bad_step(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  if (const int st = zyl::matchlib::imgproc_destripe_by_type(pixels, height, width, 2, width, out))
    return st;
  return zyl::matchlib::imgproc_destripe_by_type(out, height, width, 3, width, out);
}

ZYL_API int prep_normalize_global(MatchContext*, const uint8_t* pixels, const uint8_t*,
                                  int height, int width, int, const SourceWindow*, uint8_t* out,
                                  uint8_t** out_mask, int*) {
  if (out_mask) *out_mask = nullptr;
  if (bad_step(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  return zyl::matchlib::imgproc_normalize_global(pixels, height, width, 128, 100, out);
}

ZYL_API int prep_normalize_local(MatchContext*, const uint8_t* pixels, const uint8_t*, int height,
                                 int width, int resolution, const SourceWindow*, uint8_t* out,
                                 uint8_t** out_mask, int*) {
  if (out_mask) *out_mask = nullptr;
  if (bad_step(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  return zyl::matchlib::imgproc_normalize_local_dpi(pixels, height, width, resolution, out);
}

ZYL_API int prep_band_filter(MatchContext* ctx, const uint8_t* pixels, const uint8_t*, int height,
                             int width, int resolution, const SourceWindow*, uint8_t* out,
                             uint8_t** out_mask, int* out_flag) {
  if (out_mask) *out_mask = nullptr;
  if (bad_step(pixels, height, width, out)) return ML_BAD_ARGUMENT;
  return band_filter(ctx, pixels, height, width, resolution, out, out_mask, out_flag);
}

ZYL_API const ImagePrepDescriptor* prep_step_list(int index) {
  switch (index) {
    case 0: return kListGlobal;
    case 1: return kListLocal;
    case 2: return kListDestripeBand;
    case 3: return kListBand;
    default: return nullptr;
  }
}

ZYL_API int saturation_mask_build(const uint8_t* pixels, int height, int width, uint8_t* mask,
                                  uint32_t* count) {
  if (!pixels || !mask || !count || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  *count = 0;
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return saturation_mask(pixels, height, width, mask, count); });
}

}  // extern "C"
