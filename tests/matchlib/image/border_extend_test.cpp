#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

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
  ASSERT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, 4, 4, 1, 1, frame.data()), 0);
  EXPECT_EQ(frame, kExtended);
  std::vector<uint16_t> src16(kTwoByTwo.begin(), kTwoByTwo.end()), f16(16);
  ASSERT_EQ(img_pad_extend_u16(src16.data(), 2, 2, 4, 4, 1, 1, f16.data()), 0);
  EXPECT_EQ(f16, std::vector<uint16_t>(kExtended.begin(), kExtended.end()));
  // Same size: a plain copy; a source at the corner grows to one side only.
  std::vector<uint8_t> same(4);
  ASSERT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, 2, 2, 0, 0, same.data()), 0);
  EXPECT_EQ(same, kTwoByTwo);
  std::vector<uint8_t> corner(9);
  ASSERT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, 3, 3, 0, 0, corner.data()), 0);
  EXPECT_EQ(corner, (std::vector<uint8_t>{10, 20, 30, 30, 40, 30, 35, 35, 40}));
}

TEST(PadExtend, RefusesSourcesOutsideTheFrame) {
  std::vector<uint8_t> frame(16);
  struct Case {
    uint32_t oh, ow;
    int32_t ro, co;
  };
  for (Case c : {Case{4, 4, 3, 0}, Case{4, 4, 0, 3}, Case{4, 4, -1, 0}, Case{1, 4, 0, 0}}) {
    EXPECT_EQ(img_pad_extend_u8(kTwoByTwo.data(), 2, 2, c.oh, c.ow, c.ro, c.co, frame.data()), 2);
    EXPECT_EQ(img_pad_profile_u8(kTwoByTwo.data(), 2, 2, c.oh, c.ow, c.ro, c.co, frame.data()), 2);
  }
}

