// The graph matcher: alignment recovery, scores, grouping and block grids.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api/match_data.h"
#include "api/match_features.h"
#include "extract/byte_image.h"
#include "support/pgm.h"
#include "zylscan/extract_pipeline.h"
#include "api/xw_context.h"
#include "zylscan/geometry.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

namespace {

using zyl::api::LocatedCandidate;

struct ContextDeleter {
  void operator()(XWContext* c) const { XWFreeContext(c); }
};

struct Minutia {
  std::int32_t x, y, angle;
};

// A plausible print: n minutiae at least 12 pixels apart in a 260 x 340
// area, with curvatures.
std::vector<Minutia> random_print(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::int32_t> x(40, 300), y(40, 380), a(0, 239);
  std::vector<Minutia> ms;
  while (static_cast<int>(ms.size()) < n) {
    Minutia m{x(rng), y(rng), a(rng)};
    const bool crowded = std::any_of(ms.begin(), ms.end(), [&](const Minutia& o) {
      return std::hypot(o.x - m.x, o.y - m.y) < 12;
    });
    if (!crowded) ms.push_back(m);
  }
  return ms;
}

// The print turned by `steps` (1.5 degrees each, towards +y) about (cx, cy)
// and then shifted by (dx, dy).
std::vector<Minutia> transformed(const std::vector<Minutia>& ms, int steps, double cx, double cy,
                                 int dx, int dy) {
  const double r = steps * 1.5 * M_PI / 180;
  std::vector<Minutia> out;
  for (const Minutia& m : ms) {
    const double x = cx + (m.x - cx) * std::cos(r) - (m.y - cy) * std::sin(r);
    const double y = cy + (m.x - cx) * std::sin(r) + (m.y - cy) * std::cos(r);
    out.push_back({static_cast<std::int32_t>(std::lround(x)) + dx,
                   static_cast<std::int32_t>(std::lround(y)) + dy, (m.angle + steps + 240) % 240});
  }
  return out;
}

void set_minutiae(FeatureRecord& f, const std::vector<Minutia>& ms) {
  f = FeatureRecord{};
  f.minutiaCount = static_cast<std::int32_t>(ms.size());
  for (std::size_t i = 0; i < ms.size(); ++i) {
    f.minutiaX[i] = ms[i].x;
    f.minutiaY[i] = ms[i].y;
    f.minutiaAngle[i] = ms[i].angle;
    f.minutiaCurvature[i] = static_cast<std::int32_t>((i * 37) % 90);
  }
}

class Matching : public testing::Test {
 protected:
  std::unique_ptr<XWContext, ContextDeleter> context{XWCreateContext()};
  MatchData* md = nullptr;

  void SetUp() override {
    ASSERT_NE(context, nullptr);
    md = zyl::api::ensure_match_data(*context);
    ASSERT_NE(md, nullptr);
  }

  MatchSide& test() { return md->sides[0]; }
  MatchSide& sample() { return md->sides[2]; }

  // Prepares both sides the way a verification does, with every rotation
  // allowed, and matches them.
  std::int32_t match(const FeatureRecord& t, const FeatureRecord& s, MatchDetails* details,
                     std::int32_t threshold = 47) {
    std::fill(std::begin(md->rotationFlags), std::end(md->rotationFlags), 1);
    test().features = t;
    sample().features = s;
    FillTestFeaturesMatchData(context.get(), &test());
    FillSampleFeaturesMatchData(context.get(), &sample(), test().lengthBound, test().coreIndex != -1);
    return MatchFeatures(&test(), &sample(), threshold, details, context.get());
  }

