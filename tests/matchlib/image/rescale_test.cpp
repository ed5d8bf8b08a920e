#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "matchlib/image/pixel_reference.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_rescale.h"

namespace {

using zyl::test::random_pixels;

// Brute force: clipped 1-2-1 smoothing divided by the weights that exist,
// then 2x2 means of the smoothed values, all divisions toward zero.
template <class T>
std::vector<T> reference_halve(const std::vector<T>& src, int h, int w, bool even_fast_path) {
  std::vector<T> s(src.size());
  const bool plain = even_fast_path && h % 2 == 0 && w % 2 == 0;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      if (plain) {
        s[r * w + c] = src[r * w + c];
        continue;
      }
      int sum = 0, wsum = 0;
      for (int y = r - 1; y <= r + 1; ++y)
        for (int x = c - 1; x <= c + 1; ++x) {
          if (y < 0 || y >= h || x < 0 || x >= w) continue;
          const int k = (y == r ? 2 : 1) * (x == c ? 2 : 1);
          sum += k * src[y * w + x];
          wsum += k;
        }
      s[r * w + c] = static_cast<T>(sum / wsum);
    }
  std::vector<T> out((h / 2) * (w / 2));
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      const int sum = s[2 * y * w + 2 * x] + s[2 * y * w + 2 * x + 1] + s[(2 * y + 1) * w + 2 * x] +
                      s[(2 * y + 1) * w + 2 * x + 1];
      out[y * (w / 2) + x] = static_cast<T>(sum / 4);
    }
  return out;
}

template <class T>
void check_halving(int (*fn)(const T*, uint32_t, uint32_t, T*), int lo, int hi, bool fast) {
  for (auto [h, w] : {std::pair{2, 2}, {5, 5}, {4, 6}, {7, 10}, {9, 3}}) {
    const auto src = random_pixels<T>(h * w, lo, hi, h * 100 + w);
    std::vector<T> out((h / 2) * (w / 2));
    ASSERT_EQ(fn(src.data(), h, w, out.data()), 0);
    EXPECT_EQ(out, reference_halve(src, h, w, fast)) << h << "x" << w;
  }
}

TEST(HalveSmooth, EveryTypeMatchesBruteForce) {
  check_halving<uint8_t>(img_halve_smooth_u8, 0, 255, true);
  check_halving<int8_t>(img_halve_smooth_s8, -128, 127, false);
  check_halving<uint16_t>(img_halve_smooth_u16, 0, 65535, false);
  check_halving<int16_t>(img_halve_smooth_s16, -32768, 32767, false);
  uint8_t px[2] = {1, 2};
  EXPECT_EQ(img_halve_smooth_u8(px, 1, 2, px), ML_BAD_ARGUMENT);
}

// The bilinear pass exactly as the resize defines it.
std::vector<uint8_t> reference_bilinear(const std::vector<uint8_t>& src, uint32_t sh, uint32_t sw,
                                        uint32_t h, uint32_t w) {
  auto taps = [](uint64_t g, uint32_t size, uint32_t& a, uint32_t& b, uint32_t& wb) {
    const uint32_t i = g >> 16, f = g & 0xFFFF;
    if (f >= 0x8000) a = i, b = i + 1, wb = (f - 0x8000) >> 8;
    else a = i - 1, b = i, wb = (f + 0x8000) >> 8;
    EXPECT_LT(a, size);
    if (b >= size) {
      EXPECT_EQ(wb, 0u);
      b = size - 1;
    }
  };
  const uint64_t sx = (uint64_t{sw - 1} << 16) / w, sy = (uint64_t{sh - 1} << 16) / h;
  std::vector<uint8_t> out(h * w);
  for (uint32_t i = 0; i < h; ++i)
    for (uint32_t j = 0; j < w; ++j) {
      uint32_t y0, y1, wy, x0, x1, wx;
      taps(sy / 2 + 0x8000 + i * sy, sh, y0, y1, wy);
      taps(sx / 2 + 0x8000 + j * sx, sw, x0, x1, wx);
      const uint64_t v = uint64_t{256 - wy} * (256 - wx) * src[y0 * sw + x0] +
                         uint64_t{256 - wy} * wx * src[y0 * sw + x1] +
                         uint64_t{wy} * (256 - wx) * src[y1 * sw + x0] +
                         uint64_t{wy} * wx * src[y1 * sw + x1];
      out[i * w + j] = static_cast<uint8_t>(v >> 16);
    }
  return out;
}

