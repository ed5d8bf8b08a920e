// Single-number image statistics: bright share, Laplacian spread, robust
// block range and ridge presence, on small synthetic images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_stretch.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes halves(int h, int w, int bright_from) {
  Bytes px(std::size_t(h) * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[y * w + x] = x >= bright_from ? 255 : 0;
  return px;
}

// Vertical ridges of period 8 and the given amplitude around 128.
Bytes ridges(int h, int w, int amplitude) {
  Bytes px(std::size_t(h) * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[y * w + x] = uint8_t(128 + std::lround(amplitude * std::sin(x * 3.14159265 / 4)));
  return px;
}

TEST(BrightPercent, CountsBrightPixelsUnderTheMask) {
  const Bytes px = halves(40, 40, 20);
  Bytes right(px.size()), none(px.size(), 0);
  for (std::size_t i = 0; i < px.size(); ++i) right[i] = (i % 40) >= 30;
  struct Case {
    const uint8_t* mask;
    int want;
  } cases[] = {{nullptr, 50}, {right.data(), 100}, {none.data(), 0}};
  for (const Case& c : cases) {
    uint8_t p = 77;
    EXPECT_EQ(imgstat_bright_percent(px.data(), 40, 40, c.mask, &p), ML_OK);
    EXPECT_EQ(p, c.want);
  }
  uint8_t p = 77;
  EXPECT_EQ(imgstat_bright_percent(nullptr, 40, 40, nullptr, &p), ML_BAD_ARGUMENT);
  EXPECT_EQ(p, 0);
  EXPECT_EQ(imgstat_bright_percent(px.data(), 0, 40, nullptr, &p), ML_BAD_ARGUMENT);
  EXPECT_EQ(imgstat_bright_percent(px.data(), 40, 40, nullptr, nullptr), ML_BAD_ARGUMENT);
}

TEST(BrightPercentBlocks, VisitsInteriorForegroundBlocksOnly) {
  // 4 x 4 grid of 12-pixel blocks; the right half of the image is bright,
  // so of the four interior blocks one column is dark and one bright.
  const Bytes px = halves(48, 48, 24);
  Bytes mask(16, 1);
  uint8_t p = 0;
  EXPECT_EQ(imgstat_bright_percent_blocks(px.data(), 48, 48, 4, 4, 12, nullptr, &p), ML_OK);
  EXPECT_EQ(p, 50);
  // Clearing the block above (1, 1) and (2, 1)'s left neighbour drops both
  // dark interior blocks.
  mask[0 * 4 + 1] = 0;
  mask[2 * 4 + 0] = 0;
  EXPECT_EQ(imgstat_bright_percent_blocks(px.data(), 48, 48, 4, 4, 12, mask.data(), &p), ML_OK);
  EXPECT_EQ(p, 100);
  // Fewer than 3 block rows: nothing counted.
  p = 9;
  EXPECT_EQ(imgstat_bright_percent_blocks(px.data(), 48, 48, 2, 4, 12, nullptr, &p), ML_OK);
  EXPECT_EQ(p, 0);
  // A grid reaching past the image, or empty, is refused.
  EXPECT_EQ(imgstat_bright_percent_blocks(px.data(), 48, 48, 5, 4, 12, nullptr, &p), ML_BAD_ARGUMENT);
  EXPECT_EQ(imgstat_bright_percent_blocks(px.data(), 48, 48, 0, 4, 12, nullptr, &p), ML_BAD_ARGUMENT);
}

TEST(LaplacianSpread, ZeroWhenFlatAndCappedForACheckerboard) {
  Bytes flat(30 * 30, 90), checker(30 * 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) checker[y * 30 + x] = (x + y) % 2 ? 255 : 0;
  uint8_t v = 1;
  EXPECT_EQ(imgstat_laplacian_spread(flat.data(), 30, 30, &v), ML_OK);
  EXPECT_EQ(v, 0);
  // The Laplacian is +-127 inside: a deviation of about 120 levels, 480 in
  // quarter levels, capped at 255.
  EXPECT_EQ(imgstat_laplacian_spread(checker.data(), 30, 30, &v), ML_OK);
  EXPECT_EQ(v, 255);
  // Columns alternating 0 / 64: +-16 inside, about 15 levels, ~60 quarters.
  Bytes soft(30 * 30);
  for (int i = 0; i < 900; ++i) soft[i] = (i % 30) % 2 ? 64 : 0;
  EXPECT_EQ(imgstat_laplacian_spread(soft.data(), 30, 30, &v), ML_OK);
  EXPECT_GT(v, 50);
  EXPECT_LT(v, 68);
  EXPECT_EQ(imgstat_laplacian_spread(nullptr, 30, 30, &v), ML_BAD_ARGUMENT);
}

TEST(BlockRangeMean, MeansTheRangesAboveHalfTheMean) {
  // 32 x 48: six blocks, the left four carry a ramp of 0..255 across their
  // 16 columns, the right two are flat. Each block is checked against the
  // percentile range of its pixels taken on their own.
  const int h = 32, w = 48;
  Bytes px(h * w, 100);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < 32; ++x) px[y * w + x] = uint8_t((x % 16) * 17);
  Bytes ramp(256);
  for (int i = 0; i < 256; ++i) ramp[i] = uint8_t((i % 16) * 17);
  uint8_t lo = 0, hi = 0;
  imgstat_percentile_range(ramp.data(), 16, 16, 1, &lo, &hi);
  uint8_t v = 0;
  ASSERT_EQ(imgstat_block_range_mean(px.data(), h, w, &v), ML_OK);
  EXPECT_GT(hi - lo, 200);
  EXPECT_EQ(v, hi - lo);  // the flat blocks fall below half the mean

  struct Case {
    int h, w;
  } small[] = {{15, 100}, {100, 15}, {0, 0}};
  for (const Case& c : small) {
    v = 9;
    EXPECT_EQ(imgstat_block_range_mean(px.data(), c.h, c.w, &v), ML_OK);
    EXPECT_EQ(v, 0);
  }
  EXPECT_EQ(imgstat_block_range_mean(nullptr, h, w, &v), ML_BAD_ARGUMENT);
}

