// The spectral feature vector of an image at 500 dpi and its scoring.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_image_features.h"
#include "zylscan/matchlib_object.h"

namespace {

struct Image {
  GrayImage* p;
  ~Image() { image_release(p); }
};

GrayImage* print(int dpi = 500) {
  const auto pgm = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  return image_create(pgm.height, pgm.width, dpi, dpi, pgm.pixels.data(), 0);
}

TEST(SpectralFeatures, RealPrintHasRidgePeaks) {
  Image img{print()};
  SpectralFeatureVector* sv = nullptr;
  ASSERT_EQ(specfeat_compute(img.p, &sv), ML_OK);
  EXPECT_EQ(sv->count, 25);
  EXPECT_GE(sv->values[0], 1);  // assessed
  EXPECT_GT(sv->values[1], 0);  // some foreground
  EXPECT_GT(sv->values[5], 0);  // spectral maxima found
  // Half the ridge period in 1/256 pixel: ridges of a 500-dpi print run
  // about 6 to 14 pixels apart.
  EXPECT_GT(sv->values[13], 3 * 256 / 1);
  EXPECT_LT(sv->values[13], 7 * 256);
  EXPECT_EQ(sv->values[24], 100);  // the crop holds a whole 10 x 10 grid
  std::uint8_t q = 0, bright = 0;
  std::int16_t area = -1;
  ASSERT_EQ(specfeat_info(sv, &q, &area, &bright), ML_OK);
  EXPECT_EQ(q, sv->values[0]);
  EXPECT_EQ(bright, sv->values[2]);
  EXPECT_GT(area, 0);
  EXPECT_EQ(specfeat_info(nullptr, &q, nullptr, nullptr), ML_BAD_ARGUMENT);
  specfeat_free(sv);
}

TEST(SpectralFeatures, Resolution1000IsResampledTo500) {
  // The same print at twice the pixels and 1000 dpi: resampled, it gives
  // the grid and foreground area of the 500-dpi print, near enough.
  const auto pgm = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  const int h = pgm.height * 2, w = pgm.width * 2;
  std::vector<std::uint8_t> big(static_cast<std::size_t>(h) * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) big[y * w + x] = pgm.pixels[(y / 2) * pgm.width + x / 2];
  Image a{print()}, b{image_create(h, w, 1000, 1000, big.data(), 0)};
  SpectralFeatureVector *va = nullptr, *vb = nullptr;
  ASSERT_EQ(specfeat_compute(a.p, &va), ML_OK);
  ASSERT_EQ(specfeat_compute(b.p, &vb), ML_OK);
  EXPECT_EQ(vb->values[24], va->values[24]);
  EXPECT_NEAR(vb->area_mm2, va->area_mm2, va->area_mm2 / 5 + 1);
  EXPECT_NEAR(vb->values[13], va->values[13], 256);
  specfeat_free(va);
  specfeat_free(vb);
  // 508 dpi is used as it stands.
  Image c{print(508)};
  SpectralFeatureVector* vc = nullptr;
  ASSERT_EQ(specfeat_compute(c.p, &vc), ML_OK);
  EXPECT_EQ(vc->values[24], 100);
  specfeat_free(vc);
}

// Test models: the final one answers the value stored in its rows.
int constant(const int32_t*, int, const void* rows, int32_t* out, ScoreTrace*) {
  *out = rows ? *static_cast<const int32_t*>(rows) : 7;
  return 0;
}

TEST(SpectralScore, CombinedScoreBounds) {
  struct Case {
    std::int32_t t;
    std::uint16_t score;
  } cases[] = {{-20001, 0}, {-20000, 0}, {0, 20000}, {45535, 65535}, {45536, 65535}};
  Image img{print()};
  for (const Case& c : cases) {
    EXPECT_EQ(specfeat_combine(c.t), c.score) << c.t;
    std::int32_t t = c.t;
    const ScoreModel first{nullptr, -1, constant, nullptr};
    const ScoreModel final_model{&t, -1, constant, nullptr};
    const SpectralScoreModels models{{&first, &first, &first, &first}, &final_model};
    std::int16_t score = 1;
    ASSERT_EQ(specfeat_score_models(&models, img.p, &score), ML_OK);
    EXPECT_EQ(static_cast<std::uint16_t>(score), c.score) << c.t;
  }
  // Without trained rows the library's own scoring is unsupported.
  std::int16_t score = 9;
  MatchContext* ctx = ctx_create();
  EXPECT_EQ(specfeat_score(ctx, img.p, &score), ML_WRONG_KIND);
  EXPECT_EQ(specfeat_score(nullptr, img.p, &score), ML_BAD_ARGUMENT);
  ctx_release(ctx);
  const SpectralScoreModels missing{{nullptr, nullptr, nullptr, nullptr}, nullptr};
  EXPECT_EQ(specfeat_score_models(&missing, img.p, &score), ML_BAD_ARGUMENT);
}

}  // namespace
