// Tiled frequency-domain filter driver: work sizes, refusals, the tiling
// and its cuts, round trips and the gain callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_fftfilt.h"
#include "zylscan/matchlib_object.h"

namespace {

int keep_cb(int32_t*, int32_t*, int, void*, int, void*) { return 0; }

std::vector<uint8_t> random_image(int h, int w, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(0, 255);
  std::vector<uint8_t> img(h * w);
  for (auto& p : img) p = uint8_t(d(rng));
  return img;
}

TEST(TiledFilter, WorkSizeBySide) {
  struct Case {
    int n;
    int size;
  };
  for (Case c : {Case{16, 3012}, Case{32, 11652}, Case{64, 45828}, Case{128, 181764}})
    EXPECT_EQ(fftfilt_work_size(c.n), c.size) << c.n;
}

struct WorkSeen {
  int size = 0;
  int calls = 0;
};
int record_work_cb(int32_t*, int32_t*, int, void*, int size, void* user) {
  auto* seen = static_cast<WorkSeen*>(user);
  seen->size = size;
  ++seen->calls;
  return 0;
}

TEST(TiledFilter, CallbackGetsTheRestOfAnExactlySizedWorkAreaWhateverItsAlignment) {
  const auto img = random_image(16, 16, 1);
  std::vector<uint8_t> dst(16 * 16);
  std::vector<uint8_t> work(fftfilt_work_size(16) + 8);
  for (int offset = 0; offset < 4; ++offset) {
    WorkSeen seen;
    ASSERT_EQ(fftfilt_run16_u8(dst.data(), img.data(), 16, 16, 0, work.data() + offset,
                               fftfilt_work_size(16), record_work_cb, &seen),
              0);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_GE(seen.size, 1);
    EXPECT_LE(seen.size, 4);
  }
}

int fail_cb(int32_t*, int32_t*, int, void*, int, void*) { return 17; }

TEST(TiledFilter, RefusalsAndCallbackStatus) {
  auto img = random_image(40, 40, 2);
  std::vector<uint8_t> dst(40 * 40);
  std::vector<uint8_t> work(fftfilt_work_size(32));
  const int ws = fftfilt_work_size(32);
  struct Case {
    const char* what;
    int status;
  };
  const Case cases[] = {
      {"side 48", fftfilt_run_sized_u8(dst.data(), img.data(), 40, 40, 48, 0, work.data(), ws,
                                       keep_cb, nullptr)},
      {"run side 48", fftfilt_run_u8(dst.data(), img.data(), 40, 40, 48, 0, 0, keep_cb, nullptr)},
      {"u16 side 32", fftfilt_run_u16(nullptr, nullptr, 40, 40, 32, 0, 0, keep_cb, nullptr)},
      {"dst is src", fftfilt_run32_u8(img.data(), img.data(), 40, 40, 0, work.data(), ws,
                                      keep_cb, nullptr)},
      {"height below tile", fftfilt_run32_u8(dst.data(), img.data(), 31, 40, 0, work.data(), ws,
                                             keep_cb, nullptr)},
      {"width below tile", fftfilt_run32_u8(dst.data(), img.data(), 40, 31, 0, work.data(), ws,
                                            keep_cb, nullptr)},
      {"null work", fftfilt_run32_u8(dst.data(), img.data(), 40, 40, 0, nullptr, ws, keep_cb,
                                     nullptr)},
      {"work too small", fftfilt_run32_u8(dst.data(), img.data(), 40, 40, 0, work.data(), ws - 8,
                                          keep_cb, nullptr)},
      {"callback fails", fftfilt_run32_u8(dst.data(), img.data(), 40, 40, 0, work.data(), ws,
                                          fail_cb, nullptr)},
      {"negative pad", fftfilt_run_u8(dst.data(), img.data(), 40, 40, 32, 0, -1, keep_cb,
                                      nullptr)},
  };
  const int expected[] = {1, 1, 1, 2, 2, 2, 2, 4, 17, 2};
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].status, expected[i]) << cases[i].what;
}