TEST(HasRidges, FlagsTexturedImagesAndRefusesTinyWindows) {
  const Bytes flat(300 * 300, 128);
  const Bytes striped = ridges(300, 300, 100);
  const Bytes faint = ridges(300, 300, 3);
  struct Case {
    const Bytes* px;
    int h, w, scale, rc, flag;
  } cases[] = {
      {&flat, 300, 300, 1, 0, 0},    {&striped, 300, 300, 1, 0, 1},
      {&faint, 300, 300, 1, 0, 0},   {&striped, 300, 300, 2, 0, 1},
      {&striped, 15, 100, 1, 2, 0},  {&striped, 8, 8, 2, 0, 1},
      {&striped, 7, 100, 2, 2, 0},   {&striped, 300, 300, 3, 2, 0},
  };
  for (const Case& c : cases) {
    int flag = 5;
    EXPECT_EQ(imgstat_has_ridges_scaled(c.px->data(), c.h, c.w, c.scale, &flag), c.rc)
        << c.h << "x" << c.w << " s" << c.scale;
    EXPECT_EQ(flag, c.flag) << c.h << "x" << c.w << " s" << c.scale;
  }
  int flag = 5;
  EXPECT_EQ(imgstat_has_ridges(striped.data(), 300, 300, &flag), ML_OK);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(imgstat_has_ridges_nonempty(striped.data(), 0, 300, 1, &flag), ML_BAD_ARGUMENT);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(imgstat_has_ridges_nonempty(striped.data(), 300, 300, 1, &flag), ML_OK);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(imgstat_has_ridges(nullptr, 300, 300, &flag), ML_BAD_ARGUMENT);
}

}  // namespace

