// Coarse matching with its transforms, counts and grid scores; pair tags,
// rotation and shift votes, the coincidence test and the shared-area cut;
// grey-level normalisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "support/synthetic_finger.h"
#include "zylscan/typeline_match.h"

namespace {

using namespace zyl::test;

// ---- Transforms ----

TEST(TypelineTransform, KeepsItsTwoRoundingRulesApart) {
  // Turning (10, 0) by 60 steps (90 degrees) about the origin: 10 x 16383
  // is just below 10 in Q14. Floored products give 9, the rounded sum 10;
  // below zero both floor.
  struct Case {
    int x, r;
    int floored_y, rounded_y, search_y;
  };
  const Case cases[] = {{10, 60, 9, 10, 9}, {-10, 60, -10, -10, -10}, {10, 0, 0, 0, 0}};
  for (const Case& c : cases) {
    TypelineRecord record{};
    record.minutiae = list_of({minutia(c.x, 0, 200)});
    transform_points(&record, 0, 0, c.r, 0, 0);
    TypelineMinutiaList mp = list_of({minutia(c.x, 0, 200)});
    transform_mp(&mp, 0, 0, c.r, 0, 0);
    TypelineMinutiaList search = list_of({minutia(c.x, 0, 200)});
    sch_sub_func_03(&search, 0, 0, c.r, 0, 0);
    const int turned_x = c.r == 0 ? c.x : 0;
    EXPECT_EQ(record.minutiae.minutiae[0].x, turned_x);
    EXPECT_EQ(record.minutiae.minutiae[0].y, c.floored_y);
    EXPECT_EQ(mp.minutiae[0].x, turned_x);
    EXPECT_EQ(mp.minutiae[0].y, c.rounded_y);
    EXPECT_EQ(search.minutiae[0].y, c.search_y);
    // Directions turn with the points, modulo 240.
    const int direction = (200 + c.r) % 240;
    EXPECT_EQ(record.minutiae.minutiae[0].direction, direction);
    EXPECT_EQ(mp.minutiae[0].direction, direction);
    EXPECT_EQ(search.minutiae[0].direction, direction);
  }
}

TEST(TypelineTransform, TurnsCoresButNotDeltas) {
  TypelineRecord record{};
  record.singular.count = 2;
  record.singular.points[0] = {100, 50, 30, 1};
  record.singular.points[1] = {60, 90, 255, 0};
  transform_points(&record, 100, 50, 30, 5, -5);
  EXPECT_EQ(record.singular.points[0].x, 105);
  EXPECT_EQ(record.singular.points[0].y, 45);
  EXPECT_EQ(record.singular.points[0].direction, 60);
  EXPECT_EQ(record.singular.points[1].direction, 255);
  // Rotations outside 0..239 are taken modulo 240.
  TypelineRecord wrapped{};
  wrapped.minutiae = list_of({minutia(30, 40, 10)});
  transform_points(&wrapped, 0, 0, 240 + 20, 0, 0);
  TypelineRecord plain{};
  plain.minutiae = list_of({minutia(30, 40, 10)});
  transform_points(&plain, 0, 0, 20, 0, 0);
  EXPECT_EQ(std::memcmp(&wrapped.minutiae, &plain.minutiae, sizeof plain.minutiae), 0);
}

TypelineBlockGrid grid_of(int columns, int rows, int value) {
  TypelineBlockGrid g{};
  g.columns = static_cast<std::uint8_t>(columns);
  g.rows = static_cast<std::uint8_t>(rows);
  for (int c = 0; c < columns * rows; ++c) g.cells[c] = static_cast<std::uint8_t>(value);
  return g;
}

TEST(TypelineTransform, ResamplesBlockGrids) {
  TypelineBlockGrid g = grid_of(6, 5, 0);
  for (int c = 0; c < 30; ++c) g.cells[c] = static_cast<std::uint8_t>(8 * (c % 15));
  g.cells[7] = 255;
  const TypelineBlockGrid original = g;
  transform_block(0, 0, 0, 48, 40, &g);
  EXPECT_EQ(std::memcmp(&g, &original, sizeof g), 0);

  // Moved right by a block: the first column has its source left of the
  // image, every other cell comes from its left neighbour.
  g = original;
  transform_block(0, 16, 0, 48, 40, &g);
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(g.cells[row * 6], 255);
    for (int col = 1; col < 6; ++col) EXPECT_EQ(g.cells[row * 6 + col], original.cells[row * 6 + col - 1]);
  }

