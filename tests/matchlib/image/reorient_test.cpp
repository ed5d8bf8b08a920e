// Reorientation codes, rotations and pasting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_reorient.h"

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

TEST(Reorient, EveryCodeOnTwoByThree) {
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};
  struct Case { int code; std::vector<uint8_t> expected; } cases[] = {
      {0, {1, 2, 3, 4, 5, 6}}, {1, {3, 2, 1, 6, 5, 4}}, {2, {4, 5, 6, 1, 2, 3}},
      {3, {6, 5, 4, 3, 2, 1}}, {4, {4, 1, 5, 2, 6, 3}}, {5, {3, 6, 2, 5, 1, 4}},
      {17, {1, 2, 3, 4, 5, 6}}};
  for (const auto& c : cases) {
    std::vector<uint8_t> out(6, 0);
    EXPECT_EQ(img_flip_rotate_u8(src, 2, 3, c.code, out.data()), ML_OK);
    EXPECT_EQ(out, c.expected) << c.code;
  }
  uint8_t out[6] = {};
  EXPECT_EQ(img_flip_rotate_u8(nullptr, 2, 3, 1, out), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_flip_rotate_u8(src, 2, 3, 1, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_flip_rotate_u8(src, 0, 3, 1, out), ML_OK);
}

TEST(Rotate, QuarterTurnsAreExactWithTheirOrigins) {
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};
  struct Case { int angle, h, w, row, col; std::vector<uint8_t> expected; } cases[] = {
      {0, 2, 3, 0, 0, {1, 2, 3, 4, 5, 6}}, {64, 3, 2, 0, 1, {4, 1, 5, 2, 6, 3}},
      {128, 2, 3, 1, 2, {6, 5, 4, 3, 2, 1}}, {192, 3, 2, 2, 0, {3, 6, 2, 5, 1, 4}},
      {256 + 64, 3, 2, 0, 1, {4, 1, 5, 2, 6, 3}}};
  for (const auto& c : cases) {
    uint8_t* buf = nullptr;
    int h = 0, w = 0, r = -1, col = -1;
    ASSERT_EQ(img_rotate_u8(src, 2, 3, c.angle, &buf, &h, &w, &r, &col), ML_OK);
    std::unique_ptr<uint8_t, FreeDeleter> own(buf);
    EXPECT_EQ(h, c.h);
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(r, c.row);
    EXPECT_EQ(col, c.col);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 6), c.expected) << c.angle;
    // The nearest member takes the same shortcut.
    uint8_t* nbuf = nullptr;
    ASSERT_EQ(img_rotate_nearest_u8(src, 2, 3, c.angle, 0, &nbuf, &h, &w, &r, &col), ML_OK);
    std::unique_ptr<uint8_t, FreeDeleter> nown(nbuf);
    EXPECT_EQ(std::vector<uint8_t>(nbuf, nbuf + 6), c.expected);
    // The signed member goes through the general formula, exact at quarter
    // turns, in the box of the general rotation (one row and column larger).
    int8_t* sbuf = nullptr;
    ASSERT_EQ(img_rotate_nearest_s8(reinterpret_cast<const int8_t*>(src), 2, 3, c.angle, -1, &sbuf, &h, &w, &r, &col), ML_OK);
    std::unique_ptr<int8_t, FreeDeleter> sown(sbuf);
    const int turn = (c.angle & 255) / 64;
    const int cs[4] = {1, 0, -1, 0}, sn[4] = {0, 1, 0, -1};
    int filled = 0;
    for (int k = 0; k < h * w; ++k) filled += sbuf[k] != -1;
    EXPECT_EQ(filled, 6);
    for (int Y = 0; Y < 2; ++Y)
      for (int X = 0; X < 3; ++X) {
        const int row = r + X * sn[turn] + Y * cs[turn], column = col + X * cs[turn] - Y * sn[turn];
        ASSERT_TRUE(row >= 0 && row < h && column >= 0 && column < w);
        EXPECT_EQ(sbuf[row * w + column], src[Y * 3 + X]) << c.angle;
      }
  }
}

TEST(Rotate, EighthTurnOfConstantImageKeepsInsideAndWhitensCorners) {
  std::vector<uint8_t> src(40 * 40, 100);
  uint8_t* buf = nullptr;
  int h = 0, w = 0, r = 0, c = 0;
  ASSERT_EQ(img_rotate_u8(src.data(), 40, 40, 32, &buf, &h, &w, &r, &c), ML_OK);
  std::unique_ptr<uint8_t, FreeDeleter> own(buf);
  ASSERT_GT(h, 50);
  ASSERT_GT(w, 50);
  EXPECT_EQ(buf[0], 255);
  EXPECT_EQ(buf[w - 1], 255);
  EXPECT_EQ(buf[(h - 1) * w], 255);
  EXPECT_EQ(buf[(h / 2) * w + w / 2], 100);
  int inside = 0;
  for (int k = 0; k < h * w; ++k) {
    ASSERT_TRUE(buf[k] == 100 || buf[k] == 255) << k;  // bilinear of a constant is exact
    inside += buf[k] == 100;
  }
  EXPECT_NEAR(inside, 40 * 40, 200);
  // The source's top-left pixel lands at the reported origin.
  EXPECT_EQ(buf[r * w + c], 100);
}

