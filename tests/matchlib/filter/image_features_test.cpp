// The 210-value image feature vector and its classifier check.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_image_features.h"
#include "zylscan/matchlib_object.h"

namespace {

struct Image {
  GrayImage* p;
  ~Image() { image_release(p); }
};

TEST(ImageFeatures, UniformGrey100) {
  const std::vector<std::uint8_t> px(40 * 30, 100);
  Image img{image_create(40, 30, 500, 500, px.data(), 0)};
  std::int16_t* v = nullptr;
  int count = 0;
  ASSERT_EQ(imgfeat_compute(nullptr, img.p, &v, &count), ML_OK);
  ASSERT_EQ(count, 210);
  const std::vector<std::int16_t> head(v, v + 19);
  EXPECT_EQ(head, (std::vector<std::int16_t>{0, 0, 0, 0, 0, 0, 0, 0, 1000, 1000, 0, 0, 0, 0, 0,
                                             0, 0, 0, 0}));
  EXPECT_EQ(v[209], 100);
  imgfeat_free(v);

  // Out of memory: 9 and no vector handed out.
  v = nullptr;
  zyl::matchlib::test_hook::fail_allocation(1);
  EXPECT_EQ(imgfeat_compute(nullptr, img.p, &v, &count), ML_NO_MEMORY);
  EXPECT_TRUE(zyl::test::allocation_failed());
  EXPECT_EQ(v, nullptr);
}

TEST(ImageFeatures, StatisticsAndDarkNeighbourhoods) {
  // Left half 50, right half 150 (m = 100, d = 50).
  const int h = 20, w = 20;
  std::vector<std::uint8_t> px(h * w);
  for (int i = 0; i < h * w; ++i) px[i] = i % w < 10 ? 50 : 150;
  std::int16_t s[5];
  imgfeat_grey_stats(px.data(), h, w, 100, 50, s);
  EXPECT_EQ(std::vector<std::int16_t>(s, s + 5), (std::vector<std::int16_t>{500, 0, 0, 0, 0}));
  Image img{image_create(h, w, 500, 500, px.data(), 0)};
  std::int16_t* v = nullptr;
  int count = 0;
  ASSERT_EQ(imgfeat_compute(nullptr, img.p, &v, &count), ML_OK);
  EXPECT_EQ(v[209], 100);
  // Interior dark pixels: 18 rows of 9 columns; column 9 has 5 dark
  // neighbours, columns 1-8 have 8: 18 and 144 of 400 pixels.
  EXPECT_EQ(v[15], 45);
  EXPECT_EQ(v[18], 360);
  imgfeat_free(v);
}

TEST(ImageFeatures, ResolutionWindowAndTextureHalving) {
  const std::vector<std::uint8_t> px(20 * 20, 100);
  for (const auto& [dpi, status] : {std::pair{491, 1}, {492, 0}, {508, 0}, {509, 1}}) {
    Image img{image_create(20, 20, dpi, 500, px.data(), 0)};
    std::int16_t* v = nullptr;
    int count = 0;
    EXPECT_EQ(imgfeat_compute(nullptr, img.p, &v, &count), status) << dpi;
    imgfeat_free(v);
  }
  struct Case {
    std::int32_t in;
    std::uint16_t out;
  } cases[] = {{300000, 65535}, {131071, 65535}, {131072, 65535}, {7, 3},
               {-1, 0},         {-5, 0},         {0, 0}};
  for (const Case& c : cases) EXPECT_EQ(imgfeat_halve_texture(c.in), c.out) << c.in;
}

TEST(ImageFeatures, ClassifierDecidesByItsThreshold) {
  const auto pgm = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  Image img{image_create(pgm.height, pgm.width, 500, 500, pgm.pixels.data(), 0)};
  // Rates the vector by its mean grey; sees the texture of a real print.
  const auto rate = [](MatchContext*, const int16_t* v, int count, uint16_t* score) {
    if (count != 210 || v[19 + 142] == 0) return 17;
    *score = static_cast<uint16_t>(v[209]);
    return 0;
  };
  std::int16_t* v = nullptr;
  int count = 0;
  ASSERT_EQ(imgfeat_compute(nullptr, img.p, &v, &count), ML_OK);
  const int mean = v[209];
  imgfeat_free(v);
  int flag = -1;
  ImageClassifier at{rate, static_cast<uint16_t>(mean)};
  ASSERT_EQ(imgfeat_classify(nullptr, img.p, &at, &flag), ML_OK);
  EXPECT_EQ(flag, 1);
  ImageClassifier above{rate, static_cast<uint16_t>(mean + 1)};
  ASSERT_EQ(imgfeat_classify(nullptr, img.p, &above, &flag), ML_OK);
  EXPECT_EQ(flag, 0);
  ImageClassifier failing{[](MatchContext*, const int16_t*, int, uint16_t*) { return 4; }, 0};
  EXPECT_EQ(imgfeat_classify(nullptr, img.p, &failing, &flag), 4);
  EXPECT_EQ(flag, 0);
}

}  // namespace