  // A half turn about the grid's centre maps cells onto their mirror cells
  // and keeps their orientation (orientations are taken modulo 120).
  g = grid_of(4, 4, 0);
  for (int c = 0; c < 16; ++c) g.cells[c] = static_cast<std::uint8_t>(8 * c % 120);
  const TypelineBlockGrid square = g;
  transform_block(120, 0, 0, 32, 32, &g);
  for (int c = 0; c < 16; ++c) EXPECT_EQ(g.cells[c], square.cells[15 - c]) << c;
}

TEST(TypelineTransform, HalfTurnTurnsMinutiaeButNotBlocks) {
  const auto r = make_record(Finger{});
  TypelineRecord turned = *r;
  transform_points(&turned, 96, 96, 120, 0, 0);
  for (int k = 0; k < r->minutiae.count; ++k)
    EXPECT_EQ(turned.minutiae.minutiae[k].direction, (r->minutiae.minutiae[k].direction + 120) % 240);
  TypelineBlockGrid g = grid_of(12, 12, 40);
  transform_block(120, 0, 0, 96, 96, &g);
  for (int c = 0; c < 144; ++c) EXPECT_EQ(g.cells[c], 40);
}

// ---- Counts and grid scores ----

TEST(TypelineCounts, MatchedPointsByDistanceAndDirection) {
  const TypelineMinutiaList a = list_of({minutia(100, 100, 0)});
  struct Case {
    TypelineMinutia b;
    int t8, t11, mp13_7;
  };
  const Case cases[] = {
      {minutia(112, 100, 7), 1, 1, 1},   // squared distance 144, direction 7
      {minutia(100, 112, 10), 0, 1, 0},  // below 11, not below 8 nor within 7
      {minutia(100, 113, 0), 0, 0, 1},   // 169: beyond 144, within 13
      {minutia(100, 100, 12), 0, 0, 0},
      {minutia(100, 100, 235), 1, 1, 1},  // directions are circular
  };
  for (const Case& c : cases) {
    const TypelineMinutiaList b = list_of({c.b});
    int t8 = -1, t11 = -1;
    get_matched_points_number(&a, &b, &t8, &t11);
    EXPECT_EQ(t8, c.t8);
    EXPECT_EQ(t11, c.t11);
    EXPECT_EQ(get_matched_mp_num(13, 7, &a, &b), c.mp13_7);
  }
  // The count is the smaller of matched and marked minutiae: two of a near
  // one of b count once.
  const TypelineMinutiaList two = list_of({minutia(10, 10, 0), minutia(12, 10, 0)});
  const TypelineMinutiaList one = list_of({minutia(11, 10, 0)});
  EXPECT_EQ(get_matched_mp_num(13, 7, &two, &one), 1);
}

TEST(TypelineCounts, OverlapNeedsTwoHulls) {
  const TypelineMinutiaList square =
      list_of({minutia(0, 0, 0), minutia(100, 0, 0), minutia(100, 100, 0), minutia(0, 100, 0), minutia(50, 50, 0)});
  // Two of the triangle's corners lie within 16 of the square (the third is
  // 17 out); of the square's points only the middle one touches the
  // triangle widened by 16. The smaller count is answered.
  const TypelineMinutiaList other = list_of({minutia(50, 50, 0), minutia(116, 50, 0), minutia(50, 117, 0)});
  EXPECT_EQ(get_min_points_number(&square, &square), 5);
  EXPECT_EQ(get_min_points_number(&square, &other), 1);
  EXPECT_EQ(get_min_points_number(&other, &square), 1);
  const TypelineMinutiaList two = list_of({minutia(0, 0, 0), minutia(10, 10, 0)});
  EXPECT_EQ(get_min_points_number(&square, &two), 0);
}

