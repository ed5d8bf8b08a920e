// Grey-level normalisation: the gain rule, masked global, window and ring
// forms against brute-force references, per-block mapping, variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"

namespace {

// The gain rule as written, with the 32-bit root of the library.
int64_t gain_reference(uint32_t d, uint32_t v) {
  if (v == 0) return 0;
  const uint32_t m = d * 256 / v;
  if (m < 65536) return fx_isqrt_shr7(m << 16);
  if (m > 1048575) return int64_t{fx_isqrt_shr7(m << 8)} << 4;
  return int64_t{fx_isqrt_shr7(m << 12)} << 2;
}

int map_reference(int x, int c, int t, int64_t g) {
  if (x > c) return static_cast<int>(std::min<int64_t>(255, t + g * (x - c) / 32));
  return static_cast<int>(std::max<int64_t>(0, t - g * (c - x) / 32));
}

std::vector<uint8_t> random_image(int h, int w, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(h) * w);
  for (auto& p : v) p = static_cast<uint8_t>(60 + rng() % 120);
  return v;
}

TEST(Normalize, ApplyGainFollowsTheRuleInEachRange) {
  // Variances chosen so that m = D * 256 / V falls in each of the three ranges.
  struct Case {
    uint32_t d, v;
  };
  const std::vector<uint8_t> px{0, 50, 100, 127, 128, 129, 200, 255};
  for (const Case c : {Case{5625, 100}, Case{14400, 3}, Case{65535, 1}, Case{6400, 6400}, Case{100, 0}}) {
    std::vector<uint8_t> out(px.size());
    ASSERT_EQ(imgproc_apply_gain(px.data(), 1, 8, 128, 140, c.v, c.d, out.data()), ML_OK);
    const int64_t g = gain_reference(c.d, c.v);
    for (size_t i = 0; i < px.size(); ++i)
      ASSERT_EQ(out[i], map_reference(px[i], 128, 140, g)) << c.d << "/" << c.v << " at " << i;
  }
  // Equal deviation and variance: gain 32, a plain shift of the mean.
  std::vector<uint8_t> out(px.size());
  ASSERT_EQ(imgproc_apply_gain(px.data(), 1, 8, 128, 138, 6400, 6400, out.data()), ML_OK);
  EXPECT_EQ(out[2], 110);
  EXPECT_EQ(out[6], 210);
}

TEST(Normalize, MaskedGlobalUsesForegroundBlocksOnly) {
  const int h = 8, w = 8;
  auto img = random_image(h, w, 2);
  std::vector<uint8_t> out(h * w);
  const uint8_t none[4] = {0, 0, 0, 0};
  ASSERT_EQ(imgproc_normalize_global_masked(img.data(), h, w, none, 4, 2, 2, 150, 120, out.data()),
            ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(h * w, 75)) << "no foreground: target mean / 2";
  // Deviation 300 keeps its full square: the result differs from 90000 mod 2^16.
  const uint8_t all[4] = {1, 1, 1, 1};
  std::vector<uint8_t> a(h * w), b(h * w);
  ASSERT_EQ(imgproc_normalize_global_masked(img.data(), h, w, all, 4, 2, 2, 128, 300, a.data()),
            ML_OK);
  const std::vector<uint8_t> flat(h * w, 99);
  ASSERT_EQ(imgproc_normalize_global_masked(flat.data(), h, w, all, 4, 2, 2, 151, 75, b.data()),
            ML_OK);
  EXPECT_EQ(b, std::vector<uint8_t>(h * w, (151 + 99) / 2)) << "a flat image sits half way";
  int spread_a = *std::max_element(a.begin(), a.end()) - *std::min_element(a.begin(), a.end());
  EXPECT_GT(spread_a, 200) << "deviation 300 stretches far";
  EXPECT_EQ(imgproc_normalize_global_masked(img.data(), h, w, all, 4, 3, 2, 128, 75, a.data()),
            ML_BAD_ARGUMENT)
      << "a block grid past the image";
}

