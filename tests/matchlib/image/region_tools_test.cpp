// Region tools on byte maps: centroid, largest component, hole filling,
// masked fills and inpainting.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_segmentation.h"

namespace {

// A map from rows of '#' (set) and '.' (clear).
std::vector<uint8_t> map_of(const std::vector<std::string>& rows) {
  std::vector<uint8_t> m;
  for (const auto& r : rows)
    for (char c : r) m.push_back(c == '#' ? 1 : 0);
  return m;
}

TEST(Centroid, ScaledByCellPlusHalfCell) {
  const auto m = map_of({"....", ".##.", ".#..", "...."});
  int row = -1, col = -1;
  EXPECT_EQ(img_mask_centroid(m.data(), 4, 4, 8, 100, 60, &row, &col), ML_OK);
  EXPECT_EQ(row, 8 * 4 / 3 + 4);  // rows 1, 1, 2
  EXPECT_EQ(col, 8 * 4 / 3 + 4);  // columns 1, 2, 1
  const std::vector<uint8_t> empty(16, 0);
  EXPECT_EQ(img_mask_centroid(empty.data(), 4, 4, 8, 101, 60, &row, &col), ML_OK);
  EXPECT_EQ(row, 50);
  EXPECT_EQ(col, 30);
  EXPECT_EQ(img_mask_centroid(m.data(), 0, 4, 8, 10, 20, &row, &col), ML_OK);
  EXPECT_EQ(row, 5);
  EXPECT_EQ(col, 10);
}

TEST(LargestComponent, KeepsLargestFirstOnTiesFourConnected) {
  struct Case { const char* name; std::vector<std::string> in, out; } cases[] = {
      {"larger second", {"##....", "......", "..####", "...#.."}, {"......", "......", "..####", "...#.."}},
      {"tie keeps first", {"#####.", "......", "#####."}, {"#####.", "......", "......"}},
      {"diagonal is not connected", {"#.", ".#"}, {"#.", ".."}},
      {"empty", {"...", "..."}, {"...", "..."}},
  };
  for (const auto& c : cases) {
    auto m = map_of(c.in);
    const int rows = static_cast<int>(c.in.size()), cols = static_cast<int>(c.in[0].size());
    EXPECT_EQ(mask_keep_largest_component(m.data(), rows, cols), ML_OK);
    EXPECT_EQ(m, map_of(c.out)) << c.name;
  }
  // Any non-zero value is set; the kept cells become 1.
  std::vector<uint8_t> values = {0, 200, 0, 7};
  EXPECT_EQ(mask_keep_largest_component(values.data(), 2, 2), ML_OK);
  EXPECT_EQ(values, (std::vector<uint8_t>{0, 1, 0, 1}));
}

TEST(LargestComponent, RefusesWideMapsOnlyWhenACellIsSet) {
  std::vector<uint8_t> wide(2 * 256, 0);
  EXPECT_EQ(mask_keep_largest_component(wide.data(), 2, 256), ML_OK);
  wide[300] = 1;
  EXPECT_EQ(mask_keep_largest_component(wide.data(), 2, 256), ML_WRONG_KIND);
  EXPECT_EQ(wide[300], 1);  // untouched
}

TEST(FillHoles, EnclosedAndOneEdgeRegionsButNotBands) {
  struct Case { const char* name; std::vector<std::string> in, out; } cases[] = {
      {"enclosed hole", {"#####", "#..##", "#####"}, {"#####", "#####", "#####"}},
      {"touches only the top", {"#.###", "#..##", "#####"}, {"#####", "#####", "#####"}},
      {"band from left to right stays", {"#####", ".....", "#####"}, {"#####", ".....", "#####"}},
      {"corner region touches two edges", {".####", "#####", "#####"}, {".####", "#####", "#####"}},
      {"diagonal links the hole to the outside", {"#####", "##.##", "#.###", ".####"},
       {"#####", "##.##", "#.###", ".####"}},
  };
  for (const auto& c : cases) {
    auto m = map_of(c.in);
    EXPECT_EQ(img_fill_holes(m.data(), static_cast<int>(c.in.size()), static_cast<int>(c.in[0].size()), 1), ML_OK);
    EXPECT_EQ(m, map_of(c.out)) << c.name;
  }
  auto m = map_of({"###", "#.#", "###"});
  EXPECT_EQ(img_fill_holes(m.data(), 3, 3, 9), ML_OK);
  EXPECT_EQ(m[4], 9);
}

TEST(MaskedFill, PerPixelAndPerBlock) {
  const std::vector<uint8_t> src(4 * 6, 50);
  std::vector<uint8_t> dst(src.size());
  const uint8_t pixel_mask[24] = {1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
  EXPECT_EQ(img_fill_masked_blocks(src.data(), 4, 6, pixel_mask, 0, 0, 1, 9, dst.data()), ML_OK);
  EXPECT_EQ(dst[2], 9);
  EXPECT_EQ(dst[23], 9);
  EXPECT_EQ(dst[0], 50);
  const uint8_t block_mask[6] = {1, 0, 1, 1, 1, 0};  // 2 x 3 blocks of 2
  EXPECT_EQ(img_fill_masked_blocks(src.data(), 4, 6, block_mask, 2, 3, 2, 9, dst.data()), ML_OK);
  const std::vector<uint8_t> expected = {50, 50, 9, 9, 50, 50, 50, 50, 9, 9, 50, 50,
                                         50, 50, 50, 50, 9, 9, 50, 50, 50, 50, 9, 9};
  EXPECT_EQ(dst, expected);
  // A grid larger than the image is cut to it.
  std::vector<uint8_t> small(4, 50);
  const uint8_t big_mask[1] = {0};
  EXPECT_EQ(img_fill_masked_blocks(small.data(), 2, 2, big_mask, 1, 1, 8, 3, small.data()), ML_OK);
  EXPECT_EQ(small, std::vector<uint8_t>(4, 3));
}

TEST(Inpaint, FillsFromWeightedKnownNeighbours) {
  // A constant image with a missing square: every fill is the constant.
  const int h = 9, w = 9;
  std::vector<uint8_t> src(h * w, 80), mask(h * w, 1), dst(h * w);
  for (int y = 3; y <= 5; ++y)
    for (int x = 3; x <= 5; ++x) {
      src[y * w + x] = 0;
      mask[y * w + x] = 0;
    }
  EXPECT_EQ(img_inpaint_masked_5x5(src.data(), h, w, mask.data(), dst.data()), ML_OK);
  EXPECT_EQ(dst, std::vector<uint8_t>(h * w, 80));

  // One missing pixel in the middle of a horizontal ramp 0, 40, .., 160:
  // the weights are symmetric, so the weighted mean is the middle value.
  std::vector<uint8_t> ramp(5 * 5), known(25, 1), out(25);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) ramp[y * 5 + x] = static_cast<uint8_t>(40 * x);
  known[12] = 0;
  EXPECT_EQ(img_inpaint_masked_5x5(ramp.data(), 5, 5, known.data(), out.data()), ML_OK);
  EXPECT_EQ(out[12], 80);
  // The outer two rows and columns are never filled; fewer than 6 known
  // neighbours leave a pixel missing.
  std::vector<uint8_t> sparse(25, 0), smask(25, 0), sout(25);
  sparse[0] = 200;
  smask[0] = 1;
  EXPECT_EQ(img_inpaint_masked_5x5(sparse.data(), 5, 5, smask.data(), sout.data()), ML_OK);
  EXPECT_EQ(sout, sparse);
}

}  // namespace

