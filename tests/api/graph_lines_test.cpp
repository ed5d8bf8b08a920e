// Graph lines of the test and sample sides and the preparation of a side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "api/graph_lines.h"
#include "api/xw_context.h"
#include "zylscan/geometry.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

namespace {

struct MatchDataDeleter {
  void operator()(MatchData* md) const { FreeMatchData(md); }
};
struct ContextDeleter {
  void operator()(XWContext* c) const { XWFreeContext(c); }
};

struct Minutia {
  std::int32_t x, y, angle;
};

void set_minutiae(FeatureRecord& f, const std::vector<Minutia>& ms) {
  f.minutiaCount = static_cast<std::int32_t>(ms.size());
  for (std::size_t i = 0; i < ms.size(); ++i) {
    f.minutiaX[i] = ms[i].x;
    f.minutiaY[i] = ms[i].y;
    f.minutiaAngle[i] = ms[i].angle;
    f.minutiaType[i] = 0;
    f.minutiaCurvature[i] = 255;
  }
}

// n minutiae on one row, `spacing` pixels apart, all pointing along +x.
std::vector<Minutia> row_of(std::int32_t n, std::int32_t spacing) {
  std::vector<Minutia> ms;
  for (std::int32_t i = 0; i < n; ++i) ms.push_back({100 + i * spacing, 300, 0});
  return ms;
}

std::vector<Minutia> scattered(std::int32_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::int32_t> coord(0, 400), angle(0, 239);
  std::vector<Minutia> ms;
  for (std::int32_t i = 0; i < n; ++i) ms.push_back({coord(rng), coord(rng), angle(rng)});
  return ms;
}

class GraphLines : public testing::Test {
 protected:
  std::unique_ptr<MatchData, MatchDataDeleter> md{CreateMatchData()};
  std::unique_ptr<XWContext, ContextDeleter> context{XWCreateContext()};
  MatchSide& test = md->sides[0];
  MatchSide& sample = md->sides[1];

  void SetUp() override {
    ASSERT_NE(md, nullptr);
    ASSERT_NE(context, nullptr);
  }

  std::vector<std::pair<int, int>> test_pairs(std::int32_t lines) const {
    std::vector<std::pair<int, int>> pairs;
    for (std::int32_t i = 0; i < lines; i += 2) pairs.emplace_back(test.lines[i].first, test.lines[i].second);
    return pairs;
  }

