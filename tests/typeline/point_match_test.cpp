// Point scores, the common-area cut, point matching of one direction, local
// structures and the core comparison.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>
#include <set>
#include <utility>

#include "support/synthetic_finger.h"
#include "typeline/matching.h"
#include "zylscan/typeline_match.h"

namespace {

using namespace zyl::test;

struct Tables {
  std::array<int, TYPELINE_TAG_BUCKETS> counts{};
  std::array<int, TYPELINE_TAG_BUCKETS * TYPELINE_TAG_BUCKET_SLOTS> slots{};
};

// ---- Point scores ----

TEST(TypelinePointScore, SetScoreKnownAnswers) {
  // 50 minutiae 20 pixels apart: each finds itself first.
  TypelineMinutiaList grid{};
  for (int k = 0; k < 50; ++k) grid.minutiae[grid.count++] = minutia(20 * (k % 10), 20 * (k / 10), 4 * k);
  EXPECT_EQ(get_score_sub(&grid, &grid), 3500);

  // One pair 3 + 4 pixels and 5 steps apart (e = 12 adds 23), one minutia
  // without partner; n = (2 + 1) / 2.
  const TypelineMinutiaList a = list_of({minutia(50, 50, 10), minutia(150, 50, 10)});
  const TypelineMinutiaList b = list_of({minutia(53, 54, 15)});
  EXPECT_EQ(get_score_sub(&a, &b), 2300);
  // Beyond 16 pixels on an axis, or 11 steps, nothing pairs.
  const TypelineMinutiaList far = list_of({minutia(67, 50, 10)});
  const TypelineMinutiaList turned = list_of({minutia(50, 50, 21)});
  EXPECT_EQ(get_score_sub(&a, &far), 0);
  EXPECT_EQ(get_score_sub(&a, &turned), 0);
  // e = 35 adds nothing: 16 + 9 + 10.
  const TypelineMinutiaList edge = list_of({minutia(66, 59, 20)});
  EXPECT_EQ(get_score_sub(&a, &edge), 0);
}

// The set score as written: every minutia of a scans b in order and stops
// at the first partner cheaper than 20.
int reference_set_score(const std::vector<TypelineMinutia>& a, const std::vector<TypelineMinutia>& b) {
  int sum = 0;
  for (const TypelineMinutia& p : a) {
    int e = 10000;
    for (const TypelineMinutia& q : b) {
      const int dx = std::abs(p.x - q.x), dy = std::abs(p.y - q.y);
      int d = std::abs(p.direction % 240 - q.direction % 240);
      if (d >= 120) d = 240 - d;
      if (dx > 16 || dy > 16 || d > 10) continue;
      e = std::min(e, dx + dy + d);
      if (e < 20) break;
    }
    if (e <= 34) sum += 35 - e;
  }
  const int n = static_cast<int>(a.size() + b.size()) / 2;
  return n == 0 ? 0 : sum * 100 / n;
}

TEST(TypelinePointScore, SetScoreAgreesWithAPlainScan) {
  // Dense random sets (many partners within reach, ties on x, directions
  // up to 255), up to 70 entries so that both ways through are taken.
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    const int span = round % 2 ? 60 : 200;
    std::uniform_int_distribution<int> pos(0, span), dir(0, 255), count(0, round < 200 ? 50 : 70);
    std::vector<TypelineMinutia> a(static_cast<std::size_t>(count(rng))), b(static_cast<std::size_t>(count(rng)));
    for (auto* list : {&a, &b})
      for (TypelineMinutia& m : *list) m = minutia(pos(rng), pos(rng), dir(rng));
    ASSERT_EQ(zyl::typeline::set_score(a, b), reference_set_score(a, b)) << round;
  }
}

TEST(TypelinePointScore, NeedsThreeMinutiaeOnEachSide) {
  TypelineRecord a{}, b{};
  a.minutiae = list_of({minutia(10, 10, 0), minutia(60, 10, 0)});
  b.minutiae = a.minutiae;
  EXPECT_EQ(get_point_score(&a, &b), 0);
  int g = -1;
  EXPECT_EQ(get_point_score2(&a, &b, &g), 0);
  EXPECT_EQ(g, 0);
}

TEST(TypelinePointScore, AnchoredAlignmentFindsAMovedCopyAndRestoresTheRecord) {
  for (bool core : {false, true}) {
    Finger f;
    f.core = core;
    auto a = decode(make_template(f));
    const auto b = decode(make_template(f, {20, 9, -5}));
    const TypelineRecord before = *a;
    const int score = get_point_score(a.get(), b.get());
    EXPECT_GT(score, 1700) << core;
    EXPECT_EQ(std::memcmp(a.get(), &before, sizeof before), 0);

    Finger other = f;
    other.seed = 42;
    const auto c = decode(make_template(other));
    EXPECT_LT(get_point_score(a.get(), c.get()), 1000);
    EXPECT_EQ(std::memcmp(a.get(), &before, sizeof before), 0);

    int g = -1;
    EXPECT_GT(get_point_score2(a.get(), b.get(), &g), 1700);
    EXPECT_GE(g, 90);
    EXPECT_EQ(std::memcmp(a.get(), &before, sizeof before), 0);
  }
}