TEST(TypelineGrids, AgreementAndOverlap) {
  const TypelineBlockGrid a = grid_of(10, 10, 40);
  EXPECT_EQ(check_block(30, 5, &a, &a), 100);
  EXPECT_EQ(check_block2(4, &a, &a), 100);

  struct Case {
    int a, b;  // orientations of all cells
    int agreement;
  };
  // 60 for a difference below 5, 60 - d up to the tolerance, 0 beyond;
  // differences fold at 60.
  const Case cases[] = {{40, 44, 100}, {40, 45, 91}, {40, 50, 83}, {40, 70, 50}, {40, 71, 0}, {5, 115, 83}};
  for (const Case& c : cases) {
    const TypelineBlockGrid ga = grid_of(10, 10, c.a), gb = grid_of(10, 10, c.b);
    EXPECT_EQ(check_block(30, 5, &ga, &gb), c.agreement) << c.a << " " << c.b;
  }

  // 30 cells in a, 75 in b, 5 shared: K = 5 asks for one in five of the
  // smaller foreground (5 x 5 < 30 gives 0); K = 6 passes.
  TypelineBlockGrid small = grid_of(10, 10, 255), large = grid_of(10, 10, 255);
  for (int c = 0; c < 30; ++c) small.cells[c] = 40;
  for (int c = 25; c < 100; ++c) large.cells[c] = 40;
  EXPECT_EQ(check_block(30, 5, &small, &large), 0);
  EXPECT_EQ(check_block(30, 6, &small, &large), 100);
  EXPECT_EQ(check_block2(6, &small, &large), 5 * 200 / 105);
  EXPECT_EQ(check_block2(5, &small, &large), 0);
  const TypelineBlockGrid empty = grid_of(10, 10, 255);
  EXPECT_EQ(check_block(30, 5, &a, &empty), 0);
  EXPECT_EQ(check_block2(4, &empty, &empty), 0);
}

// ---- Coarse matching ----

TEST(TypelineCoarse, AnswersByCoresAndMinutiae) {
  Finger f;
  f.minutiae = 20;
  const auto cored = decode(make_template(f));
  EXPECT_EQ(coarse_matching(cored.get(), cored.get()), 1);
  const auto moved = decode(make_template(f, {25, 10, -6}));
  EXPECT_EQ(coarse_matching(cored.get(), moved.get()), 1);
  Finger stranger = f;
  stranger.seed = 77;
  EXPECT_EQ(coarse_matching(cored.get(), decode(make_template(stranger)).get()), 0);

  TypelineRecord no_minutiae = *cored;
  no_minutiae.minutiae.count = 0;
  EXPECT_EQ(coarse_matching(cored.get(), &no_minutiae), -1);
  EXPECT_EQ(coarse_matching(&no_minutiae, cored.get()), -1);
  TypelineRecord no_core = *cored;
  no_core.singular.count = 0;
  EXPECT_EQ(coarse_matching(&no_core, cored.get()), 0);
  no_minutiae.singular.count = 0;
  EXPECT_EQ(coarse_matching(&no_minutiae, &no_core), 0);
  // Deltas are no cores.
  no_core.singular.count = 1;
  no_core.singular.points[0] = {90, 90, 255, 0};
  EXPECT_EQ(coarse_matching(&no_core, cored.get()), 0);
}

// ---- Pair tags ----

struct Buckets {
  std::array<int, TYPELINE_TAG_BUCKETS> counts{};
  std::array<int, TYPELINE_TAG_BUCKETS * TYPELINE_TAG_BUCKET_SLOTS> slots{};
};

