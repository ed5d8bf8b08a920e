// Generalisation of three impressions: circular means, the minutiae order,
// the pair-set bookkeeping, and whole merges of synthetic prints.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

#include "api/xw_context.h"
#include "xw_operations_support.h"
#include "zylscan/generalize.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw_operations.h"

namespace {

using zyl::test::Point;

using Pairs = std::vector<std::pair<int, int>>;

MatchDetails pair_set(const Pairs& pairs) {
  MatchDetails d{};
  d.size = XW_DETAILS_LONG;
  for (auto [a, b] : pairs) {
    d.testIndexes[d.pairCount] = static_cast<std::uint16_t>(a);
    d.sampleIndexes[d.pairCount] = static_cast<std::uint16_t>(b);
    ++d.pairCount;
  }
  return d;
}

Pairs pairs_of(const MatchDetails& d) {
  Pairs p;
  for (int i = 0; i < d.pairCount; ++i) p.emplace_back(d.testIndexes[i], d.sampleIndexes[i]);
  return p;
}

TEST(AverageAngle, TakesTheMeanOnTheCircle) {
  struct Case {
    std::vector<std::int32_t> angles;
    std::int32_t mean;
    std::vector<std::int32_t> left;  // the caller's array afterwards
  };
  const Case cases[] = {
      {{100, 140}, 120, {100, 140}},
      {{230, 10}, 0, {-10, 10}},
      {{230, 0}, 235, {-10, 0}},  // -5 brought back into 0..239
      {{239, 1, 0}, 0, {-1, 1, 0}},
      {{10, 20, 31}, 20, {10, 20, 31}},  // truncating
      {{0, 119}, 59, {0, 119}},          // a spread of 119 is taken as it is
      {{0, 120}, 180, {0, -120}},        // a spread of 120 is not: (0 - 120) / 2 + 240
      {{77}, 77, {77}},
  };
  for (const Case& c : cases) {
    std::vector<std::int32_t> a = c.angles;
    EXPECT_EQ(AverageAngle(a.data(), static_cast<std::int32_t>(a.size())), c.mean) << c.angles[0];
    EXPECT_EQ(a, c.left) << c.angles[0];
  }
  EXPECT_EQ(AverageAngle(nullptr, 2), 0);
}

TEST(SortMinutiae, OrdersByYMovingEveryColumnTogether) {
  auto r = zyl::test::record_of({{1, 30, 11, 1}, {2, 10, 12, 0}, {3, 20000, 13, 1}, {4, 20, 14, 0}, {5, 10, 15, 1}});
  for (int i = 0; i < r->minutiaCount; ++i) r->minutiaCurvature[i] = 100 + i;
  SortMinutiae(r.get());
  // Selection sort: the first of equal y goes first; a y of 10240 or more is
  // never picked, so that minutia ends where the swaps leave it.
  const std::vector<std::int32_t> xs(r->minutiaX, r->minutiaX + 5), ys(r->minutiaY, r->minutiaY + 5),
      angles(r->minutiaAngle, r->minutiaAngle + 5), types(r->minutiaType, r->minutiaType + 5),
      curvatures(r->minutiaCurvature, r->minutiaCurvature + 5);
  EXPECT_EQ(xs, (std::vector<std::int32_t>{2, 5, 4, 1, 3}));
  EXPECT_EQ(ys, (std::vector<std::int32_t>{10, 10, 20, 30, 20000}));
  EXPECT_EQ(angles, (std::vector<std::int32_t>{12, 15, 14, 11, 13}));
  EXPECT_EQ(types, (std::vector<std::int32_t>{0, 1, 0, 1, 1}));
  EXPECT_EQ(curvatures, (std::vector<std::int32_t>{101, 104, 103, 100, 102}));
}

TEST(PairSets, RemoveAndFindKeepTheOrder) {
  MatchDetails d = pair_set({{1, 10}, {2, 20}, {3, 30}, {2, 40}});
  EXPECT_EQ(FindFeatureInIPS(&d, 2, 0), 1);
  EXPECT_EQ(FindFeatureInIPS(&d, 40, 1), 3);
  EXPECT_EQ(FindFeatureInIPS(&d, 40, 0), -1);
  EliminatePointFromIps(d.testIndexes, d.sampleIndexes, &d.pairCount, 1);
  EXPECT_EQ(pairs_of(d), (Pairs{{1, 10}, {3, 30}, {2, 40}}));
  EliminatePointFromIps(d.testIndexes, d.sampleIndexes, &d.pairCount, 3);   // past the end
  EliminatePointFromIps(d.testIndexes, d.sampleIndexes, &d.pairCount, -1);  // before the start
  EXPECT_EQ(d.pairCount, 3);
}

TEST(PairSets, ExtractDuplicatesMovesEveryPairSharingAMinutia) {
  MatchDetails pairs = pair_set({{1, 5}, {2, 6}, {1, 7}, {3, 6}, {4, 8}, {9, 7}});
  MatchDetails conflicts = pair_set({});
  EXPECT_EQ(ExtractDuplicates(&pairs, &conflicts), 1);
  EXPECT_EQ(pairs_of(pairs), (Pairs{{4, 8}}));
  // (9, 7) shares nothing with (1, 5) but joins through the conflicting (1, 7).
  EXPECT_EQ(pairs_of(conflicts), (Pairs{{1, 7}, {1, 5}, {3, 6}, {2, 6}, {9, 7}}));

  MatchDetails clean = pair_set({{1, 2}, {3, 4}});
  MatchDetails none = pair_set({});
  EXPECT_EQ(ExtractDuplicates(&clean, &none), 0);
  EXPECT_EQ(pairs_of(clean), (Pairs{{1, 2}, {3, 4}}));
}

TEST(PairSets, AppendIPSLeavesOneCorrespondenceSetInBothOrientations) {
  MatchDetails p = pair_set({{1, 10}, {2, 20}, {3, 30}});
  MatchDetails q = pair_set({{20, 2}, {40, 4}, {31, 3}});
  MatchDetails pc = pair_set({}), qc = pair_set({});
  AppendIPS(&p, &q, &pc, &qc);
  EXPECT_EQ(pairs_of(q), (Pairs{{20, 2}, {40, 4}, {10, 1}}));
  EXPECT_EQ(pairs_of(p), (Pairs{{2, 20}, {4, 40}, {1, 10}}));
  EXPECT_EQ(pairs_of(qc), (Pairs{{30, 3}, {31, 3}}));
  EXPECT_EQ(pairs_of(pc), (Pairs{{3, 30}, {3, 31}}));
}

TEST(PairSets, AppendingToAFullSetDropsThePairInsteadOfOverrunning) {
  MatchDetails p{}, q{}, pc{}, qc{};
  for (int i = 0; i < XW_DETAILS_MAX_PAIRS; ++i) {
    p.testIndexes[i] = static_cast<std::uint16_t>(i);
    p.sampleIndexes[i] = static_cast<std::uint16_t>(i);
    q.testIndexes[i] = static_cast<std::uint16_t>(5000 + i);
    q.sampleIndexes[i] = static_cast<std::uint16_t>(5000 + i);
  }
  p.pairCount = q.pairCount = XW_DETAILS_MAX_PAIRS;
  AppendIPS(&p, &q, &pc, &qc);
  EXPECT_EQ(q.pairCount, XW_DETAILS_MAX_PAIRS);
  EXPECT_EQ(p.pairCount, XW_DETAILS_MAX_PAIRS);
}

class Generalisation : public testing::Test {
 protected:
  zyl::test::Context context{XWCreateContext()};
  const std::int32_t threshold = 47;

