// Learned quality of images and template pairs: the model's limits, the
// features of a real print, the cached score and its levels, and the input
// vector of a template pair.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "matchlib/match/learned_match.h"
#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_quality_model.h"

namespace {

struct Model {
  MatchContext* ctx = ctx_create();
  QualityModelHolder* h = quality_model_create_default(ctx);
  ~Model() {
    quality_model_release(h);
    ctx_release(ctx);
  }
};

struct Image {
  GrayImage* p;
  explicit Image(GrayImage* img) : p(img) {}
  ~Image() { image_release(p); }
};

GrayImage* flat(int h, int w, int dpi = 500) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(h) * w);
  for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint8_t>((i * 37) % 251);
  return image_create(h, w, dpi, dpi, px.data(), 0);
}

GrayImage* print() {
  const auto pgm = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  return image_create(pgm.height, pgm.width, 500, 500, pgm.pixels.data(), 0);
}

TEST(QualityFeatures, ModelLimits) {
  Model m;
  struct Case {
    int h, w;
    int status;
  } cases[] = {{10, 9, ML_OUT_OF_LIMITS}, {9, 10, ML_OUT_OF_LIMITS}, {10, 10, ML_OK},
               {10, 10001, ML_OUT_OF_LIMITS}};
  for (const Case& c : cases) {
    Image img(flat(c.h, c.w));
    std::int32_t* values = nullptr;
    std::uint16_t count = 0;
    EXPECT_EQ(quality_extract_features(m.h, img.p, &values, &count), c.status) << c.h << "x" << c.w;
    EXPECT_EQ(count, c.status == ML_OK ? 190 : 0);
    std::free(values);
  }

  // A disabled model, and one that wants 508 dpi.
  QualityModel off = *quality_model_builtin();
  off.enabled = 0;
  QualityModel dpi508 = *quality_model_builtin();
  dpi508.resolution_x = 508;
  Image img(flat(20, 20));
  for (const auto& [model, status] :
       {std::pair{&off, int{ML_WRONG_KIND}}, std::pair{&dpi508, int{ML_OUT_OF_LIMITS}}}) {
    QualityModelHolder* h = quality_model_create(m.ctx, model);
    std::int32_t* values = nullptr;
    std::uint16_t count = 0;
    EXPECT_EQ(quality_extract_features(h, img.p, &values, &count), status);
    EXPECT_EQ(values, nullptr);
    quality_model_release(h);
  }
  std::uint16_t count = 0;
  std::int32_t* values = nullptr;
  EXPECT_EQ(quality_extract_features(nullptr, img.p, &values, &count), ML_BAD_ARGUMENT);
}

TEST(QualityFeatures, RealPrintHasTextureAndScores500) {
  Model m;
  Image img(print());
  ASSERT_NE(img.p, nullptr);
  std::int32_t* values = nullptr;
  std::uint16_t count = 0;
  ASSERT_EQ(quality_extract_features(m.h, img.p, &values, &count), ML_OK);
  ASSERT_EQ(count, 190);
  std::int64_t lbp = 0;
  for (int i = 0; i < 36; ++i) lbp += values[i];
  EXPECT_GT(lbp, 0);
  EXPECT_GT(values[142], 0);  // ridge skeletons were traced
  EXPECT_GT(values[176], 0);  // and valley skeletons
  std::free(values);

  std::int16_t score = 0;
  ASSERT_EQ(quality_model_image_score(m.h, img.p, &score), ML_OK);
  EXPECT_EQ(score, 500);
  EXPECT_EQ(image_stored_quality(img.p), 500);
  for (int level = 0; level < 10; ++level) {
    int flag = -1;
    ASSERT_EQ(quality_model_image_meets_level(m.h, img.p, level, &flag), ML_OK);
    EXPECT_EQ(flag, level <= 6 ? 1 : 0) << level;
  }
}

TEST(QualityScore, AFailedAllocationAnswers9OnceAndTheNextCallScores) {
  Model m;
  // Fresh images made before the failures are armed: a score is cached.
  std::vector<std::unique_ptr<Image>> images;
  for (int i = 0; i < 10; ++i) images.push_back(std::make_unique<Image>(flat(40, 40)));
  std::size_t next = 0;
  const int allocations = zyl::test::sweep_allocation_failures([&] {
    Image& img = *images.at(next++);
    std::int16_t score = -1;
    const int st = quality_model_image_score(m.h, img.p, &score);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
      EXPECT_EQ(image_stored_quality(img.p), 0xFFFF);  // nothing cached
      // The failure does not outlive its call.
      EXPECT_EQ(quality_model_image_score(m.h, img.p, &score), ML_OK);
    } else {
      EXPECT_EQ(st, ML_OK);
    }
    EXPECT_EQ(score, 500);
  });
  EXPECT_EQ(allocations, 6);  // working copy, features, three block maps, scratch
}

