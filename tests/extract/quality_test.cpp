#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "support/pgm.h"
#include "zylscan/image_quality.h"

namespace {

using zyl::test::GreyImage;

GreyImage uniform(int w, int h, std::uint8_t v) { return {w, h, std::vector<std::uint8_t>(static_cast<size_t>(w) * h, v)}; }

// Vertical stripes of period 8: every 8 x 8 block, ring included, sees the
// same pixels, so every block has the same variance.
GreyImage stripes(int w, int h, std::uint8_t low, std::uint8_t high) {
  GreyImage g = uniform(w, h, low);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) g.pixels[static_cast<size_t>(y) * w + x] = x % 8 < 4 ? low : high;
  return g;
}

constexpr int kBlurPasses = 4;
// A 5 x 5 box blur applied several times, one direction at a time: the
// ridges wash out.
GreyImage blurred(const GreyImage& g) {
  GreyImage out = g;
  auto pass = [&](bool along_x) {
    const GreyImage in = out;
    const int n = along_x ? g.width : g.height, lines = along_x ? g.height : g.width;
    for (int l = 0; l < lines; ++l)
      for (int i = 0; i < n; ++i) {
        int sum = 0, count = 0;
        for (int k = std::max(0, i - 2); k <= std::min(n - 1, i + 2); ++k, ++count)
          sum += along_x ? in.at(k, l) : in.at(l, k);
        out.pixels[along_x ? static_cast<size_t>(l) * g.width + i : static_cast<size_t>(i) * g.width + l] =
            static_cast<std::uint8_t>(sum / count);
      }
  };
  for (int p = 0; p < kBlurPasses; ++p) {
    pass(true);
    pass(false);
  }
  return out;
}

TEST(ZylImgQsize, MeasuresTheFingerExtentAlongTheMiddleLines) {
  GreyImage white = uniform(256, 200, 255);
  EXPECT_EQ(ZylImgQsize(white.pixels.data(), 256, 200), -100);
  // Dark square rows 20..179, columns 30..229: top 22, bottom 177, left 32,
  // right 227, 155 x 195 x 100 / 51200 = 59, returned lowered by 100.
  GreyImage square = white;
  for (int y = 20; y <= 179; ++y)
    for (int x = 30; x <= 229; ++x) square.pixels[static_cast<size_t>(y) * 256 + x] = 40;
  EXPECT_EQ(ZylImgQsize(square.pixels.data(), 256, 200), -41);
  // Dark everywhere: top 2, bottom 197, left 2, right 253: 195 x 251 x 100
  // / 51200 = 95.
  GreyImage dark = uniform(256, 200, 199);
  EXPECT_EQ(ZylImgQsize(dark.pixels.data(), 256, 200), 95);
  EXPECT_EQ(ZylImgQsize(nullptr, 256, 200), -1);
  EXPECT_EQ(ZylImgQsize(dark.pixels.data(), 0, 200), -1);
}

TEST(ZylExGetQuality, AveragesExtentAndTextureForNarrowImagesOnly) {
  // Blank images: texture 0; at 192 wide the extent (-100) pulls the sum
  // below 2, which is answered as 1; at 193 the texture value alone counts.
  GreyImage narrow = uniform(192, 200, 255), wide = uniform(193, 200, 255);
  EXPECT_EQ(ZylEx_GetQuality(192, 200, narrow.pixels.data()), 1);
  EXPECT_EQ(ZylEx_GetQuality(193, 200, wide.pixels.data()), 0);
  EXPECT_EQ(ZylEx_GetQuality(193, 200, nullptr), -1);

  const GreyImage crop = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_160.pgm"));
  const GreyImage copy = crop;
  const int texture = DevAlgImgQualityNew(crop.width, crop.height, crop.pixels.data());
  const int extent = ZylImgQsize(crop.pixels.data(), crop.width, crop.height);
  EXPECT_EQ(ZylEx_GetQuality(crop.width, crop.height, crop.pixels.data()),
            std::max(1, (texture + extent) / 2));
  EXPECT_EQ(crop.pixels, copy.pixels);  // the caller's buffer is never changed
}

TEST(ImageQuality, RatesAPrintAboveItsBlurredCopy) {
  for (const char* name : {"fvc2000_102_1.pgm", "fvc2004_101_1.pgm"}) {
    SCOPED_TRACE(name);
    const GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
    const GreyImage b = blurred(g);
    const int sharp = ZylEx_GetQuality(g.width, g.height, g.pixels.data());
    const int soft = ZylEx_GetQuality(b.width, b.height, b.pixels.data());
    EXPECT_GE(sharp, 25);
    EXPECT_LT(soft * 3, sharp * 2);  // at least a third lower
    std::uint8_t p_sharp = 0, p_soft = 0;
    ASSERT_EQ(DevAlgImgQuality(g.width, g.height, g.pixels.data(), &p_sharp), 0);
    ASSERT_EQ(DevAlgImgQuality(b.width, b.height, b.pixels.data(), &p_soft), 0);
    EXPECT_GT(p_sharp, p_soft);
  }
}

TEST(DevAlgImgQuality, UniformImageHasNoBusyBlock) {
  GreyImage g = uniform(100, 80, 90);
  std::uint8_t percent = 77;
  EXPECT_EQ(DevAlgImgQuality(100, 80, g.pixels.data(), &percent), 0);
  EXPECT_EQ(percent, 0);
  // Equal busy blocks everywhere exceed the clamped mean / 8.
  g = stripes(100, 80, 0, 200);
  EXPECT_EQ(DevAlgImgQuality(100, 80, g.pixels.data(), &percent), 0);
  EXPECT_EQ(percent, 100);
}