  void SetUp() override { ASSERT_NE(context, nullptr); }

  std::int32_t generalise(const std::vector<Point>& a, const std::vector<Point>& b,
                          const std::vector<Point>& c, FeatureRecord& result) {
    auto ra = zyl::test::record_of(a), rb = zyl::test::record_of(b), rc = zyl::test::record_of(c);
    return GeneralizeFeatures(ra.get(), rb.get(), rc.get(), &result, &threshold, context.get());
  }

  std::int32_t gen_match(const std::vector<Point>& test, const std::vector<Point>& sample) {
    auto t = zyl::test::record_of(test);
    auto pair = std::make_unique<PairRecord>();
    pair->test = t.get();
    CopyFeatures(&pair->sample, zyl::test::record_of(sample).get());
    return GenMatchFeatures(pair.get(), &threshold, context.get());
  }
};

TEST_F(Generalisation, ThreeIdenticalImpressionsGiveTheirMinutiaeSortedByY) {
  const auto print = zyl::test::spread_print(25, 7);
  auto result = zyl::test::record_of({});
  EXPECT_EQ(generalise(print, print, print, *result), 0);
  EXPECT_EQ(zyl::test::points_of(*result), zyl::test::by_y(print));
}

TEST_F(Generalisation, ShiftedImpressionsAreMergedInTheFrameOfTheBase) {
  const auto print = zyl::test::spread_print(25, 11);
  auto result = zyl::test::record_of({});
  EXPECT_EQ(generalise(print, zyl::test::shifted(print, 12, -7), zyl::test::shifted(print, -5, 9), *result), 0);
  EXPECT_EQ(zyl::test::points_of(*result), zyl::test::by_y(print));
}

TEST_F(Generalisation, StopsAtTheFirstPairThatDoesNotMatch) {
  // Impression 0 holds both halves of a print, impression 1 the left half and
  // impression 2 the right half: the directed matches (0,1), (0,2) and (1,0)
  // succeed, and (1,2), the fourth, fails.
  const auto whole = zyl::test::spread_print(40, 3);
  std::vector<Point> left, right;
  for (const Point& p : whole) (p.x < 180 ? left : right).push_back(p);
  ASSERT_GE(gen_match(whole, left), threshold);
  ASSERT_GE(gen_match(whole, right), threshold);
  ASSERT_GE(gen_match(left, whole), threshold);
  ASSERT_LT(gen_match(left, right), threshold);

  auto result = zyl::test::record_of({});
  EXPECT_EQ(generalise(whole, left, right, *result), ZYL_GENERALIZE_NO_MATCH);
  // The last match run was (1, 2): its test side is the left half, its work
  // side the right half.
  const MatchData& md = *context->matchData;
  EXPECT_EQ(md.sides[0].features.minutiaCount, static_cast<std::int32_t>(left.size()));
  EXPECT_EQ(md.sides[2].features.minutiaCount, static_cast<std::int32_t>(right.size()));
}

TEST_F(Generalisation, AConflictGroupIsTakenUnaveragedFromTheImpressionWithMostMembers) {
  // Impression 1 holds one minutia twice, 6 pixels apart: both copies pair
  // with the same minutia of impressions 0 and 2. That conflict group has
  // two members in impression 1 and one elsewhere, so impression 1 gives
  // both copies as they are; every other minutia is the mean of three.
  const auto print = zyl::test::spread_print(25, 5);
  auto doubled = print;
  Point twin = print[4];
  twin.x += 6;
  doubled.push_back(twin);
  auto result = zyl::test::record_of({});
  ASSERT_EQ(generalise(print, doubled, print, *result), 0);
  // The twins share a y: compare in (y, x) order.
  const auto in_order = [](std::vector<Point> ps) {
    std::sort(ps.begin(), ps.end(), [](const Point& a, const Point& b) { return std::tie(a.y, a.x) < std::tie(b.y, b.x); });
    return ps;
  };
  const auto got = in_order(zyl::test::points_of(*result));
  ASSERT_EQ(got.size(), doubled.size());
  const auto want = in_order(doubled);
  for (std::size_t i = 0; i < want.size(); ++i) {
    // The doubled impression may be aligned a pixel off the base.
    EXPECT_LE(std::abs(got[i].x - want[i].x), 1) << i;
    EXPECT_LE(std::abs(got[i].y - want[i].y), 1) << i;
  }
}

TEST_F(Generalisation, RefusesMissingArguments) {
  auto r = zyl::test::record_of({});
  EXPECT_EQ(GeneralizeFeatures(r.get(), r.get(), nullptr, r.get(), &threshold, context.get()), XW_ERR_NULL_ARGUMENT);
  EXPECT_EQ(GeneralizeFeatures(r.get(), r.get(), r.get(), r.get(), nullptr, context.get()), XW_ERR_NULL_ARGUMENT);
  EXPECT_EQ(GenMatchFeatures(nullptr, &threshold, context.get()), XW_ERR_NULL_ARGUMENT);
}

class TemplateGeneralisation : public Generalisation {
 protected:
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(ZYL_TEMPLATE_BUFFER_SIZE, 0xEE);
  std::int32_t length = -1;
};

TEST_F(TemplateGeneralisation, RefusesBadCountsAndMissingBuffersBeforeWriting) {
  const auto t = zyl::test::template_of(zyl::test::spread_print(20, 1), context.get());
  const std::uint8_t* set[3] = {t.data(), t.data(), t.data()};
  const std::uint8_t* holey[3] = {t.data(), nullptr, t.data()};
  struct Case {
    std::int32_t count;
    const std::uint8_t* const* templates;
    std::uint8_t* out;
    std::int32_t* length;
    std::int32_t status;
  };
  const Case cases[] = {
      {2, set, out.data(), &length, XW_ERR_BAD_VALUE},
      {4, set, out.data(), &length, XW_ERR_BAD_VALUE},
      {3, nullptr, out.data(), &length, XW_ERR_NULL_ARGUMENT},
      {3, holey, out.data(), &length, XW_ERR_NULL_ARGUMENT},
      {3, set, nullptr, &length, XW_ERR_NULL_ARGUMENT},
      {3, set, out.data(), nullptr, XW_ERR_NULL_ARGUMENT},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XWGeneralize(c.count, c.templates, c.out, c.length, context.get()), c.status) << c.count;
    EXPECT_EQ(length, -1);
    EXPECT_EQ(out[0], 0xEE);
  }
}