TEST(TypelinePairTags, TagAnglesOfAPair) {
  // First at (0, 0) facing down (60), second at (10, 0) facing left (120):
  // the line points to +x (0); seen back from the second it points to -x.
  TypelineMinutiaList l = list_of({minutia(0, 0, 60), minutia(10, 0, 120)});
  PairTag tag{10, 0, 0, 0, 0, 1};
  get_tag_item(&l, &tag);
  EXPECT_EQ(tag.lineDirection, 0);
  EXPECT_EQ(tag.firstAngle, 180);
  EXPECT_EQ(tag.secondAngle, 0);
  // Upwards line: direction 180 folds to line direction 60.
  l = list_of({minutia(0, 10, 0), minutia(0, 0, 0)});
  tag = {10, 0, 0, 0, 0, 1};
  get_tag_item(&l, &tag);
  EXPECT_EQ(tag.lineDirection, 60);
  EXPECT_EQ(tag.firstAngle, 180);
  EXPECT_EQ(tag.secondAngle, 60);
  // A tag naming a minutia outside the list is left alone.
  PairTag bad{10, 7, 7, 7, 0, 5};
  get_tag_item(&l, &bad);
  EXPECT_EQ(bad.lineDirection, 7);
}

TEST(TypelinePairTags, LowQualityMinutiaeGiveNoTags) {
  auto r = make_record(Finger{});
  for (int k = 0; k < r->minutiae.count; ++k) r->minutiae.minutiae[k].quality = 14;
  auto list = std::make_unique<PairTagList>();
  Buckets b;
  int bound = -1, cx = 0, cy = 0;
  get_search_tag(r.get(), list.get(), &bound, b.counts.data(), b.slots.data(), 20, 200);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(bound, 0);
  get_file_tag(r.get(), list.get(), b.counts.data(), b.slots.data(), &cx, &cy, 20, 200);
  EXPECT_EQ(list->count, 0);
}

TEST(TypelinePairTags, SearchTagsAndTheirLengthBound) {
  // Pairs (0, 1) of length 50 and (0, 2) of length 51; (1, 2) is too long.
  struct Case {
    int first_length, second_length, bound;
  };
  for (const Case& c : {Case{50, 51, 51}, Case{51, 50, 52}}) {
    TypelineRecord r{};
    r.minutiae = list_of({minutia(100, 100, 10), minutia(100 + c.first_length, 100, 100),
                          minutia(100 - c.second_length, 100, 200)});
    r.minutiae.meanQuality = 40;
    auto list = std::make_unique<PairTagList>();
    Buckets b;
    int bound = -1;
    get_search_tag(&r, list.get(), &bound, b.counts.data(), b.slots.data(), 20, 60);
    EXPECT_EQ(bound, c.bound);
    ASSERT_EQ(list->count, 2);
    // Each tag is filed under its first angle, and the first angle is the
    // smaller of the two (a wide pair is turned round when needed).
    for (int t = 0; t < 2; ++t) {
      const PairTag& tag = list->tags[t];
      EXPECT_LE(tag.firstAngle, tag.secondAngle + 10);
      EXPECT_EQ(b.counts[tag.firstAngle], 1);
      EXPECT_EQ(b.slots[tag.firstAngle * TYPELINE_TAG_BUCKET_SLOTS], t);
    }
  }
  // Lengths outside min <= max <= 300 make nothing.
  TypelineRecord r{};
  r.minutiae = list_of({minutia(100, 100, 10), minutia(150, 100, 100)});
  auto list = std::make_unique<PairTagList>();
  list->count = 9;
  Buckets b;
  int bound = -1;
  get_search_tag(&r, list.get(), &bound, b.counts.data(), b.slots.data(), 20, 301);
  EXPECT_EQ(list->count, 0);
  EXPECT_EQ(bound, 0);
}

