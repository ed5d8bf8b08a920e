// Single Sobel gradients, Laplacian, 3x3 convolution, halving, decimation.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_gradient.h"
#include "zylscan/matchlib_object.h"

namespace {

std::vector<uint8_t> random_image(int h, int w, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(h) * w);
  for (auto& p : v) p = static_cast<uint8_t>(rng());
  return v;
}

TEST(Gradients, SingleSobelMapsEqualTheTwoMapForm) {
  const int h = 9, w = 13;
  const auto img = random_image(h, w, 3);
  std::vector<int8_t> gx(h * w), gy(h * w), x(h * w, 5), y(h * w, 5);
  ASSERT_EQ(filter_sobel_s8(img.data(), h, w, gx.data(), gy.data()), ML_OK);
  ASSERT_EQ(filter_sobel_x_s8(img.data(), h, w, x.data()), ML_OK);
  ASSERT_EQ(filter_sobel_y_s8(img.data(), h, w, y.data()), ML_OK);
  EXPECT_EQ(x, gx);
  EXPECT_EQ(y, gy);
}

TEST(Gradients, VerticalStepGivesFullHorizontalGradientBesideIt) {
  const int h = 5, w = 6;
  std::vector<uint8_t> img(h * w);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) img[r * w + c] = c < 3 ? 0 : 255;
  std::vector<int8_t> gx(h * w), gy(h * w);
  ASSERT_EQ(filter_sobel_x_s8(img.data(), h, w, gx.data()), ML_OK);
  ASSERT_EQ(filter_sobel_y_s8(img.data(), h, w, gy.data()), ML_OK);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const bool inner = r > 0 && r < h - 1 && c > 0 && c < w - 1;
      EXPECT_EQ(gx[r * w + c], inner && (c == 2 || c == 3) ? 127 : 0) << r << "," << c;
      EXPECT_EQ(gy[r * w + c], 0);
    }
  // Two rows: nothing inside, all 0.
  std::vector<int8_t> flat(2 * w, 9);
  ASSERT_EQ(filter_sobel_x_s8(img.data(), 2, w, flat.data()), ML_OK);
  EXPECT_EQ(flat, std::vector<int8_t>(2 * w, 0));
}

TEST(Gradients, LaplacianTruncatesTowardZero) {
  // Centre 1 among 0s: 4/8 = 0; centre 0 among 3s: -12/8 = -1.
  std::vector<uint8_t> a{0, 0, 0, 0, 1, 0, 0, 0, 0}, b{3, 3, 3, 3, 0, 3, 3, 3, 3};
  std::vector<int8_t> out(9);
  ASSERT_EQ(filter_laplace_s8(a.data(), 3, 3, out.data()), ML_OK);
  EXPECT_EQ(out[4], 0);
  ASSERT_EQ(filter_laplace_s8(b.data(), 3, 3, out.data()), ML_OK);
  EXPECT_EQ(out[4], -1);
  EXPECT_EQ(out[0], 0);
  std::vector<uint8_t> c{0, 255, 0, 255, 0, 255, 0, 255, 0};
  ASSERT_EQ(filter_laplace_s8(c.data(), 3, 3, out.data()), ML_OK);
  EXPECT_EQ(out[4], -127);
}

TEST(Conv3x3, DividesByTheAbsoluteTapsInsideTheImage) {
  const int h = 6, w = 7;
  const auto img = random_image(h, w, 11);
  const int8_t k[9] = {-1, 2, -3, 4, 9, -5, 1, 0, 2};
  std::vector<uint8_t> out(h * w);
  ASSERT_EQ(filter_conv3x3_u8(img.data(), h, w, k, out.data()), ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int s = 0, n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (y + dy < 0 || y + dy >= h || x + dx < 0 || x + dx >= w) continue;
          const int t = k[(dy + 1) * 3 + dx + 1];
          s += t * img[(y + dy) * w + x + dx];
          n += std::abs(t);
        }
      ASSERT_EQ(out[y * w + x], static_cast<uint8_t>(s / n)) << y << "," << x;
    }
  // Taps that all fall outside the image at a corner give 0 there.
  const int8_t corner_only[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(filter_conv3x3_u8(img.data(), h, w, corner_only, out.data()), ML_OK);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[w + 1], img[0]);
  EXPECT_EQ(filter_conv3x3_u8(img.data(), h, w, nullptr, out.data()), ML_BAD_ARGUMENT);
}

TEST(Halving, OddSidesAreRefusedAndEvenOnesAveraged) {
  std::vector<uint8_t> img(20, 3), out(10, 77);
  EXPECT_EQ(filter_halve2x2_u8(img.data(), 5, 4, out.data()), ML_WRONG_KIND);
  EXPECT_EQ(out, std::vector<uint8_t>(10, 77));
  ASSERT_EQ(filter_halve2x2_u8(img.data(), 4, 4, out.data()), ML_OK);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), std::vector<uint8_t>(4, 3));
  std::vector<uint8_t> block{1, 2, 3, 5};  // 11 >> 2 = 2
  ASSERT_EQ(filter_halve2x2_u8(block.data(), 2, 2, out.data()), ML_OK);
  EXPECT_EQ(out[0], 2);
}

TEST(Decimation, KeepsEvenRowsAndColumns) {
  std::vector<int8_t> img(5 * 5), out(4, 0);
  for (int i = 0; i < 25; ++i) img[i] = static_cast<int8_t>(i - 12);
  ASSERT_EQ(filter_decimate2_s8(img.data(), 5, 5, out.data()), ML_OK);
  EXPECT_EQ(out, (std::vector<int8_t>{-12, -10, -2, 0}));
  std::vector<int8_t> untouched(4, 9);
  ASSERT_EQ(filter_decimate2_s8(img.data(), 5, 1, untouched.data()), ML_OK);
  EXPECT_EQ(untouched, std::vector<int8_t>(4, 9));
}

}  // namespace
