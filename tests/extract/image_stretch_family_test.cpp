// The nearest-neighbour resampling routines between linear buffers and
// ByteImages agree with a plain reference at every storage combination.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "extract/byte_image.h"
#include "zylscan/image_stretch.h"

namespace {

using zyl::extract::OwnedByteImage;
using Pixels = std::vector<std::uint8_t>;

// Destination (i, j) takes source (sh * i / dh, sw * j / dw).
Pixels reference(int sw, int sh, const Pixels& src, int dw, int dh) {
  Pixels out;
  for (int i = 0; i < dh; ++i)
    for (int j = 0; j < dw; ++j) out.push_back(src[static_cast<std::size_t>(sh * i / dh) * sw + sw * j / dw]);
  return out;
}

OwnedByteImage to_rows(int w, int h, const Pixels& p) {
  OwnedByteImage img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y][x] = p[static_cast<std::size_t>(y) * w + x];
  return img;
}

Pixels from_rows(const OwnedByteImage& img) {
  Pixels p;
  for (int y = 0; y < img.height(); ++y) p.insert(p.end(), img[y], img[y] + img.width());
  return p;
}

TEST(StretchFamily, EveryStorageCombinationSamplesLikeTheReference) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case cases[] = {{7, 5, 7, 5}, {7, 5, 14, 10}, {7, 5, 3, 2}, {16, 9, 11, 13}, {1, 1, 4, 3}, {30, 20, 1, 1}};
  std::mt19937 rng(5);
  for (const Case& c : cases) {
    Pixels src(static_cast<std::size_t>(c.sw) * c.sh);
    for (auto& v : src) v = static_cast<std::uint8_t>(rng());
    const Pixels want = reference(c.sw, c.sh, src, c.dw, c.dh);
    const OwnedByteImage src_rows = to_rows(c.sw, c.sh, src);

    Pixels linear(static_cast<std::size_t>(c.dw) * c.dh, 0);
    EXPECT_EQ(StretchImageToLinear(c.sw, c.sh, src_rows.get(), c.dw, c.dh, linear.data()), c.dh);
    EXPECT_EQ(linear, want) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;

    Pixels linear2(linear.size(), 0);
    EXPECT_EQ(StretchLinearImage(c.sw, c.sh, src.data(), c.dw, c.dh, linear2.data()), c.dh);
    EXPECT_EQ(linear2, want);

    OwnedByteImage rows(c.dw, c.dh);
    EXPECT_EQ(StretchImage(c.sw, c.sh, src_rows.get(), c.dw, c.dh, rows.get()), c.dh);
    EXPECT_EQ(from_rows(rows), want);
  }
}

TEST(StretchFamily, RefusesMissingBuffersAndEmptySizes) {
  const Pixels src(4, 1);
  const OwnedByteImage rows = to_rows(2, 2, src);
  OwnedByteImage dst_rows(2, 2);
  Pixels dst(4, 9);
  EXPECT_EQ(StretchImageToLinear(2, 2, nullptr, 2, 2, dst.data()), 0);
  EXPECT_EQ(StretchImageToLinear(2, 2, rows.get(), 2, 2, nullptr), 0);
  EXPECT_EQ(StretchImageToLinear(2, 0, rows.get(), 2, 2, dst.data()), 0);
  EXPECT_EQ(StretchLinearImage(2, 2, src.data(), -2, 2, dst.data()), 0);
  EXPECT_EQ(StretchImage(2, 2, rows.get(), 2, 0, dst_rows.get()), 0);
  EXPECT_EQ(dst, Pixels(4, 9));
}

}  // namespace
