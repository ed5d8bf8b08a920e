#include <gtest/gtest.h>

#include <cstring>

#include "support/synthetic_finger.h"
#include "zylscan/typeline_match.h"

namespace {

using namespace zyl::test;

// A second impression of the same finger: moved, with position noise, some
// minutiae missing and some spurious ones.
Template impression(Finger f, const Motion& mo, unsigned noise) {
  f.jitter = 4;
  f.noise = noise;
  f.spurious = 12;
  f.dropped = 10;
  return make_template(f, mo);
}

TEST(TypelineMatchDriver, SameFingerScoresWellAboveOtherFingers) {
  const Motion motions[] = {{0, 0, 0}, {10, 5, -7}, {-20, 12, 4}, {30, 30, 30}};
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Finger f;
    f.seed = seed;
    f.core = seed % 2 == 1;
    const Template a = make_template(f);
    Finger stranger = f;
    stranger.seed = seed + 100;
    for (const Motion& mo : motions) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " turn " << mo.r);
      EXPECT_GE(finger_match(a.data(), impression(f, mo, seed + 50).data(), 1), 300);
      EXPECT_EQ(finger_match(a.data(), impression(stranger, mo, seed + 50).data(), 1), 0);
    }
  }
}

TEST(TypelineMatchDriver, CoredCopyIsCertainWithoutPointMatching) {
  Finger f;
  f.minutiae = 20;
  const Template a = make_template(f);
  EXPECT_EQ(matching_main(a.data(), a.data(), 1), 1000);
  EXPECT_EQ(matching_main(a.data(), make_template(f, {15, 8, -4}).data(), 2), 1000);
}

TEST(TypelineMatchDriver, CorelessCopyIsAcceptedThroughThePointScore) {
  Finger f;
  f.core = false;
  const Template a = make_template(f);
  // A point score above 1700 answers twice the threshold at once.
  EXPECT_EQ(matching_main(a.data(), a.data(), 1), 100);
  EXPECT_EQ(matching_main(a.data(), a.data(), 2), 200);
  EXPECT_EQ(matching_main(a.data(), a.data(), 0), 2);
  EXPECT_EQ(matching_main(a.data(), a.data(), -7), 100);
}

TEST(TypelineMatchDriver, ScoresAboveThousandAreClipped) {
  Finger f;
  f.seed = 4;
  const Template a = make_template(f);
  const Template b = impression(f, {}, 54);
  const int raw = matching_main(a.data(), b.data(), 1);
  ASSERT_GT(raw, 1000);
  EXPECT_EQ(finger_match(a.data(), b.data(), 1), 1000);
}

TEST(TypelineMatchDriver, RefusesUnusableTemplates) {
  Finger f;
  const Template good = make_template(f);
  Finger two = f;
  two.minutiae = 2;
  const Template sparse = make_template(two);
  const Template zeros(TYPELINE_TEMPLATE_SIZE, 0);
  auto wrong_type = make_record(f);
  wrong_type->patternType = 11;
  const Template bad_type = encode(*wrong_type);
  for (const Template* t : {&sparse, &zeros, &bad_type}) {
    EXPECT_EQ(matching_main(good.data(), t->data(), 1), -1);
    EXPECT_EQ(matching_main(t->data(), good.data(), 1), -1);
    EXPECT_EQ(finger_match(t->data(), good.data(), 1), 0);
  }
  EXPECT_EQ(finger_match(nullptr, good.data(), 1), 0);
  EXPECT_EQ(finger_match(good.data(), nullptr, 1), 0);
  EXPECT_EQ(matching_main(nullptr, good.data(), 1), -1);
}

TEST(TypelineMatchDriver, IncompatiblePatternTypesAreRefused) {
  // Types 4 and 6 never belong to one finger unless the qualities are low.
  Finger f;
  f.core = false;
  f.pattern = 4;
  const Template a = make_template(f);
  f.pattern = 6;
  EXPECT_EQ(matching_main(a.data(), make_template(f).data(), 1), -1);
  f.quality = 30;
  f.pattern = 4;
  const Template low = make_template(f);
  f.pattern = 6;
  EXPECT_GT(matching_main(low.data(), make_template(f).data(), 1), 0);
}

TEST(TypelineMatchDriver, LeavesTheTemplatesUntouched) {
  Finger f;
  const Template a = make_template(f), b = impression(f, {10, 4, 4}, 3);
  const Template a0 = a, b0 = b;
  finger_match(a.data(), b.data(), 1);
  EXPECT_EQ(a, a0);
  EXPECT_EQ(b, b0);
}

TEST(TypelineMatchDriver, DirectionsBeyondATurnAreTakenModuloATurn) {
  // A damaged template can store directions 240..255; they act as their
  // remainder and never index past the engine's tables.
  Finger f;
  f.core = false;
  auto r = make_record(f);
  for (int k = 0; k < r->minutiae.count; ++k)
    if (r->minutiae.minutiae[k].direction < 16) r->minutiae.minutiae[k].direction += 240;
  const Template damaged = encode(*r);
  EXPECT_EQ(matching_main(damaged.data(), make_template(f).data(), 1), 100);
  EXPECT_EQ(matching_main(make_template(f).data(), damaged.data(), 1), 100);
}