TEST(QualityScore, StoredValueComesBackUncomputed) {
  Model m;
  // 9 pixels wide: computing would fail with 18, so a success shows the
  // stored value was taken as it stands.
  Image img(flat(20, 9));
  for (const std::uint16_t stored : {0, 900}) {
    image_set_stored_quality(img.p, stored);
    std::int16_t score = -1;
    EXPECT_EQ(quality_model_image_score(m.h, img.p, &score), ML_OK);
    EXPECT_EQ(score, stored);
  }
  image_set_stored_quality(img.p, 0xFFFF);
  std::int16_t score = -1;
  EXPECT_EQ(quality_model_image_score(m.h, img.p, &score), ML_OUT_OF_LIMITS);
  int flag = 5;
  EXPECT_EQ(quality_model_image_meets_level(m.h, img.p, 10, &flag), ML_BAD_ARGUMENT);
  EXPECT_EQ(flag, 5);  // refused before anything else
  EXPECT_EQ(quality_model_image_meets_level(nullptr, img.p, 3, &flag), ML_BAD_ARGUMENT);
  EXPECT_EQ(flag, 0);
}

// A container holding a kind-87 feature vector of `count` values.
DataBlob* template_with_vector(int count, std::int32_t first) {
  FeatureVector* v = nullptr;
  featvec_create(300, 400, &v);
  v->count = static_cast<std::uint16_t>(count);
  v->values = static_cast<std::int32_t*>(std::malloc(sizeof(std::int32_t) * (count + 1)));
  for (int i = 0; i < count; ++i) v->values[i] = first + i;
  std::uint8_t* bytes = nullptr;
  std::uint16_t size = 0;
  featvec_write(v, &bytes, &size);
  DataBlob* c = container_put_entry(nullptr, 87, bytes, size);
  std::free(bytes);
  featvec_free(v);
  return c;
}

TEST(LearnedMatchInputs, SubScoresThenSecondThenFirst) {
  Model m;
  const MlpNetwork& net = *quality_model_network(m.h);
  DataBlob* a = template_with_vector(190, 1000);
  DataBlob* b = template_with_vector(190, 5000);
  std::vector<std::uint16_t> sub(57);
  for (int i = 0; i < 57; ++i) sub[i] = static_cast<std::uint16_t>(60000 + i);
  std::int32_t* in = nullptr;
  std::int32_t length = 0;
  ASSERT_EQ(zyl::matchlib::learned_match_inputs(sub.data(), 57, a, b, net, &in, &length), ML_OK);
  EXPECT_EQ(length, 437);
  EXPECT_EQ(in[0], 60000);  // widened without sign
  EXPECT_EQ(in[57], 5000);  // the second template first
  EXPECT_EQ(in[57 + 190], 1000);
  EXPECT_EQ(mlp_forward(in, &net), 500);
  std::free(in);

  // Short vectors: the network still reads 190 values, the rest zeros.
  DataBlob* s1 = template_with_vector(10, 1);
  DataBlob* s2 = template_with_vector(10, 2);
  ASSERT_EQ(zyl::matchlib::learned_match_inputs(nullptr, 0, s1, s2, net, &in, &length), ML_OK);
  EXPECT_EQ(length, 20);
  EXPECT_EQ(mlp_forward(in, &net), 500);
  std::free(in);

  // Different lengths: 3; no vector entry: 6; not a container: 3.
  EXPECT_EQ(zyl::matchlib::learned_match_inputs(nullptr, 0, a, s1, net, &in, &length),
            ML_UNAVAILABLE);
  DataBlob* other = container_put_entry(nullptr, 86, reinterpret_cast<const std::uint8_t*>("abc"), 3);
  EXPECT_EQ(zyl::matchlib::learned_match_inputs(nullptr, 0, a, other, net, &in, &length),
            ML_NOT_FOUND);
  DataBlob* raw = blob_create(87, "abcdefghijkl", 12);
  EXPECT_EQ(zyl::matchlib::learned_match_inputs(nullptr, 0, raw, a, net, &in, &length),
            ML_UNAVAILABLE);
  EXPECT_EQ(in, nullptr);
  EXPECT_EQ(length, 0);
  for (DataBlob* blob : {a, b, s1, s2, other, raw}) blob_release(blob);
}

}  // namespace