  std::int32_t match(const std::vector<Minutia>& t, const std::vector<Minutia>& s, MatchDetails* details,
                     std::int32_t threshold = 47) {
    auto a = std::make_unique<FeatureRecord>();
    auto b = std::make_unique<FeatureRecord>();
    set_minutiae(*a, t);
    set_minutiae(*b, s);
    return match(*a, *b, details, threshold);
  }
};

MatchDetails long_details() {
  MatchDetails d{};
  d.size = XW_DETAILS_LONG;
  return d;
}

TEST_F(Matching, TemplatesWithoutLinesStopAtTheFirstStage) {
  MatchDetails d{};
  d.size = XW_DETAILS_SHORT;
  d.rotation = 77;
  EXPECT_EQ(match(std::vector<Minutia>{}, std::vector<Minutia>{}, &d), 0);
  EXPECT_EQ(d.score, 1);  // (1360 + 500) / 1000
  EXPECT_EQ(d.rotation, 77);  // not reached
}

TEST_F(Matching, ASingleLinePairScoresTwelve) {
  // One pair of minutiae: two test lines, one sample line; only the forward
  // test line agrees with it, scoring 13 - ComputeDistance3D(0, 0, 0) = 12.
  const std::vector<Minutia> pair = {{100, 100, 10}, {200, 100, 100}};
  MatchDetails d = long_details();
  EXPECT_EQ(match(pair, pair, &d), 0);  // below the default threshold
  EXPECT_EQ(d.score, (535 * 24 + 1360 + 500) / 1000);  // v = 2 x raw with few lines

  d = long_details();
  EXPECT_EQ(match(pair, pair, &d, 0), 14);
  EXPECT_EQ(d.rotation, 0);
  EXPECT_EQ(d.shiftX, 0);
  EXPECT_EQ(d.shiftY, 0);
  ASSERT_EQ(d.pairCount, 2);
  EXPECT_EQ(d.testIndexes[0], 0);
  EXPECT_EQ(d.sampleIndexes[0], 0);
  EXPECT_EQ(d.testIndexes[1], 1);
  EXPECT_EQ(d.sampleIndexes[1], 1);
}

TEST_F(Matching, RecoversTheRotationAndShiftOfATransformedCopy) {
  struct Case {
    int steps;
    int dx, dy;
  };
  const Case cases[] = {{0, 0, 0}, {0, 17, -9}, {20, 0, 0}, {-20, 12, 25}, {40, -30, 8}, {-60, 5, 5}};
  const auto print = random_print(45, 1);
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "turn " << k.steps << " shift " << k.dx << ", " << k.dy);
    const auto copy = transformed(print, k.steps, 170, 210, k.dx, k.dy);
    MatchDetails d = long_details();
    const std::int32_t score = match(print, copy, &d);
    EXPECT_GT(score, 200);
    EXPECT_EQ(d.score, 0);  // the matcher leaves the final score to its caller
    // The sample is turned back by the opposite rotation ...
    const int expected = (240 - k.steps) % 240;
    const int turn_error = std::min((d.rotation - expected + 240) % 240, (expected - d.rotation + 240) % 240);
    EXPECT_LE(turn_error, 1) << "rotation " << d.rotation;
    // ... about the sample's centre, then shifted onto the print.
    const double r = -d.rotation * 1.5 * M_PI / 180;
    std::vector<Minutia> moved = copy;
    const double cx = sample().centreX, cy = sample().centreY;
    const Minutia& t0 = print[0];
    const Minutia& s0 = copy[0];
    const double x = cx + (s0.x - cx) * std::cos(-r) - (s0.y - cy) * std::sin(-r);
    const double y = cy + (s0.x - cx) * std::sin(-r) + (s0.y - cy) * std::cos(-r);
    EXPECT_NEAR(d.shiftX, t0.x - x, 4);
    EXPECT_NEAR(d.shiftY, t0.y - y, 4);
    // Every minutia is paired with itself.
    std::int32_t self_pairs = 0;
    for (std::int32_t i = 0; i < d.pairCount; ++i) self_pairs += d.testIndexes[i] == d.sampleIndexes[i];
    EXPECT_GE(self_pairs, 40);
  }
}

TEST_F(Matching, UnrelatedPrintsScoreLow) {
  for (unsigned seed = 10; seed < 16; ++seed) {
    MatchDetails d{};
    d.size = XW_DETAILS_SHORT;
    const std::int32_t score = match(random_print(45, seed), random_print(45, seed + 100), &d);
    EXPECT_LT(score, 47) << "seed " << seed;
  }
}

TEST_F(Matching, LongDetailsHoldEachPairOnce) {
  const auto print = random_print(80, 4);
  MatchDetails d = long_details();
  ASSERT_GT(match(print, transformed(print, 10, 150, 150, 3, 4), &d), 0);
  std::set<std::pair<int, int>> seen;
  for (std::int32_t i = 0; i < d.pairCount; ++i)
    EXPECT_TRUE(seen.insert({d.testIndexes[i], d.sampleIndexes[i]}).second) << i;
  EXPECT_GT(d.pairCount, 60);
}

TEST(DetailPairs, AreUniqueAndStopAt1024) {
  auto d = std::make_unique<MatchDetails>();
  d->size = XW_DETAILS_LONG;
  zyl::api::add_detail_pair(*d, 3, 4);
  zyl::api::add_detail_pair(*d, 3, 4);
  zyl::api::add_detail_pair(*d, 4, 3);
  EXPECT_EQ(d->pairCount, 2);
  for (int i = 0; i < 1100; ++i) zyl::api::add_detail_pair(*d, i, 1023 - i % 1024);
  EXPECT_EQ(d->pairCount, 1024);
  EXPECT_EQ(d->testIndexes[1023], 1021);  // 3 and 4 were listed before
}

