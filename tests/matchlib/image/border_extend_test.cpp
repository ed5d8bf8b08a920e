#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "zylscan/matchlib_fftfilt.h"
#include "zylscan/matchlib_frequency.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_window.h"

namespace {

TEST(LineExtend, PairMeansAtTheEndsAndThirdsInside) {
  std::vector<uint8_t> buf = {10, 20, 40, 80, 0, 0, 0, 0};
  line_extend_u8(buf.data(), 4, 0, 4);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 4, buf.end()),
            (std::vector<uint8_t>{15, 23, 46, 60}));
  std::vector<uint16_t> two = {1000, 3001, 0, 0};
  line_extend_u16(two.data(), 2, 0, 2);
  EXPECT_EQ(two[2], 2000);
  EXPECT_EQ(two[3], 2000);
  // A column of a 3-wide image, written into the next column.
  std::vector<uint8_t> grid = {30, 0, 0, 60, 0, 0, 90, 0, 0};
  line_extend_strided_u8(grid.data(), 3, 0, 1, 3);
  EXPECT_EQ((std::vector<uint8_t>{grid[1], grid[4], grid[7]}), (std::vector<uint8_t>{45, 60, 75}));
  std::vector<uint16_t> g16 = {30, 0, 60, 0};
  line_extend_strided_u16(g16.data(), 2, 0, 1, 2);
  EXPECT_EQ(g16[1], 45);
  EXPECT_EQ(g16[3], 45);
}

const std::vector<uint8_t> kTwoByTwo = {10, 20, 30, 40};
const std::vector<uint8_t> kExtended = {10, 15, 15, 20,  //
                                        20, 10, 20, 30,  //
                                        20, 30, 40, 30,  //
                                        30, 35, 35, 40};

TEST(PadExtend, GrowsRingByRing) {
  std::vector<uint8_t> frame(16, 0xEE);
  ASSERT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, 4, 4, 1, 1, frame.data()), ML_OK);
  EXPECT_EQ(frame, kExtended);
  std::vector<uint16_t> src16(kTwoByTwo.begin(), kTwoByTwo.end()), f16(16);
  ASSERT_EQ(img_pad_extend_u16(src16.data(), 2, 2, 4, 4, 1, 1, f16.data()), ML_OK);
  EXPECT_EQ(f16, std::vector<uint16_t>(kExtended.begin(), kExtended.end()));
  // Same size: a plain copy; a source at the corner grows to one side only.
  std::vector<uint8_t> same(4);
  ASSERT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, 2, 2, 0, 0, same.data()), ML_OK);
  EXPECT_EQ(same, kTwoByTwo);
  std::vector<uint8_t> corner(9);
  ASSERT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, 3, 3, 0, 0, corner.data()), ML_OK);
  EXPECT_EQ(corner, (std::vector<uint8_t>{10, 20, 30, 30, 40, 30, 35, 35, 40}));
}

TEST(PadExtend, RefusesSourcesOutsideTheFrame) {
  std::vector<uint8_t> frame(16);
  struct Case {
    uint32_t oh, ow;
    int32_t ro, co;
  };
  for (Case c : {Case{4, 4, 3, 0}, Case{4, 4, 0, 3}, Case{4, 4, -1, 0}, Case{1, 4, 0, 0}}) {
    EXPECT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, c.oh, c.ow, c.ro, c.co, frame.data()), ML_BAD_ARGUMENT);
    EXPECT_EQ(img_pad_profile_u8(kTwoByTwo.data(), 2, 2, c.oh, c.ow, c.ro, c.co, frame.data()), ML_BAD_ARGUMENT);
  }
}

TEST(PadProfile, MarginTakesTheEdgeMaximaAndTheInnerSourceStays) {
  const uint32_t H = 24, W = 20, OH = 40, OW = 36, RO = 8, CO = 8;
  std::vector<uint8_t> src(H * W, 50);
  for (uint32_t r = 3; r < H; r += 8) src[r * W + 5] = 250;  // one bright pixel per group of rows
  std::vector<uint8_t> frame(OH * OW);
  ASSERT_EQ(img_pad_profile_u8(src.data(), H, W, OH, OW, RO, CO, frame.data()), ML_OK);
  // Left margin away from the source's rim and from other margins: 250.
  for (uint32_t r = RO + 3; r < RO + H - 3; ++r) EXPECT_EQ(frame[r * OW + 2], 250) << r;
  // Right margin: the right eight columns hold no bright pixel.
  EXPECT_EQ(frame[(RO + 12) * OW + OW - 3], 50);
  // Above the source: columns of the first group of eight carry the bright row-3 pixel.
  EXPECT_EQ(frame[2 * OW + CO + 3], 250);
  EXPECT_EQ(frame[2 * OW + CO + 13], 50);
  // Above-left corner: (left[0] + top[0]) >> 1.
  EXPECT_EQ(frame[0], 250);
  // The source at least two pixels inside its edges is unchanged.
  for (uint32_t r = 2; r + 2 < H; ++r)
    for (uint32_t c = 2; c + 2 < W; ++c)
      ASSERT_EQ(frame[(r + RO) * OW + c + CO], src[r * W + c]) << r << "," << c;
}

