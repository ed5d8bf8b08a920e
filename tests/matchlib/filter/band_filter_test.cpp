// Table-driven frequency-domain filters and the band-pass preprocessing
// stage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_fftfilt.h"
#include "zylscan/matchlib_gain_table.h"
#include "zylscan/matchlib_object.h"

namespace {

std::vector<uint8_t> grating(int h, int w, double period, double angle) {
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img[y * w + x] = static_cast<uint8_t>(
          128 + 60 * std::sin((y * std::cos(angle) - x * std::sin(angle)) * 2 * M_PI / period));
  return img;
}

int mean_of(const std::vector<uint8_t>& v) {
  long s = 0;
  for (uint8_t p : v) s += p;
  return static_cast<int>(s / static_cast<long>(v.size()));
}

TEST(BandFilter, ResolutionPicksTheReadyTableOrBuildsOne) {
  const int h = 96, w = 80;
  const auto img = grating(h, w, 9, 0.3);
  struct Case {
    int resolution;
    bool ready;
  };
  for (const Case c : {Case{380, true}, Case{508, true}, Case{356, false}, Case{1017, false}}) {
    std::vector<uint8_t> out(h * w), expected(h * w);
    ASSERT_EQ(fftfilt_band_by_resolution_u8(img.data(), h, w, c.resolution, out.data()), ML_OK);
    if (c.ready) {
      const uint8_t* t = fftfilt_gain_table_ready_u8(c.resolution);
      ASSERT_NE(t, nullptr);
      ASSERT_EQ(fftfilt_run_u8(expected.data(), img.data(), h, w, 64, 32, 4, fftfilt_gain_cb,
                               const_cast<uint8_t*>(t)),
                ML_OK);
    } else {
      ASSERT_EQ(fftfilt_radial_u8(img.data(), h, w, c.resolution, 201, 0, 1280, 512, 0,
                                  expected.data()),
                ML_OK);
    }
    EXPECT_EQ(out, expected) << c.resolution;
  }
}

TEST(BandFilter, ZeroFrequencyFlagKeepsTheMean) {
  const int h = 80, w = 80;
  std::vector<uint8_t> flat(h * w, 190), out(h * w);
  ASSERT_EQ(fftfilt_radial_u8(flat.data(), h, w, 500, 201, 0, 1280, 512, 1, out.data()), ML_OK);
  EXPECT_NEAR(mean_of(out), 190, 3) << "the zero frequency passes";
  ASSERT_EQ(fftfilt_radial_u8(flat.data(), h, w, 500, 201, 0, 1280, 512, 0, out.data()), ML_OK);
  EXPECT_NEAR(mean_of(out), 128, 3) << "the low cut removes the mean";
  // The inverted filter with the flag keeps the mean and removes the band:
  // a ridge-frequency grating about 128 flattens.
  const auto ridges = grating(h, w, 10, 0.0);
  ASSERT_EQ(fftfilt_radial_inverted_u8(ridges.data(), h, w, 500, 201, 0, 1280, 512, 1, out.data()),
            ML_OK);
  const auto [lo, hi] = std::minmax_element(out.begin() + 16 * w, out.end() - 16 * w);
  EXPECT_LT(*hi - *lo, 40) << "the band is gone";
  std::vector<uint8_t> inverted(h * w);
  ASSERT_EQ(fftfilt_band_default_inverted_u8(flat.data(), h, w, 500, inverted.data()), ML_OK);
  EXPECT_NEAR(mean_of(inverted), 190, 3) << "complemented table: the zero frequency gets 255 - 0";
  EXPECT_EQ(fftfilt_radial_u8(flat.data(), h, w, 0, 201, 0, 1280, 512, 0, out.data()),
            ML_WRONG_KIND)
      << "no table without a resolution";
}

TEST(BandFilter, SixteenBitFrameLimitAndFilter) {
  std::vector<uint16_t> big(257 * 10, 1000), untouched(257 * 10, 7);
  EXPECT_EQ(fftfilt_radial_u16(big.data(), 257, 10, 500, 201, 0, 1280, 512, 1, untouched.data()),
            ML_WRONG_KIND);
  EXPECT_EQ(untouched, std::vector<uint16_t>(257 * 10, 7));
  const int h = 64, w = 64;
  std::vector<uint16_t> flat(h * w, 30000), out(h * w);
  ASSERT_EQ(fftfilt_radial_u16(flat.data(), h, w, 500, 201, 0, 1280, 512, 1, out.data()), ML_OK);
  for (uint16_t v : out) ASSERT_NEAR(v, 30000, 300);
}

TEST(BandFilter, UnsetEntriesStopAtTheFirstTile) {
  std::vector<uint8_t> img(80 * 80, 100), out(80 * 80);
  EXPECT_EQ(fftfilt_run_unset_a_u8(img.data(), 80, 80, 0, 300, out.data()), ML_WRONG_KIND);
  EXPECT_EQ(fftfilt_run_unset_b_u8(img.data(), 80, 80, 0, 0, out.data()), ML_WRONG_KIND);
}

TEST(BandFilter, DominantDirectionKeepsTheMainGrating) {
  const int h = 96, w = 96;
  const auto main = grating(h, w, 8, 0.5), weak = grating(h, w, 6, 2.0);
  std::vector<uint8_t> img(h * w), out(h * w);
  for (int i = 0; i < h * w; ++i) img[i] = static_cast<uint8_t>((2 * main[i] + weak[i]) / 3);
  const DominantDirectionParams params{5, 5, 30};
  ASSERT_EQ(fftfilt_dominant_direction_u8(img.data(), h, w, 0, &params, out.data()), ML_OK);
  // The output follows the main grating more closely than the input does.
  auto correlation = [&](const std::vector<uint8_t>& a) {
    double sab = 0, saa = 0, sbb = 0;
    for (int i = 0; i < h * w; ++i) {
      const double x = a[i] - 128.0, y = main[i] - 128.0;
      sab += x * y, saa += x * x, sbb += y * y;
    }
    return sab / std::sqrt(saa * sbb);
  };
  EXPECT_GT(correlation(out), correlation(img));
  EXPECT_EQ(fftfilt_dominant_direction_u8(img.data(), h, w, 0, nullptr, out.data()),
            ML_BAD_ARGUMENT);
}

TEST(Preprocess, RealPrintGivesAForegroundMap) {
  const auto print = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  std::vector<uint8_t> out(print.pixels.size());
  uint8_t* map = reinterpret_cast<uint8_t*>(1);
  ASSERT_EQ(imgproc_preprocess_bandpass(nullptr, print.pixels.data(), 0, print.height,
                                        print.width, 500, 0, out.data(), &map),
            ML_OK);
  ASSERT_NE(map, nullptr);
  const size_t n = print.pixels.size();
  const auto fg = std::count(map, map + n, 255), bg = std::count(map, map + n, 0);
  EXPECT_EQ(fg + bg, static_cast<long>(n));
  EXPECT_GT(fg, static_cast<long>(n / 3));
  EXPECT_GT(bg, 0);
  std::free(map);
  // A band-pass that cannot build its table fails the stage with no map.
  map = reinterpret_cast<uint8_t*>(1);
  EXPECT_EQ(imgproc_preprocess_bandpass(nullptr, print.pixels.data(), 0, print.height,
                                        print.width, 0, 0, out.data(), &map),
            ML_WRONG_KIND);
  EXPECT_EQ(map, nullptr);
  // A small image is filtered after padding and comes back at its own size.
  std::vector<uint8_t> small(40 * 30, 120), small_out(40 * 30);
  small[600] = 10;
  ASSERT_EQ(imgproc_preprocess_bandpass(nullptr, small.data(), 0, 40, 30, 500, 0,
                                        small_out.data(), &map),
            ML_OK);
  std::free(map);
}

}  // namespace
