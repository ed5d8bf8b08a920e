// Block spectral analysis on gratings of known period and direction, flat
// images, and the clean-up and fill of the period map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_stft.h"

namespace {

std::vector<uint8_t> grating(int h, int w, int phi, double period) {
  std::vector<uint8_t> img(h * w);
  const double a = phi * 2 * M_PI / 256;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img[y * w + x] = uint8_t(std::lround(
          128 + 90 * std::cos(2 * M_PI * (x * std::cos(a) + y * std::sin(a)) / period)));
  return img;
}

int turn_diff(int a, int b) {
  const int d = ((a - b) % 256 + 256) % 256;
  return std::min(d, 256 - d);
}

TEST(BlockSpectrum32, GratingGivesPeriodFrequencyOrientationAndDominance) {
  struct Case {
    int phi;
    double period;
  };
  for (Case c : {Case{0, 9.0}, Case{20, 8.0}, Case{48, 11.0}, Case{100, 7.0}}) {
    SCOPED_TRACE(testing::Message() << "phi " << c.phi << " period " << c.period);
    const int h = 128, w = 128, step = 16, rows = 8, cols = 8;
    const auto img = grating(h, w, c.phi, c.period);
    std::vector<uint8_t> dom(64), per(64), freq(64), ori(64);
    ASSERT_EQ(stft_block_analysis32(img.data(), nullptr, h, w, step, 18, 5, nullptr, rows, cols,
                                    dom.data(), per.data(), freq.data(), ori.data()),
              0);
    for (int i = 1; i < rows - 1; ++i)
      for (int j = 1; j < cols - 1; ++j) {
        const int k = i * cols + j;
        EXPECT_NEAR(per[k], c.period, 1) << i << "," << j;
        EXPECT_NEAR(freq[k], 1024 / c.period, 1024 / c.period * 0.06) << i << "," << j;
        // Orientation is the doubled wave-vector angle.
        EXPECT_LE(turn_diff(ori[k], 2 * c.phi), 6) << i << "," << j << " got " << int(ori[k]);
        EXPECT_GT(dom[k], 128);
      }
  }
}

// The 16-point form reads a half-resolution (250 dpi) image and refers its
// periods and frequencies to 500 dpi: a period of 8 pixels reads as 16.
TEST(BlockSpectrum16, GratingGivesPeriodAt500DpiAndOrientation) {
  for (int phi : {0, 30, 64}) {
    SCOPED_TRACE(phi);
    const int h = 96, w = 96, step = 8, rows = 12, cols = 12;
    const auto img = grating(h, w, phi, 8.0);
    std::vector<uint8_t> per(144), freq(144), ori(144);
    ASSERT_EQ(stft_block_analysis16(img.data(), h, w, step, 18, 5, rows, cols, per.data(),
                                    freq.data(), ori.data()),
              0);
    for (int i = 2; i < rows - 2; ++i)
      for (int j = 2; j < cols - 2; ++j) {
        const int k = i * cols + j;
        EXPECT_NEAR(per[k], 16, 1) << i << "," << j;
        EXPECT_NEAR(freq[k], 64, 5) << i << "," << j;
        EXPECT_LE(turn_diff(ori[k], 2 * phi), 10) << i << "," << j << " got " << int(ori[k]);
      }
  }
}

TEST(BlockSpectrum, FlatImageIsNotAnalysedAndFillsWithTenPixels) {
  std::vector<uint8_t> img(64 * 64, 120), dom(16, 9), per(16, 9), freq(16, 9), ori(16, 9);
  ASSERT_EQ(stft_block_analysis32(img.data(), nullptr, 64, 64, 16, 18, 5, nullptr, 4, 4,
                                  dom.data(), per.data(), freq.data(), ori.data()),
            0);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(per[k], 10);
    EXPECT_EQ(freq[k], 0);
    EXPECT_EQ(ori[k], 0);
    EXPECT_EQ(dom[k], 0);
  }
  ASSERT_EQ(stft_block_analysis16(img.data(), 64, 64, 16, 18, 5, 4, 4, per.data(), freq.data(),
                                  ori.data()),
            0);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(per[k], 10);
  // A grating whose usable map is empty is not analysed either.
  const auto g = grating(64, 64, 0, 8);
  std::vector<uint8_t> unusable(64 * 64, 0x7F);
  ASSERT_EQ(stft_block_analysis32(g.data(), unusable.data(), 64, 64, 16, 18, 5, nullptr, 4, 4,
                                  nullptr, per.data(), freq.data(), nullptr),
            0);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(per[k], 10);
  EXPECT_EQ(stft_block_analysis32(nullptr, nullptr, 64, 64, 16, 18, 5, nullptr, 4, 4, nullptr,
                                  nullptr, nullptr, nullptr),
            2);
  EXPECT_EQ(stft_block_analysis16(g.data(), 64, 64, 0, 18, 5, 4, 4, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);
}

TEST(BlockSpectrum, PeriodsOutsideTheRangeAreDropped) {
  // Period 9 with the range 10..18: no period, frequency 0, map filled by the seed.
  const auto img = grating(64, 64, 0, 9.0);
  std::vector<uint8_t> per(16), freq(16), ori(16), dom(16);
  ASSERT_EQ(stft_block_analysis32(img.data(), nullptr, 64, 64, 16, 18, 10, nullptr, 4, 4,
                                  dom.data(), per.data(), freq.data(), ori.data()),
            0);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(freq[k], 0);
    EXPECT_EQ(dom[k], 0);
    EXPECT_EQ(per[k], 10);
  }
  EXPECT_LE(turn_diff(ori[5], 0), 6);  // orientation is still written
}

