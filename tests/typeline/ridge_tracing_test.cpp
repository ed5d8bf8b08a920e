// Ridge tracing and the minutiae made from its walks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_math.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Labels = std::vector<std::uint16_t>;

constexpr int W = 160, H = 160;

// Horizontal ridges (dark, 10) every 10 rows at y = 5, 15, ...; valleys
// rise to 250 between them. With end_at >= 0 the ridge at y = 75 stops at
// that column and its neighbours enclose one wide valley.
Bytes ridges(int end_at = -1) {
  Bytes grey(W * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int d = std::abs(y % 10 - 5);
      if (end_at >= 0 && x > end_at && std::abs(y - 75) < 10) d = 10 - std::abs(y - 75);
      grey[y * W + x] = static_cast<std::uint8_t>(10 + 24 * d);
    }
  return grey;
}

MinutiaCandidate candidate(int x, int y, int direction, int quality = 40, int type = 0) {
  return {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), static_cast<std::int16_t>(direction),
          static_cast<std::uint8_t>(quality), static_cast<std::uint8_t>(type)};
}

TEST(TypelineRidgeTracing, StraightLinePointsFromTheLeftEnd) {
  struct Case {
    int x1, y1, x2, y2;
    std::vector<std::pair<int, int>> points;
  };
  const Case cases[] = {
      {0, 0, 4, 2, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
      {4, 2, 0, 0, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},  // from the smaller x
      {2, 0, 0, 3, {{0, 3}, {1, 2}, {1, 1}, {2, 0}}},          // steep, upward
      {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},          // diagonal steps along x
      {5, 7, 5, 7, {{5, 7}}},
      {3, 9, 3, 6, {{3, 9}, {3, 8}, {3, 7}, {3, 6}}},          // equal x: from the first end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x1) + "," + std::to_string(c.y1) + " - " + std::to_string(c.x2) + "," + std::to_string(c.y2));
    TypelineSection s{};
    ASSERT_EQ(get_point_section(c.x1, c.y1, c.x2, c.y2, &s), static_cast<int>(c.points.size()));
    for (std::size_t i = 0; i < c.points.size(); ++i) {
      EXPECT_EQ(s.x[i], c.points[i].first) << i;
      EXPECT_EQ(s.y[i], c.points[i].second) << i;
    }
  }
  TypelineSection s{};
  EXPECT_EQ(get_point_section(0, 0, 300, 0, &s), TYPELINE_SECTION_POINTS);  // the buffer bounds the line
}

TEST(TypelineRidgeTracing, NineTablesFollowTheirFormula) {
  for (int i = 0; i < 240; ++i) {
    const double t = i * 3.14159 / 120;
    const int c = (i == 60 || i == 180) ? 0 : static_cast<int>(std::floor(9 * std::cos(t)));
    EXPECT_EQ(_9cos_table[i], c) << i;
    EXPECT_EQ(_9sin_table[i], static_cast<int>(std::floor(9 * std::sin(t)))) << i;
  }
}

TEST(TypelineRidgeTracing, ProfileMinimumNearestToThePoint) {
  TypelineSection s{};
  s.count = 9;
  const std::int16_t values[9] = {50, 40, 30, 40, 50, 40, 30, 40, 50};
  for (int k = 0; k < 9; ++k) {
    s.x[k] = static_cast<std::int16_t>(k);
    s.y[k] = 0;
    s.value[k] = values[k];
  }
  EXPECT_EQ(get_max_index({1, 0}, &s, 1), 2);
  EXPECT_EQ(get_max_index({7, 0}, &s, 1), 6);
  EXPECT_EQ(get_max_index({4, 0}, &s, 1), 6);   // a tie goes to the later one
  EXPECT_EQ(get_max_index({4, 0}, &s, 2), -1);  // margin 2: index 3..5 only, 6 is out
  s.count = 4;  // fewer than 2 * margin + 3 points
  EXPECT_EQ(get_max_index({1, 0}, &s, 1), -1);
}

TEST(TypelineRidgeTracing, StopRules) {
  Labels labels(W * H, 0);
  labels[20 * W + 30] = 9;
  const TypelinePoint recent[3] = {{1, 1}, {2, 2}, {3, 3}};
  struct Case {
    TypelinePoint q;
    int expected, met;
  };
  for (const Case c : {Case{{1000, 1000}, 1, 0}, Case{{30, 20}, 3, 9}, Case{{2, 2}, -2, 0}, Case{{40, 40}, 0, 0},
                       Case{{-1, 5}, 1, 0}}) {
    SCOPED_TRACE(std::to_string(c.q.x) + "," + std::to_string(c.q.y));
    int met = 0;
    EXPECT_EQ(check_stop_criteria(c.q, labels.data(), W, H, &met, recent, 3), c.expected);
    EXPECT_EQ(met, c.met);
  }
}

TEST(TypelineRidgeTracing, DrawingWidensAcrossTheSegment) {
  Labels labels(W * H, 0);
  labelling({10, 10}, {14, 10}, labels.data(), W, H, 4);  // flat: above and below
  labelling({50, 10}, {50, 14}, labels.data(), W, H, 6);  // steep: left and right
  labelling({0, 30}, {3, 30}, labels.data(), W, H, 8);    // the image border is not drawn
  EXPECT_EQ(std::count(labels.begin(), labels.end(), 4), 15);
  EXPECT_EQ(labels[9 * W + 12], 4);
  EXPECT_EQ(labels[11 * W + 12], 4);
  EXPECT_EQ(std::count(labels.begin(), labels.end(), 6), 15);
  EXPECT_EQ(labels[12 * W + 49], 6);
  EXPECT_EQ(labels[30 * W + 0], 0);
  EXPECT_EQ(labels[30 * W + 1], 8);
}

TEST(TypelineRidgeTracing, FindsARidgeEndingAndPointsBackAlongTheRidge) {
  const Bytes grey = ridges(100);
  const Bytes orientation(W * H, 0);
  Labels labels(W * H, 0);
  MinutiaCandidateList list{};
  int counter = 1;
  ASSERT_EQ(start_trace({60, 75}, grey.data(), labels.data(), orientation.data(), W, H, &list, &counter), 1);
  EXPECT_EQ(counter, 2);
  ASSERT_EQ(list.count, 1);  // the backward walk leaves the image: no entry
  EXPECT_EQ(list.entries[0].x, 100);
  EXPECT_EQ(list.entries[0].y, 75);
  EXPECT_EQ(list.entries[0].direction, 120);
  EXPECT_EQ(list.entries[0].type, 0);
  EXPECT_GT(std::count(labels.begin(), labels.end(), 1), 100);

  // Started anywhere, the whole grid finds that one ending and nothing else.
  MinutiaCandidateList all{};
  Labels fresh(W * H, 7);
  get_mp_points(grey.data(), fresh.data(), orientation.data(), W, H, &all);
  ASSERT_EQ(all.count, 1);
  EXPECT_EQ(all.entries[0].x, 100);
  EXPECT_EQ(all.entries[0].y, 75);
}

TEST(TypelineRidgeTracing, MeetingATracedRidgeIsABifurcation) {
  const Bytes grey = ridges();
  const Bytes orientation(W * H, 0);
  Labels labels(W * H, 0);
  labelling({100, 60}, {100, 90}, labels.data(), W, H, 5);
  MinutiaCandidateList list{};
  int counter = 7;
  ASSERT_EQ(start_trace({60, 75}, grey.data(), labels.data(), orientation.data(), W, H, &list, &counter), 1);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.entries[0].type, 1);
  EXPECT_EQ(list.entries[0].x, 99);
  EXPECT_EQ(list.entries[0].y, 75);
  // The end direction is refined on the met ridge about 20 pixels back
  // along the walk; a ridge met square on has no branch there, so the
  // entry comes out marked for removal.
  EXPECT_EQ(list.entries[0].direction, -1);
  // A start point next to a traced pixel is refused and uses no label.
  EXPECT_EQ(start_trace({62, 76}, grey.data(), labels.data(), orientation.data(), W, H, &list, &counter), 0);
  EXPECT_EQ(counter, 8);
}

