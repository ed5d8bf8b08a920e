// Cached image statistics: what is passed to the measuring kernels, how
// their results are converted and cached, the kept maps, the pixel
// comparison and the sensor-size classes. The kernels belong to the
// filtering and quality part of the library; stand-ins here record their
// calls (weak, so a build that carries the real kernels still links).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"

namespace {

struct KernelLog {
  int quality_calls = 0;
  int quality_status = 0;
  uint32_t foreground = 0;
  int radius = -1;
  std::vector<uint8_t> usable;
  bool kept_map_given = false;
  int contrast_calls = 0;
  int contrast_resolution = -1;
  int filter_calls = 0;
};
KernelLog g_kernels;

}  // namespace

extern "C" {
__attribute__((weak)) int quality_from_pixel_coherence(const uint8_t*, int height, int width,
                                                       const uint8_t* usable, int radius,
                                                       uint8_t* quality, uint32_t* foreground,
                                                       uint8_t* kept_map) {
  ++g_kernels.quality_calls;
  g_kernels.radius = radius;
  g_kernels.usable.assign(usable, usable + size_t(height) * width);
  g_kernels.kept_map_given = kept_map != nullptr;
  if (kept_map) std::memset(kept_map, 7, size_t(height) * width);
  *quality = 42;
  *foreground = g_kernels.foreground;
  return g_kernels.quality_status;
}
__attribute__((weak)) int imgstat_bright_percent(const uint8_t*, int, int, const uint8_t*,
                                                 uint8_t* percent) {
  *percent = 33;
  return 0;
}
__attribute__((weak)) int imgstat_block_contrast(const uint8_t*, int height, int width,
                                                 int resolution, uint8_t* value, uint8_t* first,
                                                 uint8_t* second, uint8_t* m2, uint8_t* m4,
                                                 uint8_t* m8) {
  ++g_kernels.contrast_calls;
  g_kernels.contrast_resolution = resolution;
  *value = 11;
  *first = 12;
  *second = 13;
  for (uint8_t* m : {m2, m4, m8})
    if (m) std::memset(m, 1, size_t(height) * width);
  return 0;
}
__attribute__((weak)) int imgstat_block_range_mean(const uint8_t*, int, int, uint8_t* v) {
  *v = 5;
  return 0;
}
__attribute__((weak)) int imgstat_laplacian_spread(const uint8_t*, int, int, uint8_t* v) {
  *v = 6;
  return 0;
}
// Keeps the high nibble: two images that differ only below 16 grey levels
// compare equal after filtering.
__attribute__((weak)) int fftfilt_radial_u8(const uint8_t* src, int height, int width, int, int,
                                            int, int, int, int, uint8_t* out) {
  ++g_kernels.filter_calls;
  for (size_t i = 0; i < size_t(height) * width; ++i) out[i] = src[i] & 0xF0;
  return 0;
}
}

namespace {

using zyl::matchlib::Ref;

Ref<GrayImage> make(int h, int w, int ry = 500, int rx = 500) {
  return Ref<GrayImage>::adopt(image_create(h, w, ry, rx, nullptr, 0));
}

TEST(ImageStatistics, QualityGroupIsMeasuredOnceAndCached) {
  g_kernels = {};
  g_kernels.foreground = 100000;
  auto img = make(400, 500);
  EXPECT_EQ(image_quality(img.get()), 42);
  EXPECT_EQ(image_quality(img.get()), 42);
  EXPECT_EQ(image_foreground_area(img.get()), 258);  // (100000 + 194) / 388
  EXPECT_EQ(image_foreground_percent(img.get()), 50);
  EXPECT_EQ(image_bright_percent(img.get()), 33);
  EXPECT_EQ(g_kernels.quality_calls, 1);
  EXPECT_EQ(g_kernels.radius, 6);  // 0.3 mm at 500 dpi
  EXPECT_EQ(g_kernels.usable, std::vector<uint8_t>(200000, 1));
  EXPECT_FALSE(g_kernels.kept_map_given);
}

TEST(ImageStatistics, AreaNeedsACommonResolutionOfAtLeast18Dpi) {
  struct Case {
    int ry, rx;
    uint32_t count;
    int area;
  } cases[] = {{500, 500, 100000, 258}, {500, 500, 0, 0},  {1000, 1000, 1550, 1},
               {500, 508, 1000, -1},    {17, 17, 1000, -1}, {18, 18, 3, 3}};
  for (const auto& c : cases) {
    g_kernels = {};
    g_kernels.foreground = c.count;
    auto img = make(10, 10, c.ry, c.rx);
    EXPECT_EQ(image_foreground_area(img.get()), c.area) << c.ry << "/" << c.rx << " " << c.count;
    EXPECT_EQ(image_quality(img.get()), 42);
  }
}

TEST(ImageStatistics, MaskDecidesWhichPixelsAreMeasured) {
  g_kernels = {};
  auto img = make(2, 3);
  MaskPlane* m = image_mask_plane_ensure(img.get());
  const uint8_t cells[6] = {0x01, 0x01, 0x02, 0x10, 0x40, 0x00};
  std::memcpy(mask_cells(m), cells, 6);
  image_keep_maps(img.get(), 0x10);
  image_quality(img.get());
  EXPECT_EQ(g_kernels.usable, (std::vector<uint8_t>{0, 0, 0, 0, 255, 255}));
  EXPECT_TRUE(g_kernels.kept_map_given);
  int h = 0, w = 0;
  uint8_t* kept = image_plane_by_code(img.get(), 16, &h, &w);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(h * w, 6);
  EXPECT_EQ(kept[5], 7);
  EXPECT_EQ(image_plane_by_code(img.get(), 1, &h, &w), image_pixels(img.get()));
  EXPECT_EQ(image_plane_by_code(img.get(), 3, &h, &w), nullptr);
}

TEST(ImageStatistics, FailedMeasurementAnswersMinusOneAndIsRetried) {
  g_kernels = {};
  g_kernels.quality_status = 3;
  auto img = make(4, 4);
  EXPECT_EQ(image_quality(img.get()), -1);
  EXPECT_EQ(image_foreground_area(img.get()), -1);
  EXPECT_EQ(g_kernels.quality_calls, 2);
  g_kernels.quality_status = 0;
  EXPECT_EQ(image_bright_percent(img.get()), 33);
  EXPECT_EQ(image_quality(nullptr), -1);
}

TEST(ImageStatistics, BlockContrastFillsCompanionsAndKeptMaps) {
  g_kernels = {};
  int first = 0, second = 0;
  EXPECT_EQ(image_block_contrast(nullptr, &first, &second), -1);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, -1);

