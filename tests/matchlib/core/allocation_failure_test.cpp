// Every allocation of object creation and of the blob readers may fail:
// the call answers null or its out-of-memory status, leaks nothing (the
// sanitizer build checks) and leaves the caller's objects as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "support/allocation_sweep.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_finger_info.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_polygon.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_stage.h"
#include "zylscan/matchlib_xform.h"

namespace {

using zyl::test::allocation_failed;
using zyl::test::sweep_allocation_failures;

// Creates an object and answers whether it exists, releasing it.
struct Creation {
  const char* name;
  std::function<bool()> create_and_release;
};

TEST(AllocationFailure, ObjectCreationAnswersNull) {
  const std::uint8_t bytes[] = {1, 2, 3, 4, 5};
  DataBlob* blob = blob_create(79, bytes, sizeof bytes);
  ASSERT_NE(blob, nullptr);
  RigidTransform* transform = xform_create(3, -4, 10);
  ASSERT_NE(transform, nullptr);
  AttributeValue* attribute = attribute_create(7);
  ASSERT_NE(attribute, nullptr);

  const Creation cases[] = {
      {"context",
       [] {
         MatchContext* c = ctx_create();
         ctx_release(c);
         return c != nullptr;
       }},
      {"blob",
       [&] {
         DataBlob* b = blob_create(79, bytes, sizeof bytes);
         blob_release(b);
         return b != nullptr;
       }},
      {"blob copy",
       [&] {
         DataBlob* b = blob_copy(blob);
         blob_release(b);
         return b != nullptr;
       }},
      {"transform",
       [&] {
         RigidTransform* t = xform_copy(transform);
         xform_release(t);
         return t != nullptr;
       }},
      {"attribute",
       [] {
         AttributeValue* a = attribute_create(3);
         attribute_release(a);
         return a != nullptr;
       }},
      {"finger info",
       [&] {
         FingerInfo* f = finger_info_create(2, attribute);
         FingerInfo* g = f ? finger_info_copy(f) : nullptr;
         const bool made = f && g;
         finger_info_release(g);
         finger_info_release(f);
         return made;
       }},
      {"match result",
       [] {
         MatchResult* r = match_result_create(4);
         MatchResult* c = r ? match_result_copy(r) : nullptr;
         const bool made = r && c;
         match_result_release(c);
         match_result_release(r);
         return made;
       }},
      {"pair result",
       [&] {
         PairResult* r = pair_result_create(blob, blob, 100, 1, transform);
         PairResult* c = r ? pair_result_copy(r) : nullptr;
         const bool made = r && c;
         pair_result_release(c);
         pair_result_release(r);
         return made;
       }},
      {"polygon",
       [] {
         Polygon* p = polygon_create();
         polygon_free(p);
         return p != nullptr;
       }},
      {"stage",
       [] {
         StageChain* chain = chain_create();
         StageObject* s = chain ? stage_create(nullptr, 79, nullptr, nullptr, 0, 0) : nullptr;
         const bool made = chain && s;
         if (made)
           chain_append(chain, s);
         else
           stage_free(s);
         chain_free(chain);
         return made;
       }},
  };
  for (const Creation& c : cases) {
    SCOPED_TRACE(c.name);
    const int allocations =
        sweep_allocation_failures([&] {
      const bool made = c.create_and_release();
      EXPECT_EQ(made, !allocation_failed());
    });
    EXPECT_GE(allocations, 1);
    // The caller's objects keep exactly their own references.
    EXPECT_EQ(blob_refcount(blob), 1u);
    EXPECT_EQ(blob_size(blob), sizeof bytes);
  }
  attribute_release(attribute);
  xform_release(transform);
  blob_release(blob);
}

TEST(AllocationFailure, ParameterStoreKeepsWhatItHad) {
  MatchContext* ctx = ctx_create();
  const std::uint32_t old_key = param_key_hash("vn.test.old");
  const std::uint32_t new_key = param_key_hash("vn.test.new");
  // The first value creates the context's store and attaches it.
  sweep_allocation_failures([&] {
    const int status = param_set(ctx, old_key, 5);
    EXPECT_EQ(status, allocation_failed() ? ML_NO_MEMORY : ML_OK);
    EXPECT_EQ(param_get(ctx, old_key, -1), allocation_failed() ? -1 : 5);
  });
  sweep_allocation_failures([&] {
    const int status = param_set(ctx, new_key, 6);
    EXPECT_EQ(status, allocation_failed() ? ML_NO_MEMORY : ML_OK);
    EXPECT_EQ(param_get(ctx, old_key, -1), 5);
    EXPECT_EQ(param_get(ctx, new_key, -1), allocation_failed() ? -1 : 6);
  });
  ctx_release(ctx);
}

TEST(AllocationFailure, BlobReaderAnswersNothing) {
  const std::uint8_t payload[] = {9, 8, 7};
  DataBlob* blob = blob_create(84, payload, sizeof payload);
  std::vector<std::uint8_t> stored(blob_write(nullptr, blob));
  blob_write(stored.data(), blob);
  blob_release(blob);
  sweep_allocation_failures([&] {
    DataBlob* back = nullptr;
    const std::uint32_t used =
        blob_read_bounded(stored.data(), static_cast<std::uint32_t>(stored.size()), &back);
    if (allocation_failed()) {
      EXPECT_EQ(used, 0u);
      EXPECT_EQ(back, nullptr);
    } else {
      EXPECT_EQ(used, stored.size());
      ASSERT_NE(back, nullptr);
      EXPECT_EQ(blob_size(back), sizeof payload);
    }
    blob_release(back);
  });
}

}  // namespace
