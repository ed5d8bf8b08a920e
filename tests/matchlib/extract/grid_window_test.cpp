// The grid front end's per-block work (block statistics from summed-area
// tables, the windowed block without per-position bounds checks) against
// the position-by-position forms they replace, on random images and blocks
// that reach past every edge.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/extract/grid_window.h"

namespace {

using zyl::matchlib::BlockStats;

// The forms replaced: every position of the block, with a bounds check.
BlockStats reference_stats(const uint8_t* px, const uint8_t* usable, int height, int width, int top,
                           int left, int side) {
  BlockStats b;
  for (int y = top; y < top + side; ++y)
    for (int x = left; x < left + side; ++x) {
      if (y < 0 || y >= height || x < 0 || x >= width) continue;
      ++b.inside;
      const size_t i = static_cast<size_t>(y) * width + x;
      if (usable && !(usable[i] & 0x80)) continue;
      ++b.n;
      b.sum += px[i];
      b.squares += uint64_t{px[i]} * px[i];
    }
  return b;
}

void reference_window(const uint8_t* px, int height, int width, int top, int left, int mean,
                      const uint8_t* w, int32_t* out, int side) {
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const int py = top + y, pxl = left + x;
      out[y * side + x] = py >= 0 && py < height && pxl >= 0 && pxl < width
                              ? ((px[static_cast<size_t>(py) * width + pxl] - mean) * w[y] * w[x]) >> 4
                              : 0;
    }
}

struct Image {
  int height, width;
  std::vector<uint8_t> px, usable;
};

Image random_image(std::mt19937& rng, int height, int width) {
  Image im{height, width, std::vector<uint8_t>(static_cast<size_t>(height) * width),
           std::vector<uint8_t>(static_cast<size_t>(height) * width)};
  for (auto& p : im.px) p = static_cast<uint8_t>(rng() % 4 == 0 ? (rng() % 2) * 255 : rng() % 256);
  for (auto& u : im.usable) u = static_cast<uint8_t>(rng() % 256);
  return im;
}

TEST(GridWindow, TableStatisticsEqualPositionByPositionSums) {
  std::mt19937 rng(4646);
  const int sizes[][2] = {{1, 1}, {7, 40}, {40, 7}, {96, 96}, {130, 101}};
  for (const auto& size : sizes) {
    const Image im = random_image(rng, size[0], size[1]);
    for (const uint8_t* usable : {im.usable.data(), static_cast<const uint8_t*>(nullptr)}) {
      const zyl::matchlib::grid::BlockStatsTable table(im.px.data(), usable, im.height, im.width);
      for (int trial = 0; trial < 400; ++trial) {
        const int side = trial % 5 == 0 ? 16 : trial % 7 == 0 ? 1 : 32;
        const int top = static_cast<int>(rng() % (im.height + 2 * side)) - side - 1;
        const int left = static_cast<int>(rng() % (im.width + 2 * side)) - side - 1;
        const BlockStats got = table.at(top, left, side);
        const BlockStats want = reference_stats(im.px.data(), usable, im.height, im.width, top, left, side);
        const BlockStats direct = zyl::matchlib::block_stats(im.px.data(), usable, im.height,
                                                                   im.width, top, left, side);
        for (const BlockStats& b : {got, direct}) {
          ASSERT_EQ(b.inside, want.inside) << top << "," << left << " side " << side;
          ASSERT_EQ(b.n, want.n) << top << "," << left << " side " << side;
          ASSERT_EQ(b.sum, want.sum) << top << "," << left << " side " << side;
          ASSERT_EQ(b.squares, want.squares) << top << "," << left << " side " << side;
        }
      }
    }
  }
}

TEST(GridWindow, WindowedBlockEqualsPositionByPositionForm) {
  std::mt19937 rng(46);
  const Image im = random_image(rng, 70, 53);
  uint8_t w[32];
  for (int side : {16, 32})
    for (int trial = 0; trial < 300; ++trial) {
      for (auto& v : w) v = static_cast<uint8_t>(trial % 3 == 0 ? 255 : rng() % 256);
      const int mean = trial % 4 == 0 ? 255 : trial % 4 == 1 ? 0 : static_cast<int>(rng() % 256);
      const int top = static_cast<int>(rng() % (im.height + 2 * side)) - side - 1;
      const int left = static_cast<int>(rng() % (im.width + 2 * side)) - side - 1;
      std::vector<int32_t> want(side * side, -777);
      reference_window(im.px.data(), im.height, im.width, top, left, mean, w, want.data(), side);
      // The dispatched form, then each compiled form this processor runs.
      for (int variant = -1; variant <= 1; ++variant) {
        std::vector<int32_t> got(side * side, 777);
        if (variant < 0) {
          zyl::matchlib::grid::window_block(im.px.data(), im.height, im.width, top, left, mean, w,
                                            got.data(), side);
        } else if (!zyl::matchlib::grid::window_block_variant(variant, im.px.data(), im.height,
                                                              im.width, top, left, mean, w,
                                                              got.data(), side)) {
          ASSERT_NE(variant, 0) << "the generic form is always there";
          continue;
        }
        ASSERT_EQ(got, want) << "form " << variant << " at " << top << "," << left << " side "
                             << side << " mean " << mean;
      }
    }
}

}  // namespace
