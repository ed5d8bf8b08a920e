// 0/1 image frames, pair smoothing, closing and packing.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_bilevel.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_object.h"

namespace {

TEST(Bilevel, FrameSetsRowsAndColumnsAndClipsToTheImage) {
  const int h = 5, w = 6;
  std::vector<uint8_t> img(h * w, 0);
  ASSERT_EQ(bilevel_set_border(img.data(), h, w, 1, 2, 1, 2), ML_OK);
  const char* expected[] = {"111111", "100011", "100011", "111111", "111111"};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) EXPECT_EQ(img[y * w + x], expected[y][x] - '0') << y << "," << x;
  // A frame wider than the image covers the whole image and nothing more.
  std::vector<uint8_t> guarded(h * w + 8, 0);
  ASSERT_EQ(bilevel_set_border(guarded.data(), h, w, 9, 9, 0, 0), ML_OK);
  for (int i = 0; i < h * w; ++i) EXPECT_EQ(guarded[i], 1);
  for (int i = h * w; i < h * w + 8; ++i) EXPECT_EQ(guarded[i], 0);
  EXPECT_EQ(bilevel_set_border(img.data(), h, w, -1, 0, 0, 0), ML_BAD_ARGUMENT);
}

TEST(Bilevel, BitFrameAlsoSetsEveryPaddingBit) {
  // Rows of 10 bits: 2 bytes; frame left 2, right 1, top 1, bottom 0.
  std::vector<uint8_t> packed(3 * 2, 0);
  ASSERT_EQ(bilevel_bits_set_border(packed.data(), 3, 10, 2, 1, 1, 0), ML_OK);
  EXPECT_EQ(packed[0], 0xFF);
  EXPECT_EQ(packed[1], 0xFF);  // bits 8, 9 of the top row and the padding 10..15
  for (int y = 1; y < 3; ++y) {
    EXPECT_EQ(packed[y * 2], 0x03) << y;      // bits 0, 1
    EXPECT_EQ(packed[y * 2 + 1], 0xFE) << y;  // bit 9, then padding 10..15
  }
}

TEST(Bilevel, PairSmoothingFlipsLonePixelsAboveQuality15) {
  for (int q : {15, 16}) {
    const int h = 5, w = 5;
    std::vector<uint8_t> first(h * w, 1), second(h * w, 0), quality(h * w, q);
    first[12] = 0;
    second[12] = 1;
    ASSERT_EQ(bilevel_smooth_pair(first.data(), second.data(), quality.data(), h, w), ML_OK);
    EXPECT_EQ(first[12], q > 15 ? 1 : 0);
    EXPECT_EQ(second[12], q > 15 ? 0 : 1);
  }
  // Three differing neighbours suffice; two do not.
  std::vector<uint8_t> first{0, 0, 0, 0, 0,  //
                             0, 1, 1, 0, 0,  //
                             0, 1, 1, 0, 0,  //
                             0, 0, 0, 0, 0,  //
                             0, 0, 0, 0, 0};
  std::vector<uint8_t> second(25), quality(25, 200);
  for (int i = 0; i < 25; ++i) second[i] = static_cast<uint8_t>(1 - first[i]);
  auto square = first;
  ASSERT_EQ(bilevel_smooth_pair(first.data(), second.data(), quality.data(), 5, 5), ML_OK);
  EXPECT_EQ(first, square) << "a 2 x 2 square has two differing neighbours per pixel";
  for (int i = 0; i < 25; ++i) EXPECT_EQ(second[i], 1 - first[i]);
}

TEST(Bilevel, ClosingFillsALoneHoleAndKeepsTheRest) {
  const int h = 5, w = 5;
  std::vector<uint8_t> img(h * w, 1), out(h * w);
  img[12] = 0;
  ASSERT_EQ(bilevel_close3x3(img.data(), h, w, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(h * w, 1));
  std::vector<uint8_t> dot(h * w, 0);
  dot[12] = 1;
  ASSERT_EQ(bilevel_close3x3(dot.data(), h, w, dot.data()), ML_OK);
  EXPECT_EQ(dot[12], 1) << "closing keeps a lone pixel";
  EXPECT_EQ(dot[0], 0);
}

TEST(Bilevel, PackThenUnpackRoundTripsAnyWidth) {
  std::mt19937 rng(5);
  for (int w : {1, 7, 8, 9, 13, 16, 17}) {
    const int h = 3;
    std::vector<uint8_t> img(h * w);
    for (auto& p : img) p = rng() & 1;
    const int stride = (w + 7) / 8;
    std::vector<uint8_t> packed(h * stride, 0xAA), back(h * w, 7);
    ASSERT_EQ(bilevel_pack_bits(img.data(), h, w, packed.data()), ML_OK);
    ASSERT_EQ(bilevel_unpack_bits(packed.data(), h, w, back.data()), ML_OK);
    EXPECT_EQ(back, img) << w;
    for (int y = 0; y < h; ++y) {
      EXPECT_EQ((packed[y * stride] >> 7) & 1, img[y * w]) << "first pixel in bit 7";
      const int pad = stride * 8 - w;
      if (pad) {
        EXPECT_EQ(packed[y * stride + stride - 1] & ((1 << pad) - 1), 0) << "padding 0";
      }
    }
  }
}

}  // namespace
