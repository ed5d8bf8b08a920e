#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "zylscan/rectify.h"

namespace {

constexpr int kW = 300, kH = 400, kFrameW = 800, kFrameH = 600;

// A parameter block with points 1, 3, 5, 7 (x, y in half pixels).
std::array<unsigned char, 256> Block(const std::array<int, 8>& points) {
  std::array<unsigned char, 256> b{};
  for (int i = 0; i < 256; ++i) b[i] = static_cast<unsigned char>(i * 13);
  const int slots[4] = {1, 3, 5, 7};
  for (int k = 0; k < 4; ++k) {
    unsigned char* at = &b[36 + 4 * slots[k]];
    at[0] = static_cast<unsigned char>(points[2 * k] >> 8);
    at[1] = static_cast<unsigned char>(points[2 * k]);
    at[2] = static_cast<unsigned char>(points[2 * k + 1] >> 8);
    at[3] = static_cast<unsigned char>(points[2 * k + 1]);
  }
  return b;
}

std::vector<unsigned char> RandomFrame() {
  std::mt19937 rng(7);
  std::vector<unsigned char> f(kFrameW * kFrameH);
  for (auto& p : f) p = static_cast<unsigned char>(rng() % 255 + 1);  // never 0
  return f;
}

void Apply(const double* m, double u, double v, double& x, double& y) {
  const double w = m[2] * u + m[5] * v + m[8];
  x = (m[0] * u + m[3] * v + m[6]) / w;
  y = (m[1] * u + m[4] * v + m[7]) / w;
}

}  // namespace

TEST(Rectify, TargetSquareIsOneCentimetreAroundTheCentre) {
  RectifyPoint p[4];
  ASSERT_EQ(getSmallFourPoints(kH, kW, 500, 500, p), 0);
  const float want[4][2] = {{51.575f, 101.575f}, {248.425f, 101.575f}, {51.575f, 298.425f}, {248.425f, 298.425f}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(p[i].x, want[i][0], 1e-3);
    EXPECT_NEAR(p[i].y, want[i][1], 1e-3);
  }
  EXPECT_EQ(getSmallFourPoints(196, 300, 500, 500, p), -1) << "too low for the square";
  EXPECT_EQ(getSmallFourPoints(400, 196, 500, 500, p), -1) << "too narrow";
  EXPECT_EQ(getSmallFourPoints(400, 300, 500, 500, nullptr), -1);
}

TEST(Rectify, BigPointsAreHalvedInTheirOrder) {
  auto b = Block({10, 20, 30, 40, 50, 60, 71, 81});
  RectifyPoint p[4];
  ASSERT_EQ(getBigFourPoints(b.data(), p), 0);
  // Points 1, 3, 7, 5.
  const float want[4][2] = {{5, 10}, {15, 20}, {35.5f, 40.5f}, {25, 30}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(p[i].x, want[i][0]);
    EXPECT_EQ(p[i].y, want[i][1]);
  }
}

