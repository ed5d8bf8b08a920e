// Fixed-point transforms against a direct DFT in double precision, plus the
// exact answers that follow from the rounding rules.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_fft.h"

namespace {

using Kernel = void (*)(const int32_t*, const int32_t*, int32_t*, int32_t*);
using cd = std::complex<double>;

struct KernelCase {
  const char* name;
  Kernel fn;
  int n;
};

const KernelCase kKernels[] = {
    {"fft16", fft16_complex, 16},
    {"fft32", fft32_complex, 32},
    {"fft64", fft64_complex, 64},
    {"fft128", fft128_complex, 128},
};

std::vector<cd> direct_dft(const std::vector<int32_t>& re, const std::vector<int32_t>& im,
                           int sign) {
  const size_t n = re.size();
  std::vector<cd> out(n);
  for (size_t k = 0; k < n; ++k) {
    cd acc = 0;
    for (size_t m = 0; m < n; ++m)
      acc += cd(re[m], im[m]) * std::polar(1.0, sign * 2 * M_PI * double(m * k % n) / n);
    out[k] = acc / double(n);
  }
  return out;
}

TEST(FixedFftKernels, MatchDirectDftOnRandomInput) {
  std::mt19937 rng(7);
  for (const auto& c : kKernels) {
   for (int32_t amp : {2000, 1 << 19}) {
    SCOPED_TRACE(testing::Message() << c.name << " amplitude " << amp);
    std::uniform_int_distribution<int32_t> dist(-amp, amp);
    for (int trial = 0; trial < 5; ++trial) {
      std::vector<int32_t> re(c.n), im(c.n), ore(c.n), oim(c.n);
      for (int i = 0; i < c.n; ++i) re[i] = dist(rng), im[i] = dist(rng);
      c.fn(re.data(), im.data(), ore.data(), oim.data());
      const auto ref = direct_dft(re, im, -1);
      // Every layer rounds down by at most one unit; the Q10 twiddles are
      // off by at most about 1e-4 relative, which dominates for large input.
      const double tol = 6 + 3e-4 * amp;
      for (int k = 0; k < c.n; ++k) {
        EXPECT_NEAR(ore[k], ref[k].real(), tol) << "bin " << k;
        EXPECT_NEAR(oim[k], ref[k].imag(), tol) << "bin " << k;
      }
    }
   }
  }
}

TEST(FixedFftKernels, ConstantAndImpulseGiveExactAnswers) {
  for (const auto& c : kKernels) {
    SCOPED_TRACE(c.name);
    std::vector<int32_t> re(c.n), im(c.n, 0), ore(c.n), oim(c.n);
    for (int32_t v : {1000, -777, 1 << 20}) {
      std::fill(re.begin(), re.end(), v);
      c.fn(re.data(), im.data(), ore.data(), oim.data());
      EXPECT_EQ(ore[0], v);
      for (int k = 0; k < c.n; ++k) {
        if (k) {
          EXPECT_EQ(ore[k], 0) << k;
        }
        EXPECT_EQ(oim[k], 0) << k;
      }
    }
    struct Impulse {
      int32_t v;
      int32_t every_bin;
    };
    for (Impulse imp : {Impulse{-1, -1}, Impulse{1, 0}, Impulse{1000, int32_t(std::floor(1000.0 / c.n))},
                        Impulse{-1000, int32_t(std::floor(-1000.0 / c.n))}}) {
      std::fill(re.begin(), re.end(), 0);
      re[0] = imp.v;
      c.fn(re.data(), im.data(), ore.data(), oim.data());
      for (int k = 0; k < c.n; ++k) {
        EXPECT_EQ(ore[k], imp.every_bin) << "v " << imp.v << " bin " << k;
        EXPECT_EQ(oim[k], 0);
      }
    }
  }
}

TEST(FixedFftKernels, FourLaneTwinsEqualTheSingleKernelPerLane) {
  struct Case {
    Kernel single, x4;
    int n;
  };
  std::mt19937 rng(11);
  std::uniform_int_distribution<int32_t> dist(-(1 << 20), 1 << 20);
  for (const Case& c : {Case{fft16_complex, fft16_complex_x4, 16},
                        Case{fft32_complex, fft32_complex_x4, 32}}) {
    std::vector<int32_t> re(4 * c.n), im(4 * c.n), ore(4 * c.n), oim(4 * c.n);
    for (auto& v : re) v = dist(rng);
    for (auto& v : im) v = dist(rng);
    c.x4(re.data(), im.data(), ore.data(), oim.data());
    for (int lane = 0; lane < 4; ++lane) {
      std::vector<int32_t> r(c.n), i(c.n), sr(c.n), si(c.n);
      for (int m = 0; m < c.n; ++m) r[m] = re[4 * m + lane], i[m] = im[4 * m + lane];
      c.single(r.data(), i.data(), sr.data(), si.data());
      for (int k = 0; k < c.n; ++k) {
        ASSERT_EQ(ore[4 * k + lane], sr[k]) << "n " << c.n << " lane " << lane << " bin " << k;
        ASSERT_EQ(oim[4 * k + lane], si[k]);
      }
    }
  }
}

struct PairCase {
  int n;
  FftForwardFn fwd;
  FftInverseFn inv;
};

const PairCase kPairs[] = {
    {16, fft2d_forward16, fft2d_inverse16},
    {32, fft2d_forward32, fft2d_inverse32},
    {64, fft2d_forward64, fft2d_inverse64},
    {128, fft2d_forward128, fft2d_inverse128},
};

TEST(FixedFft2d, ForwardMatchesDirect2dDftOnHalfSpectrum) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int32_t> dist(-(1 << 19), 1 << 19);
  for (const auto& c : kPairs) {
    if (c.n > 64) continue;  // the direct sum is slow; 128 is checked by round trip
    SCOPED_TRACE(c.n);
    const int n = c.n, w = n / 2 + 1;
    std::vector<int32_t> block(n * n), re(n * w), im(n * w);
    for (auto& v : block) v = dist(rng);
    c.fwd(block.data(), re.data(), im.data());
    // Separable direct DFT scaled by 1/n^2.
    std::vector<cd> rows(n * n);
    for (int y = 0; y < n; ++y)
      for (int k = 0; k < n; ++k) {
        cd acc = 0;
        for (int x = 0; x < n; ++x) acc += double(block[y * n + x]) * std::polar(1.0, -2 * M_PI * (x * k % n) / n);
        rows[y * n + k] = acc;
      }
    double worst = 0;
    for (int u = 0; u < n; ++u)
      for (int k = 0; k < w; ++k) {
        cd acc = 0;
        for (int y = 0; y < n; ++y) acc += rows[y * n + k] * std::polar(1.0, -2 * M_PI * (y * u % n) / n);
        acc /= double(n) * n;
        worst = std::max(worst, std::abs(acc.real() - re[u * w + k]));
        worst = std::max(worst, std::abs(acc.imag() - im[u * w + k]));
      }
    EXPECT_LT(worst, 12.0);
  }
}

