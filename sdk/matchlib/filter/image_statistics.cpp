// Cached whole-image statistics, the kept statistic maps, the pixel
// comparison of two images and the sensor-size classes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchlib/core/allocation.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/filter/quality_coherence.h"
#include "matchlib/filter/quality_image_stats.h"
#include "matchlib/filter/image_statistics.h"
#include "matchlib/image/mask_plane.h"

namespace zyl::matchlib {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

Buffer alloc_bytes(std::size_t n) {
  return Buffer(static_cast<std::uint8_t*>(ml_malloc(n ? n : 1)));
}

std::uint8_t** kept_map_slot(GrayImage* img, int flag) {
  switch (flag) {
    case 0x02: return &img->kept_map_02;
    case 0x04: return &img->kept_map_04;
    case 0x08: return &img->kept_map_08;
    case 0x10: return &img->kept_map_10;
    default: return nullptr;
  }
}

// Allocates the kept map of one flag when the image keeps it and lacks it;
// answers the map (null when not kept or memory ran out).
std::uint8_t* kept_map(GrayImage* img, int flag) {
  if (!(img->keep_map_flags & static_cast<std::uint32_t>(flag))) return nullptr;
  std::uint8_t** slot = kept_map_slot(img, flag);
  if (!*slot) *slot = static_cast<std::uint8_t*>(ml_calloc(pixel_count(img) ? pixel_count(img) : 1, 1));
  return *slot;
}

// Pixels per square millimetre times 16129 / 32258 steps: the area formula
// divides the foreground count by the rounded pixels per mm^2.
std::int32_t foreground_area(std::uint32_t count, int resolution) {
  const std::int64_t f = (std::int64_t{resolution} * resolution * 100 + 32258) / 4;
  const std::int64_t per_mm2 = f / 16129;
  // Below 18 dpi (or without a common resolution) a square millimetre holds
  // less than half a pixel: the area is unknown rather than a division by 0.
  if (per_mm2 == 0) return -1;
  return static_cast<std::int32_t>((count + f / 32258) / per_mm2);
}

bool compute_quality_group(GrayImage* img) {
  if (!img->pixels) return false;
  const std::size_t n = pixel_count(img);
  Buffer usable = alloc_bytes(n);
  if (!usable) return false;
  if (img->mask)
    zyl::matchlib::mask_to_region_bytes(img->mask, usable.get());
  else
    std::memset(usable.get(), 1, n);
  std::uint8_t* map = kept_map(img, 0x10);
  const int r = zyl::matchlib::image_resolution(img);
  const int radius = (r * 12 + 508) / 1016;
  std::uint8_t quality = 0;
  std::uint32_t count = 0;
  if (zyl::matchlib::quality_from_pixel_coherence(img->pixels, int{img->height}, int{img->width},
                                                  static_cast<const std::uint8_t*>(usable.get()),
                                                  radius, &quality, &count, map) != ML_OK) {
    img->stats.quality = -1;
    return false;
  }
  img->stats.quality = quality;
  img->stats.foreground_percent =
      n ? static_cast<std::int32_t>((std::uint64_t{count} * 100 + n / 2) / n) : 0;
  img->stats.foreground_area = foreground_area(count, r);
  std::uint8_t bright = 0;
  if (zyl::matchlib::imgstat_bright_percent(img->pixels, int{img->height}, int{img->width},
                                            static_cast<const std::uint8_t*>(usable.get()),
                                            &bright) != ML_OK) {
    img->stats.quality = -1;
    return false;
  }
  img->stats.bright_percent = bright;
  return true;
}

// The value of the quality group a getter asks for, computing the group
// first when the quality is unset.
std::int32_t quality_group_value(GrayImage* img, std::int32_t ImageStatistics::*field) {
  if (!img) return -1;
  if (img->stats.quality == -1 && !compute_quality_group(img)) return -1;
  return img->stats.*field;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::image_quality(GrayImage* image) {
  return quality_group_value(image, &ImageStatistics::quality);
}
int zyl::matchlib::image_foreground_percent(GrayImage* image) {
  return quality_group_value(image, &ImageStatistics::foreground_percent);
}
extern "C" ZYL_API int image_foreground_area(GrayImage* image) {
  return quality_group_value(image, &ImageStatistics::foreground_area);
}
extern "C" ZYL_API int image_bright_percent(GrayImage* image) {
  return quality_group_value(image, &ImageStatistics::bright_percent);
}

int zyl::matchlib::image_block_contrast(GrayImage* image, int* out_first, int* out_second) {
  if (out_first) *out_first = -1;
  if (out_second) *out_second = -1;
  if (!image) return -1;
  ImageStatistics& s = image->stats;
  if (s.block_contrast == -1) {
    if (!image->pixels) return -1;
    std::uint8_t* m2 = kept_map(image, 0x02);
    std::uint8_t* m4 = kept_map(image, 0x04);
    std::uint8_t* m8 = kept_map(image, 0x08);
    std::uint8_t value = 0, first = 0, second = 0;
    if (zyl::matchlib::imgstat_block_contrast(
            static_cast<const std::uint8_t*>(image->pixels), int{image->height}, int{image->width},
            zyl::matchlib::image_resolution(image), &value, &first, &second, m2, m4, m8) != ML_OK)
      return -1;
    s.block_contrast = value;
    s.contrast_first = first;
    s.contrast_second = second;
  }
  if (out_first) *out_first = s.contrast_first;
  if (out_second) *out_second = s.contrast_second;
  return s.block_contrast;
}

extern "C" ZYL_API int image_block_range_mean(GrayImage* image) {
  if (!image) return -1;
  if (image->stats.block_range_mean == -1 && image->pixels) {
    std::uint8_t v = 0;
    if (zyl::matchlib::imgstat_block_range_mean(static_cast<const std::uint8_t*>(image->pixels),
                                                int{image->height}, int{image->width}, &v) == ML_OK)
      image->stats.block_range_mean = v;
  }
  return image->stats.block_range_mean;
}

extern "C" ZYL_API int image_laplacian_spread(GrayImage* image) {
  if (!image) return -1;
  if (image->stats.laplacian_spread == -1 && image->pixels) {
    std::uint8_t v = 0;
    if (zyl::matchlib::imgstat_laplacian_spread(static_cast<const std::uint8_t*>(image->pixels),
                                                int{image->height}, int{image->width}, &v) == ML_OK)
      image->stats.laplacian_spread = v;
  }
  return image->stats.laplacian_spread;
}

extern "C" ZYL_API void image_keep_maps(GrayImage* image, uint32_t flags) {
  if (image) image->keep_map_flags |= flags & 0x1Eu;
}

extern "C" ZYL_API uint8_t* image_alloc_kept_map(GrayImage* image, int flag) {
  if (!image || !kept_map_slot(image, flag)) return nullptr;
  return kept_map(image, flag);
}

extern "C" ZYL_API uint8_t* image_plane_by_code(GrayImage* image, int code, int* out_height,
                                                int* out_width) {
  if (out_height) *out_height = zyl::matchlib::image_height(image);
  if (out_width) *out_width = zyl::matchlib::image_width(image);
  if (!image) return nullptr;
  if (code == 1) return image->pixels;
  std::uint8_t** slot = kept_map_slot(image, code);
  return slot ? *slot : nullptr;
}

int zyl::matchlib::image_compare_pixels(const GrayImage* a, const GrayImage* b, int threshold,
                                        int filter, int* out_percent) {
  if (!a || !b || !out_percent) return ML_BAD_ARGUMENT;
  if (a->height != b->height || a->width != b->width ||
      zyl::matchlib::image_resolution(a) != zyl::matchlib::image_resolution(b))
    return ML_BAD_ARGUMENT;
  if (a == b) {
    *out_percent = 0;
    return ML_OK;
  }
  // Pixels handed back early cannot be compared.
  if (!a->pixels || !b->pixels) return ML_BAD_ARGUMENT;
  const std::size_t n = pixel_count(a);
  const std::uint8_t* pa = a->pixels;
  const std::uint8_t* pb = b->pixels;
  Buffer fa, fb;
  if (filter) {
    fa = alloc_bytes(n);
    fb = alloc_bytes(n);
    if (!fa || !fb) return ML_NO_MEMORY;
    const int r = zyl::matchlib::image_resolution(a);
    for (auto [src, dst] : {std::pair{pa, fa.get()}, std::pair{pb, fb.get()}}) {
      const int st = zyl::matchlib::fftfilt_radial_u8(src, int{a->height}, int{a->width}, r, 64, 0,
                                                      1280, 128, 0, dst);
      if (st != ML_OK) return st;
    }
    pa = fa.get();
    pb = fb.get();
  }
  const auto limit = static_cast<std::uint8_t>(threshold);
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i)
    count += std::abs(int{pa[i]} - int{pb[i]}) > limit ? 1 : 0;
  // An empty pair differs nowhere.
  *out_percent = n ? static_cast<int>((std::uint64_t{count} * 100 + n / 2) / n) : 0;
  return ML_OK;
}

int zyl::matchlib::sensor_size_class(int height, int width, int resolution_y, int resolution_x) {
  struct Entry {
    std::int32_t area;
    int code;
  };
  static constexpr Entry kSquare[7] = {{87320, 1}, {38809, 2}, {24838, 3}, {16397, 4},
                                       {13055, 5}, {9702, 6},  {6209, 7}};
  static constexpr Entry kLong[7] = {{87320, 1}, {0, 0},     {0, 0}, {15524, 8},
                                     {11643, 9}, {0, 0},     {0, 0}};
  // Without a resolution the sides cannot be converted: no class.
  if (resolution_y <= 0 || resolution_x <= 0) return 0;
  const auto h5 = static_cast<std::uint16_t>(std::int64_t{height} * 500 / resolution_y);
  const auto w5 = static_cast<std::uint16_t>(std::int64_t{width} * 500 / resolution_x);
  const int longer = std::max(h5, w5);
  if (longer == 0) return 0;
  const int aspect = std::min(h5, w5) * 100 / longer;
  const std::int64_t area = std::int64_t{h5} * w5;
  const Entry* table = aspect <= 60 ? kLong : kSquare;
  int best = 0;
  for (int i = 1; i < 7; ++i)
    if (std::llabs(area - table[i].area) < std::llabs(area - table[best].area)) best = i;
  return table[best].code;
}

extern "C" ZYL_API int image_sensor_size_class(const GrayImage* image) {
  if (!image) return 0;
  return zyl::matchlib::sensor_size_class(image->height, image->width, image->resolution_y,
                                          image->resolution_x);
}

extern "C" {

ZYL_API int image_quality(GrayImage* image) { return zyl::matchlib::image_quality(image); }
ZYL_API int image_foreground_percent(GrayImage* image) {
  return zyl::matchlib::image_foreground_percent(image);
}
ZYL_API int image_block_contrast(GrayImage* image, int* out_first, int* out_second) {
  return zyl::matchlib::image_block_contrast(image, out_first, out_second);
}
ZYL_API int image_compare_pixels(const GrayImage* a, const GrayImage* b, int threshold, int filter,
                                 int* out_percent) {
  return zyl::matchlib::image_compare_pixels(a, b, threshold, filter, out_percent);
}
ZYL_API int sensor_size_class(int height, int width, int resolution_y, int resolution_x) {
  return zyl::matchlib::sensor_size_class(height, width, resolution_y, resolution_x);
}

}  // extern "C"
