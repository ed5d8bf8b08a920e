// The match engine object: creation on a context, options mirrored into
// the context's parameters, teardown, and the configuration calls.
#include <gtest/gtest.h>

#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace {

constexpr const char* k360 = "vn.algorithm.360";
constexpr const char* kSpectral = "vn.ehm.spectral_increase_hr_search_range";
constexpr uint32_t kOption1Key = 0x8a4a9dcd;

struct Engine {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = nullptr;
  ~Engine() {
    engine_release(engine);
    ctx_release(ctx);
  }
};

TEST(MatchEngine, CreationSetsOptionsAndMirrorsThem) {
  Engine e;
  const int32_t on[] = {0};
  const int32_t switchable[] = {0, 2};
  e.engine = engine_create(e.ctx, chain_create(), 79, 3, 4, on, 1, switchable, 2, nullptr);
  ASSERT_NE(e.engine, nullptr);
  EXPECT_EQ(engine_get_option(e.engine, 0), 1);
  EXPECT_EQ(engine_get_option(e.engine, 1), 0);
  EXPECT_EQ(engine_get_option(e.engine, 2), 0);
  EXPECT_EQ(param_get_text(e.ctx, k360, -7), 1);
  EXPECT_EQ(param_get(e.ctx, kOption1Key, -7), 0);
  EXPECT_EQ(param_get_text(e.ctx, kSpectral, -7), 0);
  EXPECT_EQ(param_get_sensor_type(e.ctx), 3);
  EXPECT_EQ(param_get_sensor_size(e.ctx), 4);
  EXPECT_EQ(engine_get_format(e.engine), 79);
  EXPECT_EQ(ctx_get_engine(e.ctx), e.engine);

  struct Case {
    int index;
    int32_t value;
    int status;
  } cases[] = {{1, 1, ML_WRONG_KIND}, {2, 1, ML_OK}, {3, 1, ML_BAD_ARGUMENT}, {-1, 1, ML_BAD_ARGUMENT}};
  for (const Case& c : cases) EXPECT_EQ(engine_set_option(e.engine, c.index, c.value), c.status) << c.index;
  EXPECT_EQ(param_get_text(e.ctx, kSpectral, -7), 1);
  EXPECT_EQ(engine_set_option(nullptr, 0, 1), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_get_option(e.engine, 3), -1);
}

TEST(MatchEngine, DefaultsOfAFreshEngine) {
  Engine e;
  StageChain* chain = chain_create();
  ASSERT_EQ(engine_new(e.ctx, chain, &e.engine), ML_OK);
  EXPECT_EQ(engine_get_format(e.engine), 84);
  EXPECT_EQ(engine_uses_image_input(e.engine), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(engine_get_option(e.engine, i), 1);
    EXPECT_EQ(engine_option_switchable(e.engine, i), 1);
  }
  const EngineConfig* c = engine_get_config(e.engine);
  EXPECT_EQ(c->most_views, 96);
  EXPECT_EQ(c->unnamed_u8_1, 32);
  EXPECT_EQ(c->unnamed_i32_1, 1);
  EXPECT_EQ(engine_get_chain(e.engine), chain);
  EXPECT_EQ(ctx_refcount(e.ctx), 2u);
}

TEST(MatchEngine, TeardownRemovesTheMirroredKeysFromTheCallersContext) {
  MatchContext* ctx = ctx_create();
  MatchEngine* engine = engine_create(ctx, chain_create(), 79, 1, 2, nullptr, 0, nullptr, 0, nullptr);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(param_get_360(ctx), 0);
  engine_release(engine);
  EXPECT_EQ(param_get_360(ctx), 1);
  EXPECT_EQ(param_get_sensor_type(ctx), 0);
  EXPECT_EQ(param_get(ctx, kOption1Key, -7), 0);  // this entry stays
  EXPECT_EQ(ctx_get_engine(ctx), nullptr);
  EXPECT_EQ(ctx_refcount(ctx), 1u);
  ctx_release(ctx);
}

