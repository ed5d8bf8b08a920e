// FFT block enhancement: class tables, mask layout, and enhancement of
// gratings whose period and direction the maps describe.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_fft_enhance.h"
#include "zylscan/matchlib_object.h"

namespace {

TEST(FftEnhanceClasses, FrequencyAndDirectionClasses) {
  struct Case {
    int value, cls;
  };
  for (Case c : {Case{0, 0}, Case{5, 0}, Case{6, 1}, Case{10, 5}, Case{15, 10}, Case{200, 10}})
    EXPECT_EQ(fftenh_frequency_class(c.value), c.cls) << c.value;
  for (Case c : {Case{0, 0}, Case{3, 0}, Case{4, 1}, Case{124, 0}, Case{128, 0}, Case{131, 0},
                 Case{132, 1}, Case{188, 8}, Case{64, 8}, Case{252, 0}, Case{255, 0}, Case{100, 13}})
    EXPECT_EQ(fftenh_direction_class(c.value), c.cls) << c.value;
}

TEST(FftEnhanceMasks, MirroredClassesAndTheLowestBandRow) {
  for (int side : {16, 32})
    for (int r = 0; r < side; ++r)
      for (int c = 0; c <= side / 2; ++c) {
        ASSERT_EQ(fftenh_mask_gain(side, 3, 9, r, c), fftenh_mask_gain(side, 3, 7, (side - r) % side, c));
        ASSERT_EQ(fftenh_mask_gain(side, 3, 15, r, c), fftenh_mask_gain(side, 3, 1, (side - r) % side, c));
      }
  // Class 8 has its own mask, symmetric in the row frequency.
  EXPECT_EQ(fftenh_mask_gain(32, 0, 8, 6, 0), fftenh_mask_gain(32, 0, 8, 26, 0));
  EXPECT_GT(fftenh_mask_gain(32, 0, 8, 6, 0), 150);
  // The reference rows of both tables (m = 0), to within the 3 steps that
  // the masks may differ from them.
  struct Row {
    int side, f, row;
    std::vector<int> gains;  // columns 0 upward
  } rows[] = {
      {32, 0, 0, {72, 79, 99, 128, 158, 184, 198, 196, 179, 150, 116, 82, 54, 32, 18, 9, 4}},
      {32, 10, 0, {122, 158, 201, 164, 80, 23, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {16, 0, 0, {0, 1, 7, 26, 69, 133, 194, 225, 232}},
      {16, 0, 1, {0, 1, 5, 20, 54, 105, 152, 177, 182}},
      {16, 10, 0, {124, 161, 204, 167, 82, 24, 4, 0, 0}},
  };
  for (const Row& row : rows)
    for (int c = 0; c < static_cast<int>(row.gains.size()); ++c)
      EXPECT_NEAR(fftenh_mask_gain(row.side, row.f, 0, row.row, c), row.gains[c], 3)
          << row.side << "-point f " << row.f << " row " << row.row << " column " << c;
  EXPECT_EQ(fftenh_mask_gain(48, 0, 0, 0, 0), 0);
  EXPECT_EQ(fftenh_mask_gain(32, 11, 0, 0, 0), 0);
}

struct Scene {
  int h = 64, w = 64;
  std::vector<uint8_t> img, freq, dir;
  // A grating of the given period whose wave vector points at direction
  // phi (256 steps a turn); the maps describe it (orientation byte of the
  // normal, 64..191).
  Scene(int phi, int period, int map_phi) {
    img.resize(h * w);
    const double a = phi * 2 * M_PI / 256;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        img[y * w + x] = uint8_t(std::lround(128 + 60 * std::cos(2 * M_PI * (x * std::cos(a) + y * std::sin(a)) / period)));
    freq.assign(h * w, uint8_t(period));
    dir.assign(h * w, uint8_t(64 + ((map_phi % 128) + 64) % 128));
  }
  // Correlation of the interior of out with the centred grating.
  double correlation(const std::vector<int8_t>& out) const {
    double sxy = 0, sxx = 0, syy = 0;
    for (int y = 8; y < h - 8; ++y)
      for (int x = 8; x < w - 8; ++x) {
        const double a = img[y * w + x] - 128.0, b = out[y * w + x];
        sxy += a * b, sxx += a * a, syy += b * b;
      }
    return syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
  }
  double energy(const std::vector<int8_t>& out) const {
    double e = 0;
    for (int y = 8; y < h - 8; ++y)
      for (int x = 8; x < w - 8; ++x) e += double(out[y * w + x]) * out[y * w + x];
    return e;
  }
};

TEST(FftEnhance32, PassesAMatchingGratingAndStopsACrossedOne) {
  for (int phi : {0, 24, 64, 100}) {
    SCOPED_TRACE(phi);
    Scene s(phi, 9, phi), crossed(phi, 9, phi + 64);
    std::vector<int8_t> out(64 * 64), out2(64 * 64);
    ASSERT_EQ(fftenh_enhance32(s.img.data(), 64, 64, s.freq.data(), s.dir.data(), nullptr, nullptr,
                               1, 0, 0, 0, out.data()),
              0);
    EXPECT_GT(s.correlation(out), 0.9);
    ASSERT_EQ(fftenh_enhance32(crossed.img.data(), 64, 64, crossed.freq.data(), crossed.dir.data(),
                               nullptr, nullptr, 1, 0, 0, 0, out2.data()),
              0);
    EXPECT_LT(crossed.energy(out2), s.energy(out) / 10);
  }
}

TEST(FftEnhance32, LevelsRepeatTheGainAndTheBlockMaskSelectsBlocks) {
  Scene s(0, 8, 0);
  std::vector<int8_t> l0(64 * 64), l1(64 * 64), l2(64 * 64);
  for (auto [level, out] : {std::pair{0, &l0}, {1, &l1}, {2, &l2}})
    ASSERT_EQ(fftenh_enhance32(s.img.data(), 64, 64, s.freq.data(), s.dir.data(), nullptr, nullptr,
                               level, 0, 0, 0, out->data()),
              0);
  EXPECT_EQ(l0, l1);
  EXPECT_LT(s.energy(l2), s.energy(l1) * 0.9);
  // A level map of 3 everywhere is level 2.
  std::vector<uint8_t> levels(64 * 64, 3);
  std::vector<int8_t> lm(64 * 64);
  ASSERT_EQ(fftenh_enhance32(s.img.data(), 64, 64, s.freq.data(), s.dir.data(), nullptr,
                             levels.data(), 0, 0, 0, 0, lm.data()),
            0);
  EXPECT_EQ(lm, l2);
  // Mask cells of 16 pixels, 4 x 4: only cell (1, 2) set selects one block.
  std::vector<uint8_t> mask(16, 0);
  mask[1 * 4 + 2] = 1;
  std::vector<int8_t> masked(64 * 64, 5);
  ASSERT_EQ(fftenh_enhance32(s.img.data(), 64, 64, s.freq.data(), s.dir.data(), mask.data(),
                             nullptr, 1, 4, 4, 16, masked.data()),
            0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool in = y / 16 == 1 && x / 16 == 2;
      if (in) {
        ASSERT_EQ(masked[y * 64 + x], l1[y * 64 + x]);
      } else {
        ASSERT_EQ(masked[y * 64 + x], 0) << y << "," << x;
      }
    }
  EXPECT_EQ(fftenh_enhance32(s.img.data(), 64, 64, nullptr, s.dir.data(), nullptr, nullptr, 1, 0,
                             0, 0, masked.data()),
            2);
}

TEST(FftEnhance32Fixed, OneMaskForTheWholeImage) {
  Scene s(32, 8, 32);
  std::vector<int8_t> out(64 * 64);
  ASSERT_EQ(fftenh_enhance32_fixed(s.img.data(), 64, 64, 8, s.dir[0], out.data()), ML_OK);
  EXPECT_GT(s.correlation(out), 0.9);
}

TEST(FftEnhance16, FullAndHalfResolution) {
  for (int step : {1, 2}) {
    SCOPED_TRACE(step);
    // At step 2 the windows sample every second pixel: the maps give the
    // period in full-resolution pixels.
    Scene s(16, step == 1 ? 5 : 9, 16);
    std::vector<int8_t> out(64 * 64);
    ASSERT_EQ(fftenh_enhance16(s.img.data(), 64, 64, s.freq.data(), s.dir.data(), nullptr, 0, 0,
                               0, out.data(), step),
              0);
    EXPECT_GT(s.correlation(out), 0.8);
  }
  Scene s(0, 8, 0);
  std::vector<int8_t> out(64 * 64);
  EXPECT_EQ(fftenh_enhance16(s.img.data(), 64, 64, s.freq.data(), s.dir.data(), nullptr, 0, 0, 0,
                             out.data(), 0),
            2);
}

}  // namespace
