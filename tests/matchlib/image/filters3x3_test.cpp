#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/image/pixel_reference.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_object.h"

namespace {

using zyl::test::random_pixels;

// Plain mean of the clipped window, weighted inside when weights are given.
template <class T>
std::vector<T> reference_weighted(const std::vector<T>& src, const std::vector<uint8_t>& wt,
                                  int h, int w) {
  std::vector<T> out(src.size());
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const bool plain = r == 0 || r == h - 1;
      int64_t sum = 0, ws = 0;
      for (int y = r - 1; y <= r + 1; ++y)
        for (int x = c - 1; x <= c + 1; ++x) {
          if (y < 0 || y >= h || x < 0 || x >= w) continue;
          const int64_t k = plain ? 1 : wt[y * w + x];
          sum += k * src[y * w + x];
          ws += k;
        }
      out[r * w + c] = ws ? static_cast<T>(sum / ws) : T{0};
    }
  return out;
}

TEST(WeightedMean3x3, MatchesReferenceForBothTypesAlsoInPlace) {
  for (auto [h, w] : {std::pair{2, 2}, {2, 5}, {3, 3}, {9, 14}}) {
    const auto wt = random_pixels<uint8_t>(h * w, 0, 255, h * 31 + w);
    auto s16 = random_pixels<int16_t>(h * w, -32768, 32767, 7);
    auto want16 = reference_weighted(s16, wt, h, w);
    std::vector<int16_t> out16(h * w);
    ASSERT_EQ(filter_weighted_mean3x3_s16(s16.data(), h, w, wt.data(), out16.data()), ML_OK);
    EXPECT_EQ(out16, want16);
    ASSERT_EQ(filter_weighted_mean3x3_s16(s16.data(), h, w, wt.data(), s16.data()), ML_OK);
    EXPECT_EQ(s16, want16);
    auto s32 = random_pixels<int32_t>(h * w, -2000000000, 2000000000, 8);
    auto want32 = reference_weighted(s32, wt, h, w);
    ASSERT_EQ(filter_weighted_mean3x3_s32(s32.data(), h, w, wt.data(), s32.data()), ML_OK);
    EXPECT_EQ(s32, want32);
  }
}

TEST(WeightedMean3x3, ZeroWeightsGiveZeroInsideAndEqualWeightsThePlainMean) {
  const int h = 4, w = 5;
  const auto src = random_pixels<int16_t>(h * w, -500, 500, 3);
  std::vector<uint8_t> zero(h * w, 0), same(h * w, 17);
  std::vector<int16_t> out(h * w);
  ASSERT_EQ(filter_weighted_mean3x3_s16(src.data(), h, w, zero.data(), out.data()), ML_OK);
  const auto plain = reference_weighted(src, same, h, w);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      EXPECT_EQ(out[r * w + c], (r == 0 || r == h - 1) ? plain[r * w + c] : 0);
  ASSERT_EQ(filter_weighted_mean3x3_s16(src.data(), h, w, same.data(), out.data()), ML_OK);
  EXPECT_EQ(out, plain);
  EXPECT_EQ(filter_weighted_mean3x3_s16(src.data(), 1, w, same.data(), out.data()), ML_BAD_ARGUMENT);
}

TEST(FrameMean3x3, WritesOnlyTheFrameWithTheFillOutside) {
  const uint32_t h = 5, w = 5;
  std::vector<uint8_t> src(h * w);
  for (uint32_t i = 0; i < h * w; ++i) src[i] = static_cast<uint8_t>(10 * i % 250);
  std::vector<uint8_t> out(h * w, 77);
  ASSERT_EQ(filter_frame_mean3x3_u8(src.data(), h, w, 1, 0, out.data()), ML_OK);
  int written = 0;
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t c = 0; c < w; ++c) {
      const bool border = r == 0 || c == 0 || r == h - 1 || c == w - 1;
      if (!border) {
        EXPECT_EQ(out[r * w + c], 77);
        continue;
      }
      ++written;
      int sum = 0;
      for (int y = int(r) - 1; y <= int(r) + 1; ++y)
        for (int x = int(c) - 1; x <= int(c) + 1; ++x)
          if (y >= 0 && y < int(h) && x >= 0 && x < int(w)) sum += src[y * w + x];
      EXPECT_EQ(out[r * w + c], sum / 9);
    }
  EXPECT_EQ(written, 16);
  // A fill value enters once per window position outside the image.
  ASSERT_EQ(filter_frame_mean3x3_u8(src.data(), h, w, 1, 90, out.data()), ML_OK);
  EXPECT_EQ(out[0], (src[0] + src[1] + src[5] + src[6] + 5 * 90) / 9);
  // n = 0 writes nothing; a frame that leaves no inner image is refused.
  std::vector<uint8_t> untouched(h * w, 1);
  EXPECT_EQ(filter_frame_mean3x3_u8(src.data(), h, w, 0, 0, untouched.data()), ML_OK);
  EXPECT_EQ(untouched, std::vector<uint8_t>(h * w, 1));
  EXPECT_EQ(filter_frame_mean3x3_u8(src.data(), h, w, 3, 0, out.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_frame_mean3x3_u8(src.data(), 5, 4, 2, 0, out.data()), ML_BAD_ARGUMENT);
}

