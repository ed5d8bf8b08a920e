#include <gtest/gtest.h>

#include <vector>

#include "extract/byte_image.h"
#include "zylscan/image_stretch.h"

namespace {

using zyl::extract::OwnedByteImage;

std::vector<std::vector<int>> stretched(int sw, int sh, const std::vector<std::uint8_t>& src, int dw, int dh) {
  OwnedByteImage dst(dw, dh);
  EXPECT_EQ(StretchImageFromLinear(sw, sh, src.data(), dw, dh, dst.get()), dh);
  std::vector<std::vector<int>> out(static_cast<size_t>(dh));
  for (int y = 0; y < dh; ++y) out[y].assign(dst[y], dst[y] + dw);
  return out;
}

TEST(StretchImageFromLinear, SamplesTheNearestSourcePixelByIntegerRatio) {
  const std::vector<std::uint8_t> src = {1, 2, 3, 4, 5, 6};  // 3 x 2
  struct Case {
    int dw, dh;
    std::vector<std::vector<int>> expected;
  };
  const Case cases[] = {
      {3, 2, {{1, 2, 3}, {4, 5, 6}}},                                        // equal size: a copy
      {6, 4, {{1, 1, 2, 2, 3, 3}, {1, 1, 2, 2, 3, 3}, {4, 4, 5, 5, 6, 6}, {4, 4, 5, 5, 6, 6}}},
      {2, 1, {{1, 2}}},                                                      // columns 0 and 3 x 1 / 2 = 1
      {4, 3, {{1, 1, 2, 3}, {1, 1, 2, 3}, {4, 4, 5, 6}}},                    // rows 0, 0, 1
      {1, 1, {{1}}},
  };
  for (const Case& c : cases) EXPECT_EQ(stretched(3, 2, src, c.dw, c.dh), c.expected) << c.dw << "x" << c.dh;
}

TEST(StretchImageFromLinear, CopiesAWideImageExactly) {
  std::vector<std::uint8_t> src(300 * 7);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 31 + 7);
  const auto out = stretched(300, 7, src, 300, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 300; ++x) ASSERT_EQ(out[y][x], src[static_cast<size_t>(y) * 300 + x]);
}

TEST(StretchImageFromLinear, RefusesNullBuffersAndEmptySizes) {
  OwnedByteImage dst(4, 4);
  const std::uint8_t src[4] = {};
  EXPECT_EQ(StretchImageFromLinear(2, 2, nullptr, 4, 4, dst.get()), 0);
  EXPECT_EQ(StretchImageFromLinear(2, 2, src, 4, 4, nullptr), 0);
  EXPECT_EQ(StretchImageFromLinear(0, 2, src, 4, 4, dst.get()), 0);
  EXPECT_EQ(StretchImageFromLinear(2, 2, src, 4, -1, dst.get()), 0);
}

}  // namespace
