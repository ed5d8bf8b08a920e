// Match context attachments, the library identity, and the hashed
// parameter stores.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "matchlib/core/match_context.h"
#include "support/allocation_sweep.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"

namespace {

using zyl::matchlib::Ref;

std::vector<std::string> g_destroyed;
void destroy_named(void* value) { g_destroyed.push_back(static_cast<const char*>(value)); }

TEST(MatchContext, CountsReferencesAndDestroysAttachmentsNewestFirst) {
  g_destroyed.clear();
  MatchContext* ctx = ctx_create();
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx_refcount(ctx), 1u);
  char engine[] = "engine", store[] = "store", other[] = "other";
  ASSERT_EQ(ctx_attach(ctx, engine, CTX_KEY_ENGINE, destroy_named), ML_OK);
  ASSERT_EQ(ctx_attach(ctx, store, CTX_KEY_PARAMS, destroy_named), ML_OK);
  ASSERT_EQ(ctx_attach(ctx, other, 42, nullptr), ML_OK);  // not owned
  EXPECT_EQ(ctx_attachment_count(ctx), 3u);
  EXPECT_EQ(ctx_get_engine(ctx), reinterpret_cast<MatchEngine*>(engine));
  EXPECT_EQ(ctx_find(ctx, 42), other);

  EXPECT_EQ(ctx_create_or_retain(ctx), ctx);
  EXPECT_EQ(ctx_retain(ctx), ctx);
  EXPECT_EQ(ctx_refcount(ctx), 3u);
  ctx_release(ctx);
  ctx_release(ctx);
  EXPECT_TRUE(g_destroyed.empty());
  ctx_release(ctx);
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"store", "engine"}));
}

TEST(MatchContext, AttachReplacesTheOldValue) {
  g_destroyed.clear();
  // The values outlive the context: its destructor still hands them to
  // destroy_named.
  char first[] = "first", second[] = "second";
  auto ctx = Ref<MatchContext>::adopt(ctx_create());
  ASSERT_EQ(ctx_attach(ctx.get(), first, CTX_KEY_PARAMS, destroy_named), ML_OK);
  ASSERT_EQ(ctx_attach(ctx.get(), second, CTX_KEY_PARAMS, destroy_named), ML_OK);
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"first"}));
  EXPECT_EQ(ctx_attachment_count(ctx.get()), 1u);
  EXPECT_EQ(ctx_find(ctx.get(), CTX_KEY_PARAMS), second);

  ctx_detach(ctx.get(), 99);  // absent: nothing changes
  EXPECT_EQ(ctx_attachment_count(ctx.get()), 1u);
  ctx_detach(ctx.get(), CTX_KEY_PARAMS);
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(ctx_attachment_count(ctx.get()), 0u);
  EXPECT_EQ(ctx_find(ctx.get(), CTX_KEY_PARAMS), nullptr);
  // The list is whole again after removing its only node.
  ASSERT_EQ(ctx_attach(ctx.get(), first, 1, nullptr), ML_OK);
  ASSERT_EQ(ctx_attach(ctx.get(), second, 2, nullptr), ML_OK);
  ctx_detach(ctx.get(), 1);
  ctx_detach(ctx.get(), 2);
  EXPECT_EQ(ctx_attachment_count(ctx.get()), 0u);
}

TEST(MatchContext, FailedReattachKeepsTheOldValue) {
  g_destroyed.clear();
  // The values outlive the context: its destructor still hands them to
  // destroy_named.
  char first[] = "first", second[] = "second";
  auto ctx = Ref<MatchContext>::adopt(ctx_create());
  ASSERT_EQ(ctx_attach(ctx.get(), first, CTX_KEY_PARAMS, destroy_named), ML_OK);
  zyl::test::sweep_allocation_failures([&] {
    const int status = ctx_attach(ctx.get(), second, CTX_KEY_PARAMS, destroy_named);
    if (!zyl::test::allocation_failed()) {
      EXPECT_EQ(status, ML_OK);
      return;
    }
    EXPECT_EQ(status, ML_NO_MEMORY);
    EXPECT_TRUE(g_destroyed.empty());
    EXPECT_EQ(ctx_find(ctx.get(), CTX_KEY_PARAMS), first);
    EXPECT_EQ(ctx_attachment_count(ctx.get()), 1u);
  });
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"first"}));
  EXPECT_EQ(ctx_find(ctx.get(), CTX_KEY_PARAMS), second);
}

