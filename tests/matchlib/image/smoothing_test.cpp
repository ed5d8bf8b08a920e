// 3x3 smoothing kernels against a brute-force clipped-window reference in
// every element type, in place and not, and the known answers of the
// weighted, range-limited and sample-fill members.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"

namespace {

template <class T>
std::vector<T> random_pixels(int h, int w, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int64_t> d(std::numeric_limits<T>::min(),
                                           std::numeric_limits<T>::max());
  std::vector<T> v(static_cast<size_t>(h) * w);
  for (auto& p : v) p = static_cast<T>(d(rng));
  return v;
}

// Clipped window with weights centre c, sides 1, divided by the weight
// left inside, truncating toward zero.
template <class T>
std::vector<T> reference(const std::vector<T>& img, int h, int w, int c) {
  std::vector<T> out(img.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int64_t s = 0, n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int yy = y + dy, xx = x + dx;
          if (yy < 0 || yy >= h || xx < 0 || xx >= w) continue;
          const int64_t k = (dy ? 1 : c) * (dx ? 1 : c);
          s += k * img[yy * w + xx];
          n += k;
        }
      out[y * w + x] = static_cast<T>(s / n);
    }
  return out;
}

template <class T>
void check_family(int (*box)(const T*, int, int, T*), int (*binomial)(const T*, int, int, T*)) {
  for (auto [h, w] : {std::pair{2, 2}, {2, 3}, {3, 3}, {5, 17}, {16, 9}, {1, 6}, {6, 1}}) {
    const auto img = random_pixels<T>(h, w, static_cast<unsigned>(h * 31 + w));
    for (int centre : {1, 2}) {
      auto fn = centre == 1 ? box : binomial;
      const auto expected = reference(img, h, w, centre);
      std::vector<T> out(img.size());
      ASSERT_EQ(fn(img.data(), h, w, out.data()), ML_OK);
      EXPECT_EQ(out, expected) << h << "x" << w << " centre " << centre;
      auto in_place = img;
      ASSERT_EQ(fn(in_place.data(), h, w, in_place.data()), ML_OK);
      EXPECT_EQ(in_place, expected) << "in place " << h << "x" << w;
    }
  }
}

TEST(Smoothing3x3, BoxAndBinomialMatchClippedReferenceInEveryType) {
  check_family<uint8_t>(filter_box3x3_u8, filter_binomial3x3_u8);
  check_family<uint16_t>(filter_box3x3_u16, filter_binomial3x3_u16);
  check_family<int8_t>(filter_box3x3_s8, filter_binomial3x3_s8);
  check_family<int16_t>(filter_box3x3_s16, filter_binomial3x3_s16);
  check_family<int32_t>(filter_box3x3_s32, filter_binomial3x3_s32);
}

TEST(Smoothing3x3, SignedMeansTruncateTowardZero) {
  struct Case {
    std::vector<int8_t> img;  // 2 x 2: every pixel is a corner
    int8_t box_corner0;
  };
  const Case cases[] = {
      {{-2, -2, -2, -2}, -2},  // -8 / 4
      {{-2, -1, -1, -1}, -1},  // -5 / 4 is -1, not -2
      {{-1, -1, -1, -1}, -1},
  };
  for (const auto& c : cases) {
    std::vector<int8_t> out(4);
    ASSERT_EQ(filter_box3x3_s8(c.img.data(), 2, 2, out.data()), ML_OK);
    EXPECT_EQ(out[0], c.box_corner0);
  }
  std::vector<int8_t> minus_one(9, -1), out(9);
  ASSERT_EQ(filter_box3x3_s8(minus_one.data(), 3, 3, out.data()), ML_OK);
  EXPECT_EQ(out, minus_one);
  // A binomial corner of 2 x 2 divides by 9: (4*-3 + 2*0 + 2*0 + 0) / 9 = -1.
  std::vector<int8_t> corner{-3, 0, 0, 0};
  ASSERT_EQ(filter_binomial3x3_s8(corner.data(), 2, 2, out.data()), ML_OK);
  EXPECT_EQ(out[0], -1);
}