TEST(ResizeU8, ChoosesCopyHalvingAndInterpolation) {
  const uint32_t H = 40, W = 30;
  const auto src = random_pixels<uint8_t>(H * W, 0, 255, 9);
  std::vector<uint8_t> out(H * W);
  ASSERT_EQ(img_resize_u8(src.data(), H, W, out.data(), H, W), ML_OK);
  EXPECT_EQ(out, src);
  out.assign(20 * 15, 0);
  ASSERT_EQ(img_resize_u8(src.data(), H, W, out.data(), 20, 15), ML_OK);
  EXPECT_EQ(out, reference_halve(src, H, W, true));
  struct Case {
    uint32_t h, w;
  };
  // Enlargements, small reductions, one exact halving of the height only.
  for (Case c : {Case{55, 47}, Case{33, 29}, Case{20, 21}, Case{40, 1}}) {
    out.assign(c.h * c.w, 0);
    ASSERT_EQ(img_resize_u8(src.data(), H, W, out.data(), c.h, c.w), ML_OK);
    EXPECT_EQ(out, reference_bilinear(src, H, W, c.h, c.w)) << c.h << "x" << c.w;
  }
}

TEST(ResizeU8, LargeReductionsHalveFirst) {
  struct Case {
    uint32_t H, W, h, w, halvings;
  };
  for (Case c : {Case{400, 300, 100, 70, 1}, Case{401, 301, 100, 70, 1},
                 Case{400, 300, 40, 30, 3}, Case{64, 64, 7, 9, 2}}) {
    const auto src = random_pixels<uint8_t>(c.H * c.W, 0, 255, c.H);
    std::vector<uint8_t> cur = src;
    uint32_t ch = c.H, cw = c.W;
    for (uint32_t k = 0; k < c.halvings; ++k) {
      cur = reference_halve(cur, ch, cw, true);
      ch /= 2, cw /= 2;
    }
    std::vector<uint8_t> out(c.h * c.w);
    ASSERT_EQ(img_resize_u8(src.data(), c.H, c.W, out.data(), c.h, c.w), ML_OK);
    EXPECT_EQ(out, reference_bilinear(cur, ch, cw, c.h, c.w)) << c.H << "x" << c.W;
  }
}

TEST(ResizeU8, OneRowOrColumnSourcesStayInside) {
  const auto row = random_pixels<uint8_t>(9, 0, 255, 4);
  std::vector<uint8_t> out(5 * 4);
  ASSERT_EQ(img_resize_u8(row.data(), 1, 9, out.data(), 5, 4), ML_OK);
  EXPECT_EQ(out, reference_bilinear(row, 1, 9, 5, 4));
  ASSERT_EQ(img_resize_u8(row.data(), 9, 1, out.data(), 4, 5), ML_OK);
  EXPECT_EQ(out, reference_bilinear(row, 9, 1, 4, 5));
  uint8_t keep = 3;
  EXPECT_EQ(img_resize_u8(row.data(), 1, 9, &keep, 0, 4), ML_OK);
  EXPECT_EQ(keep, 3);
}

TEST(NearestResamplers, PickFlooredPositionsAndZeroBeyondTheSource) {
  const std::vector<uint8_t> src = {1, 2, 3, 4, 5, 6};  // 2 x 3
  std::vector<uint8_t> out(4 * 2);
  ASSERT_EQ(img_resize_nearest_u8(src.data(), 2, 3, out.data(), 4, 2), ML_OK);
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 1, 2, 4, 5, 4, 5}));
  const std::vector<int8_t> s8 = {-1, -2, -3, -4, -5, -6};
  std::vector<int8_t> o8(3 * 3, 9);
  ASSERT_EQ(img_scale_nearest_s8(s8.data(), 2, 3, 2, o8.data(), 3, 3, 3), ML_OK);
  // rows 0, 1, 3 and columns 0, 1, 3: row 3 and column 3 lie outside
  EXPECT_EQ(o8, (std::vector<int8_t>{-1, -2, 0, -4, -5, 0, 0, 0, 0}));
  EXPECT_EQ(img_scale_nearest_s8(s8.data(), 2, 3, 0, o8.data(), 3, 3, 3), ML_BAD_ARGUMENT);
}

