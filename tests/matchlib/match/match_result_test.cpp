// Match results, pair results and the ranked pair list.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_score.h"

namespace {

DataBlob* make_blob(uint8_t tag) { return blob_create(1, &tag, 1); }

TEST(MatchResult, FreshResultHasItsInitialValues) {
  EXPECT_EQ(match_result_create(0), nullptr);
  EXPECT_EQ(match_result_create(-3), nullptr);
  MatchResult* r = match_result_create(3);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(match_result_decision(r), 0);
  EXPECT_EQ(match_result_is_match(r), 0);
  EXPECT_EQ(match_result_score(r), 0);
  EXPECT_EQ(match_result_deciding_stage(r), -1);
  EXPECT_EQ(match_result_best_candidate(r), -1);
  EXPECT_EQ(match_result_best_view(r), -1);
  EXPECT_EQ(match_result_record_key(r), -1);
  EXPECT_EQ(match_result_marker_byte(r), 255);
  EXPECT_EQ(r->confirmation_flag, 1);
  EXPECT_EQ(r->confirmation_marker, -1);
  EXPECT_EQ(r->values[0], 1);
  EXPECT_EQ(r->values[1], -1);
  EXPECT_EQ(r->scratch_value, -1);
  EXPECT_EQ(r->candidate_count, 3);
  EXPECT_EQ(match_result_transform(r), nullptr);
  EXPECT_EQ(match_result_candidate_threshold(r, 0), 0);  // no deciding stage yet
  match_result_release(r);
}

TEST(MatchResult, LevelTests) {
  MatchResult* r = match_result_create(1);
  struct Case {
    uint16_t score;
    int level;
    int passes;
  } cases[] = {
      {1, INT_MAX, 1}, {0, INT_MAX, 0}, {63277, 28, 0}, {63278, 30, 0}, {63279, 30, 1},
      {2049, 1, 1},    {2048, 1, 0},    {61231, 27, 1}, {61230, 27, 0},
  };
  for (const Case& c : cases) {
    r->score = c.score;
    EXPECT_EQ(match_result_passes_level(r, c.level), c.passes) << c.score << " " << c.level;
  }
  struct Reached {
    uint16_t score;
    int level;
  } reached[] = {{0, 0}, {1, 0}, {2048, 0}, {2049, 1}, {61230, 26}, {61231, 27}, {65535, 28}};
  for (const Reached& c : reached) {
    r->score = c.score;
    EXPECT_EQ(match_result_reached_level(r), c.level) << c.score;
  }

  // Asked for level 5, reached level 7: a test at level 3 moves to 5.
  r->requested_level = 5;
  r->reached_level = 7;
  r->score = far_level_to_score(5) + 1;
  EXPECT_EQ(match_result_passes_adjusted(r, 3), 1);
  EXPECT_EQ(match_result_passes_adjusted(r, 4), 0);
  EXPECT_EQ(match_result_passes_adjusted(r, INT_MAX), 0);
  EXPECT_EQ(match_result_level_score(r), far_level_to_score(7));
  r->reached_level = 0;
  EXPECT_EQ(match_result_passes_adjusted(r, 4), 1);
  EXPECT_EQ(match_result_level_score(r), far_level_to_score(5));
  r->second_level = 9;
  EXPECT_EQ(match_result_second_level_score(r), far_level_to_score(9));
  match_result_release(r);
}

TEST(MatchResult, StageSlotsAndIndexList) {
  MatchResult* r = match_result_create(2);
  EXPECT_EQ(match_result_stage_scores(r, 0, 6), nullptr);
  EXPECT_EQ(match_result_stage_scores(r, 2, 0), nullptr);
  EXPECT_EQ(match_result_stage_scores(r, -1, 0), nullptr);
  EXPECT_EQ(match_result_stage_scores(nullptr, 0, 0), nullptr);
  EXPECT_EQ(match_result_stage_scores(r, 1, 5), &r->candidates[1].slots[5][2]);
  r->candidates[1].slots[2][1] = 0x12345;
  r->deciding_stage = 2;
  EXPECT_EQ(match_result_candidate_threshold(r, 1), 0x2345);
  EXPECT_EQ(match_result_candidate_threshold(r, 2), 0);

  const uint16_t v[3] = {4, 5, 6};
  EXPECT_EQ(match_result_set_indices(r, v, 3), ML_OK);
  EXPECT_EQ(r->index_count, 3);
  EXPECT_EQ(r->indices[2], 6);
  EXPECT_EQ(match_result_set_indices(r, v, 0), ML_OK);
  EXPECT_EQ(r->index_count, 0);
  EXPECT_EQ(r->indices, nullptr);
  match_result_release(r);
}

// A finished result that is consistent: two candidates, stage 1 decided by
// candidate 1 with a threshold equal to the score.
MatchResult* finished_result() {
  MatchResult* r = match_result_create(2);
  r->transform = xform_create(1, 2, 3);
  r->second_transform = xform_create(0, 0, 0);
  r->reached_level = 4;
  r->second_level = 4;
  r->best_view = 0;
  r->best_candidate = 1;
  r->best_raw_score = 100;
  r->second_raw_score = 100;
  r->deciding_stage = 1;
  r->score = 9000;
  r->candidates[0].slots[0][0] = 1;
  r->candidates[0].slots[1][0] = 1;
  r->candidates[0].slots[1][1] = 8000;
  r->candidates[1].slots[0][0] = 1;
  r->candidates[1].slots[1][0] = 2;
  r->candidates[1].slots[1][1] = 9000;
  return r;
}

TEST(MatchResult, ConsistencyCheck) {
  MatchResult* good = finished_result();
  EXPECT_EQ(match_result_check(good), 1);
  match_result_release(good);
  EXPECT_EQ(match_result_check(nullptr), 0);

  struct Case {
    const char* what;
    void (*spoil)(MatchResult*);
  } cases[] = {
      {"no second transform", [](MatchResult* r) { xform_release(r->second_transform); r->second_transform = nullptr; }},
      {"second level below reached", [](MatchResult* r) { r->second_level = 3; }},
      {"no best view", [](MatchResult* r) { r->best_view = -1; }},
      {"best candidate out of range", [](MatchResult* r) { r->best_candidate = 2; }},
      {"second raw below best", [](MatchResult* r) { r->second_raw_score = 99; }},
      {"comparisons at a later stage", [](MatchResult* r) { r->candidates[0].slots[2][0] = 1; }},
      {"threshold at a later stage", [](MatchResult* r) { r->candidates[0].slots[4][1] = 5; }},
      {"a threshold above the score", [](MatchResult* r) { r->candidates[0].slots[1][1] = 9001; }},
      {"best candidate below the score", [](MatchResult* r) { r->candidates[1].slots[1][1] = 8999; }},
      {"best candidate not compared", [](MatchResult* r) { r->candidates[1].slots[1][0] = 0; }},
      {"deciding stage not the last", [](MatchResult* r) { r->deciding_stage = 0; }},
      {"deciding stage out of range", [](MatchResult* r) { r->deciding_stage = 6; }},
  };
  for (const Case& c : cases) {
    MatchResult* r = finished_result();
    c.spoil(r);
    EXPECT_EQ(match_result_check(r), 0) << c.what;
    match_result_release(r);
  }
}

TEST(MatchResult, CopyAssignAndOwnership) {
  DataBlob* probe = make_blob(1);
  DataBlob* other = make_blob(2);
  MatchResult* r = finished_result();
  match_result_set_probe_blob(r, probe);
  EXPECT_EQ(blob_refcount(probe), 2u);
  const uint16_t v[2] = {7, 8};
  ASSERT_EQ(match_result_set_indices(r, v, 2), ML_OK);

  MatchResult* c = match_result_copy(r);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->refcount, 1);
  EXPECT_EQ(blob_refcount(probe), 3u);
  EXPECT_NE(c->transform, r->transform);  // a fresh copy
  EXPECT_EQ(xform_get_dx(c->transform), 1);
  EXPECT_NE(c->indices, r->indices);
  EXPECT_EQ(c->indices[1], 8);
  EXPECT_EQ(c->candidates[1].slots[1][1], 9000u);
  EXPECT_EQ(match_result_check(c), 1);

