// Spectrum utilities: magnitude bytes, centred tile spectra, magnitude and
// phase, windows, and the dominant-band callback.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_frequency.h"
#include "zylscan/matchlib_object.h"

namespace {

TEST(SpectrumBytes, ZeroSpectrumAndSaturationAndConjugatePlacement) {
  constexpr int n = 16, w = 9;
  std::vector<int32_t> re(n * w, 0), im(n * w, 0);
  std::vector<uint8_t> out(n * n, 7);
  spectrum_to_bytes(out.data(), re.data(), im.data(), n);
  for (uint8_t b : out) ASSERT_EQ(b, 0);
  struct Case {
    int32_t re, im;
    uint8_t byte;
  };
  for (Case c : {Case{65536, 0, 255}, Case{30000, -35536, 255}, Case{65279, 0, 254},
                 Case{-1024, 0, 4}, Case{INT32_MIN, INT32_MIN, 255}, Case{1 << 30, 0, 255}}) {
    re[1 * w + 2] = c.re;  // vertical frequency 1, horizontal 2
    im[1 * w + 2] = c.im;
    spectrum_to_bytes(out.data(), re.data(), im.data(), n);
    EXPECT_EQ(out[(8 + 1) * n + 8 + 2], c.byte) << c.re << "," << c.im;
    EXPECT_EQ(out[(8 - 1) * n + 8 - 2], c.byte);  // its conjugate
    EXPECT_EQ(out[8 * n + 8], 0);
  }
  // Horizontal frequency -N/2 is read at column N/2 of its own row.
  std::fill(re.begin(), re.end(), 0);
  re[3 * w + 8] = 4096;
  spectrum_to_bytes(out.data(), re.data(), im.data(), n);
  EXPECT_EQ(out[(8 + 3) * n + 0], 16);
  EXPECT_EQ(out[(8 - 3) * n + 0], 0);
}

using TileFn = int (*)(const uint8_t*, int, int, int, int, int, int32_t*, int32_t*);

TEST(SpectrumTile, CentredLayoutMatchesTheDirectTransformOfTheFlatWindowedTile) {
  struct Case {
    TileFn fn;
    int n;
  };
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> d(0, 255);
  std::vector<uint8_t> img(80 * 60);
  for (auto& p : img) p = uint8_t(d(rng));
  for (Case c : {Case{spectrum_tile16, 16}, Case{spectrum_tile32, 32}}) {
    const int n = c.n, s = n + 1, top = 20, left = -5;  // partly left of the image
    std::vector<int32_t> re(s * s), im(s * s);
    ASSERT_EQ(c.fn(img.data(), 80, 60, top, left, 0, re.data(), im.data()), 0);
    long sum = 0, count = 0;
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x)
        if (left + x >= 0) sum += img[(top + y) * 60 + left + x], ++count;
    const int mean = int(sum / count);
    for (int i = 0; i <= n; i += 3)
      for (int j = 0; j <= n; j += 2) {
        std::complex<double> acc = 0;
        for (int y = 0; y < n; ++y)
          for (int x = 0; x < n; ++x) {
            if (left + x < 0) continue;
            const double v = (img[(top + y) * 60 + left + x] - mean) * 1024.0;  // 128 * 128 / 16
            acc += v * std::polar(1.0, -2 * M_PI * ((i - n / 2) * y + (j - n / 2) * x) / n);
          }
        acc /= double(n) * n;
        const double sign = ((i + j) & 1) ? -1 : 1;
        EXPECT_NEAR(re[i * s + j], sign * acc.real(), 8 + std::abs(acc) * 1e-3) << i << "," << j;
        EXPECT_NEAR(im[i * s + j], sign * acc.imag(), 8 + std::abs(acc) * 1e-3) << i << "," << j;
      }
  }
}

TEST(SpectrumTile, TileOutsideTheImageIsAllZero) {
  std::vector<uint8_t> img(40 * 40, 200);
  for (int type : {0, 1, 2, 9}) {
    std::vector<int32_t> re(65 * 65, 1), im(65 * 65, 1);
    ASSERT_EQ(spectrum_tile64(img.data(), 40, 40, 100, 100, type, re.data(), im.data()), ML_OK);
    for (size_t i = 0; i < re.size(); ++i) ASSERT_TRUE(re[i] == 0 && im[i] == 0) << i;
  }
  std::vector<int32_t> re(17 * 17), im(17 * 17);
  EXPECT_EQ(spectrum_tile16(nullptr, 40, 40, 0, 0, 0, re.data(), im.data()), ML_BAD_ARGUMENT);
}

TEST(SpectrumTile, WindowsShapeTheTile) {
  // A bright single pixel near the tile's corner: the triangular window
  // (weight 0 at the edge) removes it, the flat one does not.
  std::vector<uint8_t> img(16 * 16, 100);
  img[0] = 255;
  std::vector<int32_t> re(17 * 17), im(17 * 17);
  ASSERT_EQ(spectrum_tile16(img.data(), 16, 16, 0, 0, 1, re.data(), im.data()), ML_OK);
  // The mean is 100 (truncated); only the corner differs, at weight 0.
  for (int i = 0; i < 17 * 17; ++i) ASSERT_EQ(re[i], 0) << i;
  ASSERT_EQ(spectrum_tile16(img.data(), 16, 16, 0, 0, 0, re.data(), im.data()), ML_OK);
  EXPECT_NE(re[8 * 17 + 8], 0);
}