TEST(Lanczos, SameSizeCopiesAndFlatStaysFlat) {
  const uint32_t H = 12, W = 17;
  const auto src = random_pixels<uint8_t>(H * W, 0, 255, 21);
  for (int a : {1, 2}) {
    std::vector<uint8_t> out(H * W);
    ASSERT_EQ(img_resize_lanczos_u8(src.data(), H, W, out.data(), H, W, a), ML_OK);
    EXPECT_EQ(out, src) << a;
    const std::vector<uint8_t> flat(H * W, 77);
    std::vector<uint8_t> big(25 * 31);
    ASSERT_EQ(img_resize_lanczos_u8(flat.data(), H, W, big.data(), 25, 31, a), ML_OK);
    for (uint8_t v : big) ASSERT_NEAR(v, 77, 1);
  }
  std::vector<uint8_t> out(4);
  EXPECT_EQ(img_resize_lanczos_u8(src.data(), H, W, out.data(), 1, 4, 2), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_resize_lanczos_u8(src.data(), H, W, out.data(), 2, 2, 3), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_resize_lanczos_u8(src.data(), H, W, out.data(), 2, 2, 0), ML_BAD_ARGUMENT);
}

TEST(EnlargeReplicate, BlocksOfFactorSize) {
  const std::vector<int8_t> src = {-1, 2, 3, -4};
  uint32_t h = 0, w = 0;
  int8_t* out = img_enlarge_replicate_s8(src.data(), 2, 2, 2, &h, &w);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(h, 4u);
  EXPECT_EQ(w, 4u);
  EXPECT_EQ(std::vector<int8_t>(out, out + 16),
            (std::vector<int8_t>{-1, -1, 2, 2, -1, -1, 2, 2, 3, 3, -4, -4, 3, 3, -4, -4}));
  std::free(out);
  EXPECT_EQ(img_enlarge_replicate_s8(src.data(), 2, 2, 0, &h, &w), nullptr);
}

TEST(ResampleTo500Dpi, SizesFollowTheResolution) {
  const uint32_t H = 40, W = 30;
  const auto src = random_pixels<uint8_t>(H * W, 0, 255, 5);
  struct Case {
    uint32_t dpi, h, w;
  };
  // d = dpi * 512 / 500: 512, 1024, 256 and 1003 (1/512 pixel).
  for (Case c : {Case{500, 39, 29}, Case{1000, 20, 15}, Case{250, 78, 58}, Case{980, 20, 15}}) {
    uint8_t* out = nullptr;
    uint32_t oh = 0, ow = 0;
    ASSERT_EQ(img_resample_to_500dpi_u8(src.data(), H, W, c.dpi, &out, &oh, &ow), ML_OK);
    EXPECT_EQ(oh, c.h) << c.dpi;
    EXPECT_EQ(ow, c.w) << c.dpi;
    if (c.dpi == 500) {
      for (uint32_t r = 0; r < oh; ++r)
        for (uint32_t x = 0; x < ow; ++x) ASSERT_EQ(out[r * ow + x], src[r * W + x]);
    }
    std::free(out);
  }
  // Half-way samples at 250 dpi: the floor of the mean for a rising pair.
  const std::vector<uint8_t> ramp = {0, 100, 0, 100};  // 2 x 2
  uint8_t* out = nullptr;
  uint32_t oh = 0, ow = 0;
  ASSERT_EQ(img_resample_to_500dpi_u8(ramp.data(), 2, 2, 250, &out, &oh, &ow), ML_OK);
  ASSERT_EQ(oh, 2u);
  ASSERT_EQ(ow, 2u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0, 50, 0, 50}));
  std::free(out);
  EXPECT_EQ(img_resample_to_500dpi_u8(ramp.data(), 2, 2, 0, &out, &oh, &ow), ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(img_resample_to_500dpi_u8(ramp.data(), 1, 2, 500, &out, &oh, &ow), ML_BAD_ARGUMENT);
}

}  // namespace