TEST(FrameExtrapolate, InPlaceRingContinuesTheInnerImage) {
  std::vector<uint8_t> img = {0, 0,  0,  0,  //
                              0, 10, 20, 0,  //
                              0, 30, 40, 0,  //
                              0, 0,  0,  0};
  ASSERT_EQ(filter_frame_extrapolate_u8(img.data(), 4, 4, 1, img.data()), ML_OK);
  EXPECT_EQ(img, (std::vector<uint8_t>{10, 15, 15, 20,  //
                                       20, 10, 20, 30,  //
                                       20, 30, 40, 30,  //
                                       30, 35, 35, 40}));
  std::vector<uint8_t> wide(4 * 8, 5);
  EXPECT_EQ(filter_frame_extrapolate_u8(wide.data(), 4, 8, 2, wide.data()), ML_BAD_ARGUMENT);
  EXPECT_EQ(filter_frame_extrapolate_u8(wide.data(), 1, 8, 0, wide.data()), ML_BAD_ARGUMENT);
}

TEST(FrameExtrapolate, SeparateOutputReadsTheSourceRings) {
  // 6 x 6, n = 2: in place the outer ring comes from the new second ring;
  // into another buffer it comes from the source's own second ring.
  std::vector<uint8_t> src(36);
  for (int i = 0; i < 36; ++i) src[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> out(36);
  ASSERT_EQ(filter_frame_extrapolate_u8(src.data(), 6, 6, 2, out.data()), ML_OK);
  std::vector<uint8_t> in_place = src;
  ASSERT_EQ(filter_frame_extrapolate_u8(in_place.data(), 6, 6, 2, in_place.data()), ML_OK);
  EXPECT_EQ(out[0], src[7]);           // corner from the source's (1, 1)
  EXPECT_EQ(in_place[0], src[14]);     // (1, 1) became (2, 2) first
  EXPECT_EQ(out[7], src[14]);
  EXPECT_EQ(in_place[7], src[14]);
}

TEST(MaskedMean3x3, FullMaskSmoothsOnlyTheBorderAndEmptyMaskChangesNothing) {
  const int h = 5, w = 6;
  const auto src = random_pixels<uint8_t>(h * w, 0, 255, 11);
  std::vector<uint8_t> full(h * w, 1), none(h * w, 0), out(h * w);
  ASSERT_EQ(filter_masked_mean3x3_u8(src.data(), full.data(), h, w, out.data()), ML_OK);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      int sum = 0, n = 0;
      for (int y = r - 1; y <= r + 1; ++y)
        for (int x = c - 1; x <= c + 1; ++x)
          if (y >= 0 && y < h && x >= 0 && x < w) sum += src[y * w + x], ++n;
      const bool border = r == 0 || c == 0 || r == h - 1 || c == w - 1;
      EXPECT_EQ(out[r * w + c], border ? sum / n : src[r * w + c]);
    }
  ASSERT_EQ(filter_masked_mean3x3_u8(src.data(), none.data(), h, w, out.data()), ML_OK);
  EXPECT_EQ(out, src);
}

TEST(MaskedMean3x3, FillsNextToTheMaskAndSignedMeansTruncateTowardZero) {
  // Mask set on the left half only: the first unmasked column takes the mean
  // of its masked neighbours, columns further right keep their value.
  const int h = 3, w = 4;
  std::vector<uint16_t> src = {100, 200, 9, 9, 100, 200, 9, 9, 100, 200, 9, 9};
  std::vector<uint8_t> mask = {1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0};
  ASSERT_EQ(filter_masked_mean3x3_u16(src.data(), mask.data(), h, w, src.data()), ML_OK);
  EXPECT_EQ(src, (std::vector<uint16_t>{150, 150, 200, 9, 150, 150, 200, 9, 150, 150, 200, 9}));

  std::vector<int8_t> s8 = {-1, -2};
  std::vector<uint8_t> m2 = {1, 1};
  ASSERT_EQ(filter_masked_mean3x3_s8(s8.data(), m2.data(), 1, 2, s8.data()), ML_OK);
  EXPECT_EQ(s8, (std::vector<int8_t>{-1, -1}));
  std::vector<int16_t> s16 = {-7, 0, -8};
  std::vector<uint8_t> m3 = {1, 0, 1};
  ASSERT_EQ(filter_masked_mean3x3_s16(s16.data(), m3.data(), 1, 3, s16.data()), ML_OK);
  EXPECT_EQ(s16, (std::vector<int16_t>{-7, -7, -8}));
}

