// Checkerboard response and removal, open-close means, random fill.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"

namespace {

std::vector<uint8_t> checkerboard(int h, int w) {
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = (x + y) % 2 ? 0 : 255;
  return img;
}

TEST(Checker, ResponseOfAPerfectBoardAndItsRemoval) {
  const int h = 6, w = 7;
  const auto board = checkerboard(h, w);
  std::vector<int8_t> r(h * w);
  ASSERT_EQ(filter_checker_response_s8(board.data(), h, w, r.data()), ML_OK);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) EXPECT_EQ(r[y * w + x], board[y * w + x] ? 127 : -127);
  // Top edge pixel (0, 1) of value 0: (0 - 2*255 - 2*255 - 0 + 0 + 0)... by the two-row rule.
  EXPECT_EQ(r[1], (4 * 0 - 2 * 255 - 2 * 255 - 2 * 255 + 0 + 0) / 12);
  EXPECT_EQ(r[0], (2 * 255 - 0 - 0) / 4);
  EXPECT_GT(imgstat_mean_abs_s8(r.data(), h, w), 200);
  std::vector<uint8_t> out(h * w);
  ASSERT_EQ(imgproc_remove_checker(board.data(), h, w, out.data()), ML_OK);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) EXPECT_EQ(out[y * w + x], board[y * w + x] ? 128 : 127);
}

TEST(Checker, ResponseMatchesTheClippedKernelRule) {
  const int h = 5, w = 6;
  std::mt19937 rng(8);
  std::vector<uint8_t> img(h * w);
  for (auto& p : img) p = static_cast<uint8_t>(rng());
  std::vector<int8_t> r(h * w);
  ASSERT_EQ(filter_checker_response_s8(img.data(), h, w, r.data()), ML_OK);
  const int tap[3] = {1, -2, 1};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool ey = y == 0 || y == h - 1, ex = x == 0 || x == w - 1;
      if (ey && ex) continue;
      int s = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (y + dy >= 0 && y + dy < h && x + dx >= 0 && x + dx < w)
            s += tap[dy + 1] * tap[dx + 1] * img[(y + dy) * w + x + dx];
      ASSERT_EQ(r[y * w + x], s / (ey || ex ? 12 : 16)) << y << "," << x;
    }
  std::vector<uint8_t> flat(h * w, 77);
  ASSERT_EQ(filter_checker_response_s8(flat.data(), h, w, r.data()), ML_OK);
  EXPECT_EQ(imgstat_mean_abs_s8(r.data(), h, w), 0);
  EXPECT_EQ(imgstat_mean_abs_s8(r.data(), 0, w), 0);
  EXPECT_EQ(filter_checker_response_s8(flat.data(), 1, w, r.data()), ML_BAD_ARGUMENT);
}

TEST(Checker, RepeatedRemovalStopsBelowTheLimit) {
  const int h = 8, w = 8;
  std::vector<uint8_t> mild(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) mild[y * w + x] = (x + y) % 2 ? 100 : 110;
  std::vector<int8_t> r(h * w);
  ASSERT_EQ(filter_checker_response_s8(mild.data(), h, w, r.data()), ML_OK);
  const int strength = imgstat_mean_abs_s8(r.data(), h, w);
  ASSERT_GT(strength, 0);
  ASSERT_LT(strength, 255);
  std::vector<uint8_t> once(h * w), repeat(h * w);
  ASSERT_EQ(imgproc_remove_checker_repeat(mild.data(), h, w, repeat.data(), strength + 1), ML_OK);
  EXPECT_EQ(repeat, mild) << "a pattern weaker than the limit is left alone";
  ASSERT_EQ(imgproc_remove_checker(mild.data(), h, w, once.data()), ML_OK);
  ASSERT_EQ(imgproc_remove_checker_repeat(mild.data(), h, w, repeat.data(), strength), ML_OK);
  EXPECT_NE(repeat, mild);
  ASSERT_EQ(filter_checker_response_s8(repeat.data(), h, w, r.data()), ML_OK);
  EXPECT_LT(imgstat_mean_abs_s8(r.data(), h, w), strength);
}

TEST(OpenCloseMean, AveragesTheTwoOrdersOfMorphology) {
  const int h = 7, w = 9;
  std::mt19937 rng(6);
  std::vector<uint8_t> img(h * w);
  for (auto& p : img) p = static_cast<uint8_t>(rng());
  std::vector<uint8_t> open(h * w), close(h * w), oc(h * w), co(h * w), out(h * w);
  ASSERT_EQ(filter_open3x3_u8(img.data(), h, w, open.data()), ML_OK);
  ASSERT_EQ(filter_close3x3_u8(img.data(), h, w, close.data()), ML_OK);
  ASSERT_EQ(filter_close3x3_u8(open.data(), h, w, oc.data()), ML_OK);
  ASSERT_EQ(filter_open3x3_u8(close.data(), h, w, co.data()), ML_OK);
  ASSERT_EQ(imgproc_open_close_mean3x3(img.data(), h, w, out.data()), ML_OK);
  for (int i = 0; i < h * w; ++i) ASSERT_EQ(out[i], (oc[i] + co[i]) >> 1);
  auto in_place = img;
  ASSERT_EQ(imgproc_open_close_mean3x3_single(in_place.data(), h, w, in_place.data()), ML_OK);
  for (int i = 0; i < h * w; ++i) ASSERT_EQ(in_place[i], (open[i] + close[i]) >> 1);
}

TEST(FillRandom, WritesTheValueAtDrawnPositionsOnly) {
  const int h = 6, w = 5;
  std::vector<uint8_t> img(h * w, 10), out(h * w, 0);
  uint32_t state = 12345, replay = 12345;
  ASSERT_EQ(img_fill_random(img.data(), h, w, 7, 200, &state, out.data()), ML_OK);
  std::vector<uint8_t> expected = img;
  for (int k = 0; k < 7; ++k) expected[rng_next_range(&replay, 0, h * w - 1)] = 200;
  EXPECT_EQ(out, expected);
  EXPECT_EQ(state, replay);
  EXPECT_EQ(img_fill_random(img.data(), h, w, 7, 200, nullptr, out.data()), ML_BAD_ARGUMENT);
}

}  // namespace