TEST(Normalize, LocalWindowsAgainstBruteForce) {
  const int h = 9, w = 11, r = 2;
  const auto img = random_image(h, w, 4);
  std::vector<uint8_t> mask(h * w, 1);
  mask[5 * w + 5] = 0;
  std::vector<uint8_t> out(h * w);
  ASSERT_EQ(imgproc_normalize_local(img.data(), h, w, mask.data(), r, 128, 75, out.data()), ML_OK);
  std::vector<uint8_t> ring(h * w);
  ASSERT_EQ(imgproc_normalize_local_ring(img.data(), h, w, r, 128, 75, ring.data()), ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int64_t s = 0, q = 0, n = 0;
      for (int yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
        for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) {
          const int p = img[yy * w + xx];
          s += p, q += p * p, ++n;
        }
      const int i = y * w + x;
      // Ring form: u = S*16/N, V = ((Q*16 - S*u)/N)/16.
      const int64_t u = s * 16 / n, v = ((q * 16 - s * u) / n) / 16;
      const int expect_ring = v == 0 ? 128 : map_reference(img[i], int(u / 16), 128,
                                                           gain_reference(75 * 75, uint32_t(v)));
      ASSERT_EQ(ring[i], expect_ring) << y << "," << x;
      if (i == 5 * w + 5) {
        EXPECT_NEAR(out[i], 128, 40) << "background takes variance 65025";
      }
    }
  EXPECT_EQ(imgproc_normalize_local_ring(img.data(), h, w, 8, 128, 75, ring.data()),
            ML_BAD_ARGUMENT);
  // A flat window becomes the target mean in the ring form.
  std::vector<uint8_t> flat(h * w, 40);
  ASSERT_EQ(imgproc_normalize_local_ring(flat.data(), h, w, 3, 128, 75, flat.data()), ML_OK);
  EXPECT_EQ(flat, std::vector<uint8_t>(h * w, 128));
}

TEST(Normalize, BlockMappingWhitensBackgroundBlocks) {
  const int h = 4, w = 8, block = 4;
  const auto img = random_image(h, w, 5);
  std::vector<uint8_t> local(h * w, 120), out(h * w);
  const uint16_t vars[2] = {100, 400};
  const uint8_t mask[2] = {1, 0};
  ASSERT_EQ(imgproc_normalize_blocks_apply(img.data(), w, mask, block, 1, 2, 150, 120,
                                           local.data(), vars, out.data()),
            ML_OK);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      if (x >= 4) {
        EXPECT_EQ(out[i], 255);
      } else {
        EXPECT_EQ(out[i], map_reference(img[i], 120, 150, gain_reference(14400, 100)));
      }
    }
}

TEST(Normalize, VariantsWithoutCallers) {
  const int h = 16, w = 16;
  std::vector<uint8_t> flat(h * w, 100), out(h * w);
  // No textured block: centre and spread are the target mean and the low
  // deviation squared (400, below 500), so the gain is 1.
  ASSERT_EQ(imgproc_normalize_adaptive8(flat.data(), h, w, 128, 20, 90, out.data()), ML_OK);
  EXPECT_EQ(out, flat);
  // A spread of 3600 lies above 2500: the high deviation, gain 1.5.
  ASSERT_EQ(imgproc_normalize_adaptive8(flat.data(), h, w, 128, 60, 90, out.data()), ML_OK);
  EXPECT_EQ(out[0], 128 - 48 * 28 / 32);
  std::vector<uint8_t> bright(h * w, 100);
  bright[0] = 255;  // far above a flat mean: saturates, then becomes 254
  ASSERT_EQ(imgproc_normalize_global_127_80(bright.data(), h, w, out.data()), ML_OK);
  EXPECT_EQ(*std::max_element(out.begin(), out.end()), 254);
}

}  // namespace

