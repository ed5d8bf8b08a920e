// The texture-feature algorithm: the kind-87 template of a real crop, the
// raw-image wrapper, a template's grid map, the grid-map comparison of two
// templates, the score decision and the algorithm descriptor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/allocation_sweep.h"
#include "support/grid_maps.h"
#include "support/pgm.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_texture_algorithm.h"
#include "zylscan/matchlib_xform.h"

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
  const auto pgm = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
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
  zyl::test::sweep_allocation_failures([&] {
    DataBlob* b = nullptr;
    const int st = texture_extract(ctx, img, nullptr, 87, &b);
    if (zyl::test::allocation_failed()) {
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
  std::uint16_t score = 5;
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

// A template holding a grid map as its section 66.
DataBlob* gridmap_template(const zyl::test::GridMapBytes& map) {
  return container_put_entry(nullptr, TEXTURE_GRIDMAP_KIND, map.data(),
                             static_cast<std::uint32_t>(map.size()));
}

struct MatchOutcome {
  int status;
  std::vector<std::uint16_t> scores;
  RigidTransform* transform;  // what the caller's pointer holds afterwards
};

MatchOutcome run_match(MatchContext* ctx, DataBlob* a, DataBlob* b, RigidTransform* given) {
  std::uint16_t* scores = nullptr;
  std::uint16_t count = 99;
  MatchOutcome r{};
  r.transform = given;
  r.status = texture_match(ctx, a, b, &scores, &count, &r.transform);
  if (scores) r.scores.assign(scores, scores + count);
  EXPECT_EQ(scores == nullptr, count == 0);
  std::free(scores);
  return r;
}

TEST(TextureAlgorithm, MatchGivesGridScoreAndSixteenDetailValues) {
  MatchContext* ctx = ctx_create();
  DataBlob* t = gridmap_template(zyl::test::world_map(20, 20, 8, 0, 0, 0, 60));
  // No transform passed: none is written.
  const MatchOutcome r = run_match(ctx, t, t, nullptr);
  ASSERT_EQ(r.status, ML_OK);
  ASSERT_EQ(r.scores.size(), 17u);
  EXPECT_GT(r.scores[0], 8000);
  EXPECT_EQ(r.scores[1], 400);  // every cell paired
  EXPECT_EQ(r.scores[2], 441);  // full agreement of each pair
  EXPECT_EQ(r.transform, nullptr);
  // The decision of the same pair fuses the 17 values.
  const ScoreProfile profile{nullptr, 0, {nullptr, -1, sum_scores, nullptr}, nullptr};
  std::uint16_t score = 0;
  ASSERT_EQ(texture_decide(ctx, t, t, r.scores.data(), 17, &profile, &score), ML_OK);
  int sum = 0;
  for (std::uint16_t v : r.scores) sum += v;
  EXPECT_EQ(score, static_cast<std::uint16_t>(sum));
  blob_release(t);
  ctx_release(ctx);
}

TEST(TextureAlgorithm, FullTurnSearchFollowsTheParameter) {
  // A turn of 85/512 about the maps' centre lies beyond the three angles of
  // the narrow search.
  const double a = 85 * 2 * M_PI / 512;
  const double tx = 96 - (std::cos(a) * 96 - std::sin(a) * 96);
  const double ty = 96 - (std::sin(a) * 96 + std::cos(a) * 96);
  DataBlob* t1 = gridmap_template(zyl::test::world_map(24, 24, 8, 85, tx, ty));
  DataBlob* t2 = gridmap_template(zyl::test::world_map(24, 24, 8, 0, 0, 0));
  MatchContext* ctx = ctx_create();
  const MatchOutcome wide = run_match(ctx, t1, t2, nullptr);
  ASSERT_EQ(param_set_360(ctx, 0), ML_OK);
  const MatchOutcome narrow = run_match(ctx, t1, t2, nullptr);
  ASSERT_EQ(wide.status, ML_OK);
  ASSERT_EQ(narrow.status, ML_OK);
  EXPECT_GT(wide.scores[0], 2 * narrow.scores[0]);
  blob_release(t1);
  blob_release(t2);
  ctx_release(ctx);
}

TEST(TextureAlgorithm, GivenTransformIsScoredAndReplaced) {
  MatchContext* ctx = ctx_create();
  DataBlob* t = gridmap_template(zyl::test::world_map(20, 20, 8, 0, 0, 0));
  const MatchOutcome free_search = run_match(ctx, t, t, nullptr);

  // The identity is scored in place; the caller's transform is released
  // and a new one holds the alignment found.
  RigidTransform* identity = xform_create_dpi(0, 0, 0, 500);
  xform_retain(identity);
  const MatchOutcome in_place = run_match(ctx, t, t, identity);
  ASSERT_EQ(in_place.status, ML_OK);
  EXPECT_EQ(identity->refcount, 1);
  EXPECT_EQ(in_place.scores[0], free_search.scores[0]);
  ASSERT_NE(in_place.transform, nullptr);
  ASSERT_NE(in_place.transform, identity);
  EXPECT_EQ(xform_get_dx(in_place.transform), 0);
  xform_release(in_place.transform);

  // Two cells to the right are scored there, not searched: a lower score,
  // and the offset comes back.
  RigidTransform* moved = xform_create_dpi(16, 0, 0, 500);
  const MatchOutcome shifted = run_match(ctx, t, t, moved);
  ASSERT_EQ(shifted.status, ML_OK);
  EXPECT_LT(shifted.scores[0], free_search.scores[0]);
  std::int16_t x = 0, y = 0;
  std::uint8_t angle = 1;
  xform_get_dpi(shifted.transform, &x, &y, &angle, 500);
  EXPECT_EQ(x, 16);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(angle, 0);
  xform_release(shifted.transform);

  // The transform written back is made at the resolution of key
  // 0x94547f74: 16 pixels at 250 dpi are 32 at 500.
  ASSERT_EQ(param_set(ctx, 0x94547f74, 250), ML_OK);
  const MatchOutcome at250 = run_match(ctx, t, t, xform_create_dpi(16, 0, 0, 500));
  ASSERT_EQ(at250.status, ML_OK);
  xform_get_dpi(at250.transform, &x, &y, &angle, 500);
  EXPECT_EQ(x, 32);
  xform_release(at250.transform);
  // A resolution of 0 falls back to 500 dpi.
  ASSERT_EQ(param_set(ctx, 0x94547f74, 0), ML_OK);
  const MatchOutcome at0 = run_match(ctx, t, t, xform_create_dpi(16, 0, 0, 500));
  ASSERT_EQ(at0.status, ML_OK);
  xform_get_dpi(at0.transform, &x, &y, &angle, 500);
  EXPECT_EQ(x, 16);
  xform_release(at0.transform);
  xform_release(identity);
  blob_release(t);
  ctx_release(ctx);
}

TEST(TextureAlgorithm, MatchFailuresLeaveNothing) {
  MatchContext* ctx = ctx_create();
  DataBlob* good = gridmap_template(zyl::test::world_map(20, 20, 8, 0, 0, 0));
  const std::uint8_t bad_map[3] = {1, 2, 3};
  DataBlob* bad = container_put_entry(nullptr, TEXTURE_GRIDMAP_KIND, bad_map, 3);
  DataBlob* none = container_put_entry(nullptr, 86, bad_map, 3);
  struct Case {
    DataBlob* first;
    DataBlob* second;
    int status;
  };
  const Case cases[] = {{none, good, ML_NOT_FOUND},
                        {good, none, ML_NOT_FOUND},
                        {bad, good, ML_UNAVAILABLE},  // an invalid map has no work size
                        {good, bad, ML_UNAVAILABLE}};
  for (const Case& c : cases) {
    const MatchOutcome r = run_match(ctx, c.first, c.second, xform_create_dpi(0, 0, 0, 500));
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.scores.empty());
    EXPECT_EQ(r.transform, nullptr);  // released, not replaced
  }

  // Out of memory at any step: 9, no array, no transform, no leak.
  zyl::test::sweep_allocation_failures([&] {
    RigidTransform* given = xform_create_dpi(0, 0, 0, 500);
    if (!given) return;
    std::uint16_t* scores = nullptr;
    std::uint16_t count = 0;
    const int st = texture_match(ctx, good, good, &scores, &count, &given);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
      EXPECT_EQ(scores, nullptr);
      EXPECT_EQ(count, 0);
      EXPECT_EQ(given, nullptr);
    } else {
      EXPECT_EQ(st, ML_OK);
      EXPECT_EQ(count, 17);
    }
    std::free(scores);
    xform_release(given);
  });
  blob_release(good);
  blob_release(bad);
  blob_release(none);
  ctx_release(ctx);
}

TEST(TextureAlgorithm, DescriptorBundlesTheRoutines) {
  EXPECT_EQ(TextureAlgorithm.id, 1001);
  EXPECT_EQ(TextureAlgorithm.load_models, &model_set_load);
  EXPECT_EQ(TextureAlgorithm.extract, &texture_extract);
  EXPECT_EQ(TextureAlgorithm.image_from_raw, &texture_image_from_raw);
  EXPECT_EQ(TextureAlgorithm.match, &texture_match);
  EXPECT_EQ(TextureAlgorithm.decide, &texture_decide);
  EXPECT_EQ(TextureAlgorithm.detect, &detect_extremum);
  EXPECT_EQ(TextureAlgorithm.detect_scaled, &detect_extremum_scaled);
}

}  // namespace