TEST(Smoothing3x3, RefusesBadArguments) {
  uint8_t px[4] = {};
  EXPECT_EQ(filter_binomial3x3_u8(nullptr, 2, 2, px), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_binomial3x3_u8(px, -1, 2, px), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_box3x3_u16(nullptr, 2, 2, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_binomial3x3_u8(px, 0, 0, px), ML_OK);
}

TEST(WeightedMean3x3, WeighsInnerRowsAndTakesBoxMeanOnFirstAndLast) {
  const int h = 4, w = 3;
  const std::vector<uint8_t> img{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
  std::vector<uint8_t> weights(12, 0), out(12);
  ASSERT_EQ(filter_weighted_mean3x3_u8(img.data(), h, w, weights.data(), out.data()), ML_OK);
  // Row 0: corner (10+20+40+50)/4 = 30, edge (10+20+30+40+50+60)/6 = 35.
  EXPECT_EQ(out[0], 30);
  EXPECT_EQ(out[1], 35);
  EXPECT_EQ(out[11], (80 + 90 + 110 + 120) / 4);
  for (int i = 3; i < 9; ++i) EXPECT_EQ(out[i], 0) << "all weights 0 inside";
  // One weight alone picks that pixel for every window that holds it.
  weights[4] = 7;
  ASSERT_EQ(filter_weighted_mean3x3_u8(img.data(), h, w, weights.data(), out.data()), ML_OK);
  for (int i = 3; i < 9; ++i) EXPECT_EQ(out[i], 50);

  // The unsigned 16-bit member stores signed 16-bit means; in place works
  // for types of the same size.
  std::vector<uint16_t> big{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000};
  std::vector<uint8_t> ones(9, 1);
  std::vector<int16_t> means(9);
  ASSERT_EQ(filter_weighted_mean3x3_u16(big.data(), 3, 3, ones.data(), means.data()), ML_OK);
  EXPECT_EQ(means[4], 5000);
  EXPECT_EQ(means[3], (1000 + 2000 + 4000 + 5000 + 7000 + 8000) / 6);
  std::vector<uint32_t> wide{4000000000u, 0, 0, 0};
  std::vector<int32_t> wide_out(4);
  ASSERT_EQ(filter_weighted_mean3x3_u32(wide.data(), 2, 2, ones.data(), wide_out.data()), ML_OK);
  EXPECT_EQ(wide_out[0], 1000000000);
  std::vector<int8_t> s{-9, -9, -9, -9, -9, -9, -9, -9, -8};
  std::vector<int8_t> s_out(9);
  ASSERT_EQ(filter_weighted_mean3x3_s8(s.data(), 3, 3, ones.data(), s_out.data()), ML_OK);
  EXPECT_EQ(s_out[4], -8);  // -80 / 9 toward zero
  EXPECT_EQ(filter_weighted_mean3x3_s8(s.data(), 1, 9, ones.data(), s_out.data()),
            ML_BAD_ARGUMENT);
}

TEST(SigmaMean, ToleranceSelectsTheAveragedPixels) {
  const int h = 5, w = 6;
  const auto img = random_pixels<uint8_t>(h, w, 7);
  std::vector<uint8_t> out(img.size());
  ASSERT_EQ(filter_sigma_mean_u8(img.data(), h, w, 2, 0, out.data()), ML_OK);
  EXPECT_EQ(out, img) << "tolerance 0 keeps every pixel";
  // Only the low bytes count: radius 0x101 is radius 1, tolerance 0x100 is 0.
  ASSERT_EQ(filter_sigma_mean_u8(img.data(), h, w, 0x101, 0x100, out.data()), ML_OK);
  EXPECT_EQ(out, img);

  // Brute force with the 255 margin.
  for (int radius : {1, 2}) {
    for (int tol : {10, 60, 255}) {
      ASSERT_EQ(filter_sigma_mean_u8(img.data(), h, w, radius, tol, out.data()), ML_OK);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int c = img[y * w + x];
          int sum = 0, n = 0;
          for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx) {
              const int yy = y + dy, xx = x + dx;
              const int v = (yy < 0 || yy >= h || xx < 0 || xx >= w) ? 255 : img[yy * w + xx];
              if (std::abs(v - c) <= tol) sum += v, ++n;
            }
          ASSERT_EQ(out[y * w + x], sum / n) << y << "," << x;
        }
    }
  }
  // A border pixel of a dark image takes the margin in with tolerance 255:
  // corner of 2 x 2 zeros, radius 1: four zeros and five 255s.
  std::vector<uint8_t> zeros(4, 0), z(4);
  ASSERT_EQ(filter_sigma_mean_u8(zeros.data(), 2, 2, 1, 255, z.data()), ML_OK);
  EXPECT_EQ(z[0], 5 * 255 / 9);
  // A framed size past 32 bits is refused before anything is allocated.
  EXPECT_EQ(filter_sigma_mean_u8(zeros.data(), 70000, 70000, 1, 1, z.data()), ML_BAD_ARGUMENT);
}

TEST(UpsampleFill, SamplesStayAndGapsTakeTheirNeighbourMeans) {
  struct Case {
    int h, w;
  };
  for (const Case c : {Case{5, 5}, Case{4, 6}, Case{5, 6}, Case{6, 5}, Case{2, 2}}) {
    std::mt19937 rng(c.h * 7 + c.w);
    std::vector<int8_t> img(static_cast<size_t>(c.h) * c.w, 0);
    auto sample = [&](int y, int x) { return int{img[(y & ~1) * c.w + (x & ~1)]}; };
    for (int y = 0; y < c.h; y += 2)
      for (int x = 0; x < c.w; x += 2) img[y * c.w + x] = static_cast<int8_t>(int(rng() % 256) - 128);
    std::vector<int8_t> out(img.size());
    ASSERT_EQ(filter_upsample2x_fill_s8(img.data(), c.h, c.w, out.data()), ML_OK);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        // Neighbouring samples of (y, x) that lie inside the image.
        int sum = 0, n = 0;
        for (int sy : {y & ~1, (y & 1) ? y + 1 : -1})
          for (int sx : {x & ~1, (x & 1) ? x + 1 : -1}) {
            if (sy < 0 || sx < 0 || sy >= c.h || sx >= c.w) continue;
            sum += sample(sy, sx);
            ++n;
          }
        ASSERT_EQ(out[y * c.w + x], sum / n) << c.h << "x" << c.w << " at " << y << "," << x;
      }
  }
}

}  // namespace