  MatchResult* d = match_result_create(2);
  match_result_set_probe_blob(d, other);
  match_result_retain(d);
  ASSERT_EQ(match_result_assign(r, d), ML_OK);
  EXPECT_EQ(d->refcount, 2);  // keeps its own count
  EXPECT_EQ(blob_refcount(other), 1u);
  EXPECT_EQ(blob_refcount(probe), 4u);
  EXPECT_EQ(d->transform, r->transform);
  EXPECT_EQ(match_result_check(d), 1);
  MatchResult* small = match_result_create(1);
  EXPECT_EQ(match_result_assign(r, small), ML_CORRUPT);
  match_result_release(small);

  match_result_release(d);
  match_result_release(d);
  match_result_release(c);
  EXPECT_EQ(blob_refcount(probe), 2u);
  match_result_set_probe_blob(r, nullptr);
  EXPECT_EQ(blob_refcount(probe), 1u);
  match_result_release(r);
  blob_release(probe);
  blob_release(other);
}

TEST(PairResult, CreateReverseAndCopy) {
  DataBlob* a = make_blob(1);
  DataBlob* b = make_blob(2);
  RigidTransform* t = xform_create(10, -4, 32);
  PairResult* r = pair_result_create(a, b, 700, 2, t);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(pair_result_decision(r), 0);  // anything but 1 is no match
  EXPECT_EQ(pair_result_is_non_match(r), 1);
  EXPECT_EQ(blob_refcount(a), 2u);
  EXPECT_EQ(t->refcount, 2);

  PairResult* back = pair_result_reverse(r);
  EXPECT_EQ(pair_result_first_blob(back), b);
  EXPECT_EQ(pair_result_second_blob(back), a);
  EXPECT_EQ(pair_result_score(back), 700);
  PairResult* again = pair_result_reverse(back);
  EXPECT_EQ(pair_result_same_pair(again, r), 1);
  EXPECT_EQ(pair_result_same_pair(back, r), 0);
  int32_t x1, y1, x2, y2;
  xform_apply(pair_result_transform(r), 30, 40, &x1, &y1);
  xform_apply(pair_result_transform(again), 30, 40, &x2, &y2);
  EXPECT_LE(std::abs(x1 - x2), 1);
  EXPECT_LE(std::abs(y1 - y2), 1);
  EXPECT_EQ(pair_result_transform(back)->refcount, 1);  // only the result's own

  PairResult* m = pair_result_create(a, b, 5, 1, nullptr);
  EXPECT_EQ(pair_result_is_match(m), 1);
  PairResult* mr = pair_result_reverse(m);
  EXPECT_EQ(pair_result_transform(mr), nullptr);
  PairResult* copy = pair_result_copy(m);
  EXPECT_EQ(pair_result_same_pair(copy, m), 1);
  EXPECT_EQ(pair_result_is_match(nullptr), 0);
  EXPECT_EQ(pair_result_is_non_match(nullptr), 0);

  for (PairResult* p : {r, back, again, m, mr, copy}) pair_result_release(p);
  EXPECT_EQ(blob_refcount(a), 1u);
  EXPECT_EQ(t->refcount, 1);
  xform_release(t);
  blob_release(a);
  blob_release(b);
}

