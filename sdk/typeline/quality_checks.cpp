// Image quality of a grey fingerprint image, scored on the binary ridge
// image that the type-line preparation stages produce.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "typeline/extract_common.h"
#include "typeline/stages.h"

namespace tl = zyl::typeline;

extern "C" {

ZYL_API void ImageHistogram(const std::uint8_t* image, int n, std::uint32_t* histogram, int* levelCount) {
  if (!image || n < 0 || !histogram) return;
  std::fill(histogram, histogram + 256, 0u);
  for (int i = 0; i < n; ++i) ++histogram[image[i]];
  int levels = 0;
  for (int v = 1; v < 256; ++v) {
    if (histogram[v] <= 5) histogram[v] = 0;
    else ++levels;
  }
  if (levelCount) *levelCount = levels;
}

ZYL_API int get_center_graylevel(const std::uint8_t* image, int w, int h) {
  if (!tl::image_ok(image, w, h)) return 0;
  const int cw = w / 2, ch = h / 2;
  if (cw == 0 || ch == 0) return 0;
  long sum = 0;
  for (int y = h / 4; y < h / 4 + ch; ++y)
    for (int x = w / 4; x < w / 4 + cw; ++x) sum += image[static_cast<std::size_t>(y) * w + x];
  return static_cast<int>(sum / (static_cast<long>(cw) * ch));
}

ZYL_API int ImageQualityCheck(const std::uint8_t* binary, int w, int h, ImageQualityInfo* info) {
  if (!tl::image_ok(binary, w, h) || !info) return 0;
  *info = ImageQualityInfo{};
  info->width = w;
  info->height = h;
  const int n = w * h;
  std::uint32_t histogram[256];
  int levels = 0;
  ImageHistogram(binary, n, histogram, &levels);
  info->greyLevels = levels;
  long sum = 0, dark = 0;
  for (int i = 0; i < n; ++i) {
    sum += binary[i];
    dark += binary[i] < 80;
  }
  const int m = static_cast<int>(sum / n);
  const int p = static_cast<int>(100 * dark / n);
  info->mean = static_cast<std::uint8_t>(m);
  info->darkShare = static_cast<std::uint8_t>(p);
  int quality;
  if (m >= 200) quality = (255 - m) / 5;
  else if (p >= 86) quality = 100 - p;
  else if (p <= 10) quality = p;
  else quality = std::min(2 * p, 100);
  info->quality = quality;
  return quality;
}

ZYL_API int GetBinaryImage(std::uint8_t* image, int w, int h, ImageQualityInfo* info) {
  if (!tl::image_ok(image, w, h) || !info) return -1;
  const std::size_t n = tl::pixels(w, h);
  std::vector<std::uint8_t> mask, copy, grid;
  try {
    mask.assign(n, 0);
    copy.resize(n);
    grid.assign(n, 0);
  } catch (const std::bad_alloc&) {
    return -21;
  }
  const std::span<std::uint8_t> grey{image, n};
  tl::smooth_box(grey, w, h, 1);
  std::memcpy(copy.data(), image, n);
  tl::segment(grey, mask, w, h);
  const int c = get_center_graylevel(mask.data(), w, h);
  info->mean = static_cast<std::uint8_t>(c);
  if (c > 240) {
    info->quality = 0;
    return 1;
  }
  tl::smooth_box(copy, w, h, 4);
  tl::sharpen(copy, grey, mask, w, h, 64);
  std::memcpy(image, copy.data(), n);
  tl::smooth_box(copy, w, h, 1);
  tl::estimate_orientation(mask, copy, w, h, grid);
  tl::directional_filter(grey, mask, copy, w, h);
  tl::smooth_box(grey, w, h, 4);
  tl::sharpen(grey, copy, mask, w, h, 64);
  tl::binarise(mask, copy, grey, w, h, 3, 7);
  tl::smooth_binary(copy, w, h);
  ImageQualityCheck(copy.data(), w, h, info);
  return 1;
}

ZYL_API int ImageQualityGridsCheck(const std::uint8_t* image, int w, int h) {
  if (!tl::image_ok(image, w, h)) return 0;
  std::vector<std::uint8_t> copy;
  try {
    copy.assign(image, image + tl::pixels(w, h));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  ImageQualityInfo info{};
  return GetBinaryImage(copy.data(), w, h, &info) == 1 ? info.quality : 0;
}

}  // extern "C"