namespace {

TEST(NormalizeBlocks, NearlyFlatBlocksTakeVariance100) {
  // Every 4 x 4 block alternates 100 and 102 by column: mean 101, and the
  // sampled (even) offsets all read 100, a variance of 1, raised to 100.
  const int h = 8, w = 8;
  std::vector<uint8_t> img(h * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = x % 2 ? 102 : 100;
  std::vector<uint8_t> out(h * w);
  ASSERT_EQ(imgproc_normalize_blocks(img.data(), h, w, nullptr, 4, 2, 2, 150, 120, out.data()),
            ML_OK);
  const int64_t g = gain_reference(14400, 100);
  for (int i = 0; i < h * w; ++i) ASSERT_EQ(out[i], map_reference(img[i], 101, 150, g)) << i;
  EXPECT_EQ(out[0], 138);
  EXPECT_EQ(out[1], 162);
}

TEST(NormalizeBlocks, BackgroundBlocksComeOutWhite) {
  const int h = 12, w = 12;
  const auto img = random_image(h, w, 12);
  uint8_t mask[9] = {1, 1, 0, 1, 1, 0, 1, 1, 1};
  std::vector<uint8_t> out(h * w);
  ASSERT_EQ(imgproc_normalize_blocks(img.data(), h, w, mask, 4, 3, 3, 150, 120, out.data()), ML_OK);
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 12; ++x) EXPECT_EQ(out[y * w + x], 255);
  EXPECT_NE(std::count(out.begin(), out.end(), 255), h * w);
  std::vector<uint8_t> mid(h * w);
  ASSERT_EQ(imgproc_normalize_blocks_midrange(img.data(), h, w, mask, 4, 3, 3, 150, 120,
                                              mid.data()),
            ML_OK);
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 12; ++x) EXPECT_EQ(mid[y * w + x], 255);
  // The filled form marks the foreground blocks on the region's edge.
  std::vector<uint8_t> filled(h * w);
  ASSERT_EQ(imgproc_normalize_blocks_filled(img.data(), h, w, mask, 4, 3, 3, 150, 120,
                                            filled.data()),
            ML_OK);
  EXPECT_EQ(mask[0] & 0x02, 0x02) << "on the grid's edge";
  EXPECT_EQ(mask[4] & 0x02, 0x02) << "next to a background block";
  EXPECT_EQ(mask[2], 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 8; x < 12; ++x) EXPECT_EQ(filled[y * w + x], 255);
  // A grid of one block row cannot be enlarged; a grid past the image is refused.
  EXPECT_EQ(imgproc_normalize_blocks(img.data(), h, w, nullptr, 4, 4, 3, 150, 120, out.data()),
            ML_BAD_ARGUMENT);
}

TEST(NormalizeBlocks, FlattenBackgroundRemovesTheLocalMean) {
  const int h = 32, w = 24;
  std::vector<uint8_t> flat(h * w, 90), out(h * w);
  ASSERT_EQ(imgproc_flatten_background(flat.data(), h, w, 128, out.data()), ML_OK);
  EXPECT_EQ(out, std::vector<uint8_t>(h * w, 128));
  // A slow ramp is flattened toward the level away from the top and bottom
  // block rows, where the clipped smoothing of the block means bends it.
  const int rh = 80;
  std::vector<uint8_t> ramp(rh * w), flattened(rh * w);
  for (int y = 0; y < rh; ++y)
    for (int x = 0; x < w; ++x) ramp[y * w + x] = static_cast<uint8_t>(40 + 2 * y);
  ASSERT_EQ(imgproc_flatten_background(ramp.data(), rh, w, 128, flattened.data()), ML_OK);
  for (int y = 24; y < 56; ++y) EXPECT_NEAR(flattened[y * w + 12], 128, 2) << y;
}

}  // namespace

namespace {

TEST(Normalize, GainIsTheExactRootAcrossItsRanges) {
  // One pixel 1 above its centre: the output is target + G / 32 (clamped),
  // so G / 32 is read back wherever it stays below the clamp.
  std::mt19937 rng(21);
  const uint8_t px[1] = {101};
  for (int k = 0; k < 3000; ++k) {
    const uint32_t d = rng() % 65536, v = 1 + rng() % (k % 3 == 0 ? 16 : 70000);
    uint8_t out[1];
    ASSERT_EQ(imgproc_apply_gain(px, 1, 1, 100, 0, v, d, out), ML_OK);
    EXPECT_EQ(out[0], map_reference(101, 100, 0, gain_reference(d, v))) << d << "/" << v;
  }
}

}  // namespace