TEST(GroupScoring, FollowsTheGroupRules) {
  struct Case {
    const char* what;
    std::vector<LocatedCandidate> candidates;  // test line, sample line, score
    std::int64_t raw;
  };
  const Case cases[] = {
      {"no candidates", {}, 0},
      {"separate candidates add up", {{0, 0, 5}, {1, 1, 7}, {2, 2, 3}}, 15},
      {"three members give their best once", {{0, 0, 5}, {0, 1, 9}, {1, 1, 4}}, 9},
      {"four on one test line: best once", {{0, 0, 5}, {0, 1, 9}, {0, 2, 4}, {0, 3, 6}}, 9},
      {"two test lines, four sample lines: best per test line",
       {{0, 0, 5}, {0, 1, 9}, {1, 1, 1}, {1, 2, 4}, {1, 3, 6}}, 9 + 6},
      {"fewer sample lines than test lines: best per sample line",
       {{0, 0, 5}, {1, 0, 9}, {2, 0, 4}, {3, 1, 6}, {4, 1, 8}, {2, 1, 1}}, 9 + 8},
      {"two groups, the second of three",
       {{0, 0, 5}, {1, 0, 9}, {2, 0, 4}, {3, 1, 6}, {4, 1, 8}, {3, 2, 1}}, 9 + 8},
      {"a scan again picks up candidates linked by a later member",
       {{0, 0, 5}, {1, 1, 2}, {1, 0, 3}, {9, 9, 1}}, 5 + 1},
  };
  for (const Case& k : cases)
    EXPECT_EQ(zyl::api::score_by_groups(k.candidates), k.raw) << k.what;
}

TEST(GroupScoring, StopsAGroupAt255Members) {
  // 300 candidates on one test line: the first group takes 254 and counts
  // the 255th; the 46 left form a second group, the 255th among them.
  std::vector<LocatedCandidate> cands;
  for (int i = 0; i < 300; ++i) cands.push_back({0, i, i == 254 ? 200 : 1 + i % 7});
  // Group 1: best over the first 255 members per test line (one line) = 200.
  // Group 2: candidates 254..299 = 200 again (the 255th was left free).
  EXPECT_EQ(zyl::api::score_by_groups(cands), 400);
}

// The group rules written as plainly as they read: whole scans over the list.
std::int64_t reference_group_score(const std::vector<LocatedCandidate>& c) {
  const int count = static_cast<int>(c.size());
  std::vector<bool> taken(count, false);
  std::int64_t raw = 0;
  for (int start = 0; start < count; ++start) {
    if (taken[start]) continue;
    std::vector<int> members{start};
    taken[start] = true;
    int best = c[start].score;
    bool grew = true, full = false;
    while (grew && !full) {
      grew = false;
      for (int q = 0; q < count && !full; ++q) {
        if (taken[q]) continue;
        bool linked = false;
        for (int m : members)
          linked = linked || c[m].test_line == c[q].test_line || c[m].sample_line == c[q].sample_line;
        if (!linked) continue;
        members.push_back(q);
        if (members.size() == 255) {
          full = true;
          break;
        }
        taken[q] = true;
        best = std::max(best, c[q].score);
        grew = true;
      }
    }
    if (members.size() <= 3) {
      raw += best;
      continue;
    }
    std::set<int> tl, sl;
    for (int m : members) {
      tl.insert(c[m].test_line);
      sl.insert(c[m].sample_line);
    }
    const bool by_sample = sl.size() < tl.size();
    std::map<int, int> line_best;
    for (int m : members) {
      int& b = line_best[by_sample ? c[m].sample_line : c[m].test_line];
      b = std::max(b, c[m].score);
    }
    for (const auto& [line, b] : line_best) raw += b;
  }
  return raw;
}

TEST(GroupScoring, AgreesWithPlainScansOnRandomCandidates) {
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    const int count = std::uniform_int_distribution<int>(0, round < 250 ? 60 : 700)(rng);
    const int lines = std::uniform_int_distribution<int>(1, round % 3 == 0 ? 8 : 120)(rng);
    std::uniform_int_distribution<int> line(0, lines - 1), score(1, 254);
    std::vector<LocatedCandidate> cands;
    for (int i = 0; i < count; ++i) cands.push_back({line(rng), line(rng), score(rng)});
    ASSERT_EQ(zyl::api::score_by_groups(cands), reference_group_score(cands)) << "round " << round;
  }
}

