// Gap filling: new points land far from the given ones, the given ones
// come first unchanged, and images without a resolution or mask plane are
// refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_keypoint.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {
namespace {

struct ImageDeleter {
  void operator()(GrayImage* i) const { image_release(i); }
};
using Image = std::unique_ptr<GrayImage, ImageDeleter>;

Image with_mask(const zyl::test::GreyImage& p, int resolution) {
  MaskPlane* m = mask_create(p.height, p.width);
  Image img(image_create_with_mask(p.height, p.width, resolution, resolution, p.pixels.data(), 0, m));
  mask_release(m);
  return img;
}

TEST(GapFill, NewPointsFillTheEmptyPartAfterTheGivenOnes) {
  const auto p = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  auto img = with_mask(p, 500);
  std::vector<KeyPoint> given;
  for (int y = 10; y < 150; y += 20)
    for (int x = 10; x < 60; x += 20)
      given.push_back({static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 7, 50, 1, 0});
  KeyPoint* out = nullptr;
  int n = 0;
  const int count = static_cast<int>(given.size());
  ASSERT_EQ(keypoint_fill_gaps(img.get(), given.data(), count, count + 5, &out, &n), ML_OK);
  std::unique_ptr<KeyPoint, decltype(&std::free)> hold(out, &std::free);
  ASSERT_EQ(n, count + 5);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(out[i].x, given[i].x);
    EXPECT_EQ(out[i].angle, 7);
  }
  for (int i = count; i < n; ++i) {
    EXPECT_GT(out[i].x, 70) << i;  // far from the given points on the left
    EXPECT_EQ(out[i].score, 0);
    EXPECT_GE(out[i].cls, 1);
    EXPECT_LE(out[i].cls, 3);
  }
  // Asking for fewer than given keeps a prefix of them.
  KeyPoint* few = nullptr;
  ASSERT_EQ(keypoint_fill_gaps(img.get(), given.data(), count, 3, &few, &n), ML_OK);
  EXPECT_EQ(n, 3);
  std::free(few);
}

TEST(GapFill, RefusesImagesWithoutResolutionOrMask) {
  const auto p = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  KeyPoint* out = nullptr;
  int n = 0;
  auto no_res = with_mask(p, 0);
  EXPECT_EQ(keypoint_fill_gaps(no_res.get(), nullptr, 0, 10, &out, &n), ML_WRONG_KIND);
  Image bare(image_create(p.height, p.width, 500, 500, p.pixels.data(), 0));
  EXPECT_EQ(keypoint_fill_gaps(bare.get(), nullptr, 0, 10, &out, &n), ML_BAD_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  // Without given points every distance sum saturates, and the plateau
  // thins to its last pixel: one candidate.
  auto img = with_mask(p, 500);
  ASSERT_EQ(keypoint_fill_gaps(img.get(), nullptr, 0, 4, &out, &n), ML_OK);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(out[0].x, p.width - 6);
  EXPECT_EQ(out[0].y, p.height - 6);
  std::free(out);
}

TEST(GapFill, HistogramAngleFollowsTheGradient) {
  const int n = 31;
  std::vector<std::uint8_t> ramp(n * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) ramp[y * n + x] = static_cast<std::uint8_t>(20 + 6 * y);
  KeyPoint p{15, 15, 0, 0, 1, 0};
  ASSERT_EQ(kp_orientation_histogram(ramp.data(), n, n, &p, 1), ML_OK);
  EXPECT_NEAR(p.angle, 64, 4);  // rising downward
}

}  // namespace
}  // namespace zyl::test