namespace {

TEST(DistanceBlend, MovesPixelsNearZeroCellsTowardsGrey) {
  // A 1 x 9 strip with one zero mask cell at the left end.
  const int rows = 1, cols = 9;
  std::vector<uint8_t> image(cols, 200), mask(cols, 1), out(cols), dist(cols);
  mask[0] = 0;
  ASSERT_EQ(mask_distance_map(image.data(), rows, cols, mask.data(), 4, dist.data()), ML_OK);
  EXPECT_EQ(dist, (std::vector<uint8_t>{0, 1, 2, 3, 255, 255, 255, 255, 255}));
  ASSERT_EQ(img_blend_by_mask_distance(image.data(), rows, cols, mask.data(), 4, 40, out.data()), ML_OK);
  EXPECT_EQ(out[0], 40);                       // zero cell: the grey value
  EXPECT_EQ(out[1], (40 * 15 + 200 * 1) / 16);  // one step in
  EXPECT_EQ(out[2], (40 * 12 + 200 * 4) / 16);
  EXPECT_EQ(out[3], (40 * 7 + 200 * 9) / 16);
  EXPECT_EQ(out[4], 200);                      // radius steps inside: unchanged
  EXPECT_EQ(out[8], 200);
}

TEST(DistanceBlend, RefusesBadRadiusAndInPlaceOutput) {
  std::vector<uint8_t> image(4, 9), mask(4, 1), out(4, 7);
  struct Case { int radius; bool in_place; } cases[] = {{0, false}, {-3, false}, {2, true}};
  for (const auto& c : cases) {
    uint8_t* target = c.in_place ? image.data() : out.data();
    EXPECT_EQ(img_blend_by_mask_distance(image.data(), 2, 2, mask.data(), c.radius, 0, target), ML_BAD_ARGUMENT);
    EXPECT_EQ(mask_distance_map(image.data(), 2, 2, mask.data(), c.radius, target), ML_BAD_ARGUMENT);
  }
  EXPECT_EQ(out, std::vector<uint8_t>(4, 7));
  EXPECT_EQ(image, std::vector<uint8_t>(4, 9));
}

}  // namespace
