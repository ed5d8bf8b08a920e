// Q14 sampling, the rotated box, and the pixel plane.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_sampling.h"

namespace {

constexpr int kOne = 16384;

TEST(Subpixel, BoundsTestRoundsHalvesAwayFromZero) {
  struct Case {
    int x, y, height, width, outside;
  };
  const Case cases[] = {
      {-8192, 0, 5, 5, 1},             // rounds to -1
      {-8191, 0, 5, 5, 0},             // rounds to 0
      {4 * kOne + 8191, 0, 5, 5, 0},   // rounds to 4
      {4 * kOne + 8192, 0, 5, 5, 1},   // rounds to 5
      {0, -8192, 5, 5, 1},
      {0, 4 * kOne + 8192, 5, 5, 1},
      {0, 0, 0, 5, 1},                 // empty image
      {INT32_MAX, 0, 5, 5, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(subpix_outside(c.x, c.y, c.height, c.width), c.outside) << c.x << "," << c.y;
}

TEST(Subpixel, BilinearSamplesOfTheStatedExamples) {
  const std::vector<uint8_t> row = {100, 200, 50};
  EXPECT_EQ(subpix_sample_u8(row.data(), 1, 3, 0, 0), 100);
  EXPECT_EQ(subpix_sample_u8(row.data(), 1, 3, 8192, 0), 150);
  EXPECT_EQ(subpix_sample_u8(row.data(), 1, 3, 2 * kOne, 0), 50);
  EXPECT_EQ(subpix_sample_u8(row.data(), 1, 3, 9 * kOne + 5000, 0), 50);  // past the last column
  EXPECT_EQ(subpix_sample_u8(row.data(), 1, 3, -5 * kOne, 0), 100);       // before the first
  EXPECT_EQ(subpix_sample_u8(row.data(), 1, 3, 5000, 70 * kOne), 130);    // rows clamp too
  const std::vector<uint8_t> white(4, 255);
  EXPECT_EQ(subpix_sample_u8(white.data(), 2, 2, 8000, 9000), 255);
  EXPECT_EQ(subpix_sample_u8(nullptr, 2, 2, 0, 0), 0);
  EXPECT_EQ(subpix_sample_u8(row.data(), 0, 3, 0, 0), 0);
}

TEST(Subpixel, BilinearMatchesAFloatingReferenceInsideTheImage) {
  const int h = 7, w = 9;
  std::mt19937 rng(1);
  std::vector<uint8_t> img(h * w);
  std::vector<int32_t> wide(h * w);
  for (int i = 0; i < h * w; ++i) {
    img[i] = static_cast<uint8_t>(rng());
    wide[i] = static_cast<int32_t>(rng() % 2000001) - 1000000;
  }
  for (int i = 0; i < 5000; ++i) {
    const int x = static_cast<int>(rng() % ((w - 1) * kOne));
    const int y = static_cast<int>(rng() % ((h - 1) * kOne));
    // The weights are the 8-bit fractions of the coordinates.
    const double fx = ((x >> 6) & 255) / 256.0, fy = ((y >> 6) & 255) / 256.0;
    const int c = x >> 14, r = y >> 14;
    auto mix = [&](auto& p) {
      return (1 - fy) * ((1 - fx) * p[r * w + c] + fx * p[r * w + c + 1]) +
             fy * ((1 - fx) * p[(r + 1) * w + c] + fx * p[(r + 1) * w + c + 1]);
    };
    ASSERT_NEAR(subpix_sample_u8(img.data(), h, w, x, y), mix(img), 0.5 + 1.0 / 65536);
    // Adds half, then truncates toward zero: negative samples may end 1.5 high.
    ASSERT_NEAR(subpix_sample_s32(wide.data(), h, w, x, y), mix(wide), 1.5);
    const int nc = static_cast<int>((int64_t{x} + 8192) >> 14);
    const int nr = static_cast<int>((int64_t{y} + 8192) >> 14);
    ASSERT_EQ(subpix_sample_nearest_u8(img.data(), h, w, x, y), img[nr * w + nc]);
    ASSERT_EQ(subpix_sample_nearest_s32(wide.data(), h, w, x, y), wide[nr * w + nc]);
  }
}

TEST(Subpixel, SignedSampleTruncatesTowardZero) {
  const std::vector<int32_t> row = {-3, -4};
  // v = 65536 * (-3.5) = -229376; (-229376 + 32767) / 65536 = -3 (toward zero).
  EXPECT_EQ(subpix_sample_s32(row.data(), 1, 2, 8192, 0), -3);
  EXPECT_EQ(subpix_sample_nearest_s32(row.data(), 1, 2, -9000, -9000), -3);
}

TEST(Subpixel, WhiteAndPatchMaskTests) {
  const std::vector<uint8_t> img = {255, 0, 255, 255};
  EXPECT_EQ(subpix_sample_is_white(img.data(), 2, 2, 100, 100, 100), 1);
  EXPECT_EQ(subpix_sample_is_white(img.data(), 2, 2, kOne + 100, 100, 100), 0);
  EXPECT_EQ(subpix_sample_is_white(img.data(), 2, 2, -9000, 0, 0), 0);  // outside
  EXPECT_EQ(subpix_sample_is_white(nullptr, 2, 2, 0, 0, 0), 1);
  EXPECT_EQ(subpix_sample_is_white(nullptr, 2, 2, 3 * kOne, 0, 0), 0);

  const uint8_t mask[4] = {0xFF, 0x00, 0xFF, 0xFF};
  EXPECT_EQ(subpix_in_mask(nullptr, 0, 2, kOne + 5, kOne + 5, 0), 1);
  EXPECT_EQ(subpix_in_mask(nullptr, 0, 2, 2 * kOne, 0, 0), 0);
  EXPECT_EQ(subpix_in_mask(nullptr, 0, 2, 0, -1, 0), 0);
  EXPECT_EQ(subpix_in_mask(mask, 0, 2, kOne + 5, 5, 0), 0);
  EXPECT_EQ(subpix_in_mask(mask, 0, 2, kOne + 5 + 7, kOne + 7, 7), 1);
}

TEST(Subpixel, RotatedBox) {
  struct Case {
    int h, w, dir;
    int out_h, out_w, row_off, col_off;
  };
  const Case cases[] = {
      {100, 50, 0, 101, 51, 0, 0},
      {100, 50, 64, 51, 101, 0, 100},
      {100, 50, 128, 101, 51, 100, 50},
      {100, 50, 192, 51, 101, 50, 0},
      {10, 10, 32, 15, 15, 0, 7},  // 45 degrees: diagonal 14.14, truncated parts
  };
  for (const Case& c : cases) {
    int oh = 0, ow = 0, ro = 0, co = 0;
    geom_rotated_box(c.h, c.w, c.dir, &oh, &ow, &ro, &co);
    EXPECT_EQ(oh, c.out_h) << c.dir;
    EXPECT_EQ(ow, c.out_w) << c.dir;
    EXPECT_EQ(ro, c.row_off) << c.dir;
    EXPECT_EQ(co, c.col_off) << c.dir;
  }
  geom_rotated_box(5, 5, 10, nullptr, nullptr, nullptr, nullptr);
}

TEST(PixelPlane, LayoutAndRefusals) {
  PixelPlane* p = plane_create(3, 4, 2, 10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->data, reinterpret_cast<uint8_t*>(p + 1));
  EXPECT_EQ(plane_pixel_offset(p, 2, 3), 2 * 10 + 3 * 2);
  EXPECT_EQ(plane_pixel_ptr(p, 1, 1), p->data + 12);
  std::fill(p->data, p->data + 30, 0xAB);
  plane_clear(p);
  for (int i = 0; i < 30; ++i) ASSERT_EQ(p->data[i], 0);
  plane_free(p);

  PixelPlane* packed = plane_create_packed(2, 5, 3);
  ASSERT_NE(packed, nullptr);
  EXPECT_EQ(packed->stride, 15);
  plane_free(packed);

  PixelPlane* empty = plane_create(0, 4, 1, 4);
  ASSERT_NE(empty, nullptr);
  plane_clear(empty);
  plane_free(empty);

  EXPECT_EQ(plane_create(3, 4, 2, 7), nullptr);  // stride below width * channels
  EXPECT_EQ(plane_create(-1, 4, 1, 4), nullptr);
  EXPECT_EQ(plane_create(1, -4, 1, 4), nullptr);
  EXPECT_EQ(plane_create(1, 4, -1, 4), nullptr);
  EXPECT_EQ(plane_create_packed(2, 0x40000000, 4), nullptr);  // stride overflows
  plane_free(nullptr);
}

}  // namespace