TEST(ScoreScaling, FollowsLineCountsAndBorderDensities) {
  std::unique_ptr<XWContext, ContextDeleter> c(XWCreateContext());
  struct Case {
    std::int32_t lines;
    std::int64_t raw;
    std::int32_t score;
  };
  for (const Case& k : {Case{350, 100, 32}, Case{100, 100, 108}, Case{101, 100, 107}, Case{0, 0, 1},
                        Case{700, 350, 55}}) {
    EXPECT_EQ(zyl::api::normalise_score(*c, zyl::api::scale_by_lines(*c, k.raw, k.lines)), k.score)
        << k.lines << " lines, raw " << k.raw;
  }
  struct Border {
    std::int32_t a, b;
    std::int64_t v;
  };
  for (const Border& k : {Border{100, 110, 255}, Border{100, 114, 255}, Border{100, 115, 240},
                          Border{100, 130, 225}, Border{130, 100, 225}, Border{0, 255, 0}}) {
    EXPECT_EQ(zyl::api::weigh_by_border_density(255, k.a, k.b), k.v) << k.a << " vs " << k.b;
  }
}

TEST_F(Matching, BorderDensityWeighsTheFinalScore) {
  const auto print = random_print(45, 2);
  auto t = std::make_unique<FeatureRecord>();
  auto s = std::make_unique<FeatureRecord>();
  set_minutiae(*t, print);
  set_minutiae(*s, print);
  t->borderDensity = s->borderDensity = 100;
  const std::int32_t same = match(*t, *s, nullptr);
  s->borderDensity = 110;
  EXPECT_EQ(match(*t, *s, nullptr), same);
  s->borderDensity = 130;
  const std::int32_t reduced = match(*t, *s, nullptr);
  EXPECT_LT(reduced, same);
  EXPECT_NEAR(reduced + 1.36, (same + 1.36) * 225 / 255, 2.0);
  XWSetAdditionalParameter(20016, 0, context.get());
  EXPECT_EQ(match(*t, *s, nullptr), same);
}

TEST_F(Matching, GroupAndPerLineScoringBothFindTheMatch) {
  const auto print = random_print(45, 3);
  const auto copy = transformed(print, 8, 100, 100, 6, -6);
  const std::int32_t grouped = match(print, copy, nullptr);
  XWSetAdditionalParameter(20020, 0, context.get());
  const std::int32_t per_line = match(print, copy, nullptr);
  EXPECT_GT(grouped, 200);
  EXPECT_GT(per_line, 200);
}

// --- block grids -----------------------------------------------------------

std::unique_ptr<FeatureRecord> grid(std::uint32_t columns, std::uint32_t rows,
                                    const std::vector<std::uint8_t>& values) {
  auto f = std::make_unique<FeatureRecord>();
  std::fill(std::begin(f->blockDirections), std::end(f->blockDirections), 255);
  f->blockColumns = columns;
  f->blockRows = rows;
  for (std::uint32_t i = 0; i < rows; ++i)
    for (std::uint32_t j = 0; j < columns; ++j) f->blockDirections[i * 128 + j] = values[i * columns + j];
  return f;
}

std::uint8_t at(const FeatureRecord& f, int row, int column) { return f.blockDirections[row * 128 + column]; }

TEST(BlockGrid, RotationTurnsBlocksAndTheirOrientations) {
  // 4 x 4 blocks, turned a quarter (60 steps) about the middle (24, 24):
  // block (i, j) takes block (3 - j, i), orientation + 60 folded into 0..119.
  std::vector<std::uint8_t> values(16);
  for (int k = 0; k < 16; ++k) values[k] = static_cast<std::uint8_t>(k * 7);
  values[5] = 255;
  auto f = grid(4, 4, values);
  RotateRidgesOrientation(24, 24, 60, f.get());
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      const std::uint8_t v = values[(3 - j) * 4 + i];
      EXPECT_EQ(at(*f, i, j), v == 255 ? 255 : (v + 60) % 120) << i << ", " << j;
    }
}