TEST(TypelineRidgeTracing, BifurcationDirectionLeansTowardsTheMetBranch) {
  const Bytes grey = ridges();
  const Bytes orientation(W * H, 0);
  Labels labels(W * H, 0);
  // A traced branch that joins the ridge at y = 75 from the upper left.
  labelling({100, 75}, {80, 68}, labels.data(), W, H, 5);
  labelling({80, 68}, {60, 61}, labels.data(), W, H, 5);
  MinutiaCandidateList list{};
  int counter = 7;
  ASSERT_EQ(start_trace({50, 75}, grey.data(), labels.data(), orientation.data(), W, H, &list, &counter), 1);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.entries[0].type, 1);
  // Between straight back along the ridge (120) and along the branch
  // (about 133).
  EXPECT_GT(list.entries[0].direction, 120);
  EXPECT_LT(list.entries[0].direction, 133);
}

TEST(TypelineRidgeTracing, CandidateListStopsCountingAt299) {
  const Bytes grey = ridges(100);
  const Bytes orientation(W * H, 0);
  Labels labels(W * H, 0);
  MinutiaCandidateList list{};
  list.count = 299;
  int counter = 1;
  ASSERT_EQ(start_trace({60, 75}, grey.data(), labels.data(), orientation.data(), W, H, &list, &counter), 1);
  EXPECT_EQ(list.count, 299);
  EXPECT_EQ(list.entries[299].x, 100);  // written to the last slot only
}