TEST(FixedFft2d, ConstantBlockHasOnlyTheDcTermAndComesBackDividedByNSquared) {
  for (const auto& c : kPairs) {
    const int n = c.n, w = n / 2 + 1;
    for (int p : {0, 1, 77, 200, 255}) {
      SCOPED_TRACE(testing::Message() << "n " << n << " p " << p);
      const int32_t v = (p - 128) * 4096;  // the tiled driver's input scaling
      std::vector<int32_t> block(n * n, v), re(n * w), im(n * w), out(n * n), work(n * w);
      c.fwd(block.data(), re.data(), im.data());
      EXPECT_EQ(re[0], v);
      for (int i = 0; i < n * w; ++i) {
        if (i) {
          ASSERT_EQ(re[i], 0) << i;
        }
        ASSERT_EQ(im[i], 0) << i;
      }
      c.inv(re.data(), im.data(), out.data(), work.data());
      const int32_t expect = int32_t(std::floor(double(v) / (n * n)));
      for (int i = 0; i < n * n; ++i) ASSERT_EQ(out[i], expect) << i;
    }
  }
}

TEST(FixedFft2d, RoundTripReturnsBlockOverNSquaredAndWorkMayBeImaginaryInput) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> pix(0, 255);
  for (const auto& c : kPairs) {
    SCOPED_TRACE(c.n);
    const int n = c.n, w = n / 2 + 1;
    std::vector<int32_t> block(n * n), re(n * w), im(n * w), out(n * n), work(n * w);
    for (auto& v : block) v = (pix(rng) - 128) << 13;
    c.fwd(block.data(), re.data(), im.data());
    const std::vector<int32_t> re0 = re, im0 = im;
    c.inv(re.data(), im.data(), out.data(), work.data());
    EXPECT_EQ(re, re0);
    EXPECT_EQ(im, im0);  // inputs untouched with a separate work array
    for (int i = 0; i < n * n; ++i)
      ASSERT_NEAR(out[i], double(block[i]) / (n * n), 8.0) << i;
    std::vector<int32_t> out2(n * n);
    c.inv(re.data(), im.data(), out2.data(), im.data());
    EXPECT_EQ(out2, out);
  }
}