TEST(Rectify, MatrixHelpersInvertAndMultiply) {
  const double m[9] = {2, 0, 0.001, 1, 3, 0.002, 5, 7, 1};
  double inv[9], product[9];
  matrixInversion(inv, m);
  matrixMultiplication(product, m, inv);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(product[i], i % 4 == 0 ? 1.0 : 0.0, 1e-12) << i;
  // A singular matrix is divided by 1 instead of 0.
  const double singular[9] = {1, 2, 3, 2, 4, 6, 1, 1, 1};
  matrixInversion(inv, singular);
  for (double v : inv) EXPECT_TRUE(std::isfinite(v));
  // The unit square onto a parallelogram is affine.
  double s[9];
  squareToQuadrilateral(s, 1, 1, 3, 1, 4, 2, 2, 2);
  const double affine[9] = {2, 0, 0, 1, 1, 0, 1, 1, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(s[i], affine[i]) << i;
}

TEST(Rectify, TransformTakesEachTargetCornerToItsSourcePoint) {
  RectifyPoint target[4], source[4];
  ASSERT_EQ(getSmallFourPoints(kH, kW, 500, 500, target), 0);
  auto b = Block({120, 210, 500, 190, 520, 600, 90, 610});
  ASSERT_EQ(getBigFourPoints(b.data(), source), 0);
  double h[9];
  ASSERT_EQ(getPerspectiveTransform(h, 1000000.0f, target, source), 0);
  EXPECT_EQ(h[8], 1000000.0);
  for (int i = 0; i < 4; ++i) {
    double x, y;
    Apply(h, target[i].x, target[i].y, x, y);
    EXPECT_NEAR(x, source[i].x, 1e-6) << i;
    EXPECT_NEAR(y, source[i].y, 1e-6) << i;
  }
  double q[9];
  const double a[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  const double bq[8] = {10, 20, 30, 20, 10, 50, 30, 50};
  quadrilateralToQuadrilateral(q, a, bq);
  double x, y;
  Apply(q, 1, 1, x, y);
  EXPECT_NEAR(x, 30, 1e-9);
  EXPECT_NEAR(y, 50, 1e-9);
}

TEST(Rectify, IdentityCalibrationFlipsTheFrame) {
  auto frame = RandomFrame();
  // Target corners in half pixels, to the nearest integer.
  auto b = Block({103, 203, 497, 203, 497, 597, 103, 597});
  std::vector<unsigned char> out(kW * kH, 0);
  ASSERT_EQ(FPDEV_ReadFM_ImgRectifyWithInWH_MCU(frame.data(), kFrameW, kFrameH, out.data(), b.data(), kW, kH), 0);
  for (int i = 0; i < kH; ++i)
    for (int j = 0; j < kW; ++j)
      ASSERT_EQ(out[i * kW + j], frame[(599 - i) * kFrameW + j]) << i << "," << j;
}

TEST(Rectify, ExactIdentityTransformSamplesEachPixel) {
  RectifyPoint t[4];
  ASSERT_EQ(getSmallFourPoints(kH, kW, 500, 500, t), 0);
  double h[9];
  ASSERT_EQ(getPerspectiveTransform(h, 1000000.0f, t, t), 0);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(h[i], i % 4 == 0 ? 1e6 : 0.0, 1e-3) << i;
  auto frame = RandomFrame();
  std::vector<unsigned char> out(kW * kH, 0);
  ASSERT_EQ(convertBigImage2SmallImage(frame.data(), kFrameH, kFrameW, out.data(), kH, kW, h), 0);
  for (int i = 0; i < kH; ++i)
    for (int j = 0; j < kW; ++j) ASSERT_EQ(out[i * kW + j], frame[i * kFrameW + j]);
}

TEST(Rectify, PixelsWithoutSourceStayZero) {
  auto frame = RandomFrame();
  // The identity calibration moved 650 pixels right: output column j comes
  // from frame column j + 650, so columns from 150 on have no source.
  auto shifted = Block({1403, 203, 1797, 203, 1797, 597, 1403, 597});
  std::vector<unsigned char> out(kW * kH, 0);
  ASSERT_EQ(FPDEV_ReadFM_ImgRectifyWithInWH_MCU(frame.data(), kFrameW, kFrameH, out.data(), shifted.data(), kW, kH), 0);
  for (int i = 0; i < kH; ++i)
    for (int j = 0; j < kW; ++j) {
      const int want = j < 150 ? frame[(599 - i) * kFrameW + j + 650] : 0;
      ASSERT_EQ(out[i * kW + j], want) << i << "," << j;
    }
}

TEST(Rectify, SmallProjectiveCoefficientTruncatesToZero) {
  auto frame = RandomFrame();
  const double affine[9] = {1e6, 0, 0, 0, 1e6, 0, 0, 0, 1e6};
  const double tiny[9] = {1e6, 0, 0.9, 0, 1e6, -0.9, 0, 0, 1e6};  // 9e-7 before scaling
  std::vector<unsigned char> a(kW * kH, 0), b(kW * kH, 0);
  ASSERT_EQ(convertBigImage2SmallImage(frame.data(), kFrameH, kFrameW, a.data(), kH, kW, affine), 0);
  ASSERT_EQ(convertBigImage2SmallImage(frame.data(), kFrameH, kFrameW, b.data(), kH, kW, tiny), 0);
  EXPECT_EQ(a, b);
}

TEST(Rectify, UnusableTransformsFailWithoutWriting) {
  auto frame = RandomFrame();
  std::vector<unsigned char> out(kW * kH, 7);
  const double nan = std::nan("");
  const double bad[][9] = {
      {nan, 0, 0, 0, 1e6, 0, 0, 0, 1e6},
      {1e6, 0, 0, 0, 1e6, 0, 0, 0, INFINITY},
      {3e9, 0, 0, 0, 1e6, 0, 0, 0, 1e6},
  };
  for (const auto& m : bad) EXPECT_EQ(convertBigImage2SmallImage(frame.data(), kFrameH, kFrameW, out.data(), kH, kW, m), -1);
  // Three calibration points on one line make the projective terms infinite.
  auto collinear = Block({10, 10, 20, 0, 60, 0, 40, 0});
  EXPECT_EQ(FPDEV_ReadFM_ImgRectifyWithInWH_MCU(frame.data(), kFrameW, kFrameH, out.data(), collinear.data(), kW, kH), -1);
  for (auto v : out) ASSERT_EQ(v, 7);
  EXPECT_EQ(FPDEV_ReadFM_ImgRectifyWithInWH_MCU(nullptr, kFrameW, kFrameH, out.data(), collinear.data(), kW, kH), -1);
  EXPECT_EQ(FPDEV_ReadFM_ImgRectifyWithInWH_MCU(frame.data(), kFrameW, kFrameH, out.data(), collinear.data(), 100, 100), -1);
}

TEST(Rectify, ZeroDenominatorPixelsAreSkipped) {
  auto frame = RandomFrame();
  // den = 1e6 - 1e4 * j is 0 at column 100.
  const double m[9] = {1e6, 0, -1e4, 0, 1e6, 0, 0, 0, 1e6};
  std::vector<unsigned char> out(kW * kH, 0);
  ASSERT_EQ(convertBigImage2SmallImage(frame.data(), kFrameH, kFrameW, out.data(), kH, kW, m), 0);
  for (int i = 0; i < kH; ++i) {
    EXPECT_EQ(out[i * kW + 100], 0);
  }
  // An all-zero calibration block maps every pixel to a corner of the frame:
  // the denominator is 0 along output row 200 and negative below it, where
  // the rounding rule adds 1 to a zero quotient.
  std::array<unsigned char, 256> zero{};
  std::fill(out.begin(), out.end(), 0);
  ASSERT_EQ(FPDEV_ReadFM_ImgRectifyWithInWH_MCU(frame.data(), kFrameW, kFrameH, out.data(), zero.data(), kW, kH), 0);
  for (int i = 0; i < kH; ++i)
    for (int j = 0; j < kW; ++j) {
      const int want = i < 200 ? frame[599 * kFrameW] : i == 200 ? 0 : frame[598 * kFrameW + 1];
      ASSERT_EQ(out[i * kW + j], want) << i << "," << j;
    }
}