TEST(BlockGrid, RotationSquaresTheGrid) {
  auto f = grid(3, 2, {10, 20, 30, 40, 50, 60});
  RotateRidgesOrientation(0, 0, 0, f.get());
  EXPECT_EQ(f->blockColumns, 3u);
  EXPECT_EQ(f->blockRows, 3u);
  const std::uint8_t expected[3][3] = {{10, 20, 30}, {40, 50, 60}, {255, 255, 255}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(at(*f, i, j), expected[i][j]);
  auto empty = grid(0, 0, {});
  RotateRidgesOrientation(0, 0, 30, empty.get());
  EXPECT_EQ(empty->blockRows, 0u);
}

TEST(BlockGrid, TranslationMovesWholeBlocksRounded) {
  struct Case {
    std::int32_t dx, dy;
    int bx, by;
  };
  const Case cases[] = {{0, 0, 0, 0},   {7, -7, 0, 0},   {8, -8, 1, -1}, {15, 16, 1, 1},
                        {24, -24, 2, -2}, {-23, 40, -1, 3}, {100, 0, 6, 0}};
  std::vector<std::uint8_t> values(25);
  for (int k = 0; k < 25; ++k) values[k] = static_cast<std::uint8_t>(k);
  for (const Case& k : cases) {
    auto f = grid(5, 5, values);
    TranslateRidgesOrientation(k.dx, k.dy, f.get());
    for (int i = 0; i < 5; ++i)
      for (int j = 0; j < 5; ++j) {
        const int si = i - k.by, sj = j - k.bx;
        const bool inside = si >= 0 && si < 5 && sj >= 0 && sj < 5;
        EXPECT_EQ(at(*f, i, j), inside ? values[si * 5 + sj] : 255) << k.dx << ", " << k.dy;
      }
  }
}

TEST(BlockGrid, ComparisonWeighsDifferencesOfOrientation) {
  struct Case {
    std::uint8_t a, b;
    std::int32_t sum, weight;
  };
  const Case cases[] = {
      {30, 30, 60, 60},  {30, 34, 60, 60},  {30, 35, 55, 60}, {10, 60, 10, 60},
      {10, 61, 0, 60},   {0, 119, 60, 60},  {0, 70, 10, 60},  {127, 3, 60, 60},
      {127, 7, 60, 60},  {127, 30, 37, 60}, {127, 60, 0, 60},  {255, 30, 0, 1},  {30, 255, 0, 1},
  };
  for (const Case& k : cases) {
    auto t = grid(1, 1, {k.a});
    auto s = grid(1, 1, {k.b});
    std::int32_t weight = -1;
    EXPECT_EQ(OrientationStructureComparison(t.get(), s.get(), &weight), k.sum) << +k.a << " vs " << +k.b;
    EXPECT_EQ(weight, k.weight) << +k.a << " vs " << +k.b;
  }
  auto none = grid(0, 0, {});
  std::int32_t weight = -1;
  EXPECT_EQ(OrientationStructureComparison(none.get(), none.get(), &weight), 1);
  EXPECT_EQ(weight, 1);
}

TEST_F(Matching, BlockGridComparisonLowersTheScoreOfDisagreeingGrids) {
  ASSERT_EQ(SetMatchFeatures(0, context.get()), XW_OK);
  const auto print = random_print(45, 5);
  auto t = std::make_unique<FeatureRecord>();
  auto s = std::make_unique<FeatureRecord>();
  set_minutiae(*t, print);
  set_minutiae(*s, print);
  for (auto* f : {t.get(), s.get()}) {
    f->blockColumns = 20;
    f->blockRows = 25;
    for (int k = 0; k < 128 * 128; ++k) f->blockDirections[k] = 40;
  }
  const std::int32_t agreeing = match(*t, *s, nullptr);
  EXPECT_GT(agreeing, 200);
  for (int k = 0; k < 128 * 128; ++k) s->blockDirections[k] = 100;  // 60 steps off everywhere
  EXPECT_EQ(match(*t, *s, nullptr), (2898 + 500) / 1000);  // nothing left but the offset
}

TEST_F(Matching, SurvivesDamagedRecords) {
  // Values a damaged template could decode into: counts beyond the tables,
  // 16-bit coordinates, angles up to 255, any block grid size.
  std::mt19937 rng(17);
  auto t = std::make_unique<FeatureRecord>();
  auto s = std::make_unique<FeatureRecord>();
  for (int round = 0; round < 6; ++round) {
    for (FeatureRecord* f : {t.get(), s.get()}) {
      std::uniform_int_distribution<std::int32_t> coord(0, round % 2 ? 65535 : 300), byte(0, 255);
      *f = FeatureRecord{};
      f->minutiaCount = round == 5 ? 100000 : std::uniform_int_distribution<std::int32_t>(-5, 200)(rng);
      for (int i = 0; i < ZYL_MAX_MINUTIAE; ++i) {
        f->minutiaX[i] = coord(rng);
        f->minutiaY[i] = coord(rng);
        f->minutiaAngle[i] = byte(rng);
        f->minutiaCurvature[i] = byte(rng) - 1;
      }
      f->singularCount = round == 4 ? 1000 : 3;
      for (int i = 0; i < ZYL_MAX_SINGULAR_POINTS; ++i) {
        f->singularKind[i] = byte(rng) % 3 - 1;
        f->singularX[i] = coord(rng);
        f->singularY[i] = coord(rng);
      }
      f->blockColumns = static_cast<std::uint32_t>(byte(rng));
      f->blockRows = static_cast<std::uint32_t>(byte(rng));
      for (auto& b : f->blockDirections) b = static_cast<std::uint8_t>(byte(rng));
      f->borderDensity = static_cast<std::uint8_t>(byte(rng));
    }
    XWSetAdditionalParameter(20019, 1, context.get());
    SetMatchFeatures(round % 3, context.get());
    MatchDetails d = long_details();
    const std::int32_t score = match(*t, *s, &d, 0);
    EXPECT_GE(score, 0);
    EXPECT_LE(d.pairCount, XW_DETAILS_MAX_PAIRS);
  }
}

TEST_F(Matching, ExtremeSettingsNeitherOverflowNorCrash) {
  // Tolerances, windows and factors at the top of their range.
  for (std::int32_t id : {20000, 20001, 20007, 20009, 20010, 20013, 20021, 20022})
    ASSERT_EQ(XWSetAdditionalParameter(id, INT32_MAX, context.get()), XW_OK) << id;
  ASSERT_EQ(XWSetAdditionalParameter(20008, 1, context.get()), XW_OK);
  ASSERT_EQ(XWSetAdditionalParameter(20011, 1, context.get()), XW_OK);
  ASSERT_EQ(XWSetAdditionalParameter(20019, 1, context.get()), XW_OK);
  ASSERT_EQ(SetMatchFeatures(0, context.get()), XW_OK);  // block grids and curvature too
  ASSERT_EQ(XWSetAdditionalParameter(20017, 1, context.get()), XW_OK);
  ASSERT_EQ(XWSetAdditionalParameter(20021, INT32_MAX, context.get()), XW_OK);
  const auto print = random_print(30, 8);
  auto t = std::make_unique<FeatureRecord>();
  set_minutiae(*t, print);
  t->blockColumns = t->blockRows = 10;
  t->singularCount = 1;
  t->singularKind[0] = 1;
  MatchDetails d = long_details();
  EXPECT_GE(match(*t, *t, &d, 0), 0);
  // Without a core and without curvature the pair score is the unweighted
  // one alone, whose base (L + A) * 600 / 1000 then exceeds int32.
  ASSERT_EQ(SetMatchFeatures(2, context.get()), XW_OK);
  t->singularCount = 0;
  EXPECT_GE(match(*t, *t, &d, 0), 0);
  EXPECT_GT(d.pairCount, 0);
  ASSERT_EQ(XWSetAdditionalParameter(20021, INT32_MIN, context.get()), XW_OK);
  EXPECT_EQ(match(*t, *t, &d, 0), 0);  // a negative final score reads 0
}

// Features of a real print, extracted with the context's settings.
std::unique_ptr<FeatureRecord> extract_print(const std::string& name, XWContext* context) {
  const zyl::test::GreyImage image = zyl::test::read_pgm(zyl::test::test_data(name));
  zyl::extract::OwnedByteImage rows(image.width, image.height);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) rows[y][x] = image.at(x, y);
  auto f = std::make_unique<FeatureRecord>();
  EXPECT_GE(ExtractFeatures(image.width, image.height, rows.get(), f.get(), context), 0) << name;
  return f;
}