  // Every line sits in the bin of its first relative angle, once.
  void expect_binned(const MatchSide& side, std::int32_t lines) const {
    std::int32_t total = 0;
    for (int b = 0; b < ZYL_ANGLE_BINS; ++b) {
      total += side.binCounts[b];
      for (std::int32_t k = 0; k < side.binCounts[b]; ++k) {
        const GraphLine* line = side.bins[b][k];
        ASSERT_GE(line, side.lines);
        ASSERT_LT(line, side.lines + lines);
        EXPECT_EQ(line->firstAngle, b);
      }
    }
    EXPECT_EQ(total, lines);
  }
};

TEST_F(GraphLines, FewerThanTwoMinutiaeGiveNoLines) {
  for (std::int32_t n : {0, 1}) {
    set_minutiae(test.features, row_of(n, 60));
    set_minutiae(sample.features, row_of(n, 60));
    EXPECT_EQ(FillTestFeaturesMatchData(context.get(), &test), 0);
    EXPECT_EQ(FillSampleFeaturesMatchData(context.get(), &sample, 1000, 0), 0);
    EXPECT_EQ(test.lineCount, 0);
    EXPECT_EQ(sample.lineCount, 0);
    EXPECT_EQ(test.lengthBound, 0);
  }
}

TEST_F(GraphLines, FillLineDataGivesOrientationAndRelativeAngles) {
  struct Case {
    Minutia a, b;
    GraphLine expected;  // length and indexes are not filled here
  };
  const Case cases[] = {
      // along +x: direction 0
      {{100, 100, 0}, {200, 100, 120}, {0, 0, 0, 0, 0, 1}},
      {{100, 100, 30}, {200, 100, 200}, {0, 0, 210, 160, 0, 1}},
      // downwards: direction 60 (rows grow downwards)
      {{100, 100, 10}, {100, 200, 0}, {0, 60, 50, 180, 0, 1}},
      // along -x: direction 120, orientation 0
      {{200, 100, 0}, {100, 100, 0}, {0, 0, 120, 0, 0, 1}},
      // upwards: direction 180, orientation 60
      {{100, 200, 239}, {100, 100, 5}, {0, 60, 181, 55, 0, 1}},
      // angles outside 0..239 in a damaged record still land in 0..239
      {{100, 100, 600}, {100, 200, -500}, {0, 60, 180, 200, 0, 1}},
  };
  for (const Case& k : cases) {
    const std::int32_t xs[] = {k.a.x, k.b.x}, ys[] = {k.a.y, k.b.y}, as[] = {k.a.angle, k.b.angle};
    GraphLine line{};
    line.first = 0;
    line.second = 1;
    FillLineData(&line, xs, ys, as);
    EXPECT_EQ(line.orientation, k.expected.orientation);
    EXPECT_EQ(line.firstAngle, k.expected.firstAngle);
    EXPECT_EQ(line.secondAngle, k.expected.secondAngle);
  }
}

TEST_F(GraphLines, ReverseLineEqualsTheLineBuiltBackwards) {
  const auto ms = scattered(40, 7);
  set_minutiae(test.features, ms);
  const FeatureRecord& f = test.features;
  for (int j = 0; j < 40; ++j) {
    for (int k = j + 1; k < 40; ++k) {
      GraphLine forward{0, 0, 0, 0, j, k}, backward{0, 0, 0, 0, k, j}, reverse{};
      FillLineData(&forward, f.minutiaX, f.minutiaY, f.minutiaAngle);
      FillLineData(&backward, f.minutiaX, f.minutiaY, f.minutiaAngle);
      FillLineData1(&reverse, &forward);
      EXPECT_EQ(reverse.orientation, backward.orientation);
      EXPECT_EQ(reverse.firstAngle, backward.firstAngle);
      EXPECT_EQ(reverse.secondAngle, backward.secondAngle);
    }
  }
}

TEST_F(GraphLines, TestSideKeepsAllPairsInFoundOrderBelowHalfTheBudget) {
  set_minutiae(test.features, row_of(20, 60));  // 190 pairs, all qualify below
  const std::int32_t lines = TestFingerprintGraphLines(&test, &md->sorter, 382, 8000, 1);
  ASSERT_EQ(lines, 380);
  std::vector<std::pair<int, int>> found;
  for (int j = 0; j < 20; ++j)
    for (int k = j + 1; k < 20; ++k) found.emplace_back(j, k);
  EXPECT_EQ(test_pairs(lines), found);
  for (std::int32_t i = 0; i < lines; i += 2) {
    // each pair as a line and its reverse, next to each other
    EXPECT_EQ(test.lines[i + 1].first, test.lines[i].second);
    EXPECT_EQ(test.lines[i + 1].second, test.lines[i].first);
    EXPECT_EQ(test.lines[i + 1].length, test.lines[i].length);
    EXPECT_EQ(test.lines[i].length,
              ComputeDistance(60 * (test.lines[i].second - test.lines[i].first), 0));
  }
  expect_binned(test, lines);
}

TEST_F(GraphLines, TestSideKeepsTheShortestPairsLastFoundFirstAtTheCut) {
  // 20 minutiae 60 apart: 19 pairs one step apart (the shortest), then 18
  // two steps apart. Half the budget 29 keeps the 19 and 10 of the 18.
  set_minutiae(test.features, row_of(20, 60));
  const std::int32_t lines = TestFingerprintGraphLines(&test, &md->sorter, 58, 8000, 1);
  ASSERT_EQ(lines, 58);
  std::vector<std::pair<int, int>> expected;
  for (int j = 18; j >= 0; --j) expected.emplace_back(j, j + 1);  // equal lengths: last found first
  for (int j = 17; j >= 8; --j) expected.emplace_back(j, j + 2);
  EXPECT_EQ(test_pairs(lines), expected);
  expect_binned(test, lines);
}

TEST_F(GraphLines, TestSideSortsWhenExactlyHalfTheBudgetQualifies) {
  set_minutiae(test.features, row_of(20, 60));
  const std::int32_t lines = TestFingerprintGraphLines(&test, &md->sorter, 380, 8000, 1);
  ASSERT_EQ(lines, 380);
  const auto pairs = test_pairs(lines);
  EXPECT_EQ(pairs.front(), std::make_pair(18, 19));
  EXPECT_EQ(pairs.back(), std::make_pair(0, 19));
  for (std::int32_t i = 2; i < lines; i += 2) EXPECT_LE(test.lines[i - 2].length, test.lines[i].length);
}

TEST_F(GraphLines, DefaultBudgetBuildsSevenHundredLinesOnceThreeHundredFiftyPairsExist) {
  set_minutiae(test.features, scattered(120, 3));
  EXPECT_EQ(FillTestFeaturesMatchData(context.get(), &test), 700);
  EXPECT_EQ(test.lineCount, 700);
  for (std::int32_t i = 0; i < 700; ++i) {
    EXPECT_GE(test.lines[i].length, 50);
    EXPECT_LT(test.lines[i].length, 150);
  }
  expect_binned(test, 700);
}

TEST_F(GraphLines, ShortestLengthIsInclusiveOnTheTestSideOnly) {
  // Lengths are odd (ComputeDistance), so the bounds are set to odd values.
  set_minutiae(test.features, {{100, 100, 0}, {151, 100, 0}});
  set_minutiae(sample.features, {{100, 100, 0}, {151, 100, 0}});
  ASSERT_EQ(ComputeDistance(51, 0), 51);
  EXPECT_EQ(TestFingerprintGraphLines(&test, &md->sorter, 700, 151, 51), 2);
  EXPECT_EQ(TestFingerprintGraphLines(&test, &md->sorter, 700, 51, 1), 0);  // longest excluded
  EXPECT_EQ(SampleFingerprintGraphLines(&sample, 1400, 1000, 51), 0);
  EXPECT_EQ(SampleFingerprintGraphLines(&sample, 1400, 1000, 49), 1);
}

TEST_F(GraphLines, SampleSideStopsAtOnePastTheLongestTestLine) {
  // Test lengths 59 then 61: the bound ends at 62. The rule only raises the
  // bound when a length exceeds it, and lengths are odd, so a length equal to
  // the bound never occurs and the longest test length always stays usable.
  set_minutiae(test.features, {{100, 100, 0}, {159, 100, 0}, {100, 161, 0}});
  ASSERT_EQ(ComputeDistance(59, 0), 59);
  ASSERT_EQ(ComputeDistance(0, 61), 61);
  ASSERT_GT(ComputeDistance(59, 61), 80);
  TestFingerprintGraphLines(&test, &md->sorter, 700, 80, 1);
  EXPECT_EQ(test.lengthBound, 62);

  set_minutiae(sample.features, {{0, 0, 0}, {61, 0, 0}, {0, 500, 0}, {63, 500, 0}});
  const std::int32_t lines = SampleFingerprintGraphLines(&sample, 1400, test.lengthBound, 1);
  ASSERT_EQ(lines, 1);
  EXPECT_EQ(sample.lines[0].length, 61);
}

TEST_F(GraphLines, SampleSideKeepsFoundOrderUpToItsBudget) {
  set_minutiae(sample.features, row_of(10, 60));  // 45 pairs
  const std::int32_t all = SampleFingerprintGraphLines(&sample, 1400, 8000, 1);
  ASSERT_EQ(all, 45);
  std::int32_t i = 0;
  for (int j = 0; j < 10; ++j)
    for (int k = j + 1; k < 10; ++k, ++i) {
      EXPECT_EQ(sample.lines[i].first, j);
      EXPECT_EQ(sample.lines[i].second, k);
    }
  expect_binned(sample, all);
  EXPECT_EQ(SampleFingerprintGraphLines(&sample, 7, 8000, 1), 7);
  expect_binned(sample, 7);
  EXPECT_EQ(SampleFingerprintGraphLines(&sample, 0, 8000, 1), 0);
  EXPECT_EQ(SampleFingerprintGraphLines(&sample, -5, 8000, 1), 0);
}

TEST_F(GraphLines, LineLengthsMatchAPlainDistanceCheckOfEveryPair) {
  // Brute force over every pair against both builders, for windows at and
  // around odd and even bounds, empty and unbounded ones.
  struct Window {
    std::int32_t shortest, longest;
  };
  const Window windows[] = {{0, 1}, {0, 2}, {1, 3}, {50, 150}, {51, 151}, {49, 52},
                            {0, 8194}, {300, 200}, {8193, 9000}, {0, INT32_MAX}};
  auto ms = scattered(60, 5);
  ms.push_back({ms[0].x, ms[0].y, 3});         // a pair at distance 0
  ms.push_back({100000, -7, 0});               // out of the distance table's range
  set_minutiae(test.features, ms);
  set_minutiae(sample.features, ms);
  const std::int32_t n = static_cast<std::int32_t>(ms.size());
  const auto length = [&](int j, int k) {
    const auto span = [](std::int64_t a, std::int64_t b) {
      return static_cast<std::int32_t>(std::min<std::int64_t>(std::llabs(a - b), 8193));
    };
    return ComputeDistance(span(ms[j].x, ms[k].x), span(ms[j].y, ms[k].y));
  };
  for (const Window& w : windows) {
    SCOPED_TRACE(testing::Message() << w.shortest << " .. " << w.longest);
    std::vector<std::pair<int, int>> test_expected, sample_expected;
    for (int j = 0; j < n; ++j)
      for (int k = j + 1; k < n; ++k) {
        const std::int32_t len = length(j, k);
        if (len >= w.shortest && len < w.longest) test_expected.emplace_back(j, k);
        if (len > w.shortest && len < w.longest) sample_expected.emplace_back(j, k);
      }
    const std::int32_t lines = TestFingerprintGraphLines(&test, &md->sorter, 5000, w.longest, w.shortest);
    ASSERT_EQ(lines, 2 * static_cast<std::int32_t>(test_expected.size()));
    EXPECT_EQ(test_pairs(lines), test_expected);
    const std::int32_t sample_lines = SampleFingerprintGraphLines(&sample, 5000, w.longest, w.shortest);
    ASSERT_EQ(sample_lines, static_cast<std::int32_t>(sample_expected.size()));
    for (std::int32_t i = 0; i < sample_lines; ++i) {
      EXPECT_EQ(std::make_pair(sample.lines[i].first, sample.lines[i].second), sample_expected[i]);
      EXPECT_EQ(sample.lines[i].length, length(sample.lines[i].first, sample.lines[i].second));
    }
  }
}

TEST_F(GraphLines, BudgetsNeverExceedTheLineTable) {
  set_minutiae(test.features, scattered(ZYL_MAX_MINUTIAE, 11));
  set_minutiae(sample.features, scattered(ZYL_MAX_MINUTIAE, 12));
  EXPECT_EQ(TestFingerprintGraphLines(&test, &md->sorter, 1 << 30, 1 << 30, 0), ZYL_GRAPH_LINES);
  expect_binned(test, ZYL_GRAPH_LINES);
  EXPECT_EQ(SampleFingerprintGraphLines(&sample, 1 << 30, 1 << 30, 0), ZYL_GRAPH_LINES);
  expect_binned(sample, ZYL_GRAPH_LINES);
  // A count beyond the table is read as the table's size.
  test.features.minutiaCount = 5000;
  EXPECT_EQ(TestFingerprintGraphLines(&test, &md->sorter, 1000, 200, 0), 1000);
}

TEST_F(GraphLines, CrowdedBinsGrow) {
  // All lines along +x with minutiae pointing along +x: every forward line has
  // first relative angle 0, every reverse line 120.
  set_minutiae(test.features, row_of(30, 3));
  const std::int32_t lines = TestFingerprintGraphLines(&test, &md->sorter, 5000, 8000, 1);
  ASSERT_EQ(lines, 870);
  EXPECT_EQ(test.binCounts[0], 435);
  EXPECT_EQ(test.binCounts[120], 435);
  EXPECT_GE(test.binCapacities[0], 435);
  expect_binned(test, lines);
}

TEST(OnlyCore, IsTheSingleSingularPointOfKindOne) {
  struct Case {
    std::vector<std::int32_t> kinds;
    std::int32_t expected;
  };
  const Case cases[] = {
      {{}, -1},        {{1}, 0},          {{-1, 2, 1}, 2}, {{1, -1, 1}, -1},
      {{-1, -1}, -1},  {{2, 2, 1, 2}, 2},
  };
  auto f = std::make_unique<FeatureRecord>();
  for (const Case& k : cases) {
    *f = FeatureRecord{};
    f->singularCount = static_cast<std::int32_t>(k.kinds.size());
    for (std::size_t i = 0; i < k.kinds.size(); ++i) f->singularKind[i] = k.kinds[i];
    EXPECT_EQ(GetTheOnlyCore(f.get()), k.expected);
  }
  *f = FeatureRecord{};
  f->singularCount = 1000;  // beyond the list: only its 64 entries count
  f->singularKind[63] = 1;
  EXPECT_EQ(GetTheOnlyCore(f.get()), 63);
  EXPECT_EQ(GetTheOnlyCore(nullptr), -1);
}

TEST_F(GraphLines, CoreOptionFillsCoreDistances) {
  set_minutiae(test.features, {{100, 100, 0}, {130, 140, 0}, {100, 300, 0}});
  test.features.singularCount = 2;
  test.features.singularKind[0] = -1;
  test.features.singularKind[1] = 1;
  test.features.singularX[1] = 100;
  test.features.singularY[1] = 100;

  test.coreIndex = 7;
  FillTestFeaturesMatchData(context.get(), &test);  // option off by default
  EXPECT_EQ(test.hasCore, 0);
  EXPECT_EQ(test.coreIndex, 7);  // left as it was

  ASSERT_EQ(XWSetAdditionalParameter(20019, 1, context.get()), XW_OK);
  FillTestFeaturesMatchData(context.get(), &test);
  EXPECT_EQ(test.hasCore, 1);
  EXPECT_EQ(test.coreIndex, 1);
  EXPECT_EQ(test.coreDistances[0], ComputeDistance(0, 0));
  EXPECT_EQ(test.coreDistances[1], ComputeDistance(30, 40));
  EXPECT_EQ(test.coreDistances[2], ComputeDistance(0, 200));

  sample.features = test.features;
  FillSampleFeaturesMatchData(context.get(), &sample, 1000, 1);
  EXPECT_EQ(sample.hasCore, 1);
  EXPECT_EQ(sample.coreDistances[1], ComputeDistance(30, 40));
  FillSampleFeaturesMatchData(context.get(), &sample, 1000, 0);
  EXPECT_EQ(sample.hasCore, 0);

  test.features.singularKind[0] = 1;  // two cores: none is the only one
  FillTestFeaturesMatchData(context.get(), &test);
  EXPECT_EQ(test.hasCore, 0);
  EXPECT_EQ(test.coreIndex, -1);
}

TEST_F(GraphLines, SampleCentreIsTheMiddleOfTheMinutiae) {
  set_minutiae(sample.features, {{40, 300, 0}, {100, 20, 0}, {251, 77, 0}});
  FillSampleFeaturesMatchData(context.get(), &sample, 1000, 0);
  EXPECT_EQ(sample.centreX, (40 + 251) / 2);
  EXPECT_EQ(sample.centreY, (20 + 300) / 2);
  set_minutiae(sample.features, {});
  FillSampleFeaturesMatchData(context.get(), &sample, 1000, 0);
  EXPECT_EQ(sample.centreX, 5000);
  EXPECT_EQ(sample.centreY, 5000);
}

TEST_F(GraphLines, FillOperationsRefuseMissingArguments) {
  EXPECT_EQ(FillTestFeaturesMatchData(context.get(), nullptr), -4);
  EXPECT_EQ(FillSampleFeaturesMatchData(context.get(), nullptr, 0, 0), -4);
  EXPECT_EQ(FillTestFeaturesMatchData(nullptr, &test), -3);  // no default context
  EXPECT_EQ(FillSampleFeaturesMatchData(nullptr, &sample, 0, 0), -3);
  // The test side creates the context's match data on first use.
  EXPECT_EQ(context->matchData, nullptr);
  set_minutiae(test.features, row_of(3, 60));
  EXPECT_EQ(FillTestFeaturesMatchData(context.get(), &test), 6);
  EXPECT_NE(context->matchData, nullptr);
}

TEST(MatchDataRecord, StartsWithItsCapacitiesAndEmptyTables) {
  std::unique_ptr<MatchData, MatchDataDeleter> md(CreateMatchData());
  ASSERT_NE(md, nullptr);
  EXPECT_EQ(md->sorter.pairCapacity, 2500);
  EXPECT_EQ(md->sorter.pointerCapacity, 2500);
  EXPECT_EQ(md->sorter.countSize, 400);
  EXPECT_EQ(md->candidateCapacity, 1500);
  EXPECT_EQ(md->indexCapacity, 800);
  EXPECT_EQ(md->histogramSizeX, 2048);
  EXPECT_EQ(md->histogramSizeY, 2048);
  for (const MatchSide& side : md->sides) {
    EXPECT_EQ(side.lineCount, 0);
    for (int b = 0; b < ZYL_ANGLE_BINS; ++b) {
      EXPECT_NE(side.bins[b], nullptr);
      EXPECT_EQ(side.binCapacities[b], 40);
      EXPECT_EQ(side.binCounts[b], 0);
    }
  }
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(md->histogramX[i] | md->histogramY[i] | md->histogramScratch[i], 0);
  FreeMatchData(nullptr);  // nothing happens
}

}  // namespace