// ---- Core alignment and the common-area cut ----

TEST(TypelineCommonArea, RecordsWithoutCoresAreLeftAlone) {
  Finger f;
  f.core = false;
  auto a = decode(make_template(f)), b = decode(make_template(f, {5, 3, 3}));
  const TypelineRecord a0 = *a, b0 = *b;
  auto list = std::make_unique<PairTagList>();
  Tables t;
  int bound = 0;
  get_search_tag(b.get(), list.get(), &bound, t.counts.data(), t.slots.data(), 20, 200);
  const int tags = list->count;
  EXPECT_EQ(arrange_points(a.get(), b.get(), list.get(), &bound, t.slots.data(), t.counts.data(), 1), 0);
  EXPECT_EQ(std::memcmp(a.get(), &a0, sizeof a0), 0);
  EXPECT_EQ(std::memcmp(b.get(), &b0, sizeof b0), 0);
  EXPECT_EQ(list->count, tags);
  TypelineRecord empty{};
  EXPECT_EQ(arrange_points(&empty, b.get(), list.get(), &bound, t.slots.data(), t.counts.data(), 1), -1);
}

TEST(TypelineCommonArea, CutsBothRecordsToTheSharedBlocks) {
  // Both grids hold directions only in their left half: minutiae more than
  // 21 pixels beyond the last shared block centre go.
  TypelineRecord a{}, b{};
  for (TypelineRecord* r : {&a, &b}) {
    r->grid.columns = r->grid.rows = 10;
    for (int c = 0; c < 100; ++c) r->grid.cells[c] = c % 10 < 5 ? 40 : 255;
  }
  a.minutiae = list_of({minutia(20, 20, 0), minutia(100, 20, 0), minutia(150, 80, 0), minutia(40, 90, 0)});
  b.minutiae = list_of({minutia(150, 20, 0), minutia(30, 30, 0), minutia(60, 60, 0)});
  auto list = std::make_unique<PairTagList>();
  list->count = 2;
  list->tags[0] = {30, 1, 2, 3, 1, 2};  // both ends kept -> renumbered (0, 1)
  list->tags[1] = {40, 1, 7, 3, 0, 1};  // loses minutia 0
  Tables t;
  int bound = 99;
  ASSERT_EQ(arrange_points_sub(0, 0, 0, 0, 0, &a.minutiae, &a.grid, &b, list.get(), &bound, t.slots.data(),
                               t.counts.data()),
            1);
  // Block column 4 has its centre at x = 72: x up to 93 stays.
  ASSERT_EQ(a.minutiae.count, 2);
  EXPECT_EQ(a.minutiae.minutiae[1].x, 40);
  ASSERT_EQ(b.minutiae.count, 2);
  EXPECT_EQ(b.minutiae.minutiae[0].x, 30);
  ASSERT_EQ(list->count, 1);
  EXPECT_EQ(list->tags[0].first, 0);
  EXPECT_EQ(list->tags[0].second, 1);
  EXPECT_EQ(bound, 31);
  EXPECT_EQ(t.counts[2], 1);
  EXPECT_EQ(t.slots[2 * TYPELINE_TAG_BUCKET_SLOTS], 0);
}

TEST(TypelineCommonArea, SecondRecordStaysWholeWhenNoTagSurvives) {
  // The cut keeps only minutia 0 of the second record, which no tag joins:
  // the second record keeps its minutiae so that its tags still name them.
  TypelineRecord a{}, b{};
  for (TypelineRecord* r : {&a, &b}) {
    r->grid.columns = r->grid.rows = 10;
    for (int c = 0; c < 100; ++c) r->grid.cells[c] = c % 10 < 5 ? 40 : 255;
  }
  a.minutiae = list_of({minutia(20, 20, 0), minutia(40, 40, 0)});
  b.minutiae = list_of({minutia(20, 20, 0), minutia(150, 20, 0), minutia(150, 120, 0)});
  auto list = std::make_unique<PairTagList>();
  list->count = 1;
  list->tags[0] = {100, 60, 0, 0, 1, 2};
  Tables t;
  int bound = 101;
  const TypelineRecord b0 = b;
  EXPECT_EQ(arrange_points_sub(0, 0, 0, 0, 0, &a.minutiae, &a.grid, &b, list.get(), &bound, t.slots.data(),
                               t.counts.data()),
            0);
  EXPECT_EQ(std::memcmp(&b, &b0, sizeof b0), 0);
  EXPECT_EQ(list->count, 1);
  EXPECT_EQ(list->tags[0].second, 2);
  EXPECT_EQ(bound, 101);
}