TEST_F(Matching, SameFingerScoresClearlyAboveOtherFingers) {
  // Two impressions of each of two fingers. Both directions are matched and
  // averaged inside the verification window, as a verification does.
  const char* names[] = {"fvc2000_101_1.pgm", "fvc2000_101_4.pgm", "fvc2000_102_1.pgm", "fvc2000_102_2.pgm"};
  std::vector<std::unique_ptr<FeatureRecord>> prints;
  for (const char* name : names) prints.push_back(extract_print(name, context.get()));
  const auto verify = [&](int a, int b) {
    const std::int32_t s1 = match(*prints[a], *prints[b], nullptr);
    if (s1 < 20 || s1 > 500) return s1;
    return (s1 + match(*prints[b], *prints[a], nullptr)) / 2;
  };
  const std::int32_t genuine[] = {verify(0, 1), verify(2, 3)};
  const std::int32_t impostor[] = {verify(0, 2), verify(0, 3), verify(1, 2), verify(1, 3)};
  for (std::int32_t g : genuine) {
    EXPECT_GE(g, 100);
    for (std::int32_t i : impostor) EXPECT_GT(g, i + 50);
  }
  for (std::int32_t i : impostor) EXPECT_LT(i, 47);  // below the default match threshold
}

TEST(Zylmax, IsTheLargerValue) {
  EXPECT_EQ(Zylmax(3, 5), 5);
  EXPECT_EQ(Zylmax(5, 3), 5);
  EXPECT_EQ(Zylmax(-2, -2), -2);
  EXPECT_EQ(Zylmax(INT32_MIN, 0), 0);
}