TEST(MatchContext, NullContextIsAcceptedEverywhere) {
  EXPECT_EQ(ctx_attach(nullptr, nullptr, 8, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(ctx_find(nullptr, 8), nullptr);
  EXPECT_EQ(ctx_get_engine(nullptr), nullptr);
  EXPECT_EQ(ctx_retain(nullptr), nullptr);
  ctx_release(nullptr);
  ctx_detach(nullptr, 8);
  MatchContext* fresh = ctx_create_or_retain(nullptr);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(ctx_refcount(fresh), 1u);
  ctx_release(fresh);
}

TEST(MatchContext, LibraryIdentity) {
  EXPECT_STREQ(lib_framework_name(), "KelvoFramework");
  EXPECT_STREQ(lib_release_name(), "R1001");
  EXPECT_EQ(lib_version_number(), 10010);
  const std::string id = lib_build_id();
  EXPECT_EQ(id.size(), 40u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(ParamKeyHash, KnownIdsAndLengthRules) {
  EXPECT_EQ(param_key_hash("abc"), 0x97128c03u);
  EXPECT_EQ(param_key_hash(""), 0xddf16a00u);
  EXPECT_EQ(param_key_hash(nullptr), 0xddf16a00u);
  const std::string base(64, 'k');
  EXPECT_EQ(param_key_hash(base.c_str()), param_key_hash((base + "zzzzzz").c_str()));
  EXPECT_NE(param_key_hash(base.c_str()), param_key_hash(base.substr(0, 63).c_str()));
  EXPECT_EQ(param_key_hash(std::string(200, 'q').c_str()), 0xddf16a00u);  // low byte negative
  // Only the length's low byte counts: 259 characters hash as their first 3.
  EXPECT_EQ(param_key_hash(("abc" + std::string(256, 'z')).c_str()), 0x97128c03u);
  EXPECT_NE(param_key_hash("vn.algorithm.sensor_type"), param_key_hash("vn.algorithm.sensor_size"));
}

// Every test leaves the process-wide store empty.
class ParamStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ctx_ = ctx_create(); }
  void TearDown() override {
    ctx_release(ctx_);
    param_clear(nullptr);
  }
  MatchContext* ctx_ = nullptr;
};

TEST_F(ParamStoreTest, ContextValueShadowsTheProcessWideValue) {
  const uint32_t k = param_key_hash("vn.test.shadow");
  EXPECT_EQ(param_get(ctx_, k, -7), -7);
  ASSERT_EQ(param_set(nullptr, k, 5), ML_OK);
  EXPECT_EQ(param_get(ctx_, k, -7), 5);  // falls back to the process-wide store
  EXPECT_EQ(ctx_find(ctx_, CTX_KEY_PARAMS), nullptr);
  ASSERT_EQ(param_set(ctx_, k, 11), ML_OK);
  EXPECT_EQ(param_get(ctx_, k, -7), 11);
  EXPECT_EQ(param_get(nullptr, k, -7), 5);
  param_remove_text(ctx_, "vn.test.shadow");
  EXPECT_EQ(param_get(ctx_, k, -7), 5);
  param_remove_text(nullptr, "vn.test.shadow");
  EXPECT_EQ(param_get(ctx_, k, -7), -7);
}

TEST_F(ParamStoreTest, EnsureCopiesTheVisibleValueIntoTheContext) {
  const uint32_t k = param_key_hash("vn.test.ensure");
  ASSERT_EQ(param_set(nullptr, k, 5), ML_OK);
  ASSERT_EQ(param_ensure(ctx_, k, 9), ML_OK);
  param_clear(nullptr);
  EXPECT_EQ(param_get(ctx_, k, 0), 5);
  ASSERT_EQ(param_ensure_text(ctx_, "vn.test.other", 9), ML_OK);
  EXPECT_EQ(param_get_text(ctx_, "vn.test.other", 0), 9);
}

TEST_F(ParamStoreTest, SettingAKeyTwiceKeepsOneEntryWithTheLastValue) {
  ASSERT_EQ(param_set_text(ctx_, "vn.a", 1), ML_OK);
  ASSERT_EQ(param_set_text(ctx_, "vn.b", 2), ML_OK);
  ASSERT_EQ(param_set_text(ctx_, "vn.a", 3), ML_OK);
  ParamRecord* records = nullptr;
  int count = -1;
  ASSERT_EQ(param_list(ctx_, &records, &count), ML_OK);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(records[0].value, 2);  // newest first
  EXPECT_EQ(records[1].value, 3);
  EXPECT_EQ(records[0].text[0], 0);
  EXPECT_EQ(sizeof(ParamRecord), 68u);
  std::free(records);
}

TEST_F(ParamStoreTest, ListOfAnEmptyOrMissingStore) {
  ParamRecord* records = nullptr;
  int count = -1;
  ASSERT_EQ(param_list(ctx_, &records, &count), ML_OK);
  EXPECT_EQ(count, 0);
  EXPECT_NE(records, nullptr);
  std::free(records);
  EXPECT_EQ(param_list(nullptr, &records, &count), ML_BAD_ARGUMENT);
}

TEST_F(ParamStoreTest, ClearDropsTheContextStore) {
  ASSERT_EQ(param_set_text(ctx_, "vn.a", 1), ML_OK);
  EXPECT_NE(ctx_find(ctx_, CTX_KEY_PARAMS), nullptr);
  param_clear(ctx_);
  EXPECT_EQ(ctx_find(ctx_, CTX_KEY_PARAMS), nullptr);
  EXPECT_EQ(param_get_text(ctx_, "vn.a", 77), 77);
  param_clear(ctx_);  // nothing to clear
}

TEST_F(ParamStoreTest, NamedCoreParametersAndTheirDefaults) {
  EXPECT_EQ(param_get_sensor_type(ctx_), 0);
  EXPECT_EQ(param_get_sensor_size(ctx_), 0);
  EXPECT_EQ(param_get_360(ctx_), 1);
  ASSERT_EQ(param_set_sensor_type(ctx_, 3), ML_OK);
  ASSERT_EQ(param_set_sensor_size(ctx_, 4), ML_OK);
  ASSERT_EQ(param_set_360(ctx_, 0), ML_OK);
  EXPECT_EQ(param_get_sensor_type(ctx_), 3);
  EXPECT_EQ(param_get_sensor_size(ctx_), 4);
  EXPECT_EQ(param_get_360(ctx_), 0);
  EXPECT_EQ(param_get_text(ctx_, "vn.algorithm.360", 9), 0);
  EXPECT_EQ(param_get_360(nullptr), 1);
}

}  // namespace