TEST(FitToBlockMultiple, CropsSmallRemaindersAndPadsLargeOnes) {
  struct Case {
    uint32_t h, w;
    int32_t mode;
    int status;
    uint32_t oh, ow;
    int32_t ro, co;
  };
  const std::vector<Case> cases = {
      {100, 96, 0, ML_OK, 96, 96, 2, 0},    // r = 4 <= 16 >> 2: crop
      {90, 96, 0, ML_OK, 96, 96, -3, 0},    // r = 10: pad
      {90, 96, 2, ML_OK, 80, 96, 5, 0},     // mode 2 always crops
      {100, 90, 1, ML_OK, 96, 96, 2, -3},   // one side cropped, the other padded
      {96, 96, 0, ML_OK, 96, 96, 0, 0},     // unchanged: a copy
      {47, 96, 0, ML_BAD_ARGUMENT, 0, 0, 0, 0},       // below three blocks
      {90, 96, 5, ML_BAD_ARGUMENT, 0, 0, 0, 0},       // padding needed in an unknown mode
      {100, 96, 5, ML_OK, 96, 96, 2, 0},    // cropping needs no mode
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> src(c.h * c.w);
    for (uint32_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i % 251);
    uint8_t* out = nullptr;
    uint32_t oh = 0, ow = 0;
    int32_t ro = 0, co = 0;
    ASSERT_EQ(img_fit_to_block_multiple(src.data(), c.h, c.w, 16, c.mode, &out, &oh, &ow, &ro, &co),
              c.status)
        << c.h << "x" << c.w << " mode " << c.mode;
    if (c.status != ML_OK) {
      EXPECT_EQ(out, nullptr);
      continue;
    }
    EXPECT_EQ(oh, c.oh);
    EXPECT_EQ(ow, c.ow);
    EXPECT_EQ(ro, c.ro);
    EXPECT_EQ(co, c.co);
    // Source pixels kept at least three pixels inside the output land where
    // the offsets say (padding modes smooth only a rim).
    for (uint32_t r = 3; r + 3 < oh; ++r)
      for (uint32_t x = 3; x + 3 < ow; ++x) {
        const int sy = int(r) + ro, sx = int(x) + co;
        if (sy >= 3 && sy + 3 < int(c.h) && sx >= 3 && sx + 3 < int(c.w)) {
          ASSERT_EQ(out[r * ow + x], src[sy * c.w + sx]) << r << "," << x;
        }
      }
    std::free(out);
  }
}

TEST(FitToBlockMultiple, ModeZeroPaddingIsTheRingExtensionIntoTheCallersBuffer) {
  const uint32_t H = 54, W = 48;  // r = 6 of 16: pad to 64, source at row 5
  std::vector<uint8_t> src(H * W);
  for (uint32_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>((i * 13) % 256);
  std::vector<uint8_t> buf(64 * 48), want(64 * 48);
  uint8_t* out = buf.data();
  uint32_t oh, ow;
  int32_t ro, co;
  ASSERT_EQ(img_fit_to_block_multiple(src.data(), H, W, 16, 0, &out, &oh, &ow, &ro, &co), ML_OK);
  EXPECT_EQ(out, buf.data());
  ASSERT_EQ(img_pad_extend_u8(src.data(), H, W, 64, 48, 5, 0, want.data()), ML_OK);
  EXPECT_EQ(ro, -5);
  EXPECT_EQ(buf, want);
}

TEST(PadToBlockMultiple, PadsEverySideAndRefusesCropMode) {
  std::vector<uint8_t> src(100 * 90, 7);
  uint8_t* out = nullptr;
  uint32_t oh, ow;
  int32_t ro, co;
  ASSERT_EQ(img_pad_to_block_multiple(src.data(), 100, 90, 16, 0, &out, &oh, &ow, &ro, &co), ML_OK);
  EXPECT_EQ(oh, 112u);
  EXPECT_EQ(ow, 96u);
  EXPECT_EQ(ro, -6);
  EXPECT_EQ(co, -3);
  for (uint32_t i = 0; i < oh * ow; ++i) ASSERT_EQ(out[i], 7);
  std::free(out);
  EXPECT_EQ(img_pad_to_block_multiple(src.data(), 100, 90, 16, 2, &out, &oh, &ow, &ro, &co), ML_BAD_ARGUMENT);
}

TEST(BytesGroupMax, EachGroupTakesItsMaximum) {
  std::vector<uint8_t> a = {1, 5, 2, 9, 3, 0, 4};
  bytes_group_max(a.data(), 7, 3);
  EXPECT_EQ(a, (std::vector<uint8_t>{5, 5, 5, 9, 9, 9, 4}));
  bytes_group_max(a.data(), 0, 3);
  bytes_group_max(a.data(), -2, 3);
  EXPECT_EQ(a, (std::vector<uint8_t>{5, 5, 5, 9, 9, 9, 4}));
}

}  // namespace