TEST(MatchFeaturesArguments, AreChecked) {
  std::unique_ptr<XWContext, ContextDeleter> c(XWCreateContext());
  EXPECT_EQ(MatchFeatures(nullptr, nullptr, 47, nullptr, c.get()), -4);
  EXPECT_EQ(MatchFeatures(nullptr, nullptr, 47, nullptr, nullptr), -3);
}

}  // namespace

namespace {

// The pair score's distance: the small-sum table and the general function
// agree on every triple whose sum of squares reaches past the table, and
// large or negative components still get the general answer.
TEST(PairDistance, EqualsComputeDistance3D) {
  for (std::int32_t a = 0; a < 70; ++a)
    for (std::int32_t b = 0; b < 70; ++b)
      for (std::int32_t c = 0; c < 70; ++c)
        ASSERT_EQ(zyl::api::pair_distance(a, b, c), ComputeDistance3D(a, b, c)) << a << " " << b << " " << c;
  for (const auto& [a, b, c] : {std::array<std::int32_t, 3>{8192, 0, 0}, {8193, 0, 0}, {5000, 5000, 5000},
                                {-1, 0, 0}, {0, -3, 2}, {INT32_MAX, 1, 1}})
    EXPECT_EQ(zyl::api::pair_distance(a, b, c), ComputeDistance3D(a, b, c)) << a << " " << b << " " << c;
}

}  // namespace

namespace {

// wrap240 is the non-negative remainder for every int, through its fast
// path for differences of angles and its general one alike.
TEST(Wrap240, IsTheNonNegativeRemainder) {
  const auto reference = [](std::int64_t a) { return static_cast<std::int32_t>(((a % 240) + 240) % 240); };
  for (std::int32_t a = -1000; a <= 1000; ++a) ASSERT_EQ(zyl::api::wrap240(a), reference(a)) << a;
  for (const std::int32_t a : {INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1, -240 * 1000, 240 * 1000 + 7})
    EXPECT_EQ(zyl::api::wrap240(a), reference(a)) << a;
}

}  // namespace

