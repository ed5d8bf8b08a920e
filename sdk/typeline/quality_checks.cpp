// Image quality of a grey fingerprint image, scored on the binary ridge
// image that the type-line preparation stages produce.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "common/guarded_call.h"
#include "typeline/extract_common.h"
#include "typeline/stages.h"

namespace tl = zyl::typeline;

namespace zyl::typeline {

int image_histogram(std::span<const std::uint8_t> image, std::span<std::uint32_t, 256> histogram) {
  std::fill(histogram.begin(), histogram.end(), 0u);
  for (const std::uint8_t v : image) ++histogram[v];
  int levels = 0;
  for (int v = 1; v < 256; ++v) {
    if (histogram[v] <= 5) histogram[v] = 0;
    else ++levels;
  }
  return levels;
}

int center_grey_level(std::span<const std::uint8_t> image, int w, int h) {
  const int cw = w / 2, ch = h / 2;
  if (cw == 0 || ch == 0) return 0;
  long sum = 0;
  for (int y = h / 4; y < h / 4 + ch; ++y)
    for (int x = w / 4; x < w / 4 + cw; ++x) sum += image[static_cast<std::size_t>(y) * w + x];
  return static_cast<int>(sum / (static_cast<long>(cw) * ch));
}

int rate_binary_image(std::span<const std::uint8_t> binary, int w, int h, ImageQualityInfo& info) {
  info = ImageQualityInfo{};
  info.width = w;
  info.height = h;
  const int n = w * h;
  std::array<std::uint32_t, 256> histogram;
  info.greyLevels = image_histogram(binary.first(static_cast<std::size_t>(n)), histogram);
  long sum = 0, dark = 0;
  for (int i = 0; i < n; ++i) {
    sum += binary[i];
    dark += binary[i] < 80;
  }
  const int m = static_cast<int>(sum / n);
  const int p = static_cast<int>(100 * dark / n);
  info.mean = static_cast<std::uint8_t>(m);
  info.darkShare = static_cast<std::uint8_t>(p);
  int quality;
  if (m >= 200) quality = (255 - m) / 5;
  else if (p >= 86) quality = 100 - p;
  else if (p <= 10) quality = p;
  else quality = std::min(2 * p, 100);
  info.quality = quality;
  return quality;
}

int binary_image_quality(std::span<std::uint8_t> grey, int w, int h, ImageQualityInfo& info) {
  const std::size_t n = pixels(w, h);
  std::vector<std::uint8_t> mask, copy, grid;
  if (int rc = zyl::GuardedCall(-21, [&] {
        mask.assign(n, 0);
        copy.resize(n);
        grid.assign(n, 0);
        return 0;
      }))
    return rc;
  smooth_box(grey, w, h, 1);
  std::memcpy(copy.data(), grey.data(), n);
  segment(grey, mask, w, h);
  const int c = center_grey_level(mask, w, h);
  info.mean = static_cast<std::uint8_t>(c);
  if (c > 240) {
    info.quality = 0;
    return 1;
  }
  smooth_box(copy, w, h, 4);
  sharpen(copy, grey, mask, w, h, 64);
  std::memcpy(grey.data(), copy.data(), n);
  smooth_box(copy, w, h, 1);
  estimate_orientation(mask, copy, w, h, grid);
  directional_filter(grey, mask, copy, w, h);
  smooth_box(grey, w, h, 4);
  sharpen(grey, copy, mask, w, h, 64);
  binarise(mask, copy, grey, w, h, 3, 7);
  smooth_binary(copy, w, h);
  rate_binary_image(copy, w, h, info);
  return 1;
}

}  // namespace zyl::typeline

extern "C" {

ZYL_API void ImageHistogram(const std::uint8_t* image, int n, std::uint32_t* histogram, int* levelCount) {
  if (!image || n < 0 || !histogram) return;
  const int levels = tl::image_histogram({image, static_cast<std::size_t>(n)},
                                         std::span<std::uint32_t, 256>(histogram, 256));
  if (levelCount) *levelCount = levels;
}

ZYL_API int get_center_graylevel(const std::uint8_t* image, int w, int h) {
  if (!tl::image_ok(image, w, h)) return 0;
  return tl::center_grey_level({image, tl::pixels(w, h)}, w, h);
}

ZYL_API int ImageQualityCheck(const std::uint8_t* binary, int w, int h, ImageQualityInfo* info) {
  if (!tl::image_ok(binary, w, h) || !info) return 0;
  return tl::rate_binary_image({binary, tl::pixels(w, h)}, w, h, *info);
}

ZYL_API int GetBinaryImage(std::uint8_t* image, int w, int h, ImageQualityInfo* info) {
  if (!tl::image_ok(image, w, h) || !info) return -1;
  return tl::binary_image_quality({image, tl::pixels(w, h)}, w, h, *info);
}

ZYL_API int ImageQualityGridsCheck(const std::uint8_t* image, int w, int h) {
  if (!tl::image_ok(image, w, h)) return 0;
  std::vector<std::uint8_t> copy;
  if (zyl::GuardedCall(1, [&] {
        copy.assign(image, image + tl::pixels(w, h));
        return 0;
      }))
    return 0;
  ImageQualityInfo info{};
  return tl::binary_image_quality(copy, w, h, info) == 1 ? info.quality : 0;
}

}  // extern "C"