TEST(TypelinePairTags, NearlySymmetricPairsAreListedBothWays) {
  // Both minutiae face along the line, each towards the other: equal angles.
  TypelineRecord r{};
  r.minutiae = list_of({minutia(100, 100, 0), minutia(150, 100, 120)});
  auto list = std::make_unique<PairTagList>();
  Buckets b;
  int bound = 0;
  get_search_tag(&r, list.get(), &bound, b.counts.data(), b.slots.data(), 20, 200);
  ASSERT_EQ(list->count, 2);
  EXPECT_EQ(list->tags[0].first, 0);
  EXPECT_EQ(list->tags[1].first, 1);
  EXPECT_EQ(list->tags[0].firstAngle, list->tags[1].secondAngle);
  EXPECT_EQ(list->tags[0].length, list->tags[1].length);
  EXPECT_EQ(list->tags[0].lineDirection, list->tags[1].lineDirection);
}

TEST(TypelinePairTags, FullBucketOverwritesItsLastSlot) {
  // 7 minutiae in a row, all facing down: every pair (21 of them, lengths
  // 20..120) has first angle 180 after ordering... file tags keep the
  // smaller angle first, and here both angles of a pair are 180 and 0.
  TypelineRecord r{};
  for (int k = 0; k < 8; ++k) r.minutiae.minutiae[k] = minutia(20 + 20 * k, 100, 60);
  r.minutiae.count = 8;
  auto list = std::make_unique<PairTagList>();
  Buckets b;
  int cx = 0, cy = 0;
  get_file_tag(&r, list.get(), b.counts.data(), b.slots.data(), &cx, &cy, 20, 200);
  // 28 pairs, all of first angle 0 (line to +x minus ... ) -> one bucket.
  ASSERT_EQ(list->count, 28);
  const int angle = list->tags[0].firstAngle;
  for (int t = 0; t < 28; ++t) ASSERT_EQ(list->tags[t].firstAngle, angle);
  EXPECT_EQ(b.counts[angle], 19);
  for (int j = 0; j < 19; ++j) EXPECT_EQ(b.slots[angle * TYPELINE_TAG_BUCKET_SLOTS + j], j);
  EXPECT_EQ(b.slots[angle * TYPELINE_TAG_BUCKET_SLOTS + 19], 27);
  EXPECT_EQ(cx, (20 + 160) / 2);
  EXPECT_EQ(cy, 100);
}

TEST(TypelineAlignment, RotationFromVotesOnOneValue) {
  for (int value : {0, 5, 37, 120, 236}) {
    std::array<int, TYPELINE_ROTATION_VOTES> votes{};
    votes[value] = 100;
    TypelineRecord r{};
    r.minutiae = list_of({minutia(50, 60, 10)});
    auto list = std::make_unique<PairTagList>();
    list->count = 1;
    list->tags[0] = {10, 100, 0, 0, 0, 0};
    EXPECT_EQ(rotate_points(0, 0, votes.data(), list.get(), &r), value);
    EXPECT_EQ(r.minutiae.minutiae[0].direction, (10 + value) % 240);
    EXPECT_EQ(list->tags[0].lineDirection, (100 + value) % 240 % 120);
  }
  // Too few votes: 230 (m = 0 minus 10, wrapped).
  std::array<int, TYPELINE_ROTATION_VOTES> votes{};
  votes[50] = 2;
  TypelineRecord r{};
  auto list = std::make_unique<PairTagList>();
  EXPECT_EQ(rotate_points(0, 0, votes.data(), list.get(), &r), 230);
}