TEST(Rotate, BilinearSamplesFollowALinearRamp) {
  // Bilinear sampling of a linear ramp gives the ramp at the back-mapped
  // position; compare with that position in double precision.
  const int H = 9, W = 11;
  std::vector<uint8_t> src(H * W);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) src[y * W + x] = static_cast<uint8_t>(4 * x + 3 * y);
  for (int angle : {20, 100, 150, 230}) {
    uint8_t* buf = nullptr;
    int h = 0, w = 0, r0 = 0, c0 = 0;
    ASSERT_EQ(img_rotate_u8(src.data(), H, W, angle, &buf, &h, &w, &r0, &c0), ML_OK);
    std::unique_ptr<uint8_t, FreeDeleter> own(buf);
    const double a = 2 * M_PI * angle / 256, c = std::cos(a), s = std::sin(a);
    int checked = 0;
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) {
        const double x = (j - c0) * c + (i - r0) * s, y = -(j - c0) * s + (i - r0) * c;
        const uint8_t v = buf[i * w + j];
        if (x > 0.01 && y > 0.01 && x < W - 1.01 && y < H - 1.01) {
          ASSERT_NE(v, 255) << angle << " " << i << "," << j;
          EXPECT_NEAR(v, 4 * x + 3 * y, 1.5) << angle;
          ++checked;
        } else if (x < -0.01 || y < -0.01 || x > W - 0.99 || y > H - 0.99) {
          EXPECT_EQ(v, 255) << angle << " " << i << "," << j;
        }
      }
    EXPECT_GT(checked, (H - 2) * (W - 2) / 2);
  }
}

TEST(Rotate, RefusesEmptyImagesAndMissingOutput) {
  const uint8_t src[4] = {1, 2, 3, 4};
  uint8_t* buf = reinterpret_cast<uint8_t*>(1);
  int h, w, r, c;
  EXPECT_EQ(img_rotate_u8(src, 0, 2, 10, &buf, &h, &w, &r, &c), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_rotate_u8(src, 2, 2, 10, nullptr, &h, &w, &r, &c), ML_BAD_ARGUMENT);
  EXPECT_EQ(img_rotate_nearest_u8(nullptr, 2, 2, 10, 0, &buf, &h, &w, &r, &c), ML_BAD_ARGUMENT);
  // A source one pixel wide has no bilinear neighbours: all background.
  ASSERT_EQ(img_rotate_u8(src, 4, 1, 20, &buf, &h, &w, &r, &c), ML_OK);
  std::unique_ptr<uint8_t, FreeDeleter> own(buf);
  for (int k = 0; k < h * w; ++k) EXPECT_EQ(buf[k], 255);
}

TEST(Paste, KeyClippingAndAverage) {
  const uint8_t src[4] = {10, 255, 30, 40};
  struct Case { int x, y, key; std::vector<uint8_t> expected; } cases[] = {
      {1, 1, 255, {0, 0, 0, 0, 10, 0, 0, 30, 40}},     // white is transparent
      {1, 1, 256, {0, 0, 0, 0, 10, 255, 0, 30, 40}},   // every value copied
      {-1, 0, 256, {255, 0, 0, 40, 0, 0, 0, 0, 0}},    // negative column clipped
      {2, 2, 256, {0, 0, 0, 0, 0, 0, 0, 0, 10}},       // bottom-right corner clipped
      {5, 0, 256, {0, 0, 0, 0, 0, 0, 0, 0, 0}},        // fully outside
      {0, 0, 10, {0, 255, 0, 30, 40, 0, 0, 0, 0}},     // key 10 transparent
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> dst(9, 0);
    img_paste_keyed_u8(dst.data(), 3, 3, src, 2, 2, c.x, c.y, c.key);
    EXPECT_EQ(dst, c.expected) << c.x << "," << c.y << " key " << c.key;
  }
  std::vector<uint8_t> dst(9, 100);
  img_paste_average_u8(dst.data(), 3, 3, src, 2, 2, 0, 0, 255);
  EXPECT_EQ(dst, (std::vector<uint8_t>{55, 100, 100, 65, 70, 100, 100, 100, 100}));
}

TEST(RowPointers, BaseAndStride) {
  uint64_t t[3];
  img_row_pointers(0x1000, 3, 0x40, t);
  EXPECT_EQ(t[0], 0x1000u);
  EXPECT_EQ(t[2], 0x1080u);
}

}  // namespace