TEST(PeriodMap, CleanUpCases) {
  struct Case {
    const char* what;
    std::vector<uint16_t> in;  // 3 x 3
    int centre;
  };
  const Case cases[] = {
      {"lone entry vanishes", {0, 0, 0, 0, 2000, 0, 0, 0, 0}, 0},
      {"one neighbour: halfway", {0, 3000, 0, 0, 2000, 0, 0, 0, 0}, 2500},
      {"two neighbours: median", {0, 3000, 0, 1000, 2000, 0, 0, 0, 0}, 2000},
      {"two neighbours, entry largest", {0, 1500, 0, 1000, 9000, 0, 0, 0, 0}, 1500},
      {"four: drop extremes, mean of three", {0, 1000, 0, 2000, 2600, 3000, 0, 9000, 0}, 2533},
      {"zero stays zero", {0, 3000, 0, 1000, 0, 0, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint16_t> m = c.in;
    ASSERT_EQ(stft_map_clean_u16(m.data(), 3, 3), ML_OK);
    EXPECT_EQ(m[4], c.centre) << c.what;
  }
  EXPECT_EQ(stft_map_clean_u16(nullptr, 3, 3), ML_BAD_ARGUMENT);
}

TEST(PeriodMap, FinishSeedsAnEmptyMapAndFillsHoles) {
  std::vector<uint16_t> lone(5 * 6, 0);
  lone[7] = 3000;
  std::vector<uint8_t> out(36);
  ASSERT_EQ(stft_map_finish_u16(lone.data(), 5, 6, out.data()), ML_OK);
  for (int k = 0; k < 30; ++k) EXPECT_EQ(out[k], 10);
  // A uniform map with holes fills them with the surrounding period.
  std::vector<uint16_t> holes(6 * 6, 9 * 256);
  holes[14] = holes[15] = holes[21] = 0;
  ASSERT_EQ(stft_map_finish_u16(holes.data(), 6, 6, out.data()), ML_OK);
  for (int k = 0; k < 36; ++k) EXPECT_EQ(out[k], 9) << k;
  // Without a byte output only one clean-up pass runs.
  std::vector<uint16_t> once = {0, 3000, 0, 0, 2000, 0, 0, 0, 0};
  ASSERT_EQ(stft_map_finish_u16(once.data(), 3, 3, nullptr), ML_OK);
  EXPECT_EQ(once[4], 2500);
  EXPECT_EQ(once[1], 2500);
}

}  // namespace