TEST(Sharpen3x3, SinglePeakAndFlatImage) {
  const int h = 5, w = 5;
  std::vector<uint8_t> img(h * w, 50), out(h * w);
  img[12] = 100;
  ASSERT_EQ(filter_sharpen3x3_u8(img.data(), h, w, 128, out.data()), ML_OK);
  EXPECT_EQ(out[12], 255);
  for (int i : {7, 11, 13, 17, 6, 8, 16, 18}) EXPECT_EQ(out[i], 0) << i;
  EXPECT_EQ(out[0], 50);
  ASSERT_EQ(filter_sharpen3x3_u8(img.data(), h, w, 0, out.data()), ML_OK);
  EXPECT_EQ(out, img);
  std::vector<uint8_t> flat(h * w, 123);
  ASSERT_EQ(filter_sharpen3x3_u8(flat.data(), h, w, 255, flat.data()), ML_OK);
  EXPECT_EQ(flat, std::vector<uint8_t>(h * w, 123));
  EXPECT_EQ(filter_sharpen3x3_u8(img.data(), 0, w, 1, out.data()), ML_BAD_ARGUMENT);
}

TEST(Sharpen3x3, SmallStepTruncatesTowardZero) {
  // A 1 x 3 row 10, 11, 10 with strength 1: the middle's d = (132 - 126) = 6,
  // 6 / 128 = 0; the sides' d = 120 - 126 = -6, -6 / 128 = 0 (not -1).
  std::vector<uint8_t> row = {10, 11, 10}, out(3);
  ASSERT_EQ(filter_sharpen3x3_u8(row.data(), 1, 3, 1, out.data()), ML_OK);
  EXPECT_EQ(out, row);
}

TEST(RowSmooth121, SelectsEvenOrOddRows) {
  struct Case {
    uint32_t h;
    uint32_t flags;
    std::vector<uint8_t> want;
  };
  // One column, rows 0, 40, 80, 120 (first h of them).
  const std::vector<Case> cases = {
      {3, 1, {20, 40, 60}},
      {3, 2, {0, 40, 80}},
      {4, 2, {0, 40, 80, 100}},
      {4, 3, {20, 40, 80, 100}},
      {4, 0, {0, 40, 80, 120}},
      {2, 1, {20, 40}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> img = {0, 40, 80, 120};
    img.resize(c.h);
    std::vector<uint8_t> out(c.h);
    ASSERT_EQ(filter_row_smooth121_u8(img.data(), c.h, 1, c.flags, out.data()), ML_OK);
    EXPECT_EQ(out, c.want) << "h " << c.h << " flags " << c.flags;
    ASSERT_EQ(filter_row_smooth121_u8(img.data(), c.h, 1, c.flags, img.data()), ML_OK);
    EXPECT_EQ(img, c.want) << "in place";
  }
  uint8_t one = 0;
  EXPECT_EQ(filter_row_smooth121_u8(&one, 1, 1, 1, &one), ML_BAD_ARGUMENT);
}

TEST(FillPits, DarkLineFilledUnlessShallowerThanTheThreshold) {
  const uint32_t h = 5, w = 6;
  std::vector<uint8_t> img(h * w, 200);
  for (uint32_t c = 0; c < w; ++c) img[2 * w + c] = 10;
  std::vector<uint8_t> out(h * w);
  ASSERT_EQ(filter_fill_pits_u8(img.data(), h, w, 40, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(h * w, 200));
  ASSERT_EQ(filter_fill_pits_u8(img.data(), h, w, 200, out.data()), ML_OK);
  EXPECT_EQ(out, img);
  // A dark dot in place; a pixel darker only across the row keeps depth 0.
  std::vector<uint8_t> dot(h * w, 100);
  dot[2 * w + 3] = 20;
  for (uint32_t r = 0; r < h; ++r) dot[r * w + 0] = 30;  // dark column: fails the vertical test
  ASSERT_EQ(filter_fill_pits_u8(dot.data(), h, w, 10, dot.data()), ML_OK);
  EXPECT_EQ(dot[2 * w + 3], 100);
  for (uint32_t r = 0; r < h; ++r) EXPECT_EQ(dot[r * w], 30);
}

}  // namespace