// ---- Core comparison ----

TEST(TypelineCoreCheck, DistanceAndAngleLimits) {
  const auto singular = [](std::initializer_list<TypelineSingularPoint> points) {
    TypelineSingularList l{};
    for (const auto& p : points) l.points[l.count++] = p;
    return l;
  };
  struct Case {
    TypelineSingularList a, b;
    int distance, angle, expected;
  };
  const auto a1 = singular({{100, 100, 5, 1}});
  const auto b1 = singular({{100, 100, 235, 1}});
  const auto a2 = singular({{100, 100, 0, 1}, {100, 140, 0, 1}});  // 40 apart, line 60
  const auto b2 = singular({{50, 50, 0, 1}, {50, 95, 0, 1}});      // 45 apart, line 60
  const Case cases[] = {
      {a1, b1, 10, 10, 0},  // directions 10 apart
      {a1, b1, 16, 11, 1},
      {a1, singular({{109, 100, 5, 1}}), 10, 10, 1},
      {a1, singular({{110, 100, 5, 1}}), 10, 10, 0},
      {a2, b2, 6, 1, 1},
      {a2, b2, 5, 10, 0},
      {a1, a2, 100, 100, 0},  // core counts differ
      {singular({{100, 100, 255, 0}}), singular({{100, 100, 255, 0}}), 100, 100, 0},  // deltas only
  };
  for (const Case& c : cases) EXPECT_EQ(check_core(&c.a, &c.b, c.distance, c.angle), c.expected);
}

// ---- Local structures ----

TypelineLocalStructure structure_with(int agreeing) {
  TypelineLocalStructure s{};
  for (int i = 0; i < 8; ++i) s.neighbours[i] = {20 + 15 * i, static_cast<std::uint8_t>(25 * i), 100};
  TypelineLocalStructure t = s;
  // Neighbours from `agreeing` on are moved out of every tolerance.
  for (int i = agreeing; i < 8; ++i) t.neighbours[i].direction = 200;
  return t;
}

TEST(TypelineLocalStructures, FiveAgreeingNeighboursMatch) {
  const TypelineLocalStructure s = structure_with(8);
  EXPECT_EQ(match_paired_chunk(&s, &s), 1);
  const TypelineLocalStructure five = structure_with(5), four = structure_with(4);
  EXPECT_EQ(match_paired_chunk(&s, &five), 1);
  EXPECT_EQ(match_paired_chunk(&s, &four), 0);
  // Tolerances: distance 10, angles 9 (circular).
  TypelineLocalStructure near = s;
  for (auto& n : near.neighbours) {
    n.distance += 10;
    n.angle = static_cast<std::uint8_t>((n.angle + 231) % 240);
    n.direction = static_cast<std::uint8_t>(n.direction + 9);
  }
  EXPECT_EQ(match_paired_chunk(&s, &near), 1);
  for (auto& n : near.neighbours) n.distance += 1;
  EXPECT_EQ(match_paired_chunk(&s, &near), 0);
}

TEST(TypelineLocalStructures, BuiltFromTheNearestNeighbourEntries) {
  // Seven others 190 pixels from the centre are found only at radius 200:
  // 7 entries make no structure.
  TypelineMinutiaList l = list_of({minutia(250, 250, 0), minutia(440, 250, 60), minutia(60, 250, 60),
                                   minutia(250, 440, 60), minutia(250, 60, 60), minutia(384, 384, 60),
                                   minutia(116, 384, 60), minutia(384, 116, 60)});
  const std::int16_t centre = 0;
  TypelineLocalStructureSet set{};
  get_paired_template(&l, 1, &centre, &set);
  EXPECT_EQ(set.count, 0);
  // One more, 10 above the centre, is listed again at every radius (the
  // list is not emptied between radii): 6 + 7 entries, nearest first.
  l.minutiae[l.count++] = minutia(250, 240, 120);
  get_paired_template(&l, 1, &centre, &set);
  ASSERT_EQ(set.count, 1);
  const TypelineLocalStructure& s = set.structures[0];
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(s.neighbours[i].distance, 10);
    EXPECT_EQ(s.neighbours[i].angle, 180);  // straight up
    EXPECT_EQ(s.neighbours[i].direction, 120);
  }
  EXPECT_EQ(s.neighbours[6].distance, 190);
  EXPECT_EQ(s.neighbours[7].distance, 190);
  EXPECT_EQ(s.neighbours[7].direction, 60);
  // A centre of quality below 20 makes none.
  l.minutiae[0].quality = 19;
  get_paired_template(&l, 1, &centre, &set);
  EXPECT_EQ(set.count, 0);
}

