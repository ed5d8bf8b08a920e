// Coherence quality: the mapping of mean coherence points to 1..100, the
// foreground area, and the enlarged per-pixel quality map.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(QualityFromBlockCoherence, MapsMeanPointsToQualityAndArea) {
  // Coherence 75, 153 and 231 map to the points 30, 60 and 90.
  struct Case {
    uint8_t coherence;
    int quality;
  } cases[] = {{0, 1}, {75, 1}, {153, 50}, {231, 100}, {255, 100}};
  for (const Case& c : cases) {
    const Bytes map(4, c.coherence);
    uint8_t q = 0;
    uint32_t area = 0;
    EXPECT_EQ(quality_from_block_coherence(nullptr, 0, 0, 2, 2, 12, nullptr, map.data(), 24, 24,
                                           &q, &area, 1),
              0);
    EXPECT_EQ(q, c.quality) << int(c.coherence);
    EXPECT_EQ(area, 576u);
  }
  // Points 30 and 90 in two foreground blocks: mean 60, quality 50, half
  // the area; the background blocks' values are ignored.
  const Bytes map = {75, 231, 0, 0};
  const Bytes half = {1, 1, 0, 0}, none(4, 0);
  uint8_t q = 9;
  uint32_t area = 9;
  ASSERT_EQ(quality_from_block_coherence(nullptr, 0, 0, 2, 2, 12, half.data(), map.data(), 24,
                                         24, &q, &area, 1),
            0);
  EXPECT_EQ(q, 50);
  EXPECT_EQ(area, 288u);
  ASSERT_EQ(quality_from_block_coherence(nullptr, 0, 0, 2, 2, 12, none.data(), map.data(), 24,
                                         24, &q, &area, 1),
            0);
  EXPECT_EQ(q, 0);
  EXPECT_EQ(area, 0u);
  // No rows with a map: nothing to do; without one, or no columns: refused.
  EXPECT_EQ(quality_from_block_coherence(nullptr, 0, 0, 0, 2, 12, nullptr, map.data(), 24, 24,
                                         &q, &area, 1),
            0);
  EXPECT_EQ(quality_from_block_coherence(nullptr, 0, 0, 2, 0, 12, nullptr, map.data(), 24, 24,
                                         &q, &area, 1),
            2);
  EXPECT_EQ(quality_from_block_coherence(nullptr, 0, 0, 2, 2, 12, nullptr, map.data(), 24, 24,
                                         nullptr, &area, 1),
            2);
}