TEST(TypelineMinutiae, BrokenRidgeEnds) {
  struct Case {
    int x1, y1, d1, x2, y2, d2, expected;
  };
  const Case cases[] = {
      {50, 50, 120, 60, 50, 0, 1},    // 10 apart, pointing away from each other
      {50, 50, 120, 64, 50, 0, 0},    // 14 apart in x
      {50, 50, 0, 60, 50, 120, 0},    // pointing at each other
      {50, 50, 150, 53, 53, 30, 1},   // diagonal
      {50, 50, 98, 56, 50, 22, 1},    // within 7: differences of 98 pass 97
      {50, 50, 98, 57, 50, 22, 0},    // 7 apart: 100 needed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x2) + "," + std::to_string(c.y2));
    EXPECT_EQ(check_false_mp(c.x1, c.y1, c.d1, c.x2, c.y2, c.d2), c.expected);
  }
}

struct FilterFixture {
  Bytes orientation = Bytes(W * H, 30);
  CoreList cores{};
  MinutiaCandidateList list{};
  void add(const MinutiaCandidate& e) { list.entries[list.count++] = e; }
  bool kept(int x, int y) const {
    for (int i = 0; i < list.count; ++i)
      if (list.entries[i].x == x && list.entries[i].y == y) return true;
    return false;
  }
  void run() { filter_mp_points(&list, &cores, orientation.data(), W, H); }
};

TEST(TypelineMinutiae, FilterRemovesCrowdsBordersAndCoreNeighbours) {
  {
    FilterFixture f;  // 6 others within 16 pixels: removed; 5: kept
    const int around[6][2] = {{10, 0}, {-10, 0}, {0, 10}, {0, -10}, {7, 7}, {-7, -7}};
    f.add(candidate(40, 40, 10, 40, 1));
    for (const auto& a : around) f.add(candidate(40 + a[0], 40 + a[1], 10, 40, 1));
    f.add(candidate(120, 40, 10, 40, 1));
    for (int k = 0; k < 5; ++k) f.add(candidate(120 + around[k][0], 40 + around[k][1], 10, 40, 1));
    f.run();
    EXPECT_FALSE(f.kept(40, 40));
    EXPECT_TRUE(f.kept(120, 40));
  }
  {
    FilterFixture f;
    f.add(candidate(7, 80, 10));    // 7 from the left border
    f.add(candidate(8, 80 + 40, 10));
    f.add(candidate(152, 40, 10));  // x >= w - 8
    f.add(candidate(80, 80, 10));
    f.orientation[(80 - 8 + 14) * W + 80 - 8 + 14] = 255;  // a background sample of (80, 80)
    f.add(candidate(100, 100, 10));
    f.run();
    EXPECT_FALSE(f.kept(7, 80));
    EXPECT_TRUE(f.kept(8, 120));
    EXPECT_FALSE(f.kept(152, 40));
    EXPECT_FALSE(f.kept(80, 80));
    EXPECT_TRUE(f.kept(100, 100));
  }
  {
    FilterFixture f;
    f.cores.count = 2;
    f.cores.x[0] = 50, f.cores.y[0] = 50, f.cores.kind[0] = 1, f.cores.direction[0] = 10;
    f.cores.x[1] = 110, f.cores.y[1] = 110, f.cores.kind[1] = 0, f.cores.direction[1] = 255;
    f.add(candidate(60, 60, 10));    // 200 from the core
    f.add(candidate(70, 60, 10));    // 500
    f.add(candidate(120, 120, 10));  // near the delta: kept
    f.run();
    EXPECT_FALSE(f.kept(60, 60));
    EXPECT_TRUE(f.kept(70, 60));
    EXPECT_TRUE(f.kept(120, 120));
  }
  {
    FilterFixture f;  // twins within 4 pixels go, the ends of a broken ridge go
    f.add(candidate(40, 100, 10, 40, 1));
    f.add(candidate(42, 102, 10, 40, 1));
    f.add(candidate(100, 100, 120));
    f.add(candidate(110, 100, 0));
    f.add(candidate(130, 130, 10));
    f.run();
    EXPECT_EQ(f.list.count, 1);
    EXPECT_TRUE(f.kept(130, 130));
  }
}