TEST(BlockStatistics, RefuseSizesTheyCannotMeasure) {
  std::vector<std::uint8_t> big(700u * 700u, 128);
  struct Case {
    int w, h;
    int plain;     // DevAlgImgQuality
    int quadrant;  // DevAlgImgQualitynew164 and DevAlgImgQualityAndroid
  };
  const Case cases[] = {{23, 100, -1, -1}, {24, 24, 0, -1},   {39, 100, 0, -1}, {40, 40, 0, 0},
                        {655, 655, 0, 0},  {656, 100, -1, -1}, {100, 656, -1, -1}, {0, 100, -1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    std::uint8_t percent = 0;
    std::int32_t mean = 0, values[4] = {};
    EXPECT_EQ(DevAlgImgQuality(c.w, c.h, big.data(), &percent), c.plain);
    EXPECT_EQ(DevAlgImgQualitynew164(c.w, c.h, big.data(), &percent, &mean, values), c.quadrant);
    if (c.quadrant < 0) {
      EXPECT_EQ(DevAlgImgQualityAndroid(c.w, c.h, big.data()), -1);
    }
  }
  EXPECT_EQ(DevAlgImgQualityAndroid(2000, 100, big.data()), -1);
  std::uint8_t percent = 0;
  EXPECT_EQ(DevAlgImgQuality(40, 40, nullptr, &percent), -1);
  EXPECT_EQ(DevAlgImgQuality(40, 40, big.data(), nullptr), -1);
}

TEST(DevAlgImgQualitynew164, BlocksEqualToTheMeanDoNotCount) {
  // Every block has the same variance v, so the threshold is v itself.
  const GreyImage g = stripes(80, 64, 10, 60);
  std::uint8_t percent = 99;
  std::int32_t mean = 0, values[4] = {-1, -1, -1, -1};
  ASSERT_EQ(DevAlgImgQualitynew164(80, 64, g.pixels.data(), &percent, &mean, values), 0);
  EXPECT_GE(mean, 50);
  EXPECT_LE(mean, 1500);
  EXPECT_EQ(percent, 0);
  EXPECT_EQ(values[0], 0);
  EXPECT_EQ(values[1], 0);
  EXPECT_EQ(values[2], mean);
  EXPECT_EQ(values[3], mean);
}

TEST(DevAlgImgQualitynew164, ReportsTopBottomImbalance) {
  // Busy top half, flat bottom half of a 96 x 96 image (12 x 12 blocks).
  GreyImage g = stripes(96, 96, 0, 250);
  for (int y = 48; y < 96; ++y)
    for (int x = 0; x < 96; ++x) g.pixels[static_cast<size_t>(y) * 96 + x] = 0;
  std::uint8_t percent = 0;
  std::int32_t mean = 0, values[4] = {};
  ASSERT_EQ(DevAlgImgQualitynew164(96, 96, g.pixels.data(), &percent, &mean, values), 0);
  EXPECT_EQ(values[2], 0);          // bottom-left quadrant is flat
  EXPECT_GT(values[0], values[1]);  // top against bottom outweighs left against right
  EXPECT_GT(percent, 0);
}

TEST(Otsu, SplitsTwoLevelsAtTheLowerOne) {
  struct Case {
    std::uint8_t low, high;
  };
  for (const Case c : {Case{50, 200}, Case{0, 255}, Case{99, 100}}) {
    GreyImage g = stripes(20, 10, c.low, c.high);
    EXPECT_EQ(otsu(g.pixels.data(), 20, 10, 0, 0, 20, 10), c.low);
  }
  // One level inside the ring (the ring itself is ignored): no threshold.
  GreyImage g = uniform(10, 10, 30);
  for (int i = 0; i < 10; ++i) g.pixels[i] = 250;
  EXPECT_EQ(otsu(g.pixels.data(), 10, 10, 0, 0, 10, 10), 1);
  EXPECT_EQ(otsu(g.pixels.data(), 10, 10, 5, 0, 6, 10), -1);  // past the right edge
  EXPECT_EQ(otsu(nullptr, 10, 10, 0, 0, 10, 10), -1);
}

TEST(MyThreshold, SplitsAtTheThreshold) {
  std::vector<std::uint8_t> px = {0, 99, 100, 101, 255};
  EXPECT_EQ(myThreshold(px.data(), 100, 5, 1), 0);
  EXPECT_EQ(px, (std::vector<std::uint8_t>{0, 0, 255, 255, 255}));
  EXPECT_EQ(myThreshold(nullptr, 100, 5, 1), -1);
}

TEST(DevAlgImgQualityAndroid, KeepsTheTextureQualityUnlessAGoodPrintIsLopsided) {
  // A poor texture (below 50) is returned as it is.
  const GreyImage flat = uniform(100, 100, 128);
  EXPECT_EQ(DevAlgImgQualityAndroid(100, 100, flat.pixels.data()), 0);
  const GreyImage g = zyl::test::read_pgm(zyl::test::test_data("fvc2000_102_1.pgm"));
  const int q = DevAlgImgQualityNew(g.width, g.height, g.pixels.data());
  ASSERT_GE(q, 50);
  EXPECT_EQ(DevAlgImgQualityAndroid(g.width, g.height, g.pixels.data()), q);
}

TEST(Testprintf, WritesTheLineTest) {
  testing::internal::CaptureStdout();
  testprintf();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "test\n");
}

}  // namespace