// Replaces each tile's spectrum by a DC term that reads back as 128 + the
// tile's number, so the output shows which tile every pixel came from.
int number_tiles_cb(int32_t* re, int32_t* im, int n, void*, int, void* user) {
  int& tile = *static_cast<int*>(user);
  const int w = n / 2 + 1;
  for (int i = 0; i < n * w; ++i) re[i] = im[i] = 0;
  re[0] = tile * 16 * 256;  // n = 16: back as tile * 16, shifted right by 4
  ++tile;
  return 0;
}

TEST(TiledFilter, TilesAreCutInTheMiddleOfTheirOverlap) {
  struct Case {
    int height, width, margin;
    std::vector<int> row_tile;  // tile row of each image row
    std::vector<int> col_tile;
  };
  const std::vector<int> one16(16, 0);
  auto runs = [](std::initializer_list<std::pair<int, int>> parts) {
    std::vector<int> v;
    for (auto [tile, count] : parts) v.insert(v.end(), count, tile);
    return v;
  };
  const Case cases[] = {
      {16, 16, 0, one16, one16},                                  // one tile, no cut
      {20, 16, 0, runs({{0, 10}, {1, 10}}), one16},               // second copied from its row 6
      {40, 20, 4, runs({{0, 14}, {1, 12}, {2, 14}}), runs({{0, 10}, {1, 10}})},
      {40, 16, 15, {}, one16},                                    // margin N - 1 ...
      {40, 16, 100, {}, one16},                                   // ... equals any larger one
  };
  std::vector<uint8_t> previous;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.height << "x" << c.width << " margin " << c.margin);
    const auto img = random_image(c.height, c.width, 3);
    std::vector<uint8_t> dst(c.height * c.width, 0);
    std::vector<uint8_t> work(fftfilt_work_size(16));
    int tile = 0;
    ASSERT_EQ(fftfilt_run16_u8(dst.data(), img.data(), c.height, c.width, c.margin, work.data(),
                               int(work.size()), number_tiles_cb, &tile),
              0);
    if (c.row_tile.empty()) {
      if (c.margin == 100) {
        EXPECT_EQ(dst, previous);
      }
      previous = dst;
      continue;
    }
    const int cols = c.col_tile.back() + 1;
    EXPECT_EQ(tile, (c.row_tile.back() + 1) * cols);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        ASSERT_EQ(dst[y * c.width + x], 128 + c.row_tile[y] * cols + c.col_tile[x])
            << y << "," << x;
  }
}

TEST(TiledFilter, UnchangedSpectrumGivesTheImageBack) {
  const auto img = random_image(70, 90, 4);
  struct Case {
    int side;
    int tolerance;
  };
  // The rounding of the fixed-point transforms: the 64 pair rounds down
  // through twelve layers each way at one grey level per 4096 sample units.
  for (Case c : {Case{16, 1}, Case{32, 1}, Case{64, 4}}) {
    std::vector<uint8_t> dst(70 * 90);
    ASSERT_EQ(fftfilt_run_u8(dst.data(), img.data(), 70, 90, c.side, 4, 0, keep_cb, nullptr), ML_OK);
    for (int i = 0; i < 70 * 90; ++i) ASSERT_NEAR(dst[i], img[i], c.tolerance) << c.side << " " << i;
  }
  // In place.
  std::vector<uint8_t> copy = img;
  ASSERT_EQ(fftfilt_run_u8(copy.data(), copy.data(), 70, 90, 64, 8, 0, keep_cb, nullptr), ML_OK);
  for (int i = 0; i < 70 * 90; ++i) ASSERT_NEAR(copy[i], img[i], 4) << i;
}

TEST(TiledFilter, TileOf128KeepsTheContrast) {
  const auto img = random_image(128, 128, 5);
  std::vector<uint8_t> dst(128 * 128);
  ASSERT_EQ(fftfilt_run_u8(dst.data(), img.data(), 128, 128, 128, 0, 0, keep_cb, nullptr), ML_OK);
  // The 128 pair keeps two bits fewer of the samples than the 64 pair, so
  // its rounding shows four times larger once the contrast is restored.
  double spread_in = 0, spread_out = 0;
  for (int i = 0; i < 128 * 128; ++i) {
    ASSERT_NEAR(dst[i], img[i], 20) << i;
    spread_in += std::abs(img[i] - 128);
    spread_out += std::abs(dst[i] - 128);
  }
  EXPECT_NEAR(spread_out / spread_in, 1.0, 0.02);
}