TEST_F(TemplateGeneralisation, RefusesAMalformedTemplate) {
  const auto t = zyl::test::template_of(zyl::test::spread_print(20, 1), context.get());
  auto bad = t;
  bad[5] = 200;  // more minutiae than the format holds
  const std::uint8_t* set[3] = {t.data(), bad.data(), t.data()};
  EXPECT_EQ(XWFGeneralize(set, out.data(), &length, context.get()), XW_ERR_BAD_TEMPLATE);
  EXPECT_EQ(length, -1);
}

TEST_F(TemplateGeneralisation, MergesThreeTemplatesKeepingTheBaseSingularPointsAndDensity) {
  const auto print = zyl::test::spread_print(25, 21);
  auto base = zyl::test::record_of(print);
  base->borderDensity = 77;
  base->singularCount = 1;
  base->singularX[0] = 150;
  base->singularY[0] = 160;
  base->singularAngle[0] = 30;
  base->singularKind[0] = 1;
  std::vector<std::uint8_t> t0(ZYL_TEMPLATE_BUFFER_SIZE), t1 = zyl::test::template_of(zyl::test::shifted(print, 4, 4), context.get()),
                            t2 = zyl::test::template_of(zyl::test::shifted(print, -3, 8), context.get());
  CompressFeatures(base.get(), t0.data(), context.get());
  const std::uint8_t* set[3] = {t0.data(), t1.data(), t2.data()};
  ASSERT_EQ(XWFGeneralize(set, out.data(), &length, context.get()), 0);

  auto merged = zyl::test::record_of({});
  ASSERT_EQ(DecompressFeatures(out.data(), merged.get()), length);
  auto want = zyl::test::by_y(print);
  for (Point& p : want) p.type = 0;  // templates do not carry the type back
  EXPECT_EQ(zyl::test::points_of(*merged), want);
  EXPECT_EQ(merged->borderDensity, 77);
  ASSERT_EQ(merged->singularCount, 1);
  EXPECT_EQ(merged->singularX[0], 150);
  EXPECT_EQ(merged->singularKind[0], 1);
}

TEST_F(TemplateGeneralisation, UnrelatedTemplatesCannotBeMerged) {
  const auto a = zyl::test::template_of(zyl::test::spread_print(25, 31), context.get());
  const auto b = zyl::test::template_of(zyl::test::spread_print(25, 32), context.get());
  const std::uint8_t* set[3] = {a.data(), a.data(), b.data()};
  EXPECT_EQ(XWFGeneralize(set, out.data(), &length, context.get()), -1);
  EXPECT_EQ(length, -1);
}

}  // namespace