namespace {

// Lines, bins and bounds of two sides are the same (bins by line index).
void expect_same_side(const MatchSide& a, const MatchSide& b, const char* what) {
  ASSERT_EQ(a.lineCount, b.lineCount) << what;
  EXPECT_EQ(a.lengthBound, b.lengthBound) << what;
  EXPECT_EQ(a.hasCore, b.hasCore) << what;
  EXPECT_EQ(a.centreX, b.centreX) << what;
  EXPECT_EQ(a.centreY, b.centreY) << what;
  for (std::int32_t i = 0; i < a.lineCount; ++i) {
    const GraphLine &x = a.lines[i], &y = b.lines[i];
    ASSERT_TRUE(x.length == y.length && x.orientation == y.orientation && x.firstAngle == y.firstAngle &&
                x.secondAngle == y.secondAngle && x.first == y.first && x.second == y.second)
        << what << " line " << i;
  }
  for (int bin = 0; bin < ZYL_ANGLE_BINS; ++bin) {
    ASSERT_EQ(a.binCounts[bin], b.binCounts[bin]) << what << " bin " << bin;
    for (std::int32_t k = 0; k < a.binCounts[bin]; ++k)
      ASSERT_EQ(a.bins[bin][k] - a.lines, b.bins[bin][k] - b.lines) << what << " bin " << bin;
  }
}

// A template's pairs listed once give both of its sides exactly as the
// sides built from the record, under budgets that cut and sort, short and
// long length windows, and sample bounds below and past the list's end.
TEST_F(GraphLines, SidesFromThePairListEqualSidesFromTheRecord) {
  struct Setting {
    std::int32_t test_budget, sample_budget, shortest, longest, bound;
  };
  const Setting settings[] = {
      {700, 1400, 50, 150, 150}, {700, 1400, 50, 150, 97}, {40, 30, 50, 150, 150}, {700, 1400, 0, 9000, 9000},
      {700, 1400, 50, 150, 200}, {700, 1400, 150, 50, 150}, {0, 0, 50, 150, 150},  {700, 1400, 50, 150, 0},
  };
  XWContext& c = *context;
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const std::vector<Minutia> ms = scattered(static_cast<std::int32_t>(seed * 11), seed);
    for (const Setting& k : settings) {
      c.testLineBudget = k.test_budget;
      c.sampleLineBudget = k.sample_budget;
      c.shortestLine = k.shortest;
      c.longestLine = k.longest;
      zyl::api::TemplatePairs pairs;
      set_minutiae(test.features, ms);
      zyl::api::list_template_pairs(test.features, c.shortestLine, c.longestLine, pairs);
      ASSERT_TRUE(pairs.valid);

      FillTestFeaturesMatchData(&c, &test);
      set_minutiae(sample.features, ms);
      zyl::api::fill_test_side(c, *md, sample, pairs);
      expect_same_side(test, sample, "test side");

      FillSampleFeaturesMatchData(&c, &test, k.bound, 0);
      zyl::api::fill_sample_side(c, sample, k.bound, 0, pairs);
      expect_same_side(test, sample, "sample side");
    }
  }
}

}  // namespace