TEST(TiledFilter, SixteenBitKernelRoundTrip) {
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> d(0, 65535);
  std::vector<uint16_t> img(80 * 100), dst(80 * 100);
  for (auto& p : img) p = uint16_t(d(rng));
  std::vector<uint8_t> work(49920 + 3 + 64);
  WorkSeen seen;
  ASSERT_EQ(fftfilt_tiles64_u16(dst.data(), img.data(), 80, 100, 8, work.data(), 49920 + 3,
                                record_work_cb, &seen),
            0);
  EXPECT_EQ(seen.calls, 4);
  // The spectrum is scaled by 64 after a forward transform that keeps one
  // unit per 4096 samples, so the rounding shows at about 0.3 % of full scale.
  for (int i = 0; i < 80 * 100; ++i) ASSERT_NEAR(dst[i], img[i], 256) << i;
  EXPECT_EQ(fftfilt_tiles64_u16(dst.data(), img.data(), 80, 100, 8, work.data(), 49919,
                                keep_cb, nullptr),
            4);
  EXPECT_EQ(fftfilt_run_tiles64_u16(img.data(), img.data(), 80, 100, 8, work.data(), 49923,
                                    keep_cb, nullptr),
            2);
  ASSERT_EQ(fftfilt_run_u16(img.data(), img.data(), 80, 100, 64, 8, 0, keep_cb, nullptr), ML_OK);
  for (int i = 0; i < 80 * 100; ++i) ASSERT_EQ(img[i], dst[i]) << i;  // same tiles, same result
}

TEST(TiledFilter, PaddedFrameForSmallImagesOrPadding) {
  const auto img = random_image(40, 50, 7);
  std::vector<uint8_t> dst(40 * 50);
  for (int pad : {0, 10}) {
    ASSERT_EQ(fftfilt_run_u8(dst.data(), img.data(), 40, 50, 64, 8, pad, keep_cb, nullptr), ML_OK);
    for (int i = 0; i < 40 * 50; ++i) ASSERT_NEAR(dst[i], img[i], 4) << pad << " " << i;
  }
}

TEST(GainCallbacks, ByteGainIsAboutXTimesGOver255) {
  struct Case {
    int32_t x;
    uint8_t g;
    int32_t expected;
  };
  const Case cases[] = {
      {1000, 128, 501}, {-1000, 128, -502}, {1000, 255, 999}, {1000, 0, 0},
      {1 << 25, 255, 33553920},  // the 16-bit path's scaled DC: no 32-bit wrap
  };
  for (const Case& c : cases) {
    // A 16 x 16 tile: 144 coefficients, the case in the last one.
    std::vector<int32_t> re(144, 0), im(144, 0);
    std::vector<uint8_t> gain(144, 255);
    re[143] = c.x;
    im[143] = -c.x;
    gain[143] = c.g;
    ASSERT_EQ(fftfilt_gain_cb(re.data(), im.data(), 16, nullptr, 0, gain.data()), ML_OK);
    EXPECT_EQ(re[143], c.expected) << c.x << " * " << int(c.g);
  }
  std::vector<float> fre(256 * 129, 2.0f), fim(256 * 129, -4.0f), fg(256 * 129, 0.25f);
  fftfilt_gain_float_cb(fre.data(), fim.data(), 256, 256, fg.data());
  EXPECT_FLOAT_EQ(fre.back(), 0.5f);
  EXPECT_FLOAT_EQ(fim.front(), -1.0f);
}

TEST(GainCallbacks, ZeroGainsFlattenTheImageToMidGrey) {
  const auto img = random_image(64, 64, 8);
  std::vector<uint8_t> gains(64 * 33, 0), dst(64 * 64);
  ASSERT_EQ(fftfilt_run_u8(dst.data(), img.data(), 64, 64, 64, 0, 0, fftfilt_gain_cb,
                           gains.data()),
            0);
  for (uint8_t p : dst) ASSERT_EQ(p, 128);
}

}  // namespace
