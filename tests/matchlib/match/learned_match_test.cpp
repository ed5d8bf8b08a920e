// Learned match score of template pairs extracted by the mode-4 engine
// with its texture stage: the input vector's layout and length, the score
// of the built-in network, and the refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/pgm.h"
#include "support/print_images.h"
#include "zylscan/matchlib_container.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_learned_match.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_presets.h"
#include "zylscan/matchlib_quality_model.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_stage_tables.h"

namespace {

constexpr std::uint32_t kKeyTexture = 0x79ce7252u;

struct Mode4 {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  explicit Mode4(bool texture, bool model) {
    param_set(ctx, kKeyTexture, texture ? 1 : 0);
    engine = preset_create_light_verify(ctx);
    if (model) {
      QualityModelHolder* h = quality_model_create_default(ctx);
      engine_set_quality_model(engine, h);
      quality_model_release(h);
    }
  }
  ~Mode4() {
    engine_release(engine);
    ctx_release(ctx);
  }
  DataBlob* extract(const std::string& name) const {
    return zyl::test::extract_print(engine, name);
  }
};

std::vector<std::int32_t> vector_of(const DataBlob* blob) {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  EXPECT_EQ(container_find_entry(blob, 87, &data, &length), ML_OK);
  FeatureVector* v = nullptr;
  EXPECT_EQ(featvec_read(data, length, &v), ML_OK);
  std::vector<std::int32_t> out(v->values, v->values + v->count);
  featvec_free(v);
  return out;
}

TEST(LearnedMatchScore, RealPairGivesSubScoresThenSecondThenFirstAndScores500) {
  Mode4 m(true, true);
  ASSERT_NE(m.engine, nullptr);
  DataBlob* a = m.extract("fvc2002_101_1_crop.pgm");
  DataBlob* b = m.extract("fvc2002_101_2_crop.pgm");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const std::vector<std::int32_t> va = vector_of(a), vb = vector_of(b);
  ASSERT_EQ(va.size(), 190u);
  ASSERT_EQ(vb.size(), 190u);
  // The full matcher on its own, for the expected sub-scores.
  std::uint16_t* subs = nullptr;
  std::uint16_t s = 0;
  RigidTransform* t = nullptr;
  ASSERT_EQ(match_full(m.ctx, a, b, &subs, &s, &t), ML_OK);
  xform_release(t);
  ASSERT_GE(s, FULL_FIXED_SUBSCORES + 1);

  MatchResult* r = match_result_create(1);
  ASSERT_EQ(learned_match_score(m.engine, a, b, r), ML_OK);
  EXPECT_EQ(r->learned_score, 500);  // the built-in network's weights are all 0
  ASSERT_EQ(r->learned_length, s + 2 * 190);
  for (int i = 0; i < s; ++i) EXPECT_EQ(r->learned_inputs[i], subs[i]) << i;
  for (int i = 0; i < 190; ++i) {
    EXPECT_EQ(r->learned_inputs[s + i], vb[i]) << i;
    EXPECT_EQ(r->learned_inputs[s + 190 + i], va[i]) << i;
  }
  std::free(subs);
  // A copy owns its own vector; a second score replaces the first vector.
  MatchResult* c = match_result_copy(r);
  ASSERT_NE(c, nullptr);
  ASSERT_NE(c->learned_inputs, r->learned_inputs);
  EXPECT_EQ(c->learned_length, r->learned_length);
  EXPECT_EQ(c->learned_inputs[s + 1], vb[1]);
  ASSERT_EQ(learned_match_score(m.engine, b, a, r), ML_OK);
  EXPECT_EQ(r->learned_inputs[s + 1], va[1]);
  MatchResult* d = match_result_create(1);
  ASSERT_EQ(match_result_assign(c, d), ML_OK);
  EXPECT_EQ(d->learned_inputs[s + 1], vb[1]);
  match_result_release(d);
  match_result_release(c);
  match_result_release(r);
  blob_release(a);
  blob_release(b);
}

TEST(LearnedMatchScore, Refusals) {
  Mode4 bare(false, false);
  DataBlob* plain_a = bare.extract("fvc2002_101_1_crop.pgm");
  DataBlob* plain_b = bare.extract("fvc2002_101_2_crop.pgm");
  MatchResult* r = match_result_create(1);
  // No quality model, null arguments.
  EXPECT_EQ(learned_match_score(bare.engine, plain_a, plain_b, r), ML_BAD_ARGUMENT);
  EXPECT_EQ(learned_match_score(nullptr, plain_a, plain_b, r), ML_BAD_ARGUMENT);
  EXPECT_EQ(learned_match_score(bare.engine, plain_a, plain_b, nullptr), ML_BAD_ARGUMENT);
  // Templates without feature vector: 6, the result untouched.
  QualityModelHolder* h = quality_model_create_default(bare.ctx);
  engine_set_quality_model(bare.engine, h);
  quality_model_release(h);
  EXPECT_EQ(learned_match_score(bare.engine, plain_a, plain_b, r), ML_NOT_FOUND);
  EXPECT_EQ(r->learned_inputs, nullptr);
  EXPECT_EQ(r->learned_length, 0);
  EXPECT_EQ(r->learned_score, 0);
  // A blob that is no template fails in the matcher.
  DataBlob* junk = blob_create(0, "abc", 3);
  EXPECT_NE(learned_match_score(bare.engine, junk, plain_b, r), ML_OK);
  EXPECT_EQ(r->learned_inputs, nullptr);
  blob_release(junk);
  match_result_release(r);
  blob_release(plain_a);
  blob_release(plain_b);
}

}  // namespace
