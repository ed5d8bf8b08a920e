// Stage objects and stage chains.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "zylscan/matchlib_stage.h"

namespace {

const StageMatchOps kOps{nullptr, nullptr};
const StageExtractor kExtractor{nullptr};

TEST(Stage, NewStageHasItsDefaults) {
  StageObject* s = stage_create(&kExtractor, 79, nullptr, &kOps, -2, 9);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(stage_get_max_candidates(s), 255);
  EXPECT_EQ(s->early_far_level, 0);
  EXPECT_EQ(s->early_min_count, 255);
  EXPECT_EQ(stage_get_flags(s), 0);
  EXPECT_EQ(stage_get_kind(s), 79);
  EXPECT_EQ(stage_get_match_ops(s), &kOps);
  EXPECT_EQ(stage_get_extractor(s), &kExtractor);
  EXPECT_EQ(stage_get_threshold_offset(s), -2);
  EXPECT_EQ(stage_get_far_level(s), 9);
  EXPECT_EQ(stage_next(s), nullptr);
  EXPECT_EQ(stage_carries_scores(s), 1);
  stage_set_flags(s, STAGE_FLAG_RESTART_SCORES | STAGE_FLAG_DROP_TRANSFORM);
  EXPECT_EQ(stage_carries_scores(s), 0);
  stage_clear_flags(s, STAGE_FLAG_RESTART_SCORES);
  EXPECT_EQ(stage_get_flags(s), STAGE_FLAG_DROP_TRANSFORM);
  EXPECT_EQ(stage_carries_scores(s), 1);
  stage_free(s);
  EXPECT_EQ(stage_get_max_candidates(nullptr), 0);
  stage_free(nullptr);
}

TEST(Stage, EarlyRejection) {
  StageObject* s = stage_create(nullptr, 66, nullptr, &kOps, 0, 5);
  // Level 0 (the default) never rejects.
  for (uint16_t score : {0, 1, 30000, 65535}) EXPECT_EQ(stage_can_reject(s, score, 255), 0);
  stage_set_early_decision(s, 3, 4);  // threshold 6803
  struct Case {
    uint16_t score;
    uint8_t count;
    int reject;
  } cases[] = {{6803, 4, 1}, {6803, 3, 0}, {6804, 200, 0}, {0, 4, 1}, {100, 255, 1}};
  for (const Case& c : cases) EXPECT_EQ(stage_can_reject(s, c.score, c.count), c.reject) << c.score;
  stage_set_early_decision(s, 3, 255);  // the default minimum fires only at 255
  EXPECT_EQ(stage_can_reject(s, 10, 254), 0);
  EXPECT_EQ(stage_can_reject(s, 10, 255), 1);
  stage_set_early_decision(s, INT_MAX, 0);  // maps to score 0: off
  EXPECT_EQ(stage_can_reject(s, 0, 255), 0);
  stage_free(s);
}

TEST(StageChain, AppendUnlinkAndFind) {
  StageChain* c = chain_create();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(chain_first(c), nullptr);
  StageObject* a = stage_create(nullptr, 79, nullptr, &kOps, 0, 1);
  StageObject* b = stage_create(nullptr, 77, nullptr, &kOps, 0, 2);
  StageObject* d = stage_create(nullptr, 67, nullptr, &kOps, 0, 3);
  chain_append(c, a);
  EXPECT_EQ(chain_first(c), a);
  EXPECT_EQ(chain_last(c), a);
  chain_append(c, b);
  chain_append(c, d);
  EXPECT_EQ(chain_count(c), 3u);
  EXPECT_EQ(stage_next(a), b);
  EXPECT_EQ(stage_prev(d), b);

  stage_set_flags(b, STAGE_FLAG_SKIP_PAIR);
  stage_set_flags(d, STAGE_FLAG_SKIP_PAIR | STAGE_FLAG_DROP_TRANSFORM);
  uint8_t passed = 99;
  EXPECT_EQ(stage_find_flagged(c, STAGE_FLAG_SKIP_PAIR, &passed), b);  // the whole chain
  EXPECT_EQ(passed, 1);
  EXPECT_EQ(stage_find_flagged(b, STAGE_FLAG_SKIP_PAIR, &passed), d);  // after b
  EXPECT_EQ(passed, 0);
  EXPECT_EQ(stage_find_flagged(c, STAGE_FLAG_RESTART_SCORES, &passed), nullptr);
  EXPECT_EQ(passed, 3);

  // A stage of another chain is not unlinked.
  StageChain* other = chain_create();
  StageObject* e = stage_create(nullptr, 87, nullptr, &kOps, 0, 1);
  chain_append(other, e);
  EXPECT_EQ(chain_unlink(c, e), nullptr);
  EXPECT_EQ(chain_count(c), 3u);
  EXPECT_EQ(chain_count(other), 1u);
  chain_free(other);

  EXPECT_EQ(chain_unlink(c, b), d);
  EXPECT_EQ(chain_count(c), 2u);
  EXPECT_EQ(stage_next(a), d);
  EXPECT_EQ(stage_prev(d), a);
  EXPECT_EQ(stage_next(b), nullptr);
  EXPECT_EQ(chain_unlink(c, d), nullptr);
  EXPECT_EQ(chain_last(c), a);
  chain_append(c, b);
  chain_append(c, d);
  EXPECT_EQ(chain_last(c), d);
  chain_free(c);  // frees all three stages (the sanitizer build checks)
  chain_free(nullptr);
}

}  // namespace