TEST(QualityFromBlockCoherence, ComputesCoherenceFromTheImage) {
  // Straight vertical ridges are fully coherent: quality 100 on the whole area.
  const int h = 48, w = 48;
  Bytes px(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[y * w + x] = (x / 3) % 2 ? 200 : 40;
  uint8_t q = 0;
  uint32_t area = 0;
  ASSERT_EQ(quality_from_block_coherence(px.data(), h, w, 4, 4, 12, nullptr, nullptr, h, w, &q,
                                         &area, 1),
            0);
  EXPECT_GE(q, 90);
  EXPECT_EQ(area, uint32_t(h * w));
}

TEST(QualityMapExpand, MapsPointsAndClearsBackgroundBlocks) {
  // 5 x 5 blocks of 4 pixels; a bright map whose block (2, 0) is background.
  const Bytes bright(25, 255);
  Bytes mask(25, 1);
  mask[2 * 5 + 0] = 0;
  Bytes out(20 * 20, 7);
  ASSERT_EQ(quality_map_expand(bright.data(), mask.data(), 5, 5, 4, out.data(), 20, 20), ML_OK);
  EXPECT_EQ(out[10 * 20 + 10], 99);  // centre: 255 maps to 99
  for (int y = 8; y < 12; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(out[y * 20 + x], 0);
  for (uint8_t v : out) EXPECT_LE(v, 99);

  const Bytes dark(25, 0);
  ASSERT_EQ(quality_map_expand(dark.data(), nullptr, 5, 5, 4, out.data(), 20, 20), ML_OK);
  EXPECT_EQ(out, Bytes(out.size(), 1));

  EXPECT_EQ(quality_map_expand(dark.data(), nullptr, 5, 5, 4, out.data(), 19, 20), ML_BAD_ARGUMENT);
  EXPECT_EQ(quality_map_expand(nullptr, nullptr, 5, 5, 4, out.data(), 20, 20), ML_BAD_ARGUMENT);
  EXPECT_EQ(quality_map_expand(dark.data(), nullptr, 0, 5, 4, out.data(), 20, 20), ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

TEST(QualityAssessImage, AssessesRidgedImagesAndSkipsFlatOrTinyOnes) {
  // Slanted ridges of period 8 over a 120 x 120 image.
  const int h = 120, w = 120;
  Bytes ridged(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ridged[y * w + x] = ((x + y) / 4) % 2 ? 220 : 30;
  const Bytes flat(h * w, 128);
  struct Case {
    const uint8_t* px;
    int h, w, scale;
    bool assessed;
  } cases[] = {{ridged.data(), h, w, 1, true}, {ridged.data(), h, w, 2, true},
               {flat.data(), h, w, 1, false},  {ridged.data(), 11, 100, 1, false},
               {ridged.data(), 5, 100, 2, false}};
  for (const Case& c : cases) {
    uint8_t q = 9, bright = 9;
    uint32_t area = 9;
    EXPECT_EQ(quality_assess_image_scaled(c.px, c.h, c.w, &q, &area, &bright, c.scale), ML_OK);
    if (c.assessed) {
      EXPECT_GE(q, 1);
      EXPECT_LE(q, 100);
      EXPECT_LE(area, uint32_t(c.h * c.w));
      EXPECT_GT(area, 0u);
    } else {
      EXPECT_EQ(q, 0) << c.h << " s" << c.scale;
      EXPECT_EQ(area, 0u);
      EXPECT_EQ(bright, 0);
    }
  }
  uint8_t q = 0, bright = 9;
  uint32_t area = 0;
  EXPECT_EQ(quality_assess_image(nullptr, 12, 12, &q, &area, &bright), ML_BAD_ARGUMENT);
  EXPECT_EQ(quality_assess_image_scaled(ridged.data(), h, w, &q, &area, &bright, 3), ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

TEST(QualityFromPixelCoherence, MaskDecidesThePixelsAndTheCount) {
  const int h = 40, w = 40;
  Bytes ridges(h * w);
  for (int i = 0; i < h * w; ++i) ridges[i] = (i % w / 4) % 2 ? 200 : 40;
  const Bytes none(h * w, 0), all(h * w, 1);
  uint8_t q = 9;
  uint32_t count = 9;
  ASSERT_EQ(quality_from_pixel_coherence(ridges.data(), h, w, none.data(), 6, &q, &count, nullptr),
            0);
  EXPECT_EQ(q, 1);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(quality_from_pixel_coherence(ridges.data(), h, w, all.data(), 6, &q, &count, nullptr),
            0);
  EXPECT_EQ(count, 1600u);
  EXPECT_GT(q, 50);  // straight ridges are coherent
  const Bytes flat(h * w, 128);
  ASSERT_EQ(quality_from_pixel_coherence(flat.data(), h, w, nullptr, 6, &q, &count, nullptr), ML_OK);
  EXPECT_EQ(q, 1);
  EXPECT_EQ(count, 1600u);
  EXPECT_EQ(quality_from_pixel_coherence(flat.data(), h, w, nullptr, 6, nullptr, &count, nullptr),
            ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

TEST(QualityFromBlockCoherence, AreaOfALargeImageDoesNotWrap) {
  // 10000 x 10000 pixels in 833 x 833 blocks of 12, all foreground: the
  // area is the blocks' share of the whole image, just under 10^8.
  const int rows = 833;
  const Bytes map(static_cast<std::size_t>(rows) * rows, 231);
  uint8_t q = 0;
  uint32_t area = 0;
  ASSERT_EQ(quality_from_block_coherence(nullptr, 0, 0, rows, rows, 12, nullptr, map.data(), 10000,
                                         10000, &q, &area, 1),
            0);
  const std::uint64_t e = std::uint64_t{rows} * rows;
  const std::uint64_t expected = 10000 * ((144 * 10000 * e) / (rows * 12)) / (12 * rows);
  EXPECT_EQ(area, expected);
  EXPECT_GT(area, 99000000u);
}

}  // namespace
