// Foreground segmentation by blocks: argument checks, the two block
// features and their thresholds, the border rule, and a real print.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "matchlib/filter/block_segmentation.h"
#include "support/pgm.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_segmentation.h"

namespace {

constexpr int kGrid = 8, kSide = 12, kPixels = kGrid * kSide;

// A 96 x 96 image of 8 x 8 blocks of 12; fill(block row, block column, x)
// gives the pixel at column x of the block.
template <class Fill>
std::vector<uint8_t> block_image(Fill fill) {
  std::vector<uint8_t> img(kPixels * kPixels);
  for (int y = 0; y < kPixels; ++y)
    for (int x = 0; x < kPixels; ++x) img[y * kPixels + x] = fill(y / kSide, x / kSide, x);
  return img;
}

TEST(SegmentBlocks, RefusesSizesOtherThanTheGrid) {
  std::vector<uint8_t> img(kPixels * kPixels, 100), out(kGrid * kGrid, 7);
  struct Case { int h, w, rows, cols, n; } cases[] = {
      {kPixels, kPixels - 1, kGrid, kGrid, kSide}, {kPixels - 1, kPixels, kGrid, kGrid, kSide},
      {kPixels, kPixels, kGrid, kGrid, kSide + 1}, {kPixels, kPixels, 0, kGrid, kSide}};
  for (const auto& c : cases) {
    EXPECT_EQ(imgproc_segment_blocks(img.data(), c.h, c.w, c.rows, c.cols, c.n, out.data(), 0, 0), ML_BAD_ARGUMENT);
    EXPECT_EQ(imgproc_segment_blocks_half(img.data(), c.h, c.w, c.rows, c.cols, c.n, out.data()), ML_BAD_ARGUMENT);
  }
  EXPECT_EQ(out, std::vector<uint8_t>(kGrid * kGrid, 7));
}

TEST(SegmentBlocks, DarkBlocksAreForegroundBrightFlatBlocksBackground) {
  // A dark flat square of 4 x 4 blocks in the middle of a bright flat image.
  const auto img = block_image([](int i, int j, int) -> uint8_t {
    return i >= 2 && i <= 5 && j >= 2 && j <= 5 ? 30 : 220;
  });
  std::vector<uint8_t> out(kGrid * kGrid, 9);
  ASSERT_EQ(imgproc_segment_blocks(img.data(), kPixels, kPixels, kGrid, kGrid, kSide, out.data(), 0, 0), ML_OK);
  for (int i = 3; i <= 4; ++i)
    for (int j = 3; j <= 4; ++j) EXPECT_EQ(out[i * kGrid + j], 1) << i << "," << j;
  for (auto [i, j] : {std::pair{0, 0}, {1, 1}, {0, 7}, {7, 0}, {6, 6}, {7, 7}})
    EXPECT_EQ(out[i * kGrid + j], 0) << i << "," << j;
  for (uint8_t v : out) EXPECT_LE(v, 1);
}

TEST(SegmentBlocks, BusyThresholdAbove128IsLoweredTo128) {
  // Every block has mean 180 (no dark block). Vertical stripes a a b b give
  // an energy of 4 |b - a|: 152 on the left half, 255 on the right. The
  // iterative threshold settles near 165; lowered to 128 it makes the left
  // half foreground too.
  const auto img = block_image([](int, int j, int x) -> uint8_t {
    const bool high = x % 4 >= 2;
    return j < kGrid / 2 ? (high ? 199 : 161) : (high ? 212 : 148);
  });
  std::vector<uint8_t> out(kGrid * kGrid);
  ASSERT_EQ(imgproc_segment_blocks(img.data(), kPixels, kPixels, kGrid, kGrid, kSide, out.data(), 0, 0), ML_OK);
  for (int i = 2; i <= 5; ++i)
    for (int j = 1; j <= 6; ++j) EXPECT_EQ(out[i * kGrid + j], 1) << i << "," << j;
}

TEST(SegmentBlocks, SparseBorderBlocksAreCleared) {
  struct Case { const char* name; std::vector<std::string> in, out; } cases[] = {
      {"corner with two set neighbours", {"#....", "##...", "##...", ".....", "....."},
       {".....", "##...", "##...", ".....", "....."}},
      {"corner with three stays", {"##...", "##...", "##...", ".....", "....."},
       {"##...", "##...", "##...", ".....", "....."}},
      {"top block with two of five", {"..#..", ".##..", ".##..", ".....", "....."},
       {".....", ".##..", ".##..", ".....", "....."}},
      {"top block with three of five", {"..#..", ".###.", ".....", ".....", "....."},
       {"..#..", ".###.", ".....", ".....", "....."}},
      {"left block with two of five", {".....", ".....", "##...", ".#...", "....."},
       {".....", ".....", ".#...", ".#...", "....."}},
      // The corner goes first; the top block beside it then has two set
      // neighbours left instead of three and goes too.
      {"earlier clearings count", {"####.", "..##.", ".....", ".....", "....."},
       {"..##.", "..##.", ".....", ".....", "....."}},
      {"inner blocks untouched", {".....", ".#...", ".....", ".....", "....."},
       {".....", ".#...", ".....", ".....", "....."}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> map;
    for (const auto& r : c.in)
      for (char ch : r) map.push_back(ch == '#');
    std::vector<uint8_t> expected;
    for (const auto& r : c.out)
      for (char ch : r) expected.push_back(ch == '#');
    zyl::matchlib::clear_sparse_border(map.data(), 5, 5);
    EXPECT_EQ(map, expected) << c.name;
  }
}

TEST(SegmentBlocks, RealPrintGivesOneCentredRegion) {
  const auto print = zyl::test::read_pgm(zyl::test::test_data("fvc2000_101_1.pgm"));
  const int n = 8, rows = print.height / n, cols = print.width / n;
  ASSERT_EQ(rows * n, print.height);
  ASSERT_EQ(cols * n, print.width);
  for (int half : {0, 1}) {
    std::vector<uint8_t> out(rows * cols, 9);
    ASSERT_EQ(imgproc_segment_blocks(print.pixels.data(), print.height, print.width, rows, cols, n,
                                     out.data(), half, 1), ML_OK);
    int set = 0;
    for (uint8_t v : out) {
      ASSERT_LE(v, 1);
      set += v;
    }
    EXPECT_GT(set, rows * cols / 5) << half;
    EXPECT_LT(set, rows * cols * 95 / 100) << half;
    EXPECT_EQ(out[(rows / 2) * cols + cols / 2], 1) << half;
    // Still one 4-connected component after the final smoothing.
    auto copy = out;
    ASSERT_EQ(mask_keep_largest_component(copy.data(), rows, cols), ML_OK);
    int kept = 0;
    for (uint8_t v : copy) kept += v;
    EXPECT_GT(kept, set * 9 / 10) << half;
  }
  std::vector<uint8_t> a(rows * cols), b(rows * cols);
  ASSERT_EQ(imgproc_segment_blocks(print.pixels.data(), print.height, print.width, rows, cols, n, a.data(), 1, 1), ML_OK);
  ASSERT_EQ(imgproc_segment_blocks_half(print.pixels.data(), print.height, print.width, rows, cols, n, b.data()), ML_OK);
  EXPECT_EQ(a, b);
}

}  // namespace

namespace {

TEST(SegmentBlocks, AnyGridAndSideStaysInBoundsAndAnswersZeroOrOne) {
  // Odd sides at half resolution spread the leftover rows and columns over
  // the grid; a side of 1 leaves blocks of no pixels. Under the sanitizers
  // this also checks that no block reads outside the working image.
  std::mt19937 rng(21);
  for (int n : {1, 2, 3, 5, 7, 12}) {
    for (int rows : {1, 3, 9}) {
      const int cols = 1 + static_cast<int>(rng() % 11);
      std::vector<uint8_t> img(static_cast<size_t>(rows) * n * cols * n);
      for (auto& p : img) p = static_cast<uint8_t>(rng() % 256);
      for (int half : {0, 1}) {
        for (int normalise : {0, 1}) {
          std::vector<uint8_t> out(rows * cols, 7);
          ASSERT_EQ(imgproc_segment_blocks(img.data(), rows * n, cols * n, rows, cols, n, out.data(), half, normalise), ML_OK)
              << n << " " << rows << "x" << cols;
          for (uint8_t v : out) ASSERT_LE(v, 1);
        }
      }
    }
  }
}

}  // namespace
