// Single-precision 256 x 256 transform: scaling, layout and round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <vector>

#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_object.h"

namespace {

using PlanPtr = std::unique_ptr<FftFloatPlan, decltype(&fftf_plan_free)>;
PlanPtr make_plan(int n) { return PlanPtr(fftf_plan_create(n), fftf_plan_free); }

TEST(FloatFftPlan, BitReversalTableBySizeClass) {
  struct Case {
    int n;
    std::vector<int> table;
  };
  const Case cases[] = {
      {16, {0, 2, 1, 3}},
      {33, {0, 4, 2, 6, 1, 5, 3, 7}},
      {64, {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15}},
  };
  for (const auto& c : cases) {
    auto plan = make_plan(c.n);
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->bitrev_size, int(c.table.size())) << c.n;
    EXPECT_EQ(std::vector<int>(plan->bitrev, plan->bitrev + plan->bitrev_size), c.table);
  }
  auto p256 = make_plan(256), p257 = make_plan(257);
  ASSERT_EQ(p256->bitrev_size, 64);
  ASSERT_EQ(p257->bitrev_size, 64);
  for (int i = 0; i < 64; ++i) {
    int rev = 0;
    for (int b = 0; b < 6; ++b) rev |= ((i >> b) & 1) << (5 - b);
    EXPECT_EQ(p256->bitrev[i], rev);
  }
  EXPECT_EQ(fftf_plan_create(0), nullptr);
  EXPECT_EQ(fftf_plan_create(-5), nullptr);
}

TEST(FloatFftPlan, OnlyA256PlanRunsThe256PointTransforms) {
  std::vector<float> frame(256 * 256, 1.0f), re(256 * 129), im(256 * 129);
  auto p257 = make_plan(257);
  EXPECT_EQ(fftf_forward256(p257.get(), frame.data(), re.data(), im.data()), ML_WRONG_KIND);
  EXPECT_EQ(fftf_inverse256(p257.get(), re.data(), im.data(), frame.data()), ML_WRONG_KIND);
  EXPECT_EQ(fftfilt_float256_sized(frame.data(), frame.data(), 128, 256, nullptr, nullptr), ML_WRONG_KIND);
}

TEST(FloatFft, ForwardIsTheDftOver256AndInverseRestoresTheFrame) {
  auto plan = make_plan(256);
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> d(-100, 100);
  std::vector<float> frame(256 * 256), re(256 * 129), im(256 * 129), back(256 * 256);
  for (auto& v : frame) v = d(rng);
  ASSERT_EQ(fftf_forward256(plan.get(), frame.data(), re.data(), im.data()), ML_OK);
  // A few coefficients against the direct sum.
  for (auto [u, k] : {std::pair{0, 0}, {1, 0}, {0, 128}, {255, 3}, {17, 100}, {128, 128}}) {
    std::complex<double> acc = 0;
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x)
        acc += double(frame[y * 256 + x]) * std::polar(1.0, -2 * M_PI * ((u * y + k * x) % 256) / 256);
    acc /= 256.0;
    EXPECT_NEAR(re[u * 129 + k], acc.real(), 1e-2) << u << "," << k;
    EXPECT_NEAR(im[u * 129 + k], acc.imag(), 1e-2) << u << "," << k;
  }
  ASSERT_EQ(fftf_inverse256(plan.get(), re.data(), im.data(), back.data()), ML_OK);
  for (int i = 0; i < 256 * 256; ++i) ASSERT_NEAR(back[i], frame[i], 1e-3) << i;
}

void halve_cb(float* re, float* im, int rows, int columns, void* user) {
  *static_cast<int*>(user) = rows * 1000 + columns;
  for (int i = 0; i < rows * (columns / 2 + 1); ++i) re[i] *= 0.5f, im[i] *= 0.5f;
}

TEST(FloatFft, FilterPathHandsTheCallbackTheWholeHalfSpectrum) {
  std::vector<float> in(256 * 256), out(256 * 256);
  for (int i = 0; i < 256 * 256; ++i) in[i] = float(i % 251);
  int seen = 0;
  ASSERT_EQ(fftfilt_float256_sized(out.data(), in.data(), 256, 256, halve_cb, &seen), ML_OK);
  EXPECT_EQ(seen, 256256);
  for (int i = 0; i < 256 * 256; i += 97) ASSERT_NEAR(out[i], in[i] * 0.5f, 1e-3);
}

}  // namespace

namespace {

TEST(FloatFftFilter16, RefusesOtherFramesAndImagesLargerThanTheFrame) {
  std::vector<uint16_t> img(300 * 300, 1000), dst(300 * 300);
  struct Case {
    int h, w, fr, fc, status;
  };
  for (Case c : {Case{100, 100, 128, 128, 1}, Case{100, 100, 256, 255, 1},
                 Case{300, 100, 256, 256, 2}, Case{0, 100, 256, 256, 2}}) {
    EXPECT_EQ(fftfilt_run_float_u16(dst.data(), img.data(), c.h, c.w, c.fr, c.fc, nullptr, nullptr),
              c.status)
        << c.h << "x" << c.w << " in " << c.fr << "x" << c.fc;
  }
}

TEST(FloatFftFilter16, UnchangedSpectrumGivesTheImageBack) {
  std::vector<uint16_t> img(200 * 150), dst(200 * 150);
  for (int i = 0; i < 200 * 150; ++i) img[i] = uint16_t((i * 37) % 60000);
  ASSERT_EQ(fftfilt_run_float_u16(dst.data(), img.data(), 200, 150, 256, 256, nullptr, nullptr), ML_OK);
  for (int i = 0; i < 200 * 150; ++i) ASSERT_NEAR(dst[i], img[i], 1) << i;
}

}  // namespace