namespace {

// The pair length computed in line equals ComputeDistance on a grid of
// spans and at the range's edges; and the truncated double root it takes is
// the integer root at every boundary of the range (r^2 gives r, r^2 - 1
// gives r - 1), which with the root's monotony covers every sum.
TEST(SpanLength, EqualsComputeDistance) {
  for (std::int32_t dx = 0; dx <= 400; ++dx)
    for (std::int32_t dy = 0; dy <= 400; ++dy)
      ASSERT_EQ(zyl::api::span_length(dx, dy), ComputeDistance(dx, dy)) << dx << " " << dy;
  for (const auto& [dx, dy] : {std::pair<std::int32_t, std::int32_t>{8192, 0}, {0, 8192}, {8193, 0}, {0, 8193},
                               {5793, 5793}, {5792, 5792}, {8191, 1}, {8191, 128}, {8191, 127}, {-1, 3}})
    EXPECT_EQ(zyl::api::span_length(dx, dy), ComputeDistance(dx, dy)) << dx << " " << dy;
  for (std::int64_t r = 1; r < 8192; ++r) {
    ASSERT_EQ(zyl::api::span_length(r, 0), ComputeDistance(static_cast<std::int32_t>(r), 0)) << r;
    const double below = std::sqrt(static_cast<double>(r * r - 1));
    ASSERT_EQ(static_cast<std::int64_t>(below), r - 1) << r;
  }
}

}  // namespace