TEST(TypelineAlignment, ShiftFromVotes) {
  TypelineMinutiaList a = list_of({minutia(10, 10, 0), minutia(40, 10, 0)});
  TypelineMinutiaList b = list_of({minutia(17, 5, 0), minutia(47, 5, 0)});
  std::vector<int> xv(TYPELINE_SHIFT_VOTES, 0), yv(TYPELINE_SHIFT_VOTES, 0);
  const PairTag tag{30, 0, 0, 0, 0, 1};
  get_shift_param(13, 3, &tag, &tag, xv.data(), yv.data(), &a, &b);
  EXPECT_EQ(xv[407], 3);
  EXPECT_EQ(yv[395], 3);
  TypelineRecord r{};
  r.minutiae = a;
  r.singular.count = 1;
  r.singular.points[0] = {20, 20, 0, 1};
  int dx = 0, dy = 0;
  shift_points(&dx, &dy, &r, xv.data(), yv.data());
  EXPECT_EQ(dx, 7);
  EXPECT_EQ(dy, -5);
  EXPECT_EQ(r.minutiae.minutiae[0].x, 17);
  EXPECT_EQ(r.singular.points[0].y, 15);

  // Disagreeing ends, zero weight and shifts beyond the tables give no
  // vote (a shift of 500 has no slot among 800).
  std::vector<int> x2(TYPELINE_SHIFT_VOTES, 0), y2(TYPELINE_SHIFT_VOTES, 0);
  TypelineMinutiaList bent = list_of({minutia(17, 5, 0), minutia(60, 5, 0)});
  get_shift_param(13, 3, &tag, &tag, x2.data(), y2.data(), &a, &bent);
  get_shift_param(13, 0, &tag, &tag, x2.data(), y2.data(), &a, &b);
  TypelineMinutiaList far = list_of({minutia(510, 10, 0), minutia(540, 10, 0)});
  get_shift_param(13, 3, &tag, &tag, x2.data(), y2.data(), &a, &far);
  EXPECT_EQ(std::count(x2.begin(), x2.end(), 0), TYPELINE_SHIFT_VOTES);
  EXPECT_EQ(std::count(y2.begin(), y2.end(), 0), TYPELINE_SHIFT_VOTES);
}

TEST(TypelineAlignment, CoincidenceLimitGrowsWithDistanceFromTheCentre) {
  struct Case {
    int distance;  // of the first record's minutiae from the centre
    int density;
    int gap;  // x gap between the coinciding minutiae
    int pass;
  };
  const Case cases[] = {{150, 200, 12, 1}, {100, 200, 12, 0}, {100, 200, 11, 1},
                        {100, 201, 11, 0}, {400, 200, 12, 1}, {400, 200, 13, 0}};
  for (const Case& c : cases) {
    TypelineRecord a{}, b{};
    a.density = static_cast<std::uint8_t>(c.density);
    a.minutiae = list_of({minutia(c.distance, 0, 0), minutia(0, c.distance, 0)});
    b.minutiae = list_of({minutia(c.distance + c.gap, 0, 0), minutia(0, c.distance, 0)});
    const PairTag tag{10, 0, 0, 0, 0, 1};
    EXPECT_EQ(check_limit(13, &tag, &tag, &a, &b, 0, 0), c.pass) << c.distance << " " << c.gap;
  }
}

TEST(TypelineAlignment, SharedAreaKeepsAndRenumbers) {
  // Both grids share only the block of column 1, row 0 (centre (24, 8)).
  TypelineRecord a{}, b{};
  a.grid = grid_of(3, 1, 255);
  b.grid = grid_of(3, 1, 255);
  a.grid.cells[1] = 40;
  a.grid.cells[2] = 40;
  b.grid.cells[1] = 16;
  b.grid.cells[0] = 16;
  a.minutiae = list_of({minutia(100, 100, 0), minutia(20, 10, 0), minutia(30, 4, 0), minutia(25, 16, 0)});
  b.minutiae = list_of({minutia(24, 8, 0), minutia(90, 90, 0), minutia(20, 12, 0)});
  auto la = std::make_unique<PairTagList>(), lb = std::make_unique<PairTagList>();
  la->count = 3;
  la->tags[0] = {1, 0, 0, 0, 0, 1};  // drops with minutia 0
  la->tags[1] = {1, 0, 0, 0, 1, 2};  // kept as 0
  la->tags[2] = {1, 0, 0, 0, 3, 2};  // kept as 1
  lb->count = 2;
  lb->tags[0] = {1, 0, 0, 0, 0, 2};  // kept as 0
  lb->tags[1] = {1, 0, 0, 0, 1, 0};  // drops
  std::array<PairCandidate, 4> cand{{{5, 0, 1}, {5, 1, 2}, {5, 0, 0}, {5, 0, 2}}};
  std::array<int, 4> selected{0, 1, 2, 3};
  int k = 4;
  ASSERT_EQ(re_arrange_point(cand.data(), selected.data(), 4, &k, &a, &b, la.get(), lb.get()), 1);
  EXPECT_EQ(a.minutiae.count, 3);
  EXPECT_EQ(a.minutiae.minutiae[0].x, 20);
  EXPECT_EQ(b.minutiae.count, 2);
  EXPECT_EQ(b.minutiae.minutiae[1].x, 20);
  ASSERT_EQ(la->count, 2);
  EXPECT_EQ(la->tags[1].first, 2);
  EXPECT_EQ(la->tags[1].second, 1);
  ASSERT_EQ(lb->count, 1);
  EXPECT_EQ(lb->tags[0].second, 1);
  // Candidates 1 (second tag dropped) and 2 (first tag dropped) leave the
  // selection; the others are renumbered.
  ASSERT_EQ(k, 2);
  EXPECT_EQ(selected[0], 0);
  EXPECT_EQ(selected[1], 3);
  EXPECT_EQ(cand[0].firstTag, 0);
  EXPECT_EQ(cand[3].firstTag, 1);

  // No common block: nothing to keep.
  TypelineRecord c = a, d = b;
  d.grid = grid_of(3, 1, 255);
  k = 2;
  EXPECT_EQ(re_arrange_point(cand.data(), selected.data(), 4, &k, &c, &d, la.get(), lb.get()), 0);
}

