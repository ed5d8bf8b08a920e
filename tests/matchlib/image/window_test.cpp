#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_window.h"

namespace {

std::vector<uint8_t> numbered(uint32_t n) {
  std::vector<uint8_t> v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

TEST(CopyWindow, MatchesBruteForceForOffsetsAllAround) {
  const uint32_t H = 6, W = 9;
  const auto src = numbered(H * W);
  std::vector<uint16_t> src16(src.begin(), src.end());
  for (int ro = -8; ro <= 8; ro += 2)
    for (int co = -10; co <= 10; co += 3)
      for (auto [h, w] : {std::pair{4u, 5u}, {9u, 14u}, {1u, 1u}}) {
        std::vector<uint8_t> want(h * w, 0xEE), got(h * w, 0xEE);
        for (uint32_t r = 0; r < h; ++r)
          for (uint32_t c = 0; c < w; ++c) {
            const int y = int(r) + ro, x = int(c) + co;
            if (y >= 0 && y < int(H) && x >= 0 && x < int(W)) want[r * w + c] = src[y * W + x];
          }
        ASSERT_EQ(img_copy_window_u8(src.data(), H, W, h, w, ro, co, got.data()), ML_OK);
        EXPECT_EQ(got, want) << ro << "," << co;
        std::vector<uint16_t> got16(h * w, 0xEE);
        ASSERT_EQ(img_copy_window_u16(src16.data(), H, W, h, w, ro, co, got16.data()), ML_OK);
        EXPECT_EQ(got16, std::vector<uint16_t>(want.begin(), want.end()));
      }
}

TEST(CopyWindow, CentredWindowsCutOrReceiveTheSource) {
  const auto src = numbered(100);  // 10 x 10
  std::vector<uint8_t> small(49);
  ASSERT_EQ(img_copy_centered_u8(src.data(), 10, 10, 7, 7, small.data()), ML_OK);
  EXPECT_EQ(small[0], src[1 * 10 + 1]);
  EXPECT_EQ(small[48], src[7 * 10 + 7]);
  std::vector<uint8_t> big(169, 0);
  ASSERT_EQ(img_copy_centered_u8(src.data(), 10, 10, 13, 13, big.data()), ML_OK);
  EXPECT_EQ(big[1 * 13 + 1], src[0]);
  EXPECT_EQ(big[10 * 13 + 10], src[99]);
  EXPECT_EQ(big[0], 0);
  EXPECT_EQ(big[11 * 13 + 11], 0);
  EXPECT_EQ(img_copy_window_u8(nullptr, 10, 10, 3, 3, 0, 0, small.data()), ML_BAD_ARGUMENT);
}

TEST(CropToBlockMultiple, CropsCentredOrRefuses) {
  const auto src = numbered(100 * 75);
  uint8_t* out = nullptr;
  uint32_t h = 1, w = 1;
  int32_t ro = 1, co = 1;
  ASSERT_EQ(img_crop_to_block_multiple(src.data(), 100, 75, 16, &out, &h, &w, &ro, &co), ML_OK);
  EXPECT_EQ(h, 96u);
  EXPECT_EQ(w, 64u);
  EXPECT_EQ(ro, 2);
  EXPECT_EQ(co, 5);
  EXPECT_EQ(out[0], src[2 * 75 + 5]);
  EXPECT_EQ(out[95 * 64 + 63], src[97 * 75 + 68]);
  std::free(out);
  out = nullptr;
  h = w = 7;
  EXPECT_EQ(img_crop_to_block_multiple(src.data(), 100, 75, 80, &out, &h, &w, &ro, &co), ML_BAD_ARGUMENT);
  EXPECT_EQ(h, 7u);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(img_crop_to_block_multiple(src.data(), 100, 75, 0, &out, &h, &w, &ro, &co), ML_BAD_ARGUMENT);
}

TEST(PasteFill, FillsTheFrameAndPlacesTheSource) {
  const std::vector<uint8_t> src = {1, 2, 3, 4};
  std::vector<uint8_t> frame(12, 0);
  ASSERT_EQ(img_paste_fill(src.data(), 2, 2, frame.data(), 3, 4, 1, 2, 9), ML_OK);
  EXPECT_EQ(frame, (std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 1, 2, 9, 9, 3, 4}));
  struct Case {
    uint32_t fh, fw;
    int32_t row, col;
  };
  for (Case c : {Case{3, 4, 2, 0}, Case{3, 4, 0, 3}, Case{3, 4, -1, 0}, Case{3, 4, 0, -1}})
    EXPECT_EQ(img_paste_fill(src.data(), 2, 2, frame.data(), c.fh, c.fw, c.row, c.col, 0), ML_BAD_ARGUMENT)
        << c.row << "," << c.col;
}

TEST(BlockPaddingExcess, KnownAnswers) {
  struct Case {
    uint32_t h, w, block, d, want;
  };
  for (Case c : {Case{100, 75, 6, 2, 456}, Case{96, 96, 16, 2, 0}, Case{100, 75, 6, 0, 0},
                 Case{100, 75, 0, 2, 0}, Case{12, 12, 6, 1, 180}, Case{10, 10, 6, 4, 44}})
    EXPECT_EQ(img_block_padding_excess(c.h, c.w, c.block, c.d), c.want)
        << c.h << "x" << c.w << " block " << c.block << " d " << c.d;
}

TEST(FindWhiteMargins, BrightLinesNearestTheMiddleBoundTheBox) {
  struct Result {
    uint32_t h, w, top, left;
  };
  auto run = [](const std::vector<uint8_t>& img, uint32_t H, uint32_t W) {
    Result r{};
    EXPECT_EQ(img_find_white_margins_u8(img.data(), H, W, &r.h, &r.w, &r.top, &r.left), ML_OK);
    return r;
  };
  const Result white = run(std::vector<uint8_t>(200 * 200, 255), 200, 200);
  EXPECT_EQ(white.top, 83u);
  EXPECT_EQ(white.left, 83u);
  EXPECT_EQ(white.h, 35u);
  EXPECT_EQ(white.w, 35u);
  const Result dark = run(std::vector<uint8_t>(60 * 80, 100), 60, 80);
  EXPECT_EQ(dark.top, 0u);
  EXPECT_EQ(dark.left, 0u);
  EXPECT_EQ(dark.h, 60u);
  EXPECT_EQ(dark.w, 80u);
  // White everywhere except a dark block in rows 40..79 and columns 50..129.
  std::vector<uint8_t> img(120 * 180, 250);
  for (int r = 40; r < 80; ++r)
    for (int c = 50; c < 130; ++c) img[r * 180 + c] = 20;
  const Result box = run(img, 120, 180);
  EXPECT_EQ(box.top, 39u - 16);
  EXPECT_EQ(box.left, 49u - 16);
  EXPECT_EQ(box.h, (80u + 16) - (39 - 16) + 1);
  EXPECT_EQ(box.w, (130u + 16) - (49 - 16) + 1);
}

}  // namespace