TEST(PadProfile, MarginTakesTheEdgeMaximaAndTheInnerSourceStays) {
  const uint32_t H = 24, W = 20, OH = 40, OW = 36, RO = 8, CO = 8;
  std::vector<uint8_t> src(H * W, 50);
  for (uint32_t r = 3; r < H; r += 8) src[r * W + 5] = 250;  // one bright pixel per group of rows
  std::vector<uint8_t> frame(OH * OW);
  ASSERT_EQ(img_pad_profile_u8(src.data(), H, W, OH, OW, RO, CO, frame.data()), 0);
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
      {100, 96, 0, 0, 96, 96, 2, 0},    // r = 4 <= 16 >> 2: crop
      {90, 96, 0, 0, 96, 96, -3, 0},    // r = 10: pad
      {90, 96, 2, 0, 80, 96, 5, 0},     // mode 2 always crops
      {100, 90, 1, 0, 96, 96, 2, -3},   // one side cropped, the other padded
      {96, 96, 0, 0, 96, 96, 0, 0},     // unchanged: a copy
      {47, 96, 0, 2, 0, 0, 0, 0},       // below three blocks
      {90, 96, 5, 2, 0, 0, 0, 0},       // padding needed in an unknown mode
      {100, 96, 5, 0, 96, 96, 2, 0},    // cropping needs no mode
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
    if (c.status != 0) {
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
  ASSERT_EQ(img_fit_to_block_multiple(src.data(), H, W, 16, 0, &out, &oh, &ow, &ro, &co), 0);
  EXPECT_EQ(out, buf.data());
  ASSERT_EQ(img_pad_extend_u8(src.data(), H, W, 64, 48, 5, 0, want.data()), 0);
  EXPECT_EQ(ro, -5);
  EXPECT_EQ(buf, want);
}

TEST(PadToBlockMultiple, PadsEverySideAndRefusesCropMode) {
  std::vector<uint8_t> src(100 * 90, 7);
  uint8_t* out = nullptr;
  uint32_t oh, ow;
  int32_t ro, co;
  ASSERT_EQ(img_pad_to_block_multiple(src.data(), 100, 90, 16, 0, &out, &oh, &ow, &ro, &co), 0);
  EXPECT_EQ(oh, 112u);
  EXPECT_EQ(ow, 96u);
  EXPECT_EQ(ro, -6);
  EXPECT_EQ(co, -3);
  for (uint32_t i = 0; i < oh * ow; ++i) ASSERT_EQ(out[i], 7);
  std::free(out);
  EXPECT_EQ(img_pad_to_block_multiple(src.data(), 100, 90, 16, 2, &out, &oh, &ow, &ro, &co), 2);
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

// Stand-ins for the frequency-domain tile filter, which the Fourier part of
// the library provides. They are weak: when the build carries the real
// filter, these go unused and the test that relies on them is skipped.
namespace spectral_stand_in {
int runs = 0;
int overlap = -1;
void* callback = nullptr;
}  // namespace spectral_stand_in

extern "C" {
typedef int (*StandInCallback)(int32_t*, int32_t*, int, void*, int, void*);
__attribute__((weak)) int fftfilt_keep_dominant_cb(int32_t*, int32_t*, int, void*, int, void*) {
  return 0;
}
__attribute__((weak)) int fftfilt_work_size(int n) { return n * ((n / 2 * 3 + n + 3) * 4 + n) + 4; }
// The identity filter: the canvas passes unchanged.
__attribute__((weak)) int fftfilt_run32_u8(uint8_t* dst, const uint8_t* src, int height, int width,
                                           int overlap, void*, int, StandInCallback callback,
                                           void*) {
  ++spectral_stand_in::runs;
  spectral_stand_in::overlap = overlap;
  spectral_stand_in::callback = reinterpret_cast<void*>(callback);
  std::memcpy(dst, src, size_t(height) * width);
  return 0;
}
}

namespace {

TEST(PadSpectral, RefusesCanvasesOutsideTheSourceRange) {
  std::vector<uint8_t> src(40 * 40, 100), out(80 * 80);
  struct Case {
    uint32_t oh, ow;
    int32_t ro, co;
    int status;
  };
  for (Case c : {Case{23, 40, 0, 0, 1},    // canvas 39 < 40
                 Case{57, 40, 0, 0, 1},    // canvas 73 > 40 + 32
                 Case{40, 40, 9, 0, 2},    // source past the canvas
                 Case{40, 40, -9, 0, 2}})  // source before it
    EXPECT_EQ(img_pad_spectral_u8(src.data(), 40, 40, c.oh, c.ow, c.ro, c.co, out.data()), c.status)
        << c.oh << "x" << c.ow << " at " << c.ro << "," << c.co;
}

TEST(PadSpectral, StretchesTheContinuationAndBlendsTheSourceRim) {
  const uint32_t H = 40, W = 36, OH = 56, OW = 52;
  const int32_t RO = 8, CO = 8;
  std::vector<uint8_t> src(H * W);
  for (uint32_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(60 + (i * 37) % 120);
  std::vector<uint8_t> out(OH * OW, 1);
  spectral_stand_in::runs = 0;
  ASSERT_EQ(img_pad_spectral_u8(src.data(), H, W, OH, OW, RO, CO, out.data()), 0);
  if (spectral_stand_in::runs == 0) GTEST_SKIP() << "the build carries the real tile filter";
  EXPECT_EQ(spectral_stand_in::overlap, 16);
  EXPECT_EQ(spectral_stand_in::callback, reinterpret_cast<void*>(&fftfilt_keep_dominant_cb));
  // The identity filter leaves a 0/255 checkerboard in the margin: its 20 %
  // range is 0..255, so 255 maps to the source's 1 % high end T and 0 to
  // L * T / 255.
  uint8_t L = 0, T = 0;
  imgstat_percentile_range(src.data(), H, W, 1, &L, &T);
  for (uint32_t y = 0; y < RO; ++y)
    for (uint32_t x = 0; x < OW; ++x) {
      const bool white = (y + 8 + x + 8) % 2 == 0;
      ASSERT_EQ(out[y * OW + x], white ? T : L * T / 255) << y << "," << x;
    }
  // Inside its two-pixel rim the source is unchanged.
  for (uint32_t y = 2; y + 2 < H; ++y)
    for (uint32_t x = 2; x + 2 < W; ++x)
      ASSERT_EQ(out[(y + RO) * OW + x + CO], src[y * W + x]) << y << "," << x;
  // Rim: the stretched source value blended with the source, rows first.
  auto stretched = [&](int v) { return std::min<int>(T, v > 0 ? v * T / 255 : L * T / 255); };
  const int s01 = src[0 * W + 5];
  EXPECT_EQ(out[RO * OW + CO + 5], (3 * stretched(s01) + s01) >> 2);
  const int s15 = src[1 * W + 5];
  EXPECT_EQ(out[(RO + 1) * OW + CO + 5], (3 * s15 + stretched(s15)) >> 2);
  const int s00 = src[0];
  const int once = (3 * stretched(s00) + s00) >> 2;
  EXPECT_EQ(out[RO * OW + CO], (3 * once + s00) >> 2);
}

}  // namespace