  auto img = make(3, 3, 500, 508);
  image_keep_maps(img.get(), 0x02 | 0x08);
  EXPECT_EQ(image_block_contrast(img.get(), &first, &second), 11);
  EXPECT_EQ(first, 12);
  EXPECT_EQ(second, 13);
  EXPECT_EQ(image_block_contrast(img.get(), nullptr, nullptr), 11);
  EXPECT_EQ(g_kernels.contrast_calls, 1);
  EXPECT_EQ(g_kernels.contrast_resolution, 0);  // the axes differ
  EXPECT_NE(image_plane_by_code(img.get(), 2, nullptr, nullptr), nullptr);
  EXPECT_EQ(image_plane_by_code(img.get(), 4, nullptr, nullptr), nullptr);
  EXPECT_NE(image_plane_by_code(img.get(), 8, nullptr, nullptr), nullptr);

  EXPECT_EQ(image_block_range_mean(img.get()), 5);
  EXPECT_EQ(image_laplacian_spread(img.get()), 6);
  EXPECT_EQ(image_laplacian_spread(nullptr), -1);
}

TEST(ImageStatistics, ComparePixelsCountsDifferencesAboveTheThreshold) {
  g_kernels = {};
  const std::vector<uint8_t> a = {0, 10, 20, 30, 40, 50, 60, 200};
  const std::vector<uint8_t> b = {0, 12, 25, 30, 48, 50, 61, 100};
  auto ia = Ref<GrayImage>::adopt(image_create(2, 4, 500, 500, a.data(), 0));
  auto ib = Ref<GrayImage>::adopt(image_create(2, 4, 500, 500, b.data(), 0));
  struct Case {
    int threshold, filter, percent;
  } cases[] = {{0, 0, 63}, {2, 0, 38}, {5, 0, 25}, {100, 0, 0}, {256 + 5, 0, 25}, {0, 1, 25}};
  for (const auto& c : cases) {
    int pct = -1;
    EXPECT_EQ(image_compare_pixels(ia.get(), ib.get(), c.threshold, c.filter, &pct), 0);
    EXPECT_EQ(pct, c.percent) << c.threshold << " " << c.filter;
  }
  EXPECT_EQ(g_kernels.filter_calls, 2);

  int pct = -1;
  EXPECT_EQ(image_compare_pixels(ia.get(), ia.get(), 0, 1, &pct), 0);
  EXPECT_EQ(pct, 0);
  EXPECT_EQ(g_kernels.filter_calls, 2);  // the same object is not looked at
  auto tall = make(300, 400);
  auto wide = make(400, 300);
  auto other_dpi = make(2, 4, 500, 508);
  EXPECT_EQ(image_compare_pixels(tall.get(), wide.get(), 0, 0, &pct), ML_BAD_ARGUMENT);
  EXPECT_EQ(image_compare_pixels(ia.get(), other_dpi.get(), 0, 0, &pct), ML_BAD_ARGUMENT);
  EXPECT_EQ(image_compare_pixels(ia.get(), nullptr, 0, 0, &pct), ML_BAD_ARGUMENT);
  EXPECT_EQ(image_compare_pixels(ia.get(), ib.get(), 0, 0, nullptr), ML_BAD_ARGUMENT);
}

TEST(ImageStatistics, SensorSizeClasses) {
  struct Case {
    int h, w, ry, rx, code;
  } cases[] = {
      {300, 300, 500, 500, 1},  // area 90000, aspect 100 %
      {150, 100, 500, 500, 4},  // 15000, 66 %
      {192, 80, 500, 500, 8},   // 15360, 41 %
      {160, 160, 500, 500, 3},  // 25600
      {96, 96, 500, 500, 6},    // 9216
      {300, 300, 1000, 1000, 3},// 150 x 150 at 500 dpi = 22500
      {60, 200, 500, 500, 9},   // 12000 at 30 %: nearest 11643
      {20, 100, 500, 500, 0},   // 2000 at 20 %: nearest an empty slot of the long table
      {0, 100, 500, 500, 0},
      {100, 100, 0, 500, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sensor_size_class(c.h, c.w, c.ry, c.rx), c.code) << c.h << "x" << c.w;
  }
  auto img = make(192, 80);
  EXPECT_EQ(image_sensor_size_class(img.get()), 8);
}

}  // namespace
