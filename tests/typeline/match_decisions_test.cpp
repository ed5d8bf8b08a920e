// The score scaling and the decision functions of point matching.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "support/synthetic_finger.h"
#include "zylscan/typeline_match.h"

namespace {

using namespace zyl::test;

PointMatchResult pairs(std::initializer_list<std::pair<int, int>> p, int rotation = 0) {
  PointMatchResult r{};
  for (const auto& [a, b] : p) {
    r.first[r.pairCount] = static_cast<std::int16_t>(a);
    r.second[r.pairCount] = static_cast<std::int16_t>(b);
    ++r.pairCount;
  }
  r.rotation = static_cast<std::int16_t>(rotation);
  return r;
}

TypelineSingularList cores(std::initializer_list<TypelineSingularPoint> points) {
  TypelineSingularList l{};
  for (const auto& p : points) l.points[l.count++] = p;
  return l;
}

TEST(TypelineAdjustScore, FactorAndDensitySteps) {
  struct Case {
    const char* name;
    int s, P, bA, bB, n, D, N, m, K, L, Q, M;
    int expected;
  };
  const Case cases[] = {
      {"few pairs, many tags: density only", 100, 1000, 90, 70, 5, 255, 100, 20, 0, 0, 0, 0, 94},
      {"row 1 halves with 200 tags", 100, 1000, 90, 60, 5, 255, 200, 10, 0, 0, 0, 0, 48},
      {"no factor, full density", 100, 1000, 90, 60, 5, 255, 60, 20, 0, 0, 1, 0, 94},
      {"small overlap scales by 8/10", 100, 1000, 95, 40, 5, 255, 60, 20, 0, 0, 1, 0, 75},
      {"strong agreement doubles", 100, 1000, 95, 80, 12, 255, 60, 20, 1, 3, 1, 0, 187},
      {"density applied twice", 100, 1000, 60, 60, 5, 200, 60, 20, 0, 0, 1, 0, 57},
      {"second density over 210", 100, 1000, 92, 60, 6, 230, 49, 20, 0, 1, 1, 0, 92},
  };
  for (const Case& c : cases)
    EXPECT_EQ(adjust_score(c.s, c.P, c.bA, c.bB, 0, c.n, c.D, c.N, c.m, c.K, c.L, c.Q, c.M), c.expected) << c.name;
}

TEST(TypelineDecisions, MatchedAreaAgainstUnmatchedGoodMinutiae) {
  // Matched centre (105, 103); the second record's three good unpaired
  // minutiae sit `gap` to its right.
  for (const auto& [gap, expected] : {std::pair{78, 1}, std::pair{79, 0}}) {
    const TypelineMinutiaList a = list_of({minutia(100, 100, 0), minutia(110, 100, 0), minutia(105, 110, 0),
                                           minutia(300, 300, 0, 10), minutia(310, 300, 0, 10), minutia(320, 300, 0, 10)},
                                          40);
    const int x = 105 + gap;
    const TypelineMinutiaList b = list_of({minutia(100, 100, 0), minutia(110, 100, 0), minutia(105, 110, 0),
                                           minutia(x, 103, 0), minutia(x, 103, 0), minutia(x, 103, 0)},
                                          40);
    const PointMatchResult r = pairs({{0, 0}, {1, 1}, {2, 2}});
    EXPECT_EQ(check_paired_mp(&a, &b, &r), expected) << gap;
  }
  // Everything good is paired, qualities are low, or too many pairs: 1.
  const TypelineMinutiaList all = list_of({minutia(10, 10, 0), minutia(20, 10, 0), minutia(300, 300, 0, 10),
                                           minutia(310, 300, 0, 10)},
                                          40);
  const PointMatchResult r = pairs({{0, 0}, {1, 1}});
  EXPECT_EQ(check_paired_mp(&all, &all, &r), 1);
}

TEST(TypelineDecisions, SingularPointGeometry) {
  struct Case {
    const char* name;
    TypelineSingularList a, b;
    int quality, L, rotation, expected;
  };
  const Case cases[] = {
      {"one core each, same place, opposite", cores({{100, 100, 0, 1}}), cores({{100, 100, 120, 1}}), 40, 0, 0, 50},
      {"one core each, 40 apart, aligned", cores({{100, 100, 0, 1}}), cores({{140, 100, 5, 1}}), 40, 0, 0, 50},
      {"the same, poor quality", cores({{100, 100, 0, 1}}), cores({{140, 100, 5, 1}}), 25, 0, 0, 68},
      {"the same, poor quality, L = 2", cores({{100, 100, 0, 1}}), cores({{140, 100, 5, 1}}), 25, 2, 0, 80},
      {"one core each, agreeing", cores({{100, 100, 0, 1}}), cores({{105, 100, 3, 1}}), 40, 0, 0, 100},
      {"two cores each, axes turned", cores({{100, 100, 0, 1}, {100, 160, 0, 1}}),
       cores({{100, 100, 0, 1}, {160, 100, 0, 1}}), 40, 0, 0, 50},
      {"two cores each, alike", cores({{100, 100, 0, 1}, {100, 160, 0, 1}}),
       cores({{90, 100, 0, 1}, {90, 162, 0, 1}}), 40, 0, 0, 100},
      {"one core far from both of two", cores({{0, 0, 0, 1}}), cores({{131, 0, 0, 1}, {0, 131, 0, 1}}), 40, 0, 0, 0},
      {"one core moderately far from two", cores({{0, 0, 0, 1}}), cores({{105, 0, 0, 1}, {0, 105, 0, 1}}), 40, 0, 0, 50},
  };
  for (const Case& c : cases) {
    TypelineRecord a{}, b{};
    a.singular = c.a;
    b.singular = c.b;
    a.minutiae.meanQuality = b.minutiae.meanQuality = static_cast<std::uint8_t>(c.quality);
    const PointMatchResult r = pairs({}, c.rotation);
    EXPECT_EQ(dec_func_01(100, &a, &b, &r, c.L), c.expected) << c.name;
  }
}

TEST(TypelineDecisions, CoresCloseTogether) {
  struct Case {
    int dx, D, bA, L, expected;
  };
  const Case cases[] = {{17, 220, 90, 0, 50}, {17, 230, 79, 0, 66}, {17, 227, 89, 0, 80},
                        {17, 235, 94, 1, 80}, {17, 240, 99, 0, 100}, {18, 220, 90, 0, 100}};
  for (const Case& c : cases) {
    TypelineRecord a{}, b{};
    a.singular = cores({{100, 100, 0, 1}});
    b.singular = cores({{static_cast<std::int16_t>(100 + c.dx), 100, 200, 1}});
    EXPECT_EQ(dec_func_03(100, &a, &b, c.D, c.bA, c.L), c.expected) << c.dx << " " << c.D;
  }
}

TEST(TypelineDecisions, MinutiaTypesOfThePairs) {
  struct Case {
    int pairs, differing, expected;
  };
  const Case cases[] = {{4, 4, 100}, {5, 5, 50}, {5, 4, 50}, {5, 3, 81}, {6, 4, 75}, {5, 2, 100}, {0, 0, 0}};
  for (const Case& c : cases) {
    TypelineMinutiaList a{}, b{};
    PointMatchResult r{};
    for (int i = 0; i < c.pairs; ++i) {
      a.minutiae[a.count++] = minutia(10 * i, 0, 0, 40, 5, 0);
      b.minutiae[b.count++] = minutia(10 * i, 0, 0, 40, 5, i < c.differing ? 1 : 0);
      r.first[i] = r.second[i] = static_cast<std::int16_t>(i);
    }
    r.pairCount = static_cast<std::int16_t>(c.pairs);
    EXPECT_EQ(dec_func_07(100, &a, &b, &r), c.expected) << c.pairs << " " << c.differing;
    EXPECT_EQ(check_point_kind(&a, &b, &r), c.pairs > 0 && c.differing == 0 ? 1 : 0);
  }
}

TEST(TypelineDecisions, PairsThatStayedApart) {
  struct Case {
    int pairs, apart, D, bA, expected;
  };
  const Case cases[] = {
      {10, 8, 200, 80, 100},  // ten pairs: unchanged
      {3, 8, 255, 80, 88},    // three apart: -12
      {3, 8, 200, 80, 58},    // then two thirds
      {3, 7, 200, 80, 100},   // 7 apart is close enough
      {6, 8, 255, 80, 50},    // five or more: halved
      {3, 8, 250, 90, 100},   // alike densities and blocks
  };
  for (const Case& c : cases) {
    TypelineRecord a{}, b{};
    PointMatchResult r{};
    for (int i = 0; i < c.pairs; ++i) {
      a.minutiae.minutiae[a.minutiae.count++] = minutia(30 * i, 0, 0);
      b.minutiae.minutiae[b.minutiae.count++] = minutia(30 * i + c.apart, 0, 0);
      r.first[i] = r.second[i] = static_cast<std::int16_t>(i);
    }
    r.pairCount = static_cast<std::int16_t>(c.pairs);
    EXPECT_EQ(dec_func_13(100, &a, &b, &r, 50, c.D, c.bA, 0), c.expected) << c.pairs << " " << c.D;
  }
}

TEST(TypelineDecisions, UnpairedMinutiaeAroundASharedCore) {
  // Low-quality corner minutiae give both records a hull; a good unpaired
  // minutia 30 from the shared core has no counterpart: -7. A counterpart
  // turned by 45 costs 5 instead.
  const auto frame = [](TypelineRecord& r) {
    r.singular = cores({{100, 100, 0, 1}});
    for (auto [x, y] : {std::pair{30, 30}, std::pair{200, 30}, std::pair{200, 200}, std::pair{30, 200}})
      r.minutiae.minutiae[r.minutiae.count++] = minutia(x, y, 0, 10);
  };
  TypelineRecord a{}, b{};
  frame(a);
  frame(b);
  a.minutiae.minutiae[a.minutiae.count++] = minutia(130, 100, 0, 45);
  const PointMatchResult r = pairs({{0, 0}});
  EXPECT_EQ(dec_func_12(100, &a, &b, &r), 93);
  b.minutiae.minutiae[b.minutiae.count++] = minutia(132, 104, 45, 45);
  EXPECT_EQ(dec_func_12(100, &a, &b, &r), 95);
  // Cores that do not coincide: unchanged.
  b.singular = cores({{100, 100, 20, 1}});
  EXPECT_EQ(dec_func_12(100, &a, &b, &r), 100);
}

TEST(TypelineDecisions, CrowdsOnOneSideOnly) {
  // Around each of two pairs the first record shows three good unpaired
  // minutiae, the second record none.
  const auto crowded = [](int pairs_with_crowd, bool second_has_one) {
    TypelineMinutiaList a = list_of({minutia(100, 100, 0, 50), minutia(300, 100, 0, 50)});
    TypelineMinutiaList b = list_of({minutia(100, 100, 0, 40), minutia(300, 100, 0, 40)});
    for (int p = 0; p < pairs_with_crowd; ++p)
      for (int k = 1; k <= 3; ++k) a.minutiae[a.count++] = minutia(100 + 200 * p + 10 * k, 110, 0, 50);
    if (second_has_one) b.minutiae[b.count++] = minutia(90, 90, 0, 5);
    const PointMatchResult r = pairs({{0, 0}, {1, 1}});
    return dec_func_02(100, &a, &b, &r);
  };
  EXPECT_EQ(crowded(2, false), 75);
  EXPECT_EQ(crowded(1, false), 100);
  EXPECT_EQ(crowded(2, true), 100);
}

// Paired minutiae on a large triangle in both records, `inside` good
// unpaired minutiae of the first record within it that the second lacks.
struct Unexplained {
  TypelineRecord a{}, b{};
  PointMatchResult r = pairs({{0, 0}, {1, 1}, {2, 2}});
  Unexplained(int inside, int paired_quality, int mean_quality) {
    for (TypelineRecord* rec : {&a, &b}) {
      rec->minutiae = list_of({minutia(0, 0, 0, paired_quality), minutia(200, 0, 0, paired_quality),
                               minutia(100, 200, 0, paired_quality)},
                              mean_quality);
    }
    for (int k = 0; k < inside; ++k) a.minutiae.minutiae[a.minutiae.count++] = minutia(60 + 25 * k, 60, 0, 45);
  }
};

TEST(TypelineDecisions, GoodMinutiaeTheOtherRecordLacks) {
  struct Case {
    int inside, paired_quality, expected;
  };
  const Case cases[] = {{3, 60, 85}, {4, 60, 80}, {5, 60, 50}, {2, 60, 100}, {5, 49, 100}};
  for (const Case& c : cases) {
    Unexplained u(c.inside, c.paired_quality, 40);
    EXPECT_EQ(dec_func_04(100, &u.a, &u.b, &u.r), c.expected) << c.inside << " " << c.paired_quality;
  }
  // A counterpart in the second record explains a minutia.
  Unexplained u(3, 60, 40);
  u.b.minutiae.minutiae[u.b.minutiae.count++] = minutia(62, 58, 5, 10);
  EXPECT_EQ(dec_func_04(100, &u.a, &u.b, &u.r), 100);
}

TEST(TypelineDecisions, LackingMinutiaeUnderLimits) {
  struct Case {
    int inside, mean, s, t, expected;
  };
  const Case cases[] = {
      {3, 40, 100, 50, 85},   // 3 or 4: -5 each with good qualities
      {3, 30, 100, 50, 91},   // -3 each otherwise
      {5, 40, 100, 50, 70},   // more than 4, cores not near
      {5, 40, 150, 50, 150},  // s not below 3t
  };
  for (const Case& c : cases) {
    Unexplained u(c.inside, 60, c.mean);
    EXPECT_EQ(dec_func_06(c.s, &u.a, &u.b, &u.r, c.t, 200, 90, 0), c.expected) << c.inside << " " << c.mean;
  }
  Unexplained u(5, 60, 40);
  u.a.singular = u.b.singular = cores({{100, 100, 0, 1}});
  EXPECT_EQ(dec_func_06(100, &u.a, &u.b, &u.r, 50, 200, 90, 0), 50);
  const PointMatchResult none{};
  EXPECT_EQ(dec_func_06(100, &u.a, &u.b, &none, 50, 200, 90, 0), 0);
}

TEST(TypelineDecisions, TrianglesOfPairsThatDisagree) {
  // Pair 0 sees pairs 1 and 2 at directions 0 and 60 in the first record;
  // in the second, pair 2 is moved so that it lies at 18.
  const auto run = [](int kx, int ky, bool cores_overlap) {
    TypelineRecord a{}, b{};
    a.minutiae = list_of({minutia(100, 100, 0), minutia(120, 100, 0), minutia(100, 120, 0)});
    b.minutiae = list_of({minutia(100, 100, 0), minutia(120, 100, 0),
                          minutia(kx, ky, 0)});
    if (cores_overlap) a.singular = b.singular = cores({{50, 50, 10, 1}});
    const PointMatchResult r = pairs({{0, 0}, {1, 1}, {2, 2}});
    return dec_func_05(100, &a, &b, &r);
  };
  EXPECT_EQ(run(120, 110, false), 80);
  EXPECT_EQ(run(120, 110, true), 70);
  EXPECT_EQ(run(100, 120, false), 100);
  EXPECT_EQ(run(101, 119, false), 100);  // a turn of a few steps is no disagreement
}

// ---- Unpaired minutiae ----

TEST(TypelineUnpaired, ExistenceLookUp) {
  const TypelineMinutiaList l = list_of({minutia(50, 50, 100), minutia(80, 50, 10)});
  const PointMatchResult r = pairs({{0, 7}});
  struct Case {
    int x, y, direction, skip, radius, angle;
    int exclude, position_only, side, expected;
  };
  const Case cases[] = {
      {50, 50, 0, -1, 5, 20, 0, 1, 0, 1},    // position only: any direction
      {50, 50, 0, -1, 5, 20, 0, 0, 0, 0},    // 100 steps off
      {50, 50, 95, -1, 5, 10, 0, 0, 0, 1},   // 5 below 10
      {50, 50, 95, -1, 5, 5, 0, 0, 0, 0},    // 5 not below 5
      {50, 50, 100, 0, 5, 5, 0, 0, 0, 0},    // skipped
      {50, 50, 100, -1, 5, 5, 1, 0, 0, 0},   // paired on the first side
      {50, 50, 100, -1, 5, 5, 1, 0, 1, 1},   // not paired on the second side
      {50, 50, 10, -1, 30, 5, 0, 0, 0, 0},   // 30 away is not within 30
      {50, 50, 10, -1, 31, 5, 0, 0, 0, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(check_exist(c.x, c.y, c.direction, c.skip, c.radius, c.angle, &l, &r, c.exclude, c.position_only,
                          c.side),
              c.expected);
}

TEST(TypelineUnpaired, GoodMinutiaeWithoutPartnerDivideOrSubtract) {
  // n pairs and one good unpaired minutia in the first record with nothing
  // near it in the second; the weight comes to 5 (L = 0).
  struct Case {
    int n, bA, expected;
  };
  const Case cases[] = {{5, 70, 20}, {5, 80, 95}, {4, 84, 20}, {4, 85, 95}, {5, 97, 96}};
  for (const Case& c : cases) {
    TypelineMinutiaList a{}, b{};
    PointMatchResult r{};
    for (int i = 0; i < c.n; ++i) {
      a.minutiae[a.count++] = minutia(20 * i, 0, 0);
      b.minutiae[b.count++] = minutia(20 * i, 0, 0);
      r.first[i] = r.second[i] = static_cast<std::int16_t>(i);
    }
    r.pairCount = static_cast<std::int16_t>(c.n);
    a.minutiae[a.count++] = minutia(300, 300, 0);
    a.meanQuality = b.meanQuality = 40;
    EXPECT_EQ(dec_func_08(100, 0, &a, &b, &r, c.bA, 255, 1000, 0, 90, 0), c.expected) << c.n << " " << c.bA;
  }
  TypelineMinutiaList a = list_of({minutia(0, 0, 0)});
  const PointMatchResult none{};
  EXPECT_EQ(dec_func_10(100, 0, &a, &a, &none, 90, 255, 1000, 0, 90, 0), 0);
}

TEST(TypelineUnpaired, MinutiaMissingBetweenTwoGoodPairs) {
  const auto hull = [](TypelineMinutiaList& l) {
    for (auto [x, y] : {std::pair{50, 50}, std::pair{200, 50}, std::pair{125, 200}})
      l.minutiae[l.count++] = minutia(x, y, 0, 10);
  };
  TypelineMinutiaList a = list_of({minutia(100, 100, 0, 50), minutia(120, 100, 0, 50), minutia(110, 120, 0, 50)});
  TypelineMinutiaList b = list_of({minutia(100, 100, 0, 50), minutia(120, 100, 0, 50)});
  hull(a);
  hull(b);
  const PointMatchResult r = pairs({{0, 0}, {1, 1}});
  EXPECT_EQ(dec_func_09(100, &a, &b, &r, 0), 90);
  b.minutiae[b.count++] = minutia(112, 118, 20, 10);
  EXPECT_EQ(dec_func_09(100, &a, &b, &r, 0), 100);
}

TEST(TypelineUnpaired, SurroundingsOfPairs) {
  TypelineRecord a{}, b{};
  PointMatchResult r{};
  for (int i = 0; i < 14; ++i) {
    a.minutiae.minutiae[a.minutiae.count++] = minutia(20 * i, 0, 0, 20);
    b.minutiae.minutiae[b.minutiae.count++] = minutia(20 * i, 0, 0, 20);
    r.first[i] = r.second[i] = static_cast<std::int16_t>(i);
  }
  r.pairCount = 14;
  EXPECT_EQ(dec_func_11(100, &a, &b, &r, 255, 1000, 0), 100);
  r.pairCount = 3;  // none of quality 30 on both sides
  EXPECT_EQ(dec_func_11(100, &a, &b, &r, 255, 1000, 0), 80);
  TypelineRecord empty{};
  const PointMatchResult none{};
  EXPECT_EQ(dec_func_11(100, &empty, &b, &none, 255, 1000, 0), 0);

  // Neighbour lists that are empty never show inconsistent surroundings.
  TypelineRecord tri{};
  tri.minutiae = list_of({minutia(0, 0, 0), minutia(100, 0, 0), minutia(50, 90, 0)});
  const TypelineMinutiaList nothing{};
  EXPECT_EQ(check_neighbor(0, 0, &nothing, &nothing, &tri, &tri), 1);
  // One neighbour inside the other record's hull with nothing there: 0.
  const TypelineMinutiaList lone = list_of({minutia(50, 30, 0)});
  EXPECT_EQ(check_neighbor(0, 0, &lone, &nothing, &tri, &tri), 0);
}

TEST(TypelineUnpaired, NeighboursWithinARadius) {
  const TypelineMinutiaList l = list_of({minutia(100, 100, 0), minutia(130, 100, 1), minutia(110, 100, 2),
                                         minutia(100, 120, 3, 20), minutia(100, 105, 4), minutia(100, 160, 5)});
  const std::int16_t listed[] = {4};
  TypelineMinutiaList out{};
  get_neighbor(100, 100, &l, listed, 1, 1, 50, 1, 30, 0, 0, &out);
  ASSERT_EQ(out.count, 2);  // not the centre, the listed, the poor or the far one
  EXPECT_EQ(out.minutiae[0].direction, 1);
  EXPECT_EQ(out.minutiae[1].direction, 2);
  get_neighbor(100, 100, &l, listed, 1, 1, 50, 1, 30, 1, 1, &out);
  ASSERT_EQ(out.count, 1);
  EXPECT_EQ(out.minutiae[0].direction, 2);
  get_neighbor(100, 100, &l, nullptr, 0, 0, 50, 0, 0, 0, 0, &out);
  EXPECT_EQ(out.count, 4);
}

TEST(TypelineUnpaired, OverlappingCores) {
  struct Case {
    TypelineSingularPoint b;
    int expected;
  };
  const Case cases[] = {{{110, 105, 16, 1}, 1}, {{110, 105, 17, 1}, 0}, {{116, 100, 10, 1}, 0}, {{110, 105, 255, 0}, 0}};
  const TypelineSingularList a = cores({{100, 100, 10, 1}});
  for (const Case& c : cases) {
    const TypelineSingularList b = cores({c.b});
    EXPECT_EQ(check_overlap(&a, &b), c.expected);
  }
}

TEST(TypelineDecisions, PairsNamingMissingMinutiaeAreRefused) {
  const TypelineMinutiaList a = list_of({minutia(10, 10, 0), minutia(20, 10, 0)});
  PointMatchResult r = pairs({{0, 0}, {1, 5}});
  EXPECT_EQ(dec_func_07(77, &a, &a, &r), 77);
  EXPECT_EQ(check_paired_mp(&a, &a, &r), 0);
  r = pairs({{0, 0}});
  r.pairCount = 51;
  EXPECT_EQ(dec_func_09(77, &a, &a, &r, 0), 77);
  EXPECT_EQ(GetMatchedTemplateNum(&a, &a, &r), -1);
}

}  // namespace
