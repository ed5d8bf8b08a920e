// The texture-feature algorithm: the kind-87 template of a real crop, the
// raw-image wrapper, a template's grid map and the score decision.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_texture_algorithm.h"

namespace {

TEST(TextureAlgorithm, RawImageLengthMustMatch) {
  std::vector<std::uint8_t> px(200 * 150, 77);
  GrayImage* img = nullptr;
  EXPECT_EQ(texture_image_from_raw(nullptr, px.data(), 200 * 150 - 1, 200, 150, 500, &img),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(img, nullptr);
  ASSERT_EQ(texture_image_from_raw(nullptr, px.data(), 200 * 150, 200, 150, 508, &img), ML_OK);
  EXPECT_EQ(image_height(img), 200);
  EXPECT_EQ(image_width(img), 150);
  EXPECT_EQ(image_resolution_y(img), 508);
  EXPECT_EQ(image_resolution_x(img), 508);
  EXPECT_EQ(image_pixels(img)[100], 77);
  image_release(img);
}

TEST(TextureAlgorithm, RealCropBecomesAKind87Template) {
  const auto pgm = zyltest::read_pgm(zyltest::test_data("fvc2002_101_1_crop.pgm"));
  GrayImage* img = texture_image_wrap(pgm.pixels.data(), pgm.height, pgm.width, 500);
  ASSERT_NE(img, nullptr);
  MatchContext* ctx = ctx_create();
  DataBlob* blob = nullptr;
  EXPECT_EQ(texture_extract(ctx, img, nullptr, 79, &blob), ML_WRONG_KIND);
  EXPECT_EQ(blob, nullptr);
  ASSERT_EQ(texture_extract(ctx, img, nullptr, 87, &blob), ML_OK);
  EXPECT_EQ(blob_type(blob), 87);
  EXPECT_EQ(blob_size(blob), 770u);
  FeatureVector* v = nullptr;
  ASSERT_EQ(featvec_read(blob_data(blob), blob_size(blob), &v), ML_OK);
  EXPECT_EQ(v->width, pgm.width);
  EXPECT_EQ(v->height, pgm.height);
  ASSERT_EQ(v->count, 190);
  EXPECT_GT(v->values[142], 0);
  featvec_free(v);
  blob_release(blob);

  // Out of memory at any step: 9 and no blob.
  zyltest::sweep_allocation_failures([&] {
    DataBlob* b = nullptr;
    const int st = texture_extract(ctx, img, nullptr, 87, &b);
    if (zyltest::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
      EXPECT_EQ(b, nullptr);
    } else {
      EXPECT_EQ(st, ML_OK);
    }
    blob_release(b);
  });

  // An image under the model's limits passes the extraction's status on.
  GrayImage* tiny = texture_image_wrap(pgm.pixels.data(), 9, 9, 500);
  EXPECT_EQ(texture_extract(ctx, tiny, nullptr, 87, &blob), ML_OUT_OF_LIMITS);
  EXPECT_EQ(blob, nullptr);
  image_release(tiny);
  image_release(img);
  ctx_release(ctx);
}

TEST(TextureAlgorithm, GridMapSection) {
  TextureGridMap map{};
  DataBlob* none = container_put_entry(nullptr, 86, reinterpret_cast<const std::uint8_t*>("ab"), 2);
  EXPECT_EQ(texture_gridmap_of(none, &map), ML_NOT_FOUND);
  // A section that does not expand is used as it stands.
  const std::uint8_t raw[3] = {1, 2, 3};
  DataBlob* with = container_put_entry(nullptr, 66, raw, 3);
  ASSERT_EQ(texture_gridmap_of(with, &map), ML_OK);
  EXPECT_EQ(map.length, 3u);
  EXPECT_EQ(map.bytes[2], 3);
  EXPECT_EQ(map.owned, nullptr);
  texture_gridmap_free(&map);
  blob_release(none);
  blob_release(with);
}

int sum_scores(const int32_t* f, int n, const void*, int32_t* out, ScoreTrace*) {
  *out = 0;
  for (int i = 0; i < n; ++i) *out += f[i];
  return 0;
}

TEST(TextureAlgorithm, DecideNeeds17SubScores) {
  const ScoreProfile profile{nullptr, 0, {nullptr, -1, sum_scores, nullptr}, nullptr};
  std::vector<std::uint16_t> scores(17, 2);
  std::int16_t score = 5;
  EXPECT_EQ(texture_decide(nullptr, nullptr, nullptr, scores.data(), 16, &profile, &score),
            ML_CORRUPT);
  EXPECT_EQ(score, 0);
  ASSERT_EQ(texture_decide(nullptr, nullptr, nullptr, scores.data(), 17, &profile, &score), ML_OK);
  EXPECT_EQ(score, 34);
  scores[0] = 0;
  score = 5;
  // A first sub-score of 0 decides without the profile.
  EXPECT_EQ(texture_decide(nullptr, nullptr, nullptr, scores.data(), 17, nullptr, &score), ML_OK);
  EXPECT_EQ(score, 0);
}

}  // namespace