TEST(MatchEngine, ASecondEngineOnAContextIsRefusedAndTheChainStaysTheCallers) {
  Engine e;
  ASSERT_EQ(engine_new(e.ctx, chain_create(), &e.engine), ML_OK);
  MatchEngine* second = nullptr;
  StageChain* chain = chain_create();
  EXPECT_EQ(engine_new(e.ctx, chain, &second), ML_BAD_ARGUMENT);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(engine_create(e.ctx, chain, 79, 0, 0, nullptr, 0, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(ctx_get_engine(e.ctx), e.engine);
  chain_free(chain);  // still the caller's: freed exactly once here
}

TEST(MatchEngine, AnEngineWithoutAContextMakesItsOwn) {
  MatchEngine* engine = nullptr;
  ASSERT_EQ(engine_new(nullptr, nullptr, &engine), ML_OK);
  MatchContext* ctx = engine_get_context(engine);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx_refcount(ctx), 1u);
  EXPECT_EQ(ctx_get_engine(ctx), engine);
  engine_release(engine);
}

TEST(MatchEngine, KindLimitsStagesAndFarAdjustment) {
  Engine e;
  StageChain* chain = chain_create();
  chain_append(chain, stage_create(nullptr, 79, nullptr, nullptr, 0, 5));
  chain_append(chain, stage_create(nullptr, 77, nullptr, nullptr, 0, 6));
  ASSERT_EQ(engine_new(e.ctx, chain, &e.engine), ML_OK);
  EXPECT_EQ(engine_set_kind_limit(e.engine, 31, 7), ML_OK);
  EXPECT_EQ(engine_get_kind_limit(e.engine, 31), 7);
  EXPECT_EQ(engine_set_kind_limit(e.engine, 32, 7), ML_BAD_ARGUMENT);
  EXPECT_EQ(engine_get_kind_limit(e.engine, 32), -1);
  EXPECT_EQ(engine_get_kind_limit(nullptr, 0), -1);
  EXPECT_EQ(engine_stage_count(e.engine), 2u);
  EXPECT_EQ(stage_get_kind(engine_get_stage(e.engine, 1)), 77);
  EXPECT_EQ(engine_get_stage(e.engine, 2), nullptr);
  EXPECT_EQ(engine_get_stage(e.engine, -1), nullptr);

  engine_set_far_adjust(e.engine, 4, 0, 8, 1);  // block 1
  const EngineFarAdjust b = engine_get_far_adjust(e.engine, 1);
  EXPECT_EQ(b.count, 4);
  EXPECT_EQ(b.high, 8);
  EXPECT_EQ(engine_get_far_adjust(e.engine, 3).count, 0);
  struct Case {
    int count, level, expected;
  } cases[] = {{2, 10, 14}, {4, 10, 18}, {9, 10, 18}, {0, 10, 10}, {2, 28, 28}, {1, 10, 12}, {2, 26, 28}};
  for (const Case& c : cases)
    EXPECT_EQ(engine_adjust_far_level(e.engine, c.count, c.level, 1), c.expected) << c.count << " " << c.level;
  EXPECT_EQ(engine_adjust_far_level(e.engine, 2, 10, 2), 10);  // block 2 unset
  EXPECT_EQ(engine_adjust_far_level(nullptr, 2, 10, 1), 28);
}

TEST(MatchEngine, HookQualityDecisionAndExpectedSize) {
  Engine e;
  ASSERT_EQ(engine_new(e.ctx, chain_create(), &e.engine), ML_OK);
  EXPECT_EQ(engine_call_hook(e.engine, nullptr, nullptr, nullptr, nullptr, nullptr), ML_WRONG_KIND);
  engine_set_hook(e.engine, [](void*, void*, void*, void*, void*) { return 42; });
  EXPECT_EQ(engine_call_hook(e.engine, nullptr, nullptr, nullptr, nullptr, nullptr), 42);
  EXPECT_EQ(engine_call_hook(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), ML_BAD_ARGUMENT);

  int flag = -1;
  uint16_t rating = 0;
  EXPECT_EQ(engine_quality_decision(e.engine, nullptr, 0, &rating, &flag), ML_OK);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(engine_quality_decision(e.engine, nullptr, 3, &rating, &flag), ML_WRONG_KIND);
  engine_set_rating_routine(e.engine, [](void*, const void*, int, uint16_t* r, int*, MatchEngine*) {
    *r = 32768;
    return 0;
  });
  EXPECT_EQ(engine_quality_decision(e.engine, nullptr, 3, &rating, &flag), ML_OK);
  EXPECT_EQ(rating, 32768);
  EXPECT_EQ(flag, 1);  // step 3 needs 32768
  EXPECT_EQ(engine_quality_decision(e.engine, nullptr, 4, &rating, &flag), ML_OK);
  EXPECT_EQ(flag, 0);  // step 4 needs 33966

  engine_set_expected_size(e.engine, 360, 256);
  int32_t h = 0, w = 0;
  engine_get_expected_size(e.engine, &h, &w);
  EXPECT_EQ(h, 360);
  EXPECT_EQ(w, 256);
  engine_set_expected_dpi(e.engine, 500);
  EXPECT_EQ(engine_get_expected_dpi(e.engine), 500);
}

}  // namespace

TEST(MatchEngine, FarAdjustBlocksChosenByTheSameBitsAsTheGetter) {
  // which: bit value 1 sets block 1, bit value 2 block 2, 3 both; other
  // bits choose nothing.
  const struct {
    int which;
    bool first, second;
  } cases[] = {{0, false, false}, {1, true, false}, {2, false, true},
               {3, true, true},   {4, false, false}, {5, true, false}};
  for (const auto& c : cases) {
    Engine e;
    ASSERT_EQ(engine_new(e.ctx, chain_create(), &e.engine), ML_OK);
    engine_set_far_adjust(e.engine, 4, -3, 8, c.which);
    const EngineFarAdjust one = engine_get_far_adjust(e.engine, 1);
    const EngineFarAdjust two = engine_get_far_adjust(e.engine, 2);
    EXPECT_EQ(one.count, c.first ? 4 : 0) << c.which;
    EXPECT_EQ(one.low, c.first ? -3 : 0) << c.which;
    EXPECT_EQ(one.high, c.first ? 8 : 0) << c.which;
    EXPECT_EQ(two.count, c.second ? 4 : 0) << c.which;
    EXPECT_EQ(two.low, c.second ? -3 : 0) << c.which;
    EXPECT_EQ(two.high, c.second ? 8 : 0) << c.which;
    // The block the level adjustment reads is the one the bit chose.
    EXPECT_EQ(engine_adjust_far_level(e.engine, 4, 10, 1), c.first ? 18 : 10) << c.which;
    EXPECT_EQ(engine_adjust_far_level(e.engine, 4, 10, 2), c.second ? 18 : 10) << c.which;
  }
}