namespace {

// The candidate scan's lists of passing lines (eight lanes of 16 bits where
// there is SSE2) and their plain form agree with the 32-bit tests on values
// across the whole 16-bit range they accept, for tolerances inside and far
// outside int16, and on windows of every length and offset.
TEST(PassingLines, AgreeWithThe32BitTests) {
  const auto fold = [](std::int64_t a, std::int64_t b) {
    const std::int64_t d = a > b ? a - b : b - a;
    return d > 119 ? 240 - d : d;
  };
  constexpr std::int32_t kLimit = zyl::api::kNarrowLimit;
  std::mt19937 rng(32);
  std::uniform_int_distribution<std::int32_t> angle(0, 239), length(0, 8193), any(-kLimit, kLimit), pick(0, 9);
  // Mostly the values the line builders give, with extremes mixed in.
  const auto value = [&](std::uniform_int_distribution<std::int32_t>& usual) {
    switch (pick(rng)) {
      case 0: return any(rng);
      case 1: return pick(rng) < 5 ? kLimit : -kLimit;
      default: return usual(rng);
    }
  };
  const std::int32_t tolerances[] = {INT32_MIN, -32769, -32768, -1, 0, 1, 7, 13, 60, 119, 120, 121, 200,
                                     32766, 32767, 32768, INT32_MAX};
  constexpr std::int32_t kLines = 40;
  std::vector<std::int16_t> lengths(kLines + 7), firsts(kLines + 7), seconds(kLines + 7);
  const zyl::api::NarrowColumns columns{lengths.data(), firsts.data(), seconds.data()};
  std::vector<std::int32_t> simd(kLines), plain(kLines), expected, expected_agreeing;
  for (int round = 0; round < 4000; ++round) {
    for (std::int32_t k = 0; k < kLines + 7; ++k) {
      lengths[k] = static_cast<std::int16_t>(value(length));
      firsts[k] = static_cast<std::int16_t>(value(angle));
      seconds[k] = static_cast<std::int16_t>(value(angle));
    }
    const zyl::api::NarrowLine t{value(length), value(angle), value(angle)};
    const std::int32_t A = round % 3 ? std::uniform_int_distribution<std::int32_t>(0, 60)(rng)
                                     : tolerances[round / 3 % std::size(tolerances)];
    const std::int32_t L = round % 5 ? std::uniform_int_distribution<std::int32_t>(0, 2000)(rng)
                                     : tolerances[round / 5 % std::size(tolerances)];
    const std::int32_t first = std::uniform_int_distribution<std::int32_t>(0, kLines)(rng);
    const std::int32_t last = std::uniform_int_distribution<std::int32_t>(first, kLines)(rng);
    expected.clear();
    for (std::int32_t at = first; at < last; ++at) {
      const std::int64_t dl = std::llabs(std::int64_t{t.length} - lengths[at]);
      if (fold(t.second, seconds[at]) < A && dl < L && fold(t.first, firsts[at]) < A) expected.push_back(at);
    }
    const auto listed = [&](std::vector<std::int32_t>& out, std::int32_t count) {
      return std::vector<std::int32_t>(out.begin(), out.begin() + count);
    };
    const zyl::api::PassingLines scan(A, L);
    ASSERT_EQ(listed(simd, scan.list(columns, first, last, t, false, simd.data())), expected) << "round " << round;
    ASSERT_EQ(listed(plain, scan.list_plain(columns, first, last, t, false, plain.data())), expected)
        << "round " << round;
    // Told that the first angles agree, both leave them untested.
    expected_agreeing.clear();
    for (std::int32_t at = first; at < last; ++at) {
      const std::int64_t dl = std::llabs(std::int64_t{t.length} - lengths[at]);
      if (fold(t.second, seconds[at]) < A && dl < L) expected_agreeing.push_back(at);
    }
    ASSERT_EQ(listed(simd, scan.list(columns, first, last, t, true, simd.data())), expected_agreeing)
        << "round " << round;
    ASSERT_EQ(listed(plain, scan.list_plain(columns, first, last, t, true, plain.data())), expected_agreeing)
        << "round " << round;
  }
}

TEST(PassingLines, TakeValuesWithinTheNarrowLimitOnly) {
  constexpr std::int32_t K = zyl::api::kNarrowLimit;
  for (const std::int32_t v : {0, 1, -1, 239, K, -K})
    EXPECT_TRUE(zyl::api::fits_narrow(v, 0, v) && zyl::api::fits_narrow(0, v, 0)) << v;
  for (const std::int32_t v : {K + 1, -K - 1, 32767, -32768, INT32_MAX, INT32_MIN})
    EXPECT_FALSE(zyl::api::fits_narrow(v, 0, 0) || zyl::api::fits_narrow(0, v, 0) || zyl::api::fits_narrow(0, 0, v))
        << v;
}

// A sample line whose values do not fit the 16-bit tests sends the scan
// through the 32-bit tests; a line of that kind that no test line can pair
// with leaves the outcome as it was without it. The same holds with lines
// filed in bins other than those of their first angles (the scan then tests
// the first angles of the whole window).
TEST_F(Matching, LinesBeyondTheNarrowTestsScoreAsBefore) {
  const auto print = random_print(50, 7);
  const auto copy = transformed(print, 12, 170, 210, 6, -4);
  auto a = std::make_unique<FeatureRecord>();
  auto b = std::make_unique<FeatureRecord>();
  set_minutiae(*a, print);
  set_minutiae(*b, copy);
  std::vector<std::int32_t> outcome[2][2];
  const auto run = [&](bool misfiled, bool add_wide_line) {
    std::fill(std::begin(md->rotationFlags), std::end(md->rotationFlags), 1);
    test().features = *a;
    sample().features = *b;
    FillTestFeaturesMatchData(context.get(), &test());
    FillSampleFeaturesMatchData(context.get(), &sample(), test().lengthBound, 0);
    // The first sample line made too long to pair with any test line:
    // within the 16-bit range, or beyond it through a copy in an unused
    // slot of the line table that takes its place in its bin.
    GraphLine& first = sample().lines[0];
    first.length = 16000;
    if (add_wide_line) {
      GraphLine& wide = sample().lines[sample().lineCount];
      wide = first;
      wide.length = 30000;
      GraphLine** bin = sample().bins[first.firstAngle];
      ASSERT_EQ(bin[0], &first);
      bin[0] = &wide;
    }
    // Every third line's first angle turned by three steps, its bin kept.
    if (misfiled)
      for (std::int32_t i = 1; i < sample().lineCount; i += 3)
        sample().lines[i].firstAngle = (sample().lines[i].firstAngle + 3) % 240;
    // The first stage's score (the details of a match stopped after it)
    // and the outcome of the full match.
    MatchDetails first_stage = long_details();
    MatchFeatures(&test(), &sample(), INT32_MAX, &first_stage, context.get());
    MatchDetails d = long_details();
    const std::int32_t score = MatchFeatures(&test(), &sample(), 0, &d, context.get());
    outcome[misfiled][add_wide_line] = {first_stage.score, score, d.rotation, d.shiftX, d.shiftY, d.pairCount};
  };
  for (const bool misfiled : {false, true}) {
    run(misfiled, false);
    run(misfiled, true);
    EXPECT_GT(outcome[misfiled][0][1], 100);
    EXPECT_EQ(outcome[misfiled][1], outcome[misfiled][0]) << "misfiled " << misfiled;
  }
}

}  // namespace
