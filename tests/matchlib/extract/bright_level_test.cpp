#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"

namespace {

// Columns of three grey levels: `a` on the left half, `b` to column 76,
// `c` beyond (the last block column is bright enough to be left out of the
// histogram, the mixed one before it carries the bright residue).
std::vector<std::uint8_t> columns(int a, int b, int c) {
  std::vector<std::uint8_t> img(96 * 96);
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 96; ++x) img[y * 96 + x] = static_cast<std::uint8_t>(x < 48 ? a : x < 77 ? b : c);
  return img;
}

TEST(BrightLevel, BlockSizeZeroIsRefused) {
  std::vector<std::uint8_t> img(96 * 96, 100), out(img.size());
  EXPECT_EQ(bright_level_blocks(img.data(), 96, 96, out.data(), 0), ML_BAD_ARGUMENT);
}

TEST(BrightLevel, TwoModesLeaveTheImageUnchanged) {
  auto img = columns(30, 140, 140);
  std::vector<std::uint8_t> out(img.size());
  ASSERT_EQ(bright_level_blocks(img.data(), 96, 96, out.data(), 12), ML_OK);
  EXPECT_EQ(out, img);
  // In place as well.
  auto copy = img;
  ASSERT_EQ(bright_level_blocks12(copy.data(), 96, 96, copy.data()), ML_OK);
  EXPECT_EQ(copy, img);
}

TEST(BrightLevel, ThreeSeparatedModesWhitenTheBrightPixels) {
  auto img = columns(30, 140, 220);
  std::vector<std::uint8_t> out(img.size());
  ASSERT_EQ(bright_level_blocks(img.data(), 96, 96, out.data(), 12), ML_OK);
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 96; ++x) {
      const std::uint8_t v = out[y * 96 + x];
      if (x < 47) {
        EXPECT_EQ(v, 30) << y << "," << x;  // darkest mode at or below the threshold
      } else if (x >= 49) {
        EXPECT_EQ(v, 255) << y << "," << x;  // all eight neighbours bright, or border
      }
    }
  // The column beside the dark mode has three dark neighbours out of eight.
  EXPECT_EQ(out[40 * 96 + 48], 140 + ((5 * (255 - 140)) >> 3));
}

TEST(BrightLevel, SaturatedImageUsesLevel247) {
  // A 255 pixel caps the level at 247: blocks of mean 220 now count, which
  // adds a third mode here.
  auto img = columns(30, 140, 140);
  for (int y = 0; y < 96; ++y)
    for (int x = 84; x < 96; ++x) img[y * 96 + x] = 220;
  img[0] = 255;
  std::vector<std::uint8_t> out(img.size());
  ASSERT_EQ(bright_level_blocks(img.data(), 96, 96, out.data(), 12), ML_OK);
  EXPECT_EQ(out[50 * 96 + 60], 255);
  EXPECT_EQ(out[50 * 96 + 20], 30);
}

}  // namespace
