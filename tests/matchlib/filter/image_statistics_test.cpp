// Cached image statistics: what is passed to the measuring kernels, how
// their results are converted and cached, the kept maps, the pixel
// comparison and the sensor-size classes, checked against direct calls of
// the measuring kernels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zylscan/matchlib_band_filter.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"

namespace {

using zyl::matchlib::Ref;

Ref<GrayImage> make(int h, int w, int ry = 500, int rx = 500) {
  return Ref<GrayImage>::adopt(image_create(h, w, ry, rx, nullptr, 0));
}

// Vertical ridges of period 8, so the coherence kernels find structure.
Ref<GrayImage> ridged(int h, int w, int ry = 500, int rx = 500) {
  auto img = make(h, w, ry, rx);
  auto* px = image_pixels(img.get());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[y * w + x] = (x / 4) % 2 ? 200 : 40;
  return img;
}

// Marks all but the first `usable` pixels as background (0x02).
void keep_usable(GrayImage* img, std::size_t usable) {
  uint8_t* cells = mask_cells(image_mask_plane_ensure(img));
  const std::size_t n = image_pixel_count(img);
  for (std::size_t i = usable; i < n; ++i) cells[i] = 0x02;
}

TEST(ImageStatistics, QualityGroupIsMeasuredOnceAndCached) {
  auto img = ridged(200, 240);
  const std::vector<uint8_t> all(200 * 240, 1);
  uint8_t quality = 0;
  uint32_t count = 0;
  // Radius 6: 0.3 mm at 500 dpi.
  ASSERT_EQ(quality_from_pixel_coherence(image_pixels(img.get()), 200, 240, all.data(), 6,
                                         &quality, &count, nullptr),
            ML_OK);
  EXPECT_GT(quality, 50);
  EXPECT_EQ(image_quality(img.get()), quality);
  EXPECT_EQ(image_foreground_area(img.get()), 124);  // (48000 + 194) / 388
  EXPECT_EQ(image_foreground_percent(img.get()), 100);
  EXPECT_EQ(image_bright_percent(img.get()), 50);
  // Cached: changed pixels are not measured again.
  std::memset(image_pixels(img.get()), 0, 200 * 240);
  EXPECT_EQ(image_quality(img.get()), quality);
}

TEST(ImageStatistics, AreaNeedsACommonResolutionOfAtLeast18Dpi) {
  struct Case {
    int ry, rx;
    uint32_t count;
    int area;
  } cases[] = {{500, 500, 100000, 258}, {500, 500, 0, 0},  {1000, 1000, 1550, 1},
               {500, 508, 1000, -1},    {17, 17, 1000, -1}, {18, 18, 3, 3}};
  for (const auto& c : cases) {
    auto img = make(200, 500, c.ry, c.rx);
    keep_usable(img.get(), c.count);
    EXPECT_EQ(image_foreground_area(img.get()), c.area) << c.ry << "/" << c.rx << " " << c.count;
    EXPECT_EQ(image_quality(img.get()), 1);  // a black image has no coherence
  }
}

TEST(ImageStatistics, MaskDecidesWhichPixelsAreMeasured) {
  auto img = ridged(20, 30);
  MaskPlane* m = image_mask_plane_ensure(img.get());
  // 0x01, 0x02 and 0x10 exclude a pixel; 0x40 does not.
  const uint8_t cells[6] = {0x01, 0x01, 0x02, 0x10, 0x40, 0x00};
  for (int i = 0; i < 20 * 30; ++i) mask_cells(m)[i] = cells[i % 6];
  image_keep_maps(img.get(), 0x10);
  ASSERT_GE(image_quality(img.get()), 1);
  EXPECT_EQ(image_foreground_percent(img.get()), 33);  // 200 of 600 pixels
  std::vector<uint8_t> usable(600), expected(600);
  for (int i = 0; i < 600; ++i) usable[i] = i % 6 >= 4 ? 255 : 0;
  uint8_t quality = 0;
  uint32_t count = 0;
  ASSERT_EQ(quality_from_pixel_coherence(image_pixels(img.get()), 20, 30, usable.data(), 6,
                                         &quality, &count, expected.data()),
            ML_OK);
  EXPECT_EQ(count, 200u);
  EXPECT_EQ(image_quality(img.get()), quality);
  int h = 0, w = 0;
  uint8_t* kept = image_plane_by_code(img.get(), 16, &h, &w);
  ASSERT_NE(kept, nullptr);
  ASSERT_EQ(h * w, 600);
  EXPECT_EQ(std::vector<uint8_t>(kept, kept + 600), expected);
  EXPECT_EQ(image_plane_by_code(img.get(), 1, &h, &w), image_pixels(img.get()));
  EXPECT_EQ(image_plane_by_code(img.get(), 3, &h, &w), nullptr);
}

TEST(ImageStatistics, FailedMeasurementAnswersMinusOne) {
  // 6000 dpi asks for a window radius the orientation kernel refuses.
  auto img = ridged(4, 4, 6000, 6000);
  EXPECT_EQ(image_quality(img.get()), -1);
  EXPECT_EQ(image_foreground_area(img.get()), -1);
  EXPECT_EQ(image_quality(img.get()), -1);
  auto ok = ridged(4, 4);
  uint8_t bright = 0;
  const uint8_t usable[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  ASSERT_EQ(imgstat_bright_percent(image_pixels(ok.get()), 4, 4, usable, &bright), ML_OK);
  EXPECT_EQ(image_bright_percent(ok.get()), bright);
  EXPECT_EQ(image_quality(nullptr), -1);
}

TEST(ImageStatistics, BlockContrastFillsCompanionsAndKeptMaps) {
  int first = 0, second = 0;
  EXPECT_EQ(image_block_contrast(nullptr, &first, &second), -1);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, -1);

  auto img = ridged(64, 48);
  image_keep_maps(img.get(), 0x02 | 0x08);
  uint8_t value = 0, range = 0, spread = 0;
  std::vector<uint8_t> ratio(64 * 48), spreads(64 * 48);
  ASSERT_EQ(imgstat_block_contrast(image_pixels(img.get()), 64, 48, 500, &value, &range, &spread,
                                   ratio.data(), nullptr, spreads.data()),
            ML_OK);
  EXPECT_EQ(image_block_contrast(img.get(), &first, &second), value);
  EXPECT_EQ(first, range);
  EXPECT_EQ(second, spread);
  EXPECT_EQ(image_block_contrast(img.get(), nullptr, nullptr), value);
  const uint8_t* kept2 = image_plane_by_code(img.get(), 2, nullptr, nullptr);
  const uint8_t* kept8 = image_plane_by_code(img.get(), 8, nullptr, nullptr);
  ASSERT_NE(kept2, nullptr);
  ASSERT_NE(kept8, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(kept2, kept2 + ratio.size()), ratio);
  EXPECT_EQ(std::vector<uint8_t>(kept8, kept8 + spreads.size()), spreads);
  EXPECT_EQ(image_plane_by_code(img.get(), 4, nullptr, nullptr), nullptr);

  // Under 16 rows the kernel refuses, and the image answers -1.
  auto small = make(3, 3);
  EXPECT_EQ(image_block_contrast(small.get(), &first, &second), -1);
  // The real kernels: a 3 x 3 image has no whole 16 x 16 block, and a
  // uniform one no Laplacian.
  EXPECT_EQ(image_block_range_mean(small.get()), 0);
  EXPECT_EQ(image_laplacian_spread(small.get()), 0);
  EXPECT_EQ(image_laplacian_spread(nullptr), -1);
}

TEST(ImageStatistics, ComparePixelsCountsDifferencesAboveTheThreshold) {
  const std::vector<uint8_t> a = {0, 10, 20, 30, 40, 50, 60, 200};
  const std::vector<uint8_t> b = {0, 12, 25, 30, 48, 50, 61, 100};
  auto ia = Ref<GrayImage>::adopt(image_create(2, 4, 500, 500, a.data(), 0));
  auto ib = Ref<GrayImage>::adopt(image_create(2, 4, 500, 500, b.data(), 0));
  struct Case {
    int threshold, percent;
  } cases[] = {{0, 63}, {2, 38}, {5, 25}, {100, 0}, {256 + 5, 25}};  // the threshold is a byte
  for (const auto& c : cases) {
    int pct = -1;
    EXPECT_EQ(image_compare_pixels(ia.get(), ib.get(), c.threshold, 0, &pct), ML_OK);
    EXPECT_EQ(pct, c.percent) << c.threshold;
  }
  // With the filter flag both images are band-filtered first.
  std::vector<uint8_t> pa(32 * 32), pb(32 * 32);
  for (size_t i = 0; i < pa.size(); ++i) {
    pa[i] = uint8_t((i * 13) % 256);
    pb[i] = uint8_t(pa[i] + (i % 7 == 0 ? 40 : 1));
  }
  auto fa = Ref<GrayImage>::adopt(image_create(32, 32, 500, 500, pa.data(), 0));
  auto fb = Ref<GrayImage>::adopt(image_create(32, 32, 500, 500, pb.data(), 0));
  std::vector<uint8_t> ga(pa.size()), gb(pb.size());
  ASSERT_EQ(fftfilt_radial_u8(pa.data(), 32, 32, 500, 64, 0, 1280, 128, 0, ga.data()), ML_OK);
  ASSERT_EQ(fftfilt_radial_u8(pb.data(), 32, 32, 500, 64, 0, 1280, 128, 0, gb.data()), ML_OK);
  size_t count = 0;
  for (size_t i = 0; i < ga.size(); ++i) count += std::abs(ga[i] - gb[i]) > 3;
  int pct = -1;
  EXPECT_EQ(image_compare_pixels(fa.get(), fb.get(), 3, 1, &pct), ML_OK);
  EXPECT_EQ(pct, int((count * 100 + 512) / 1024));

  pct = -1;
  EXPECT_EQ(image_compare_pixels(ia.get(), ia.get(), 0, 1, &pct), ML_OK);  // the same object: 0 %
  EXPECT_EQ(pct, 0);
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
