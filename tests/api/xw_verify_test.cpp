// Verification and identification through the context API: statuses, the
// details record, the verification window and the identification steps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "api/xw_context.h"
#include "xw_operations_support.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

using zyl::test::Point;

class Verification : public testing::Test {
 protected:
  zyl::test::Context context{XWCreateContext()};
  std::vector<Point> print = zyl::test::spread_print(30, 17);
  std::vector<std::uint8_t> a, b;

  void SetUp() override {
    ASSERT_NE(context, nullptr);
    a = zyl::test::template_of(print, context.get());
    // B: two thirds of the print, moved, with minutiae of its own: the two
    // directions score differently.
    std::vector<Point> part(print.begin(), print.begin() + 20);
    const auto extra = zyl::test::spread_print(40, 99);
    part.insert(part.end(), extra.begin() + 30, extra.end());
    b = zyl::test::template_of(zyl::test::shifted(part, 9, -6), context.get());
  }

  // The matcher's score of `sample` against `test`, prepared as a
  // verification prepares them.
  std::int32_t one_way(const std::vector<std::uint8_t>& test, const std::vector<std::uint8_t>& sample) {
    MatchData* md = zyl::api::ensure_match_data(*context);
    std::fill(std::begin(md->rotationFlags), std::end(md->rotationFlags), 1);
    EXPECT_GE(DecompressFeatures(test.data(), &md->sides[0].features), 0);
    EXPECT_GE(DecompressFeatures(sample.data(), &md->sides[2].features), 0);
    FillTestFeaturesMatchData(context.get(), &md->sides[0]);
    FillSampleFeaturesMatchData(context.get(), &md->sides[2], md->sides[0].lengthBound,
                                md->sides[0].coreIndex != -1);
    return MatchFeatures(&md->sides[0], &md->sides[2], 47, nullptr, context.get());
  }

  std::int32_t verify(const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
    MatchDetails d{};
    d.size = XW_DETAILS_SHORT;
    EXPECT_EQ(XWVerify(x.data(), y.data(), &d, context.get()), XW_VERIFY_COMPLETED);
    return d.score;
  }

  void set(std::int32_t id, std::int32_t value) {
    ASSERT_EQ(XWSetAdditionalParameter(id, value, context.get()), XW_OK);
  }
};

TEST_F(Verification, ATemplateAgainstItselfCompletesWithAHighScoreAndEveryPair) {
  MatchDetails d{};
  d.size = XW_DETAILS_LONG;
  ASSERT_EQ(XWVerify(a.data(), a.data(), &d, context.get()), XW_VERIFY_COMPLETED);
  EXPECT_GE(d.score, 500);
  EXPECT_EQ(d.rotation, 0);
  EXPECT_EQ(d.shiftX, 0);
  EXPECT_EQ(d.shiftY, 0);
  ASSERT_EQ(d.pairCount, static_cast<std::int32_t>(print.size()));
  for (int i = 0; i < d.pairCount; ++i) EXPECT_EQ(d.testIndexes[i], d.sampleIndexes[i]);
  EXPECT_EQ(XWVerify(a.data(), a.data(), nullptr, context.get()), XW_VERIFY_COMPLETED);
  EXPECT_EQ(XWFVerify(a.data(), a.data(), context.get()), d.score);
}

TEST_F(Verification, UnrelatedTemplatesScoreLow) {
  const auto other = zyl::test::template_of(zyl::test::spread_print(30, 1234), context.get());
  EXPECT_LT(verify(a, other), 47);
}

TEST_F(Verification, TheSecondDirectionCountsOnlyInsideTheWindow) {
  const std::int32_t s1 = one_way(a, b);
  const std::int32_t s2 = one_way(b, a);
  ASSERT_NE(s1, s2);
  ASSERT_GE(s1, 20);
  ASSERT_LE(s1, 500);
  const std::int32_t mean = (s1 + s2) / 2;
  ASSERT_NE(mean, s1);
  struct Case {
    std::int32_t low, high, score;
  };
  const Case cases[] = {
      {20, 500, mean},        // the defaults
      {s1, 500, mean},        // the window's bounds belong to it
      {20, s1, mean},
      {s1 + 1, 500, s1},      // below the window: the first score alone
      {20, s1 - 1, s1},       // above it
  };
  for (const Case& c : cases) {
    set(20014, c.low);
    set(20015, c.high);
    EXPECT_EQ(verify(a, b), c.score) << c.low << ".." << c.high;
  }
}

TEST_F(Verification, RefusesADetailsRecordOfAnotherSizeBeforeMatching) {
  for (std::int32_t size : {0, 19, 24, 4119, 4121}) {
    MatchDetails d{};
    d.size = size;
    d.score = 777;
    d.rotation = 5;
    EXPECT_EQ(XWVerify(a.data(), a.data(), &d, context.get()), XW_ERR_BAD_VALUE) << size;
    EXPECT_EQ(d.score, 777);
    EXPECT_EQ(d.rotation, 5);
  }
}

TEST_F(Verification, RefusesMissingAndMalformedTemplates) {
  auto bad = a;
  bad[5] = 91;  // more minutiae than any template holds
  bad[6] = 0;
  struct Case {
    const std::uint8_t* x;
    const std::uint8_t* y;
    std::int32_t status;
    std::int32_t score;  // in the details afterwards
  };
  const Case cases[] = {
      {nullptr, a.data(), XW_ERR_NULL_ARGUMENT, 777},
      {a.data(), nullptr, XW_ERR_NULL_ARGUMENT, 777},
      {bad.data(), a.data(), XW_ERR_BAD_TEMPLATE, 0},
      {a.data(), bad.data(), XW_ERR_BAD_TEMPLATE, 0},
  };
  for (const Case& c : cases) {
    MatchDetails d{};
    d.size = XW_DETAILS_SHORT;
    d.score = 777;
    EXPECT_EQ(XWVerify(c.x, c.y, &d, context.get()), c.status);
    EXPECT_EQ(d.score, c.score);
    EXPECT_EQ(XWFVerify(c.x, c.y, context.get()), 0);
  }
}