TEST(FixedFft2d, InverseOfOneCoefficientIsACosineWave) {
  // A single coefficient S(0, k) and its implied conjugate give
  // 2 S cos(2 pi k x / n) / n^2 along every row.
  for (const auto& c : kPairs) {
    const int n = c.n, w = n / 2 + 1, k = 3;
    std::vector<int32_t> re(n * w, 0), im(n * w, 0), out(n * n), work(n * w);
    re[k] = 1 << 24;
    c.inv(re.data(), im.data(), out.data(), work.data());
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x)
        ASSERT_NEAR(out[y * n + x], 2.0 * (1 << 24) * std::cos(2 * M_PI * k * x / n) / (n * n),
                    2 + (1 << 24) / (n * n) * 0.003)
            << "n " << n << " y " << y << " x " << x;
  }
}

// ---- 16-bit pair ----

TEST(Fft16I16, KernelMatchesDirectDft) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> dist(-16000, 16000);
  for (int trial = 0; trial < 20; ++trial) {
    int16_t in[32], out[32];
    std::vector<int32_t> re(16), im(16);
    for (int m = 0; m < 16; ++m) {
      in[2 * m] = int16_t(dist(rng));
      in[2 * m + 1] = int16_t(dist(rng));
      re[m] = in[2 * m], im[m] = in[2 * m + 1];
    }
    fft16_complex_i16(in, out);
    const auto ref = direct_dft(re, im, -1);
    for (int k = 0; k < 16; ++k) {
      EXPECT_NEAR(out[2 * k], ref[k].real(), 4);
      EXPECT_NEAR(out[2 * k + 1], ref[k].imag(), 4);
    }
  }
}

TEST(Fft16I16, ConstantBlockKnownAnswers) {
  int16_t in[256], spec[288], work[288];
  int8_t out[256];
  std::fill(std::begin(in), std::end(in), int16_t(1000));
  fft2d_forward16_i16(in, spec);
  EXPECT_EQ(spec[0], 4000);
  for (int i = 1; i < 288; ++i) ASSERT_EQ(spec[i], 0) << i;
  fft2d_inverse16_i16(spec, out, work);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(out[i], 7) << i;
}

TEST(Fft16I16, SaturatesForwardColumnsAndInverseBytes) {
  struct Case {
    int16_t v;          // constant input
    int16_t dc;         // spectrum (0, 0)
  };
  for (Case c : {Case{8191, 32764}, Case{8192, 32767}, Case{9000, 32767}, Case{-8192, -32768},
                 Case{-9000, -32768}}) {
    int16_t in[256], spec[288];
    std::fill(std::begin(in), std::end(in), c.v);
    fft2d_forward16_i16(in, spec);
    EXPECT_EQ(spec[0], c.dc) << c.v;
  }
  // A spectrum whose only entry is the DC term d comes back as the constant
  // (d / 16 / 16 ... after four halvings per pass); pick d so that the
  // kernel result before the last halving is the value we want.
  struct ByteCase {
    int16_t dc;
    int8_t byte;
  };
  // DC d -> column pass floor(d/16) -> row pass floor(./16) -> >> 1.
  for (ByteCase c : {ByteCase{32767, 63}, ByteCase{-32768, -64}, ByteCase{4000, 7}}) {
    int16_t spec[288] = {}, work[288];
    int8_t out[256];
    spec[0] = c.dc;
    fft2d_inverse16_i16(spec, out, work);
    EXPECT_EQ(out[0], c.byte) << c.dc;
  }
}

TEST(Fft16I16, InverseSaturatesToSignedBytes) {
  // Full-scale entries in all nine columns of row 0 make every work value
  // +-2047 after the column pass; the row pass then sums coherently far past
  // the byte range.
  struct Case {
    int16_t v;
    int8_t first_of_each_row;
  };
  for (Case c : {Case{32767, 127}, Case{-32768, -128}}) {
    int16_t spec[288] = {}, work[288];
    int8_t out[256];
    for (int k = 0; k <= 8; ++k) spec[2 * k] = spec[2 * k + 1] = c.v;
    fft2d_inverse16_i16(spec, out, work);
    EXPECT_EQ(work[0], c.v > 0 ? 2047 : -2048);
    EXPECT_EQ(out[0], c.first_of_each_row);
    EXPECT_EQ(out[16], c.first_of_each_row);
  }
}

TEST(Fft16I16, RoundTripOfScaledPixelsGivesPixelsMinus128) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> pix(0, 255);
  int16_t in[256], spec[288], work[288];
  int8_t out[256];
  int px[256];
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      px[y * 16 + x] = pix(rng);
      in[(y / 2) * 32 + 2 * x + (y & 1)] = int16_t((px[y * 16 + x] - 128) * 64);
    }
  fft2d_forward16_i16(in, spec);
  fft2d_inverse16_i16(spec, out, work);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      EXPECT_NEAR(out[y * 16 + x], (px[y * 16 + x] - 128) / 2.0, 3) << y << "," << x;
}

}  // namespace