TEST(TypelineMinutiae, SelectionKeepsTheFiftyBest) {
  const Bytes orientation(W * H, 30);
  MinutiaCandidateList list{};
  for (int k = 0; k < 60; ++k)  // qualities 10..59 and ten of 63, spread out
    list.entries[list.count++] = candidate(10 + (k % 10) * 14, 10 + (k / 10) * 20, k, k < 50 ? 10 + k : 63, k % 2);
  TypelineMinutiaList out{};
  arrange_mp(&list, &out, orientation.data(), W, H);
  ASSERT_EQ(out.count, 50);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(out.minutiae[k].quality, 63);
  for (int k = 1; k < 50; ++k) EXPECT_GE(out.minutiae[k - 1].quality, out.minutiae[k].quality);
  for (int k = 0; k < 50; ++k) {
    EXPECT_GE(out.minutiae[k].quality, 11);  // quality 10 never reaches the record
    EXPECT_EQ(out.minutiae[k].curvature, 0);  // a uniform field does not curve
  }
  EXPECT_EQ(out.minutiae[49].quality, 20);
}

TEST(TypelineMinutiae, OpposedLowQualityPairsGo) {
  MinutiaCandidateList list{};
  list.entries[list.count++] = candidate(50, 50, 0, 30);
  list.entries[list.count++] = candidate(55, 50, 110, 30);   // 25 away, 110 apart
  list.entries[list.count++] = candidate(80, 50, 0, 30);
  list.entries[list.count++] = candidate(85, 50, 110, 40);   // good quality: stays
  list.entries[list.count++] = candidate(120, 50, 0, 30);
  list.entries[list.count++] = candidate(128, 50, 110, 30);  // 64 away
  filter_mp_points2(&list);
  ASSERT_EQ(list.count, 4);
  EXPECT_EQ(list.entries[0].x, 80);
  EXPECT_EQ(list.entries[1].x, 85);
  EXPECT_EQ(list.entries[2].x, 120);
}

TEST(TypelineMinutiae, QualityWindowOnTheReliabilityGrid) {
  const int w = 40, h = 30;
  Bytes grid((h / 2) * (w / 2));
  for (int r = 0; r < h / 2; ++r)
    for (int c = 0; c < w / 2; ++c) grid[r * (w / 2) + c] = static_cast<std::uint8_t>(c < 10 ? 20 : 200);
  MinutiaCandidateList list{};
  list.entries[list.count++] = candidate(8, 14, 0);   // columns 0 .. 9: all 20
  list.entries[list.count++] = candidate(9, 14, 0);   // columns 0 .. 9 ((9 + 10) / 2 = 9)
  list.entries[list.count++] = candidate(10, 14, 0);  // columns 0 .. 10: one column of 63
  list.entries[list.count++] = candidate(39, 29, 0);  // clipped at the grid's last cell
  get_point_value(&list, grid.data(), w, h);
  EXPECT_EQ(list.entries[0].quality, 20);
  EXPECT_EQ(list.entries[1].quality, 20);
  EXPECT_EQ(list.entries[2].quality, (10 * 20 + 63) / 11);
  EXPECT_EQ(list.entries[3].quality, 63);
}

TEST(TypelineMinutiae, CurvatureOfTheOrientationAround) {
  Bytes orientation(W * H, 30);
  EXPECT_EQ(get_point_curve(80, 80, orientation.data(), W, H), 0);
  // Half of the samples turned by 60: 60 * 255 / 120, halved.
  for (int y = 0; y < H; ++y)
    for (int x = 80; x < W; ++x) orientation[y * W + x] = 90;
  orientation[80 * W + 80] = 30;
  const int c = get_point_curve(80, 80, orientation.data(), W, H);
  EXPECT_EQ(c, std::min(127, 66 * 60 * 255 / (121 * 60)));
  // Flat and background samples do not count.
  Bytes flat(W * H, 127);
  flat[80 * W + 80] = 3;
  EXPECT_EQ(get_point_curve(80, 80, flat.data(), W, H), 0);
}

TEST(TypelineMinutiae, DensityOfTracedEdges) {
  const int w = 40, h = 40;
  Bytes orientation(1600, 30);
  Labels labels(1600, 0);
  CoreList none{};
  EXPECT_EQ(get_density(&none, orientation.data(), 64, labels.data(), w, h), 0);  // nothing traced
  for (int x = 0; x < w; ++x) labels[20 * w + x] = 3;  // one traced row
  // Window columns and rows 1 .. 37: 37 x 37 pixels, rows 19..21 touch the trace.
  EXPECT_EQ(get_density(&none, orientation.data(), 64, labels.data(), w, h), 3 * 37 * 255 / (37 * 37));
}

}  // namespace