namespace {

TEST(PadSpectral, RefusesCanvasesOutsideTheSourceRange) {
  std::vector<uint8_t> src(40 * 40, 100), out(80 * 80);
  struct Case {
    uint32_t oh, ow;
    int32_t ro, co;
    int status;
  };
  for (Case c : {Case{23, 40, 0, 0, ML_WRONG_KIND},    // canvas 39 < 40
                 Case{57, 40, 0, 0, ML_WRONG_KIND},    // canvas 73 > 40 + 32
                 Case{40, 40, 9, 0, ML_BAD_ARGUMENT},    // source past the canvas
                 Case{40, 40, -9, 0, ML_BAD_ARGUMENT}})  // source before it
    EXPECT_EQ(img_pad_spectral_u8(src.data(), 40, 40, c.oh, c.ow, c.ro, c.co, out.data()), c.status)
        << c.oh << "x" << c.ow << " at " << c.ro << "," << c.co;
}

// The continuation composed step by step from the tile filter and the
// stretch kernels: checkerboard canvas, filter, margin histogram, stretch,
// source put back with its rim blended rows first, output window at (8, 8).
std::vector<uint8_t> reference_spectral(const std::vector<uint8_t>& src, int H, int W, int h,
                                        int w, int ro, int co) {
  const int ch = h + 16, cw = w + 16, top = ro + 8, left = co + 8;
  std::vector<uint8_t> canvas(ch * cw), f(ch * cw);
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x) canvas[y * cw + x] = (y + x) % 2 ? 0 : 255;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) canvas[(y + top) * cw + x + left] = src[y * W + x];
  std::vector<uint8_t> work(fftfilt_work_size(32));
  EXPECT_EQ(fftfilt_run32_u8(f.data(), canvas.data(), ch, cw, 16, work.data(), int(work.size()),
                             fftfilt_keep_dominant_cb, nullptr),
            ML_OK);
  uint8_t L, T, l2, h2;
  imgstat_percentile_range(src.data(), H, W, 1, &L, &T);
  int32_t hist[256] = {};
  for (int y = 8; y < h + 8; ++y)
    for (int x = 8; x < w + 8; ++x) {
      const bool margin = y < top || y >= ch - top || x < left || x >= cw - left;
      if (margin) ++hist[f[y * cw + x]];
    }
  hist_percentile_range(hist, 20, &l2, &h2);
  for (auto& v : f) v = uint8_t(std::min<int>(T, (v > l2 ? v - l2 : L) * T / (h2 - l2)));
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int v = f[(y + top) * cw + x + left];
      const int s = src[y * W + x];
      const bool er = y < 2 || y >= H - 2, ec = x < 2 || x >= W - 2;
      if (!er && !ec) v = s;
      if (er) v = (y == 0 || y == H - 1) ? (3 * v + s) >> 2 : (3 * s + v) >> 2;
      if (ec) v = (x == 0 || x == W - 1) ? (3 * v + s) >> 2 : (3 * s + v) >> 2;
      f[(y + top) * cw + x + left] = uint8_t(v);
    }
  std::vector<uint8_t> out(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out[y * w + x] = f[(y + 8) * cw + x + 8];
  return out;
}

TEST(PadSpectral, ComposesFilterStretchAndRimBlend) {
  struct Case {
    int H, W, h, w, ro, co;
  };
  for (Case c : {Case{48, 48, 64, 64, 8, 8}, Case{40, 52, 56, 60, 4, 2}, Case{50, 45, 40, 45, -3, -5}}) {
    std::vector<uint8_t> src(c.H * c.W);
    for (int y = 0; y < c.H; ++y)
      for (int x = 0; x < c.W; ++x) src[y * c.W + x] = uint8_t((x % 8) < 4 ? 200 - y : 60 + x);
    std::vector<uint8_t> out(c.h * c.w);
    ASSERT_EQ(img_pad_spectral_u8(src.data(), c.H, c.W, c.h, c.w, c.ro, c.co, out.data()), ML_OK);
    EXPECT_EQ(out, reference_spectral(src, c.H, c.W, c.h, c.w, c.ro, c.co))
        << c.H << "x" << c.W << " into " << c.h << "x" << c.w;
    // Inside its two-pixel rim the source is unchanged where the output shows it.
    for (int y = 2; y + 2 < c.H; ++y)
      for (int x = 2; x + 2 < c.W; ++x) {
        const int oy = y + c.ro, ox = x + c.co;
        if (oy >= 0 && oy < c.h && ox >= 0 && ox < c.w) {
          ASSERT_EQ(out[oy * c.w + ox], src[y * c.W + x]);
        }
      }
  }
}

}  // namespace
