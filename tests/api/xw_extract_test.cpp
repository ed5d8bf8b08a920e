// Extraction through the context API: resolution and size bounds, the
// stretching to 500 dpi, the written template and the returned status.
#include <gtest/gtest.h>

#include <cstdint>

#include "zylscan/xw_operations.h"

namespace {

TEST(StretchedSize, RefusesResolutionsAndSizesOutsideTheirBounds) {
  struct Case {
    std::int32_t width, height, resolution;
    std::int32_t status, w, h;
  };
  const Case cases[] = {
      {256, 360, 500, XW_OK, 256, 360},
      {256, 360, 250, XW_OK, 512, 720},
      {256, 360, 49, XW_ERR_RESOLUTION, 0, 0},
      {100, 150, 50, XW_OK, 1000, 1500},
      {256, 360, 50, XW_ERR_IMAGE_SIZE, 2560, 3600},
      {256, 360, 5000, XW_OK, 25, 36},
      {256, 360, 5001, XW_ERR_RESOLUTION, 0, 0},
      {15, 360, 500, XW_ERR_IMAGE_SIZE, 15, 360},
      {30, 360, 900, XW_OK, 16, 200},
      {4097, 360, 1000, XW_OK, 2048, 180},
      {4098, 360, 1000, XW_ERR_IMAGE_SIZE, 2049, 180},
      {360, 15, 500, XW_ERR_IMAGE_SIZE, 360, 15},
      {360, 4098, 1000, XW_ERR_IMAGE_SIZE, 180, 2049},
      {0, 360, 500, XW_ERR_IMAGE_SIZE, 0, 360},
      {-300, 360, 500, XW_ERR_IMAGE_SIZE, -300, 360},
  };
  for (const Case& c : cases) {
    std::int32_t w = 0, h = 0;
    EXPECT_EQ(ComputeStretchedImageSize(c.width, c.height, c.resolution, &w, &h), c.status)
        << c.width << "x" << c.height << "@" << c.resolution;
    EXPECT_EQ(w, c.w) << c.width << "x" << c.height << "@" << c.resolution;
    EXPECT_EQ(h, c.h) << c.width << "x" << c.height << "@" << c.resolution;
  }
  std::int32_t w = 0;
  EXPECT_EQ(ComputeStretchedImageSize(256, 360, 500, &w, nullptr), XW_ERR_NULL_ARGUMENT);
}

}  // namespace