TEST(TypelineAlignment, SharedAreaRenumbersEveryCandidate) {
  // 700 candidates lose their first-record tag; the one behind them keeps
  // its tag, which becomes tag 0. However many are dropped, the kept one is
  // renumbered and stays selected.
  TypelineRecord a{}, b{};
  a.grid = grid_of(3, 1, 40);
  b.grid = grid_of(3, 1, 40);
  a.minutiae = list_of({minutia(100, 100, 0), minutia(10, 8, 0), minutia(30, 8, 0)});
  b.minutiae = list_of({minutia(10, 8, 0), minutia(30, 8, 0)});
  auto la = std::make_unique<PairTagList>(), lb = std::make_unique<PairTagList>();
  la->count = 2;
  la->tags[0] = {1, 0, 0, 0, 0, 1};  // drops with minutia 0
  la->tags[1] = {1, 0, 0, 0, 1, 2};
  lb->count = 1;
  lb->tags[0] = {1, 0, 0, 0, 0, 1};
  std::vector<PairCandidate> cand(701, PairCandidate{5, 0, 0});
  cand[700].firstTag = 1;
  std::vector<int> selected{700};
  int k = 1;
  ASSERT_EQ(re_arrange_point(cand.data(), selected.data(), 701, &k, &a, &b, la.get(), lb.get()), 1);
  ASSERT_EQ(k, 1);
  EXPECT_EQ(selected[0], 700);
  EXPECT_EQ(cand[700].firstTag, 0);
  EXPECT_EQ(la->count, 1);
}

// ---- Grey-level normalisation ----

TEST(TypelineNormalise, StretchesToTheFullRange) {
  struct Case {
    std::vector<std::uint8_t> in, out;
  };
  const Case cases[] = {
      {{40, 200, 120, 41}, {0, 255, 127, 1}},
      {{0, 255, 17, 200}, {0, 255, 17, 200}},
      {{90, 90, 90}, {90, 90, 90}},  // one grey level is kept
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(c.in.size(), 7);
    EXPECT_EQ(normalizeZyl(c.in.data(), out.data(), static_cast<int>(c.in.size()), 1, 0.5f), 0);
    EXPECT_EQ(out, c.out);
  }
  std::uint8_t pixel = 3;
  EXPECT_EQ(normalizeZyl(nullptr, &pixel, 1, 1, 0.5f), -1);
  EXPECT_EQ(normalizeZyl(&pixel, &pixel, -1, 1, 0.5f), -1);
  EXPECT_EQ(normalizeZyl(&pixel, &pixel, 0, 0, 0.5f), 0);
}

}  // namespace