TEST(SpectrumMagnitudePhase, KnownValuesAndPointReflection) {
  constexpr int n = 16, s = 17;
  std::vector<int32_t> re(s * s, 0), im(s * s, 0);
  re[2 * s + 5] = 3, im[2 * s + 5] = -4;
  re[8 * s + 1] = 100000;  // squares beyond 32 bits
  re[3 * s + 3] = 0, im[3 * s + 3] = 50;
  std::vector<uint32_t> mag(s * s);
  std::vector<uint8_t> ph(s * s);
  spectrum_magnitude(re.data(), im.data(), n, mag.data());
  spectrum_phase(re.data(), im.data(), n, ph.data());
  EXPECT_EQ(mag[2 * s + 5], 5u);
  EXPECT_EQ(mag[8 * s + 1], 100000u);
  EXPECT_EQ(mag[(n - 2) * s + (n - 5)], 5u);
  EXPECT_EQ(mag[(n - 3) * s + (n - 3)], 50u);
  EXPECT_EQ(ph[3 * s + 3], 64);
  EXPECT_EQ(ph[(n - 3) * s + (n - 3)], uint8_t(~64));
}

TEST(Windows, TaperAndGaussExamples) {
  struct Case {
    int length, a;
    std::vector<int> expected;  // empty: all 0
  };
  const Case taper[] = {
      {16, 3, {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0, 0}},
      {16, 2, {}},
      {16, 1, {}},  // no slope: stays 0 instead of dividing by zero
      {16, 0, {}},
      {16, 16, {0, 34, 68, 102, 137, 171, 205, 239, 239, 205, 171, 137, 102, 68, 34, 0}},
      {7, 7, {0, 85, 171, 0, 171, 85, 0}},  // the middle of an odd length stays 0
  };
  for (const Case& c : taper) {
    std::vector<uint8_t> w(c.length, 9);
    window_taper(w.data(), c.length, c.a);
    std::vector<int> got(w.begin(), w.end());
    EXPECT_EQ(got, c.expected.empty() ? std::vector<int>(c.length, 0) : c.expected)
        << c.length << "/" << c.a;
  }
  std::vector<uint8_t> g(32, 9);
  window_gauss(g.data(), 32, 15);  // 32 * 15 < 512
  for (uint8_t v : g) EXPECT_EQ(v, 0);
  window_gauss(g.data(), 32, 256);
  EXPECT_EQ(g[15], 255);
  EXPECT_EQ(g[16], 255);
  for (int i = 0; i < 15; ++i) {
    EXPECT_LE(g[i], g[i + 1]) << i;
    EXPECT_EQ(g[i], g[31 - i]);
  }
  EXPECT_LT(g[0], g[15]);
  window_gauss(g.data(), 32, 64);  // four times narrower: the ends vanish
  EXPECT_EQ(g[0], 0);
  EXPECT_GT(g[15], 240);
}

TEST(KeepDominant, KeepsTheGratingPeakAndClearsTheRest) {
  // A grating of period 8 along x, tilted slightly: the energy sits at
  // (+-0, +-4) and everything the callback keeps must lie near it.
  constexpr int n = 32, w = 17;
  std::vector<int32_t> block(n * n), re(n * w), im(n * w);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x)
      block[y * n + x] = int32_t(std::lround(100 * std::cos(2 * M_PI * x / 8) * 4096));
  fft2d_forward32(block.data(), re.data(), im.data());
  const int32_t peak = re[4];
  ASSERT_GT(std::abs(peak), 100000);
  // Noise everywhere else.
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> d(-3000, 3000);
  for (int i = 0; i < n * w; ++i)
    if (i != 4) re[i] += d(rng), im[i] += d(rng);
  const std::vector<int32_t> before = re;
  ASSERT_EQ(fftfilt_keep_dominant_cb(re.data(), im.data(), n, nullptr, 0, nullptr), ML_OK);
  EXPECT_EQ(re[4], before[4]);  // the peak survives
  EXPECT_EQ(re[0], before[0]);  // the DC term is never touched
  int kept = 0;
  for (int u = 0; u < n; ++u)
    for (int k = 0; k < w; ++k) {
      if ((re[u * w + k] == 0 && im[u * w + k] == 0) || u * w + k == 0) continue;
      ++kept;
      const int fy = u < n / 2 ? u : u - n;
      EXPECT_LE(std::abs(fy), 3) << u << "," << k;
      EXPECT_LE(std::abs(k - 4), 3) << u << "," << k;
    }
  EXPECT_GT(kept, 1);
  EXPECT_LT(kept, 30);
  EXPECT_EQ(fftfilt_keep_dominant_cb(re.data(), im.data(), 16, nullptr, 0, nullptr), ML_WRONG_KIND);
}

}  // namespace