namespace {

TEST(NormalizePreview, FlatImageGivesWhiteAndRidgesAreNormalised) {
  const Bytes flat(120 * 100, 70);
  Bytes out(50 * 40, 0);
  EXPECT_EQ(imgproc_normalize_preview(flat.data(), 120, 100, 50, 40, out.data()), ML_OK);
  EXPECT_EQ(out, Bytes(out.size(), 255));

  const Bytes striped = ridges(130, 110, 40);
  Bytes big(130 * 110, 0);
  ASSERT_EQ(imgproc_normalize_preview(striped.data(), 130, 110, 130, 110, big.data()), ML_OK);
  int lo = 255, hi = 0;
  for (uint8_t v : big) lo = std::min<int>(lo, v), hi = std::max<int>(hi, v);
  EXPECT_GT(hi - lo, 80);  // the contrast of +-40 is widened toward deviation 300

  // A crop under 16 rows (15 -> 12) and bad arguments leave the output alone.
  Bytes keep(20 * 20, 7);
  struct Case {
    const uint8_t* px;
    int h, w, oh, ow;
  } bad[] = {{striped.data(), 15, 100, 20, 20},
             {striped.data(), 11, 100, 20, 20},
             {nullptr, 100, 100, 20, 20},
             {striped.data(), 100, 100, 0, 20}};
  for (const Case& c : bad) {
    EXPECT_EQ(imgproc_normalize_preview(c.px, c.h, c.w, c.oh, c.ow, keep.data()), ML_BAD_ARGUMENT) << c.h;
    EXPECT_EQ(keep, Bytes(keep.size(), 7));
  }
}

}  // namespace

namespace {

TEST(BlockContrast, SmallAndUniformImages) {
  std::vector<uint8_t> px(15 * 100, 90);
  uint8_t c = 7, range = 7, spread = 7;
  EXPECT_EQ(imgstat_block_contrast(px.data(), 15, 100, 500, &c, &range, &spread, nullptr,
                                   nullptr, nullptr),
            ML_TOO_POOR);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(imgstat_block_contrast(nullptr, 16, 16, 500, &c, nullptr, nullptr, nullptr, nullptr,
                                   nullptr),
            ML_BAD_ARGUMENT);

  // Uniform grey: every range and spread is 0, no range exceeds half the
  // mean, so the contrast is 0; the ratio map is all 255.
  std::vector<uint8_t> flat(48 * 32, 90), ratio(48 * 32, 1);
  ASSERT_EQ(imgstat_block_contrast(flat.data(), 48, 32, 500, &c, &range, &spread, ratio.data(),
                                   nullptr, nullptr),
            ML_OK);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(range, 0);
  EXPECT_EQ(spread, 0);
  EXPECT_EQ(ratio, std::vector<uint8_t>(48 * 32, 255));
}

TEST(BlockContrast, RidgesHaveContrastAndMapsCoverWholeBlocks) {
  // 40 x 40: two whole blocks each way; the last 8 rows and columns are
  // not in any block and stay 0 in the maps.
  const int n = 40;
  std::vector<uint8_t> px(n * n), range_map(n * n, 9), spread_map(n * n, 9);
  for (int i = 0; i < n * n; ++i) px[i] = (i % n / 4) % 2 ? 220 : 30;
  uint8_t c = 0, range = 0, spread = 0;
  ASSERT_EQ(imgstat_block_contrast(px.data(), n, n, 500, &c, &range, &spread, nullptr,
                                   range_map.data(), spread_map.data()),
            ML_OK);
  EXPECT_GT(c, 0);
  EXPECT_GT(range, 0);
  EXPECT_EQ(range_map[0], range_map[15 * n + 15]);  // one value per block
  EXPECT_EQ(range_map[39 * n + 39], 0);
  EXPECT_EQ(spread_map[32], 0);
  EXPECT_EQ(spread_map[0] / 4 * 4, spread_map[0]);  // 4s below 64, else 255
}

}  // namespace
