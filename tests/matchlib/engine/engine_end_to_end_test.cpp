// A three-stage engine with scripted routines extracts real prints and
// verifies them against multi-view templates, through the engine's
// convenience calls, with blob and image probes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/pgm.h"
#include "support/print_images.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_mvt.h"
#include "zylscan/matchlib_verify.h"

namespace {

// Scores a pair by its kind-79 sections: equal sections score high.
int section_match(MatchContext*, DataBlob* view, DataBlob* probe, uint16_t** out, uint16_t* count,
                  RigidTransform** transform) {
  const uint8_t *a = nullptr, *b = nullptr;
  uint32_t la = 0, lb = 0;
  if (tmpl_get_section(view, 79, &a, &la) != ML_OK || tmpl_get_section(probe, 79, &b, &lb) != ML_OK)
    return ML_NOTHING_TO_COMPARE;
  *out = static_cast<uint16_t*>(std::malloc(2));
  if (!*out) return ML_NO_MEMORY;
  (*out)[0] = la == lb && std::memcmp(a, b, la) == 0 ? 40000 : 100;
  *count = 1;
  xform_release(*transform);
  *transform = xform_create(3, 0, 0);
  return *transform ? ML_OK : ML_NO_MEMORY;
}

const StageMatchOps kSectionOps{section_match, zyl::test::scripted_fuse};
const StageMatchOps kSectionOps2{section_match, zyl::test::scripted_fuse};
const ScoreProfile kP1{&kSectionOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile kP2{&kSectionOps2, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile* const kProfiles[] = {&kP1, &kP2, nullptr};

struct ThreeStages {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  ThreeStages() {
    zyl::test::script() = {};
    StageChain* chain = chain_create();
    chain_append(chain, stage_create(&zyl::test::kScriptedExtractor, 79, nullptr, &kSectionOps, 0, 0));
    chain_append(chain, stage_create(&zyl::test::kScriptedExtractor, 77, nullptr, nullptr, 0, 0));
    chain_append(chain, stage_create(nullptr, 79, nullptr, &kSectionOps2, 0, 0));
    engine = engine_create(ctx, chain, 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
    engine_set_score_profiles(engine, kProfiles);
  }
  ~ThreeStages() {
    engine_release(engine);
    ctx_release(ctx);
  }
  GrayImage* image(const char* name) const {
    return zyl::test::load_print_image(name);
  }
  DataBlob* extract(GrayImage* img) const {
    DataBlob* out = nullptr;
    EXPECT_EQ(engine_extract_image(engine, img, nullptr, &out), ML_OK);
    return out;
  }
};

TEST(EngineEndToEnd, ExtractsAndVerifiesAgainstMultiViewTemplates) {
  ThreeStages e;
  GrayImage* a = e.image("fvc2002_101_1_crop.pgm");
  GrayImage* b = e.image("fvc2004_101_1.pgm");
  DataBlob* ta = e.extract(a);
  DataBlob* tb = e.extract(b);
  ASSERT_TRUE(ta && tb);

  // An enrolled finger of two views, merged into one multi-view template.
  DataBlob** wrapped = engine_gallery_to_views(e.engine, &tb, 1);
  ASSERT_NE(wrapped, nullptr);
  DataBlob* enrolled = nullptr;
  ASSERT_EQ(engine_merge_templates(e.engine, wrapped[0], &ta, 1, &enrolled, nullptr, nullptr), ML_OK);
  engine_free_views(wrapped, 1);
  MultiViewTemplate* t = nullptr;
  ASSERT_EQ(mvt_from_blob(enrolled, &t), ML_OK);
  EXPECT_EQ(mvt_count_unmarked_views(t), 2);
  mvt_release(t);

  int32_t decision = 0, gallery_index = -1, view_index = -1;
  RigidTransform* alignment = nullptr;
  ASSERT_EQ(engine_match_decide(e.engine, &enrolled, 1, ta, 10, &decision, &alignment, &gallery_index, &view_index),
            ML_OK);
  EXPECT_EQ(decision, 1);
  EXPECT_EQ(gallery_index, 0);
  EXPECT_EQ(view_index, 1);
  EXPECT_EQ(xform_get_dx(alignment), -3);
  xform_release(alignment);

  // A plain template gallery: only the other print, which does not match.
  uint16_t score = 0;
  ASSERT_EQ(engine_verify_score(e.engine, &tb, 1, ta, &score), ML_OK);
  EXPECT_EQ(score, (100 * 10) / 10);
  ASSERT_EQ(engine_verify_score(e.engine, &enrolled, 1, ta, &score), ML_OK);
  EXPECT_EQ(score, (10 * 40000 + 100) / 11);

  // An image probe: each stage extracts its own section on the way.
  MatchResult* r = nullptr;
  ASSERT_EQ(engine_match_image_result(e.engine, &enrolled, 1, a, 10, &r), ML_OK);
  EXPECT_EQ(match_result_is_match(r), 1);
  EXPECT_EQ(tmpl_has_section(r->probe_blob, 79), 1);
  EXPECT_EQ(tmpl_has_section(r->probe_blob, 86), 1);
  match_result_release(r);

  // Counting decisions by score.
  std::vector<uint32_t> counters(65536, 0);
  ASSERT_EQ(engine_count_decision(e.engine, &enrolled, 1, tb, nullptr, counters.data()), ML_OK);
  EXPECT_EQ(counters[(10 * 40000 + 100) / 11], 1u);

  // Adapting the enrolled template with a matched image probe adds its view.
  ASSERT_EQ(engine_match_image_result(e.engine, &enrolled, 1, b, 28, &r), ML_OK);
  DataBlob* adapted = nullptr;
  ASSERT_EQ(engine_adapt_template(e.engine, enrolled, r, &adapted, nullptr, nullptr), ML_OK);
  ASSERT_EQ(mvt_from_blob(adapted, &t), ML_OK);
  EXPECT_EQ(mvt_count_unmarked_views(t), 3);
  mvt_release(t);
  blob_release(adapted);
  match_result_release(r);

  blob_release(enrolled);
  blob_release(ta);
  blob_release(tb);
  image_release(a);
  image_release(b);
}

}  // namespace