TEST_F(Verification, ANullContextMeansTheDefaultOne) {
  const std::int32_t before = XWInitialize();
  ASSERT_GE(before, 0);
  EXPECT_EQ(XWVerify(a.data(), a.data(), nullptr, nullptr), XW_VERIFY_COMPLETED);
  XWFinalize();
  if (before == 0) {
    EXPECT_EQ(XWVerify(a.data(), a.data(), nullptr, nullptr), XW_ERR_NO_CONTEXT);
  }
}

TEST_F(Verification, IdentificationScoresEachCandidateAsAVerificationWould) {
  const auto other = zyl::test::template_of(zyl::test::spread_print(30, 4321), context.get());
  const std::vector<std::vector<std::uint8_t>> candidates = {b, other, a, b};
  std::vector<std::int32_t> expected;
  for (const auto& c : candidates) expected.push_back(verify(a, c));

  ASSERT_EQ(XWIdentifyStart(a.data(), context.get()), XW_OK);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    MatchDetails d{};
    d.size = XW_DETAILS_SHORT;
    const std::int32_t r = XWIdentifyNext(candidates[i].data(), &d, context.get());
    EXPECT_EQ(d.score, expected[i]) << i;
    EXPECT_EQ(r, expected[i] > 47 ? 0 : -1) << i;
  }
  EXPECT_EQ(XWIdentifyEnd(context.get()), XW_OK);
}

TEST_F(Verification, IdentificationRefusesOtherWorkUntilItEnds) {
  EXPECT_EQ(XWIdentifyNext(a.data(), nullptr, context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(XWIdentifyEnd(context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);

  ASSERT_EQ(XWIdentifyStart(a.data(), context.get()), XW_OK);
  EXPECT_EQ(XWIdentifyStart(a.data(), context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(XWVerify(a.data(), a.data(), nullptr, context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(XWSetParameter(200, 50, context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  std::vector<std::uint8_t> out(ZYL_TEMPLATE_BUFFER_SIZE);
  std::int32_t length = 0;
  const std::uint8_t* set3[3] = {a.data(), a.data(), a.data()};
  EXPECT_EQ(XWFGeneralize(set3, out.data(), &length, context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(XWIdentifyNext(nullptr, nullptr, context.get()), XW_ERR_NULL_ARGUMENT);
  MatchDetails d{};
  d.size = 24;
  EXPECT_EQ(XWIdentifyNext(a.data(), &d, context.get()), XW_ERR_BAD_VALUE);

  EXPECT_EQ(XWIdentifyEnd(context.get()), XW_OK);
  EXPECT_EQ(XWIdentifyEnd(context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
  EXPECT_EQ(XWVerify(a.data(), a.data(), nullptr, context.get()), XW_VERIFY_COMPLETED);
}

TEST_F(Verification, AMalformedProbeStartsNoIdentification) {
  auto bad = a;
  bad[5] = 200;
  EXPECT_EQ(XWIdentifyStart(bad.data(), context.get()), XW_ERR_BAD_TEMPLATE);
  EXPECT_EQ(XWIdentifyStart(nullptr, context.get()), XW_ERR_NULL_ARGUMENT);
  EXPECT_EQ(XWIdentifyEnd(context.get()), XW_ERR_IDENTIFY_IN_PROGRESS);
}

TEST_F(Verification, TheRotationLimitBoundsTheAcceptedTurn) {
  // The same print turned by 30 steps (45 degrees) matches only while the
  // limit allows that turn.
  std::vector<Point> turned;
  const double r = 30 * 1.5 * M_PI / 180;
  for (const Point& p : print)
    turned.push_back({static_cast<std::int32_t>(std::lround(200 + (p.x - 180) * std::cos(r) - (p.y - 210) * std::sin(r))),
                      static_cast<std::int32_t>(std::lround(200 + (p.x - 180) * std::sin(r) + (p.y - 210) * std::cos(r))),
                      (p.angle + 30) % 240, p.type});
  const auto t = zyl::test::template_of(turned, context.get());
  EXPECT_GT(verify(a, t), 47);
  ASSERT_EQ(XWSetParameter(201, 10, context.get()), XW_OK);
  EXPECT_LT(verify(a, t), 47);
}

}  // namespace

namespace {

// Matches vote in the translation histograms and hand them back all 0, so
// that the next match starts from empty histograms without clearing them:
// after matches that vote (and after one stopped early), every bin is 0, and
// a repeated verification scores as the first one did.
TEST_F(Verification, MatchesLeaveTheTranslationHistogramsEmpty) {
  const std::int32_t first = verify(a, b);
  EXPECT_GT(one_way(a, a), 0);
  set(20014, 0);  // every first score in the window: both ways vote
  verify(a, b);
  verify(b, a);
  MatchData* md = zyl::api::ensure_match_data(*context);
  for (std::int32_t i = 0; i < md->histogramSizeX; ++i) ASSERT_EQ(md->histogramX[i], 0) << i;
  for (std::int32_t i = 0; i < md->histogramSizeY; ++i) ASSERT_EQ(md->histogramY[i], 0) << i;
  set(20014, 20);
  EXPECT_EQ(verify(a, b), first);
}

}  // namespace
