// Threshold tables of the type-line matcher's smaller checks and of the
// decisions outside the main chain: the core comparison, pair types, the
// existence, neighbour and overlap look-ups, the missing-between-pairs
// decision, the exported unpaired-minutia decisions, and the point score that
// ends point matching at once. As in decision_thresholds_test.cpp, every
// expected value was worked out from the written rules before the code was
// read; each row names the comparison it straddles.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "support/synthetic_finger.h"
#include "typeline/decision_records.h"
#include "zylscan/typeline_match.h"
#include "zylscan/typeline_math.h"
#include "zylscan/typeline_template.h"

namespace {

using namespace zyl::test;

// A point about len pixels from (cx, cy) in direction dir, as op_func_01
// measures the direction from the centre towards the point.
void Toward(int cx, int cy, int dir, int len, int& x, int& y) {
  int best = INT_MAX;
  for (int dy = -len - 3; dy <= len + 3; ++dy)
    for (int dx = -len - 3; dx <= len + 3; ++dx) {
      if (op_func_01(cx + dx, cy + dy, cx, cy) != dir) continue;
      const int miss = std::abs(Sq(dx, dy) - len * len);
      if (miss < best) {
        best = miss;
        x = cx + dx;
        y = cy + dy;
      }
    }
}

// ---- check_core ----

TEST(TypelineDecisionChecks, CoreComparisonOnEachSideOfItsLimits) {
  struct Core {
    int x, y, dir;
  };
  struct Row {
    int na;
    Core a[2];
    int nb;
    Core b[2];
    int distance_limit, angle_limit, expected;
  };
  // One core each: rounded distance and circular angle, both strictly below
  // their limits. Two each: difference of the rounded core distances and
  // plain difference of the core-line directions folded onto a half turn.
  const Row rows[] = {
      {1, {{100, 100, 5}}, 1, {{100, 100, 235}}, 10, 10, 0},   // angle 10 (circular) < 10
      {1, {{100, 100, 5}}, 1, {{100, 100, 235}}, 16, 11, 1},   // angle 10 < 11
      {1, {{100, 100, 0}}, 1, {{100, 100, 9}}, 10, 10, 1},     // angle 9 < 10
      {1, {{100, 100, 0}}, 1, {{100, 100, 10}}, 10, 10, 0},    // angle 10 < 10
      {1, {{100, 100, 235}}, 1, {{100, 100, 4}}, 10, 10, 1},   // angle 9 across 0
      {1, {{100, 100, 0}}, 1, {{109, 103, 0}}, 10, 10, 1},     // distance sqrt 90 rounds to 9 < 10
      {1, {{100, 100, 0}}, 1, {{109, 104, 0}}, 10, 10, 0},     // distance sqrt 97 rounds to 10
      {1, {{100, 100, 0}}, 1, {{110, 100, 0}}, 11, 10, 1},     // distance 10 < 11
      {1, {{100, 100, 0}}, 2, {{100, 100, 0}, {150, 100, 0}}, 10, 10, 0},  // core counts differ
      {2, {{100, 100, 0}, {150, 100, 0}}, 1, {{100, 100, 0}}, 10, 10, 0},  // core counts differ
      {0, {}, 0, {}, 10, 10, 0},                                           // no cores
      {0, {}, 1, {{100, 100, 0}}, 10, 10, 0},                              // one side without a core
      // Two each: lines of length 50 and 60, both direction 0 (120 folded).
      {2, {{100, 100, 0}, {150, 100, 0}}, 2, {{100, 100, 0}, {150, 100, 0}}, 1, 1, 1},  // 0 < 1, 0 < 1
      {2, {{100, 100, 0}, {150, 100, 0}}, 2, {{100, 100, 0}, {160, 100, 0}}, 10, 1, 0},  // distance 10 < 10
      {2, {{100, 100, 0}, {150, 100, 0}}, 2, {{100, 100, 0}, {160, 100, 0}}, 11, 1, 1},  // distance 10 < 11
      // Lines at 0 and 60 (second core straight above the first).
      {2, {{100, 100, 0}, {150, 100, 0}}, 2, {{100, 100, 0}, {100, 150, 0}}, 10, 60, 0},  // angle 60 < 60
      {2, {{100, 100, 0}, {150, 100, 0}}, 2, {{100, 100, 0}, {100, 150, 0}}, 10, 61, 1},  // angle 60 < 61
      // Lines at 0 and 90 (length 49): the plain difference 90, not 30.
      {2, {{100, 100, 0}, {150, 100, 0}}, 2, {{100, 135, 0}, {135, 100, 0}}, 10, 31, 0},  // angle 90 < 31
      {2, {{100, 100, 0}, {150, 100, 0}}, 2, {{100, 135, 0}, {135, 100, 0}}, 10, 91, 1},  // angle 90 < 91
  };
  for (const Row& r : rows) {
    TypelineRecord a{}, b{};
    for (int i = 0; i < r.na; ++i) AddPoint(a, r.a[i].x, r.a[i].y, r.a[i].dir, 1);
    for (int i = 0; i < r.nb; ++i) AddPoint(b, r.b[i].x, r.b[i].y, r.b[i].dir, 1);
    EXPECT_EQ(check_core(&a.singular, &b.singular, r.distance_limit, r.angle_limit), r.expected)
        << r.na << " core(s) against " << r.nb << ", first " << r.a[0].x << "," << r.a[0].y << "/" << r.a[0].dir
        << " and " << r.b[0].x << "," << r.b[0].y << "/" << r.b[0].dir << " limits " << r.distance_limit << "/"
        << r.angle_limit;
  }
  // Deltas are not cores, and only the first two cores of a list are kept.
  TypelineRecord core{}, delta{}, three{};
  AddPoint(core, 100, 100, 0, 1);
  AddPoint(delta, 100, 100, 0, 0);
  EXPECT_EQ(check_core(&core.singular, &delta.singular, 10, 10), 0);
  AddPoint(three, 100, 100, 0, 1);
  AddPoint(three, 150, 100, 0, 1);
  AddPoint(three, 300, 300, 0, 1);
  TypelineRecord two = three;
  two.singular.count = 2;
  EXPECT_EQ(check_core(&three.singular, &two.singular, 1, 1), 1) << "the third core is left out";
}

// ---- check_point_kind ----

TEST(TypelineDecisionChecks, PairTypesAgreeOnlyWhenEveryPairAgrees) {
  struct Row {
    int n, ta[3], tb[3];
    bool crossed, extra;
    int expected;
  };
  // Pair i joins first minutia i with second minutia i, or with n - 1 - i
  // when crossed; extra adds an unpaired minutia of type 0 to the first
  // record and of type 1 to the second.
  const Row rows[] = {
      {0, {}, {}, false, false, 0},                       // no pairs
      {1, {1}, {1}, false, false, 1},                     // one agreeing pair
      {3, {0, 1, 0}, {0, 1, 0}, false, false, 1},         // all agree
      {3, {0, 1, 0}, {0, 1, 1}, false, false, 0},         // the last pair differs
      {3, {1, 1, 0}, {0, 1, 0}, false, false, 0},         // the first pair differs
      {3, {0, 1, 0}, {0, 1, 0}, false, true, 1},          // unpaired minutiae do not count
      {2, {0, 1}, {1, 0}, true, false, 1},                // pairs by index list, not by position
      {2, {0, 1}, {1, 0}, false, false, 0},
  };
  for (const Row& w : rows) {
    TypelineMinutiaList a{}, b{};
    PointMatchResult r{};
    for (int i = 0; i < w.n; ++i) {
      Put(a, 50 * i, 0, 40, 0, w.ta[i]);
      Put(b, 50 * i, 0, 40, 0, w.tb[i]);
    }
    for (int i = 0; i < w.n; ++i) Pair(r, i, w.crossed ? w.n - 1 - i : i);
    if (w.extra) {
      Put(a, 300, 300, 40, 0, 0);
      Put(b, 300, 300, 40, 0, 1);
    }
    EXPECT_EQ(check_point_kind(&a, &b, &r), w.expected) << "n " << w.n << " crossed " << w.crossed;
  }
}

// ---- check_overlap ----

TEST(TypelineDecisionChecks, CoreOverlapOnEachSideOfItsLimits) {
  struct Row {
    int dx, dy, dir_a, dir_b, expected;
  };
  // Cores within squared distance below 256 and directions at most 6 apart.
  const Row rows[] = {
      {15, 0, 0, 0, 1},   {16, 0, 0, 0, 0},    // 225 / 256 < 256
      {15, 5, 0, 0, 1},   {15, 6, 0, 0, 0},    // 250 / 261
      {0, 0, 0, 6, 1},    {0, 0, 0, 7, 0},     // direction 6 / 7 <= 6
      {0, 0, 236, 2, 1},  {0, 0, 236, 3, 0},   // 6 / 7 across 0
  };
  for (const Row& w : rows) {
    TypelineRecord a{}, b{};
    AddPoint(a, 100, 100, w.dir_a, 1);
    AddPoint(b, 100 + w.dx, 100 + w.dy, w.dir_b, 1);
    EXPECT_EQ(check_overlap(&a.singular, &b.singular), w.expected)
        << w.dx << "," << w.dy << " directions " << w.dir_a << "/" << w.dir_b;
  }
  TypelineRecord a{}, far_then_near{}, deltas{}, three{}, none{};
  AddPoint(a, 100, 100, 0, 1);
  AddPoint(far_then_near, 300, 300, 100, 1);
  AddPoint(far_then_near, 100, 100, 0, 1);
  EXPECT_EQ(check_overlap(&a.singular, &far_then_near.singular), 1) << "the second core of the second record";
  EXPECT_EQ(check_overlap(&far_then_near.singular, &a.singular), 1) << "the second core of the first record";
  AddPoint(deltas, 100, 100, 0, 0);
  EXPECT_EQ(check_overlap(&a.singular, &deltas.singular), 0) << "a delta is no core";
  EXPECT_EQ(check_overlap(&a.singular, &none.singular), 0);
  AddPoint(three, 300, 300, 0, 1);
  AddPoint(three, 300, 200, 0, 1);
  AddPoint(three, 100, 100, 0, 1);
  EXPECT_EQ(check_overlap(&three.singular, &a.singular), 0) << "a third core is left out";
}

// ---- check_exist ----

TEST(TypelineDecisionChecks, ExistenceLookUpOnEachSideOfItsLimits) {
  // m0 (100, 100) direction 0, paired on the first side; m1 (200, 200)
  // direction 100, paired on the second side; m2 (300, 300) direction 230,
  // listed on the first side beyond the pair count; m3 (100, 105) direction
  // 120.
  TypelineMinutiaList list{};
  Put(list, 100, 100, 40, 0);
  Put(list, 200, 200, 40, 100);
  Put(list, 300, 300, 40, 230);
  Put(list, 100, 105, 40, 120);
  PointMatchResult r{};
  Pair(r, 0, 1);
  r.first[1] = 2;
  struct Row {
    int x, y, dir, skip, radius, angle, exclude, position_only, side, expected;
  };
  const Row rows[] = {
      {100, 100, 60, -1, 20, 20, 0, 1, 0, 1},   // position only: any direction
      {100, 100, 60, -1, 20, 20, 0, 0, 0, 0},   // 60 apart (m3 at 5 pixels is 60 apart too)
      {100, 100, 19, -1, 20, 20, 0, 0, 0, 1},   // direction 19 < 20
      {100, 100, 20, -1, 20, 20, 0, 0, 0, 0},   // direction 20
      {300, 300, 9, -1, 20, 20, 0, 0, 0, 1},    // 230 and 9: 19 across 0
      {300, 300, 10, -1, 20, 20, 0, 0, 0, 0},   // 20 across 0
      {319, 306, 230, -1, 20, 20, 0, 0, 0, 1},  // squared distance 397 < 400
      {320, 300, 230, -1, 20, 20, 0, 0, 0, 0},  // 400
      {300, 300, 230, -1, 0, 20, 0, 1, 0, 0},   // radius 0 holds nothing
      {300, 300, 230, 2, 20, 20, 0, 0, 0, 0},   // the skip index
      {300, 300, 230, 1, 20, 20, 0, 0, 0, 1},   // another skip index
      {100, 100, 0, -1, 20, 20, 1, 0, 0, 0},    // m0 paired on the first side (m3 120 apart)
      {100, 100, 0, -1, 20, 20, 1, 0, 1, 1},    // ... but not on the second
      {200, 200, 100, -1, 20, 20, 1, 0, 1, 0},  // m1 paired on the second side
      {200, 200, 100, -1, 20, 20, 0, 0, 1, 1},  // not excluded
      {300, 300, 230, -1, 20, 20, 1, 0, 0, 1},  // listed beyond the pair count: unpaired
      {100, 104, 120, -1, 20, 20, 0, 0, 0, 1},  // m0 fails on direction, m3 further on holds
  };
  for (const Row& w : rows)
    EXPECT_EQ(check_exist(w.x, w.y, w.dir, w.skip, w.radius, w.angle, &list, &r, w.exclude, w.position_only, w.side),
              w.expected)
        << "(" << w.x << "," << w.y << ") dir " << w.dir << " skip " << w.skip << " radius " << w.radius
        << " exclude " << w.exclude << " position only " << w.position_only << " side " << w.side;
}

// ---- check_neighbor ----

TEST(TypelineDecisionChecks, NeighbourConsistencyOnEachSideOfItsLimits) {
  // Both records: four corners (0..400)^2 (indexes 0..3); the second record
  // may hold one more minutia (index 4). H1 lists neighbours of the first
  // record's pair minutia, H2 of the second's.
  struct P {
    int x, y, dir;
  };
  struct Row {
    int h1n;
    P h1[2];
    int h2n;
    P h2;
    bool b_extra;
    P extra;
    int second_index;
    bool b_without_hull;
    int expected;
  };
  const Row rows[] = {
      {0, {}, 0, {}, false, {}, 0, false, 1},                                     // both lists empty
      {1, {{200, 200, 0}}, 0, {}, false, {}, 0, false, 0},                        // one neighbour, lacking
      {2, {{200, 200, 0}, {250, 250, 0}}, 0, {}, true, {250, 250, 0}, 0, false, 1},  // one of two lacking
      {1, {{200, 200, 0}}, 0, {}, true, {219, 206, 19}, 0, false, 1},  // present: 397 < 400, 19 < 20
      {1, {{200, 200, 0}}, 0, {}, true, {220, 200, 0}, 0, false, 0},   // 400 apart: lacking
      {1, {{200, 200, 0}}, 0, {}, true, {200, 200, 20}, 0, false, 0},  // 20 apart in direction
      {1, {{200, 200, 0}}, 0, {}, true, {200, 200, 0}, 4, false, 0},   // the partner is the pair's own
      {1, {{500, 500, 0}}, 0, {}, false, {}, 0, false, 1},             // outside the second hull
      {0, {}, 1, {200, 200, 0}, false, {}, 0, false, 0},               // H2 lacking in the first
      {1, {{200, 200, 0}}, 0, {}, false, {}, 0, true, 1},              // no hull of the second record
  };
  for (const Row& w : rows) {
    TypelineRecord a = Quality(40), b = Quality(40);
    for (TypelineRecord* rec : {&a, &b})
      for (int c = 0; c < 4; ++c) Put(rec->minutiae, c % 2 ? 400 : 0, c / 2 ? 400 : 0, 40);
    if (w.b_extra) Put(b.minutiae, w.extra.x, w.extra.y, 40, w.extra.dir);
    if (w.b_without_hull) b.minutiae.count = 2;
    TypelineMinutiaList h1{}, h2{};
    for (int i = 0; i < w.h1n; ++i) Put(h1, w.h1[i].x, w.h1[i].y, 40, w.h1[i].dir);
    if (w.h2n) Put(h2, w.h2.x, w.h2.y, 40, w.h2.dir);
    EXPECT_EQ(check_neighbor(0, w.second_index, &h1, &h2, &a, &b), w.expected)
        << "H1 " << w.h1n << " H2 " << w.h2n << " extra " << w.b_extra << " at " << w.extra.x << "," << w.extra.y
        << "/" << w.extra.dir << " second index " << w.second_index;
  }
}

// ---- dec_func_02 ----

TEST(TypelineDecisionChecks, CrowdedGoodSideOnEachSideOfItsThresholds) {
  // Three pairs 300 apart. The first `showing` pairs: the good side's pair
  // minutia of quality q_good, the other side's q_other; around the good
  // side's minutia `good` unpaired minutiae of quality q_near at (dx, dy),
  // (-dx, dy), (dx, -dy); optionally one unpaired minutia of quality 0 at
  // (dx, dy) around the other side's, or the good side's near ones paired
  // with far partners.
  struct Row {
    int showing, q_good, q_other, good, q_near, dx, dy, good_side;
    bool intruder, near_paired;
    int expected;
  };
  const Row rows[] = {
      {2, 45, 30, 3, 45, 30, 18, 0, false, false, 75},   // two pairs show it: 3/4
      {1, 45, 30, 3, 45, 30, 18, 0, false, false, 100},  // one pair < 2
      {2, 45, 30, 2, 45, 30, 18, 0, false, false, 100},  // 2 near ones, not more than 2
      {2, 45, 30, 3, 44, 30, 18, 0, false, false, 100},  // near ones of quality 44 < 45
      {2, 44, 30, 3, 45, 30, 18, 0, false, false, 100},  // good side 44 < 45
      {2, 45, 29, 3, 45, 30, 18, 0, false, false, 100},  // other side 29 < 30
      {2, 45, 30, 3, 45, 35, 1, 0, false, false, 100},   // squared distance 1226, beyond 1225
      {2, 45, 30, 3, 45, 30, 18, 1, false, false, 75},   // the good side is the second record
      {2, 45, 30, 3, 45, 30, 18, 0, true, false, 100},   // the other side shows an unpaired minutia
      {2, 45, 45, 3, 45, 30, 18, 0, false, false, 75},   // both sides good
      {2, 45, 30, 3, 45, 30, 18, 0, false, true, 100},   // the near ones are paired
  };
  for (const Row& w : rows) {
    TypelineMinutiaList a{}, b{};
    PointMatchResult r{};
    TypelineMinutiaList& good = w.good_side == 0 ? a : b;
    TypelineMinutiaList& other = w.good_side == 0 ? b : a;
    int centre_good[3], centre_other[3];
    for (int i = 0; i < 3; ++i) {
      const bool shows = i < w.showing;
      centre_good[i] = Put(good, 100 + 300 * i, 100, shows ? w.q_good : 40);
      centre_other[i] = Put(other, 100 + 300 * i, 100, shows ? w.q_other : 40);
      Pair(r, w.good_side == 0 ? centre_good[i] : centre_other[i], w.good_side == 0 ? centre_other[i] : centre_good[i]);
    }
    for (int i = 0; i < w.showing; ++i) {
      const int x = 100 + 300 * i, y = 100;
      const int offsets[3][2] = {{w.dx, w.dy}, {-w.dx, w.dy}, {w.dx, -w.dy}};
      for (int k = 0; k < w.good; ++k) {
        const int near = Put(good, x + offsets[k][0], y + offsets[k][1], w.q_near);
        if (w.near_paired) {
          const int partner = Put(other, x + 100 * k - 100, 600, 40);
          Pair(r, w.good_side == 0 ? near : partner, w.good_side == 0 ? partner : near);
        }
      }
      if (w.intruder) Put(other, x + w.dx, y + w.dy, 0);
    }
    EXPECT_EQ(dec_func_02(100, &a, &b, &r), w.expected)
        << "showing " << w.showing << " q " << w.q_good << "/" << w.q_other << " near " << w.good << " of q "
        << w.q_near << " at " << w.dx << "," << w.dy << " good side " << w.good_side << " intruder " << w.intruder
        << " paired " << w.near_paired;
  }
}

// ---- dec_func_04 and dec_func_06 ----

// Pairs at the corners of (0..400)^2 (three or two corners for n below 4,
// then more along the top edge), unpaired minutiae inside at fixed spots in
// each record, and optionally one second-record minutia (quality 10, or
// paired with a first-record minutia of quality 50 at (300, 40)) near the
// first record's first unpaired one.
struct HullRecords {
  TypelineRecord a, b;
  PointMatchResult r{};
  HullRecords(int n, int pair_qa, int pair_qb, int unpaired_a, int unpaired_b, int unpaired_q, int partner, int pdx,
              int pdy, int pdd, int mean_a = 40, int mean_b = 40) {
    a = Quality(mean_a);
    b = Quality(mean_b);
    const int corners[4][2] = {{0, 0}, {400, 0}, {0, 400}, {400, 400}};
    for (int i = 0; i < n; ++i) {
      const int x = i < 4 ? corners[i][0] : 40 + 30 * (i - 4), y = i < 4 ? corners[i][1] : 0;
      Pair(r, Put(a.minutiae, x, y, pair_qa), Put(b.minutiae, x, y, pair_qb));
    }
    const int spots_a[5][2] = {{60, 60}, {120, 60}, {60, 120}, {120, 120}, {90, 160}};
    const int spots_b[3][2] = {{200, 60}, {260, 60}, {60, 200}};
    for (int i = 0; i < unpaired_a; ++i) Put(a.minutiae, spots_a[i][0], spots_a[i][1], unpaired_q);
    for (int i = 0; i < unpaired_b; ++i) Put(b.minutiae, spots_b[i][0], spots_b[i][1], unpaired_q);
    if (partner == 1) Put(b.minutiae, 60 + pdx, 60 + pdy, 10, pdd);
    if (partner == 2) Pair(r, Put(a.minutiae, 300, 40, pair_qa), Put(b.minutiae, 60 + pdx, 60 + pdy, pair_qb, pdd));
  }
};

TEST(TypelineDecisionChecks, UnpairedInsideTheHullOnEachSideOfTheirThresholds) {
  struct Row {
    int n, pair_qa, pair_qb, unpaired_a, unpaired_b, unpaired_q, partner, pdx, pdy, pdd;
    int expected;
  };
  // s = 100: more than 4 lacking minutiae halve s, 3 or 4 take 5 each.
  const Row rows[] = {
      {4, 50, 50, 3, 0, 40, 0, 0, 0, 0, 85},    // total 3
      {4, 50, 50, 4, 0, 40, 0, 0, 0, 0, 80},    // total 4
      {4, 50, 50, 5, 0, 40, 0, 0, 0, 0, 50},    // total 5 > 4
      {4, 50, 50, 2, 0, 40, 0, 0, 0, 0, 100},   // total 2
      {4, 50, 50, 2, 1, 40, 0, 0, 0, 0, 85},    // both records count
      {4, 50, 50, 3, 2, 40, 0, 0, 0, 0, 50},
      {4, 50, 49, 3, 0, 40, 0, 0, 0, 0, 100},   // smaller paired mean 49 < 50
      {4, 49, 50, 3, 0, 40, 0, 0, 0, 0, 100},
      {3, 50, 50, 3, 0, 40, 0, 0, 0, 0, 85},    // n = 3
      {2, 50, 50, 3, 0, 40, 0, 0, 0, 0, 100},   // n = 2 < 3
      {4, 50, 50, 3, 0, 39, 0, 0, 0, 0, 100},   // unpaired quality 39 < 40
      {4, 50, 50, 3, 0, 40, 1, 19, 6, 14, 100},  // partner 397 away, 14 apart: present
      {4, 50, 50, 3, 0, 40, 1, 20, 0, 0, 85},    // partner 400 away: lacking
      {4, 50, 50, 3, 0, 40, 1, 0, 0, 15, 85},    // partner 15 apart in direction: lacking
      {4, 50, 50, 3, 0, 40, 2, 0, 0, 0, 85},     // a paired partner does not count
  };
  for (const Row& w : rows) {
    HullRecords h(w.n, w.pair_qa, w.pair_qb, w.unpaired_a, w.unpaired_b, w.unpaired_q, w.partner, w.pdx, w.pdy,
                  w.pdd);
    EXPECT_EQ(dec_func_04(100, &h.a, &h.b, &h.r), w.expected)
        << "n " << w.n << " paired q " << w.pair_qa << "/" << w.pair_qb << " unpaired " << w.unpaired_a << "+"
        << w.unpaired_b << " q " << w.unpaired_q << " partner " << w.partner << " at " << w.pdx << "," << w.pdy
        << " turned " << w.pdd;
  }
  // A minutia outside the hull of the paired ones does not count.
  HullRecords h(4, 50, 50, 3, 0, 40, 0, 0, 0, 0);
  Put(h.a.minutiae, 450, 450, 40);
  EXPECT_EQ(dec_func_04(100, &h.a, &h.b, &h.r), 85);
}

TEST(TypelineDecisionChecks, UnpairedDecisionGatesOnEachSideOfTheirThresholds) {
  struct Row {
    int s, t, x, D, bA, n, unpaired_a, unpaired_b, unpaired_q, partner, pdx, pdy, pdd;
    bool cores;
    int mean_a, mean_b, expected;
  };
  // Defaults s 100, t 50, x 0, D 240, bA 90, n 4, unpaired quality 30, mean
  // qualities 40. Lacking minutiae: more than 4 halve s with cores near and
  // good means, else 7/10; 3 or 4 take 5 each with good means, else 3.
  const Row rows[] = {
      {100, 50, 0, 240, 90, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},   // total 3
      {100, 50, 0, 240, 90, 4, 4, 0, 30, 0, 0, 0, 0, false, 40, 40, 80},   // total 4
      {100, 50, 0, 240, 90, 4, 2, 0, 30, 0, 0, 0, 0, false, 40, 40, 100},  // total 2
      {100, 50, 0, 240, 90, 4, 2, 1, 30, 0, 0, 0, 0, false, 40, 40, 85},   // both records count
      {100, 50, 0, 240, 90, 4, 5, 0, 30, 0, 0, 0, 0, false, 40, 40, 70},   // total 5, no cores
      {100, 50, 0, 240, 90, 4, 5, 0, 30, 0, 0, 0, 0, true, 40, 40, 50},    // total 5, cores near
      {100, 50, 0, 240, 90, 4, 5, 0, 30, 0, 0, 0, 0, true, 34, 40, 70},    // mean 34 < 35
      {100, 50, 0, 240, 90, 4, 5, 0, 30, 0, 0, 0, 0, true, 35, 35, 50},    // means 35
      {100, 50, 0, 240, 90, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 34, 91},   // total 3, mean 34: 3 each
      {100, 50, 0, 240, 90, 4, 4, 0, 30, 0, 0, 0, 0, false, 34, 40, 88},   // total 4, mean 34
      {100, 50, 0, 240, 90, 4, 3, 0, 29, 0, 0, 0, 0, false, 40, 40, 100},  // unpaired quality 29 < 30
      {100, 50, 0, 240, 90, 11, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},  // n 11 <= 11
      {100, 50, 0, 240, 90, 12, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 100}, // n 12
      {149, 50, 0, 240, 90, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 134},  // s 149 < 3t
      {150, 50, 0, 240, 90, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 150},  // s 150
      {100, 50, 199, 240, 90, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},   // x 199 < 4t
      {100, 50, 200, 240, 90, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 100},  // x 200
      {100, 50, 0, 245, 94, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},   // D 245, bA 94 < 95
      {100, 50, 0, 245, 95, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 100},  // D 245, bA 95
      {100, 50, 0, 244, 95, 4, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},   // D 244 < 245
      {100, 50, 0, 248, 92, 10, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 100}, // n 10, D 248, bA 92
      {100, 50, 0, 247, 92, 10, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},  // D 247 < 248
      {100, 50, 0, 248, 92, 9, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},   // n 9 < 10
      {100, 50, 0, 248, 91, 10, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 85},  // bA 91 < 92
      {100, 50, 0, 240, 90, 4, 3, 0, 30, 1, 19, 6, 19, false, 40, 40, 100},  // partner 397 away, 19 apart
      {100, 50, 0, 240, 90, 4, 3, 0, 30, 1, 20, 0, 0, false, 40, 40, 85},    // partner 400 away
      {100, 50, 0, 240, 90, 4, 3, 0, 30, 1, 0, 0, 20, false, 40, 40, 85},    // partner 20 apart
      {100, 50, 0, 240, 90, 4, 3, 0, 30, 2, 0, 0, 0, false, 40, 40, 100},    // a paired partner counts
      {100, 50, 0, 240, 90, 0, 3, 0, 30, 0, 0, 0, 0, false, 40, 40, 0},      // no pairs: 0
  };
  for (const Row& w : rows) {
    HullRecords h(w.n, 40, 40, w.unpaired_a, w.unpaired_b, w.unpaired_q, w.partner, w.pdx, w.pdy, w.pdd, w.mean_a,
                  w.mean_b);
    if (w.cores) {
      AddPoint(h.a, 200, 350, 60, 1);
      AddPoint(h.b, 200, 350, 60, 1);
    }
    EXPECT_EQ(dec_func_06(w.s, &h.a, &h.b, &h.r, w.t, w.D, w.bA, w.x), w.expected)
        << "s " << w.s << " t " << w.t << " x " << w.x << " D " << w.D << " bA " << w.bA << " n " << w.n
        << " unpaired " << w.unpaired_a << "+" << w.unpaired_b << " q " << w.unpaired_q << " partner " << w.partner
        << " at " << w.pdx << "," << w.pdy << " turned " << w.pdd << " cores " << w.cores << " means " << w.mean_a
        << "/" << w.mean_b;
  }
  // Cores near: within rounded distance below 16 and directions below 7
  // apart; total 5 then halves s, else takes 3/10.
  struct Cores {
    int dx, dd, expected;
  };
  for (const Cores& c : {Cores{15, 0, 50}, Cores{16, 0, 70}, Cores{0, 6, 50}, Cores{0, 7, 70}}) {
    HullRecords h(4, 40, 40, 5, 0, 30, 0, 0, 0, 0);
    AddPoint(h.a, 200, 350, 60, 1);
    AddPoint(h.b, 200 + c.dx, 350, 60 + c.dd, 1);
    EXPECT_EQ(dec_func_06(100, &h.a, &h.b, &h.r, 50, 240, 90, 0), c.expected) << "cores " << c.dx << " apart, turned "
                                                                                << c.dd;
  }
  // A record without minutiae (so without pairs) answers 0.
  HullRecords h(0, 40, 40, 3, 0, 30, 0, 0, 0, 0);
  EXPECT_EQ(dec_func_06(100, &h.a, &h.b, &h.r, 50, 240, 90, 0), 0) << "a record without minutiae";
}

// ---- dec_func_05 ----

TEST(TypelineDecisionChecks, TurnedTripleOnEachSideOfItsThresholds) {
  // Pair i at (200, 200), pair j at (200, 200) + j_offset in both records,
  // pair k at (200, 230) in the first record (direction 60 from i) and 30
  // pixels from i in direction `theta` in the second. The angle j-i-k is 60
  // in the first record and |theta| in the second (j lies in direction 0).
  // Pairs j and k have quality q_j / 20, so only i can be the apex. Further
  // pairs lie 60 apart far away.
  struct Row {
    int n = 3, theta = 90, qa_i = 30, qb_i = 30, q_j = 20, jx = 30, jy = 0, cores = 0;
    int expected;
  };
  const Row rows[] = {
      {.expected = 80},                            // angles 60 and 90 differ by 30: 8/10
      {.theta = 89, .expected = 100},              // 29
      {.theta = 30, .expected = 80},               // 30 the other way
      {.theta = 31, .expected = 100},              // 29
      {.cores = 1, .expected = 70},                // both records' cores overlap: 7/10
      {.cores = 2, .expected = 80},                // only the first record has a core
      {.cores = 3, .expected = 80},                // cores 16 apart do not overlap
      {.n = 2, .expected = 100},                   // no third pair
      {.n = 10, .expected = 80},                   // n 10 <= 10
      {.n = 11, .expected = 100},                  // n 11
      {.qa_i = 29, .expected = 100},               // apex quality 29 < 30 in the first record
      {.qb_i = 29, .expected = 100},               // ... in the second
      {.q_j = 19, .expected = 100},                // j quality 19 < 20
      {.theta = 120, .jx = 34, .jy = 19, .expected = 80},   // j at squared distance 1517
      {.theta = 120, .jx = 39, .jy = 0, .expected = 100},   // j at 1521, beyond 1520
  };
  for (const Row& w : rows) {
    TypelineRecord a = Quality(40), b = Quality(40);
    PointMatchResult r{};
    Pair(r, Put(a.minutiae, 200, 200, w.qa_i), Put(b.minutiae, 200, 200, w.qb_i));
    Pair(r, Put(a.minutiae, 200 + w.jx, 200 + w.jy, w.q_j), Put(b.minutiae, 200 + w.jx, 200 + w.jy, w.q_j));
    if (w.n >= 3) {
      int kx = 0, ky = 0;
      Toward(200, 200, w.theta, 30, kx, ky);
      Pair(r, Put(a.minutiae, 200, 230, 20), Put(b.minutiae, kx, ky, 20));
    }
    for (int e = 3; e < w.n; ++e) Pair(r, Put(a.minutiae, 600 + 60 * e, 600, 40), Put(b.minutiae, 600 + 60 * e, 600, 40));
    if (w.cores == 1 || w.cores == 2 || w.cores == 3) AddPoint(a, 400, 400, 0, 1);
    if (w.cores == 1) AddPoint(b, 400, 400, 0, 1);
    if (w.cores == 3) AddPoint(b, 416, 400, 0, 1);
    EXPECT_EQ(dec_func_05(100, &a, &b, &r), w.expected)
        << "n " << w.n << " theta " << w.theta << " apex q " << w.qa_i << "/" << w.qb_i << " j q " << w.q_j << " at "
        << w.jx << "," << w.jy << " cores " << w.cores;
  }
}

// ---- dec_func_09 ----

TEST(TypelineDecisionChecks, MissingBetweenGoodPairsOnEachSideOfItsThresholds) {
  // Both records: frame pairs (quality 10) at the corners of
  // (0..400) x (top..bottom), pair P0 at (200, 200) and P1 at p1 (qualities
  // 45, the second record's P1 q_p1b), laid the same in both records, so
  // that each predicted place is the minutia's own position. M = the
  // midpoint of P0 and P1. k: an unpaired first-record minutia at M + k
  // (quality q_k); partner: a second-record minutia (quality 10) near k,
  // unpaired or paired with a far first-record minutia; more: a second
  // first-record minutia at M - (0, 30), a second-record one there, a third
  // good pair P2 at (215, 215).
  struct Row {
    int p1x = 230, p1y = 200, q_p1b = 45, kx = 0, ky = 30, q_k = 45;
    bool first_k = true, k_paired = false;
    int partner = 0, pdx = 0, pdy = 0, pdd = 0;
    bool second_first_k = false, second_record_k = false, third_pair = false;
    int top = 0, bottom = 400;
    int expected;
  };
  const Row rows[] = {
      {.expected = 90},                                          // k missing in the second record: 9/10
      {.partner = 1, .expected = 100},                           // k present there
      {.partner = 1, .pdx = 22, .pdy = 4, .expected = 100},      // 500 < 529 away
      {.partner = 1, .pdx = 23, .expected = 90},                 // 529 away: missing
      {.partner = 1, .pdd = 24, .expected = 100},                // 24 < 25 apart in direction
      {.partner = 1, .pdd = 25, .expected = 90},                 // 25 apart
      {.partner = 2, .expected = 90},                            // a paired partner is left out
      {.q_k = 44, .expected = 100},                              // k of quality 44 < 45
      {.q_p1b = 44, .expected = 100},                            // a pair minutia of quality 44
      {.p1x = 240, .p1y = 200, .expected = 100},                 // pairs 1600 apart: not < 1600
      {.p1x = 238, .p1y = 212, .expected = 90},                  // 1588 apart
      {.kx = 40, .ky = 0, .expected = 90},                       // k 1600 from M: at most 1600
      {.kx = 40, .ky = 1, .expected = 100},                      // 1601
      {.k_paired = true, .expected = 100},                       // k paired
      {.second_first_k = true, .expected = 81},                  // two missing: 9/10 twice
      {.second_record_k = true, .expected = 81},                 // one missing on each side
      {.first_k = false, .second_record_k = true, .expected = 90},  // the second record's alone
      {.third_pair = true, .expected = 90},                      // three good pairs count k once
      {.bottom = 230, .expected = 100},      // k's place on the second hull's edge: outside (margin -1)
      {.ky = 25, .bottom = 230, .expected = 90},  // inside
      {.first_k = false, .second_record_k = true, .top = 170, .expected = 90},  // on the first hull's edge: inside (margin 0)
  };
  for (const Row& w : rows) {
    TypelineMinutiaList a{}, b{};
    PointMatchResult r{};
    for (int c = 0; c < 4; ++c) {
      const int x = c % 2 ? 400 : 0, y = c / 2 ? w.bottom : w.top;
      Pair(r, Put(a, x, y, 10), Put(b, x, y, 10));
    }
    Pair(r, Put(a, 200, 200, 45), Put(b, 200, 200, 45));
    Pair(r, Put(a, w.p1x, w.p1y, 45), Put(b, w.p1x, w.p1y, w.q_p1b));
    if (w.third_pair) Pair(r, Put(a, 215, 215, 45), Put(b, 215, 215, 45));
    const int mx = (200 + w.p1x) / 2, my = (200 + w.p1y) / 2;
    if (w.first_k) {
      const int k = Put(a, mx + w.kx, my + w.ky, w.q_k);
      if (w.k_paired) Pair(r, k, Put(b, 390, 390, 10));
    }
    if (w.partner == 1) Put(b, mx + w.kx + w.pdx, my + w.ky + w.pdy, 10, w.pdd);
    if (w.partner == 2) Pair(r, Put(a, 380, 380, 10), Put(b, mx + w.kx + w.pdx, my + w.ky + w.pdy, 10, w.pdd));
    if (w.second_first_k) Put(a, mx, my - 30, 45);
    if (w.second_record_k) Put(b, mx, my - 30, 45);
    EXPECT_EQ(dec_func_09(100, &a, &b, &r, 0), w.expected)
        << "P1 " << w.p1x << "," << w.p1y << " q " << w.q_p1b << " k " << w.kx << "," << w.ky << " q " << w.q_k
        << " first k " << w.first_k << " paired " << w.k_paired << " partner " << w.partner << " at " << w.pdx << ","
        << w.pdy << " turned " << w.pdd << " more " << w.second_first_k << w.second_record_k << w.third_pair
        << " frame " << w.top << ".." << w.bottom;
  }
}

// ---- The point score that ends point matching ----

// The first 11 minutiae of a finger (no core) against the same 11, the
// last of them moved `moved` pixels along x, plus 22 minutiae in a tight
// cluster far away (they make no pair tag and meet nothing). The only
// anchored alignment that can win lays the copies on each other: 10
// minutiae at e = 0 give 10 x 35, the moved one 35 - moved, over
// n = (11 + 33) / 2 = 22: moved 11 gives 374 x 100 / 22 = 1700, moved 10
// gives 375 x 100 / 22 = 1704. (100 S / n with n at most 50 never gives
// 1701, so the nearest score above 1700 stands for it.)
struct ScoredPair {
  std::unique_ptr<TypelineRecord> first, second;
  explicit ScoredPair(int moved) {
    Finger f;
    f.core = false;
    first = decode(make_template(f));
    second = decode(make_template(f));
    first->minutiae.count = second->minutiae.count = 11;
    TypelineMinutiaList& m = second->minutiae;
    m.minutiae[10].x = static_cast<std::int16_t>(m.minutiae[10].x + moved);
    for (int k = 0; k < 22; ++k) {
      TypelineMinutia far = m.minutiae[0];
      far.x = static_cast<std::int16_t>(600 + 3 * (k % 5));
      far.y = static_cast<std::int16_t>(600 + 3 * (k / 5));
      m.minutiae[m.count++] = far;
    }
  }
  int run(int t, std::int32_t& cache) const {
    TypelineRecord a = *first, b = *second;
    PointMatchResult result{};
    auto first_list = std::make_unique<PairTagList>(), second_list = std::make_unique<PairTagList>();
    return point_matching(&a, &b, &result, 0, 1, t, &cache, first_list.get(), second_list.get());
  }
};

TEST(TypelineDecisionChecks, PointScoreAbove1700EndsPointMatchingAtOnce) {
  const ScoredPair at(11), above(10);
  TypelineRecord copy = *at.first;
  ASSERT_EQ(get_point_score(&copy, at.second.get()), 1700) << "records built to a point score of 1700";
  copy = *above.first;
  ASSERT_EQ(get_point_score(&copy, above.second.get()), 1704) << "records built to a point score of 1704";

  // Above 1700 on the first computation: twice t at once, whatever t.
  for (int t : {40, 50, 60}) {
    std::int32_t cache = 0;
    EXPECT_EQ(above.run(t, cache), 2 * t) << "t " << t;
    EXPECT_EQ(cache, 1704);
  }
  // Exactly 1700: the score is kept and the call goes on through the
  // decision chain, which answers what it answers with the score cached.
  for (int t : {40, 50, 60}) {
    std::int32_t cache = 0;
    const int computed = at.run(t, cache);
    EXPECT_EQ(cache, 1700) << "the point score was reached and cached";
    std::int32_t preset = 1700;
    EXPECT_EQ(computed, at.run(t, preset)) << "t " << t;
    EXPECT_NE(computed, 2 * t) << "t " << t;
  }
}

}  // namespace