TEST(TypelineMatchDriver, CallerRecordsOutsideTheLimitsStayInBounds) {
  // Counts beyond the record's arrays are read up to the arrays' end, and
  // far-off co-ordinates do not overflow the squared distances.
  auto a = make_record(Finger{});
  a->minutiae.count = 120;
  a->singular.count = 9;
  a->grid.columns = a->grid.rows = 200;
  auto b = make_record(Finger{});
  b->minutiae.minutiae[0] = {-32000, -32000, 0, 0, 40, 0};
  b->minutiae.minutiae[1] = {32000, 32000, 0, 0, 40, 0};
  EXPECT_GE(coarse_matching(a.get(), b.get()), 0);
  EXPECT_GE(get_point_score(a.get(), b.get()), 0);
  EXPECT_GE(check_block(30, 5, &a->grid, &b->grid), 0);
  EXPECT_EQ(check_exist(32000, 32000, 0, -1, 5, 5, &b->minutiae, nullptr, 0, 1, 0), 1);
  a->minutiae.count = -5;
  EXPECT_EQ(get_score_sub(&a->minutiae, &b->minutiae), 0);
  EXPECT_EQ(coarse_matching(a.get(), b.get()), -1);
}

// ---- One-to-many search ----

std::vector<std::uint8_t> gallery_of(const std::vector<Template>& templates) {
  std::vector<std::uint8_t> g;
  for (const Template& t : templates) g.insert(g.end(), t.begin(), t.end());
  return g;
}

TEST(TypelineSearch, FindsTheMateAmongStrangers) {
  Finger f;
  f.seed = 7;
  const Template probe = impression(f, {12, -6, 5}, 9);
  std::vector<Template> templates;
  for (unsigned s = 20; s < 25; ++s) {
    Finger other = f;
    other.seed = s;
    templates.push_back(make_template(other));
  }
  templates.insert(templates.begin() + 3, make_template(f));
  const auto gallery = gallery_of(templates);
  EXPECT_EQ(finger_search(probe.data(), gallery.data(), 6, 1), 3);
  // Without the mate nothing is accepted.
  templates.erase(templates.begin() + 3);
  const auto strangers = gallery_of(templates);
  EXPECT_EQ(finger_search(probe.data(), strangers.data(), 5, 1), -11);
  // A single template is compared without pre-ordering.
  EXPECT_EQ(finger_search(probe.data(), gallery.data() + 3 * TYPELINE_TEMPLATE_SIZE, 1, 1), 0);
}

TEST(TypelineSearch, RefusesEmptyGalleries) {
  const Template probe = make_template(Finger{});
  EXPECT_EQ(finger_search(probe.data(), probe.data(), 0, 1), -1);
  EXPECT_EQ(finger_search(probe.data(), probe.data(), -3, 1), -1);
  EXPECT_EQ(finger_search(probe.data(), nullptr, 1, 1), -1);
}

TEST(TypelineSearch, OrdersTheTenMostSimilarFirst) {
  struct Case {
    std::vector<std::int32_t> similarity;
    std::vector<std::uint16_t> order;
  };
  const Case cases[] = {
      {{5, 40, 40}, {1, 2, 0}},
      {{7}, {0}},
      // Only the first ten positions are sorted.
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint16_t> order(c.similarity.size(), 0xFFFF);
    sch_sub_func_02(c.similarity.data(), static_cast<int>(c.similarity.size()), order.data());
    EXPECT_EQ(order, c.order);
  }
}

TEST(TypelineSearch, PreOrderPutsTheMateFirst) {
  Finger f;
  f.seed = 3;
  f.core = false;
  const Template probe = impression(f, {8, 3, -3}, 2);
  std::vector<Template> templates;
  for (unsigned s = 30; s < 34; ++s) {
    Finger other = f;
    other.seed = s;
    templates.push_back(make_template(other));
  }
  templates.push_back(make_template(f));
  const auto gallery = gallery_of(templates);
  std::vector<std::uint16_t> order(5);
  ASSERT_EQ(sch_sub_func(probe.data(), gallery.data(), 5, order.data()), 1);
  EXPECT_EQ(order[0], 4);
}

TEST(TypelineSearch, ExactListsScoreThirtyFiveHundred) {
  TypelineMinutiaList a{};
  a.count = 4;
  for (int k = 0; k < 4; ++k) a.minutiae[k] = {static_cast<std::int16_t>(40 * k), 10, static_cast<std::uint8_t>(50 * k), 3, 40, 0};
  EXPECT_EQ(sch_sub_func_04(&a, &a), 3500);
  EXPECT_EQ(get_score_sub(&a, &a), 3500);
  TypelineMinutiaList empty{};
  EXPECT_EQ(sch_sub_func_04(&empty, &empty), 0);
}

}  // namespace