TEST(PairResult, ListKeepsDescendingScoresInInsertionOrder) {
  DataBlob* a = make_blob(1);
  PairList list{};
  std::vector<PairResult*> made;
  for (uint16_t s : {5, 9, 5, 7, 0, 9}) {
    made.push_back(pair_result_create(a, a, s, 1, nullptr));
    ASSERT_EQ(pair_result_list_insert(made.back(), &list), ML_OK);
  }
  std::vector<PairResult*> order;
  for (PairListItem* it = list.first; it; it = it->next) order.push_back(it->result);
  EXPECT_EQ(order, (std::vector<PairResult*>{made[1], made[5], made[3], made[0], made[2], made[4]}));
  EXPECT_EQ(list.count, 6u);
  EXPECT_EQ(list.last->result, made[4]);
  EXPECT_EQ(list.last->prev->result, made[2]);
  EXPECT_EQ(made[0]->refcount, 2u);
  EXPECT_EQ(pair_result_list_insert(nullptr, &list), ML_BAD_ARGUMENT);
  for (PairResult* p : made) pair_result_release(p);
  pair_result_list_clear(&list);
  EXPECT_EQ(list.first, nullptr);
  EXPECT_EQ(blob_refcount(a), 1u);
  blob_release(a);
}

}  // namespace
