// Allocation failures across engine creation, extraction and verification:
// every failing path answers out of memory (or no engine), leaves the
// caller's objects whole and leaks nothing.
#include <gtest/gtest.h>

#include <vector>

#include "support/allocation_sweep.h"
#include "support/pgm.h"
#include "support/scripted_stages.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_verify.h"

namespace {

constexpr const char* k360 = "vn.algorithm.360";

StageChain* scripted_chain() {
  StageChain* chain = chain_create();
  chain_append(chain, stage_create(&zyl::test::kScriptedExtractor, 79, nullptr, &zyl::test::kScriptedOps, 0, 0));
  chain_append(chain, stage_create(&zyl::test::kScriptedExtractor, 77, nullptr, nullptr, 0, 0));
  chain_append(chain, stage_create(nullptr, 79, nullptr, &zyl::test::kScriptedOps2, 0, 0));
  return chain;
}

TEST(EngineAllocation, AFailedCreationLeavesTheChainAndTheStoresAlone) {
  param_set_text(nullptr, k360, 5);  // the process-wide store
  constexpr int kPool = 400;
  std::vector<MatchContext*> contexts;
  std::vector<StageChain*> chains;
  for (int i = 0; i < kPool; ++i) {
    contexts.push_back(ctx_create());
    chains.push_back(scripted_chain());
  }
  int round = 0;
  const int allocations = zyl::test::sweep_allocation_failures(
      [&] {
        ASSERT_LT(round, kPool);
        MatchContext* ctx = contexts[static_cast<size_t>(round)];
        StageChain* chain = chains[static_cast<size_t>(round)];
        ++round;
        MatchEngine* engine = engine_create(ctx, chain, 79, 1, 2, nullptr, 0, nullptr, 0, nullptr);
        if (!zyl::test::allocation_failed()) {
          ASSERT_NE(engine, nullptr);
          engine_release(engine);  // frees the chain
          return;
        }
        EXPECT_EQ(engine, nullptr);
        EXPECT_EQ(ctx_get_engine(ctx), nullptr);
        EXPECT_EQ(ctx_refcount(ctx), 1u);
        EXPECT_EQ(param_get_text(nullptr, k360, -1), 5);
        chain_free(chain);  // still the caller's
      },
      kPool);
  EXPECT_GT(allocations, 3);
  for (int i = round; i < kPool; ++i) chain_free(chains[static_cast<size_t>(i)]);
  for (MatchContext* c : contexts) ctx_release(c);
  param_clear(nullptr);
}

const ScoreProfile kProfile1{&zyl::test::kScriptedOps, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile kProfile2{&zyl::test::kScriptedOps2, 0, {nullptr, -1, score_model_eval_pass, nullptr}, nullptr};
const ScoreProfile* const kProfiles[] = {&kProfile1, &kProfile2, nullptr};

struct Engine {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, scripted_chain(), 84, 0, 0, nullptr, 0, nullptr, 0, nullptr);
  zyl::test::GreyImage print = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_crop.pgm"));
  Engine() {
    zyl::test::script() = {};
    engine_set_score_profiles(engine, kProfiles);
  }
  ~Engine() {
    engine_release(engine);
    ctx_release(ctx);
  }
};

TEST(EngineAllocation, ExtractionAnswersOutOfMemory) {
  Engine e;
  GrayImage* image = image_create(e.print.height, e.print.width, 500, 500, e.print.pixels.data(), 0);
  const int allocations = zyl::test::sweep_allocation_failures([&] {
    DataBlob* out = nullptr;
    const int status = engine_extract_image(e.engine, image, nullptr, &out);
    if (!zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_OK);
      EXPECT_NE(out, nullptr);
    } else {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(out, nullptr);
    }
    blob_release(out);
  });
  EXPECT_GT(allocations, 3);
  EXPECT_EQ(object_refcount(image), 1);
  image_release(image);
}

TEST(EngineAllocation, VerificationAnswersOutOfMemory) {
  Engine e;
  DataBlob* enrolled = zyl::test::make_template(1, 80, 77);
  DataBlob* probe = zyl::test::make_template(2, 80, 77);
  zyl::test::script().default_score = 500;
  const std::vector<uint8_t> probe_bytes(blob_data(probe), blob_data(probe) + blob_size(probe));
  const int allocations = zyl::test::sweep_allocation_failures([&] {
    uint16_t score = 7;
    const int status = engine_verify_score(e.engine, &enrolled, 1, probe, &score);
    if (!zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_OK);
      EXPECT_EQ(score, 500);
    } else {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(score, 0);
    }
  });
  EXPECT_GT(allocations, 10);
  EXPECT_EQ(blob_refcount(probe), 1u);
  EXPECT_EQ(blob_refcount(enrolled), 1u);
  EXPECT_EQ(std::vector<uint8_t>(blob_data(probe), blob_data(probe) + blob_size(probe)), probe_bytes);
  blob_release(enrolled);
  blob_release(probe);
}

}  // namespace
