// Ridge frequency and the image quality checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/typeline_extract.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Binary ridges along x: half a period ridge (0), half valley (255).
Bytes stripes(int w, int h, int period) {
  Bytes b(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b[static_cast<std::size_t>(y) * w + x] = (y % period) < period / 2 ? 0 : 255;
  return b;
}

TEST(TypelineFrequency, SixTimesTheRidgePeriod) {
  const int w = 160, h = 160;
  const Bytes map(w * h, 0);  // ridges along x
  CoreList none{};
  for (int period : {6, 8, 10, 12, 16, 20}) {
    SCOPED_TRACE(period);
    const Bytes b = stripes(w, h, period);
    // Three periods each way from the first edge and from the start: the
    // span runs one pixel beyond six whole periods.
    EXPECT_NEAR(get_frequency_sub(80, 81, b.data(), map.data(), w, h), 6 * period, 1);
    EXPECT_NEAR(get_frequency(b.data(), map.data(), &none, w, h), 6 * period, 1);
  }
  // A period above 20 pixels is stored as 120.
  const Bytes wide = stripes(w, h, 24);
  EXPECT_EQ(get_frequency(wide.data(), map.data(), &none, w, h), 120);
}

TEST(TypelineFrequency, NothingToMeasure) {
  const int w = 160, h = 160;
  CoreList none{};
  // No change of value before the border.
  const Bytes flat(w * h, 255), map(w * h, 0);
  EXPECT_EQ(get_frequency_sub(80, 80, flat.data(), map.data(), w, h), 0);
  EXPECT_EQ(get_frequency(flat.data(), map.data(), &none, w, h), 0);
  // All background: the grid moves down and runs out of rows.
  const Bytes b = stripes(w, h, 10), background(w * h, 255);
  EXPECT_EQ(get_frequency(b.data(), background.data(), &none, w, h), 0);
  // Background only in the upper half: the grid moves down to valid points.
  Bytes half(w * h, 0);
  std::fill(half.begin(), half.begin() + w * 100, 255);
  EXPECT_NEAR(get_frequency(b.data(), half.data(), &none, w, h), 60, 1);
  // Singular points beside the middle row of grid points: the other rows
  // still measure.
  CoreList near{};
  near.count = 4;
  for (int k = 0; k < 4; ++k) {
    near.x[k] = static_cast<std::int16_t>(k < 3 ? 40 + 40 * k : 80);
    near.y[k] = 80;
    near.kind[k] = 1;
  }
  const Bytes map0(w * h, 0);
  EXPECT_NEAR(get_frequency(b.data(), map0.data(), &near, w, h), 60, 1);
}

TEST(TypelineQuality, ScoresOfBinaryImages) {
  struct Case {
    int ridge_percent;
    int mean, quality;
  };
  // 100 pixels: ridge pixels 0, the others 255.
  for (const Case c : {Case{0, 255, 0}, Case{100, 0, 0}, Case{30, 178, 60}, Case{90, 25, 10}, Case{9, 232, 4},
                       Case{50, 127, 100}, Case{10, 229, 5}}) {
    SCOPED_TRACE(c.ridge_percent);
    Bytes b(100, 255);
    std::fill(b.begin(), b.begin() + c.ridge_percent, 0);
    ImageQualityInfo info{};
    info.quality = 77;
    EXPECT_EQ(ImageQualityCheck(b.data(), 10, 10, &info), c.quality);
    EXPECT_EQ(info.quality, c.quality);
    EXPECT_EQ(info.mean, c.mean);
    EXPECT_EQ(info.darkShare, c.ridge_percent);
    EXPECT_EQ(info.width, 10);
    EXPECT_EQ(info.height, 10);
  }
}

TEST(TypelineQuality, HistogramDropsRareLevels) {
  const Bytes img = {7, 7, 7, 7, 7, 9, 9, 9, 9, 9, 9};
  std::uint32_t hist[256];
  int levels = -1;
  ImageHistogram(img.data(), static_cast<int>(img.size()), hist, &levels);
  EXPECT_EQ(levels, 1);
  EXPECT_EQ(hist[7], 0u);
  EXPECT_EQ(hist[9], 6u);
  const Bytes zeros(3, 0);
  ImageHistogram(zeros.data(), 3, hist, &levels);
  EXPECT_EQ(hist[0], 3u);  // value 0 is never cleared nor counted as a level
  EXPECT_EQ(levels, 0);
}

TEST(TypelineQuality, CentreGreyLevel) {
  const int w = 8, h = 8;
  Bytes img(64, 0);
  for (int y = 2; y < 6; ++y)
    for (int x = 2; x < 6; ++x) img[y * w + x] = static_cast<std::uint8_t>(10 * x);
  EXPECT_EQ(get_center_graylevel(img.data(), w, h), 35);
}

TEST(TypelineQuality, GridCheckOnPrintsAndEmptyImages) {
  const auto img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  const Bytes before = img.pixels;
  const int q = ImageQualityGridsCheck(img.pixels.data(), img.width, img.height);
  EXPECT_GT(q, 60);
  EXPECT_LE(q, 100);
  EXPECT_EQ(img.pixels, before);  // the caller's image is not changed
  // A blank image is all background: 0 without binarisation.
  Bytes blank(160 * 160, 180);
  ImageQualityInfo info{};
  EXPECT_EQ(GetBinaryImage(blank.data(), 160, 160, &info), 1);
  EXPECT_EQ(info.quality, 0);
  EXPECT_EQ(info.mean, 255);
  EXPECT_EQ(ImageQualityGridsCheck(blank.data(), 160, 160), 0);
  EXPECT_EQ(ImageQualityGridsCheck(nullptr, 160, 160), 0);
}

}  // namespace