TEST(TypelineLocalStructures, DenseRecordsStayWithinTheirLists) {
  // 50 minutiae within 100 pixels of each other: every radius finds all.
  TypelineMinutiaList l{};
  for (int k = 0; k < 50; ++k) l.minutiae[l.count++] = minutia(200 + k % 7 * 9, 200 + k / 7 * 9, 3 * k);
  PointMatchResult r{};
  r.pairCount = 20;
  for (int i = 0; i < 20; ++i) r.first[i] = r.second[i] = static_cast<std::int16_t>(i);
  EXPECT_EQ(GetMatchedTemplateNum(&l, &l, &r), 15);
  // No structure on one side answers -1, and so do pairs out of range.
  const TypelineMinutiaList sparse = list_of({minutia(1, 1, 0), minutia(300, 1, 0), minutia(1, 300, 0)});
  PointMatchResult two{};
  two.pairCount = 2;
  two.first[1] = two.second[1] = 1;
  EXPECT_EQ(GetMatchedTemplateNum(&sparse, &l, &two), -1);
  r.first[3] = 60;
  EXPECT_EQ(GetMatchedTemplateNum(&l, &l, &r), -1);
}

// ---- Point matching of one direction ----

struct Direction {
  std::unique_ptr<TypelineRecord> first, second;
  std::unique_ptr<PairTagList> first_list = std::make_unique<PairTagList>();
  std::unique_ptr<PairTagList> second_list = std::make_unique<PairTagList>();
  PointMatchResult result{};
  std::int32_t cache = 0;

  int run(int t) {
    return point_matching(first.get(), second.get(), &result, 0, 1, t, &cache, first_list.get(), second_list.get());
  }
};

Direction genuine(unsigned seed, bool core) {
  Finger f;
  f.seed = seed;
  f.core = core;
  Finger g = f;
  g.jitter = 4;
  g.noise = seed + 50;
  g.spurious = 12;
  g.dropped = 10;
  return {decode(make_template(f)), decode(make_template(g, {10, 5, -7}))};
}

TEST(TypelinePointMatching, PairsEachMinutiaAtMostOnce) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    Direction d = genuine(seed, seed % 2 == 0);
    const int na = d.first->minutiae.count, nb = d.second->minutiae.count;
    EXPECT_GE(d.run(50), 50) << seed;
    const PointMatchResult& r = d.result;
    ASSERT_GT(r.pairCount, 5);
    std::set<int> firsts, seconds;
    for (int i = 0; i < r.pairCount; ++i) {
      EXPECT_TRUE(firsts.insert(r.first[i]).second);
      EXPECT_TRUE(seconds.insert(r.second[i]).second);
      EXPECT_LT(r.first[i], std::min<int>(na, d.first->minutiae.count));
      EXPECT_LT(r.second[i], d.second->minutiae.count);
    }
    // The first record was turned back by about the motion (10 steps).
    EXPECT_NEAR(r.rotation, 10, 3);
    EXPECT_GT(d.cache, 0);
    (void)nb;
  }
}

TEST(TypelinePointMatching, PointScoreIsComputedOncePerComparison) {
  Direction d = genuine(2, false);
  d.cache = 1234;  // a cached point score is used as it is
  d.run(50);
  EXPECT_EQ(d.cache, 1234);
  // A copy scores above 1700 on the first computation: twice t at once.
  Finger f;
  f.core = false;
  Direction self{decode(make_template(f)), decode(make_template(f))};
  EXPECT_EQ(self.run(50), 100);
  EXPECT_GT(self.cache, 1700);
  Direction again{decode(make_template(f)), decode(make_template(f))};
  again.cache = self.cache;
  EXPECT_NE(again.run(50), 100);
}

TEST(TypelinePointMatching, RecordWithoutTagsGivesNothing) {
  Direction d = genuine(1, false);
  for (int k = 0; k < d.second->minutiae.count; ++k) d.second->minutiae.minutiae[k].quality = 14;
  const TypelineRecord first = *d.first;
  EXPECT_EQ(d.run(1), 0);
  EXPECT_EQ(d.second_list->count, 0);
  // Refused before any rotation: the first record is as it came.
  EXPECT_EQ(std::memcmp(d.first.get(), &first, sizeof first), 0);
}

TEST(TypelinePointMatching, StrangersGiveNothing) {
  Finger f, g;
  g.seed = 99;
  for (bool core : {false, true}) {
    f.core = g.core = core;
    Direction d{decode(make_template(f)), decode(make_template(g, {10, 5, -7}))};
    EXPECT_EQ(d.run(50), 0);
  }
}

}  // namespace
