// Cores and deltas, and the type lines traced from the cores.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_template.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Orientation field of one singular point at (cx, cy): a core for
// half the polar angle (turned by alpha degrees), a delta for minus half.
Bytes singular_field(int w, int h, double cx, double cy, bool core, double alpha = 0) {
  Bytes map(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double t = std::atan2(y - cy, x - cx) * 180 / M_PI - alpha;
      const double o = std::fmod((core ? t : -t) / 2 / 1.5 + 1200, 120);
      map[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(std::lround(o) % 120);
    }
  return map;
}

int circular(int a, int b) {
  const int d = std::abs(a - b) % 240;
  return d > 120 ? 240 - d : d;
}

TEST(TypelineSingularPoints, FindsACoreAndItsDirection) {
  struct Case {
    double alpha;
    int direction;  // -alpha / 1.5
  };
  const int w = 160, h = 160;
  for (const Case c : {Case{0, 0}, Case{45, 210}, Case{90, 180}, Case{180, 120}, Case{270, 60}}) {
    SCOPED_TRACE(c.alpha);
    const Bytes map = singular_field(w, h, 70, 90, true, c.alpha);
    CoreList cores{};
    get_core_points(&cores, map.data(), w, h);
    ASSERT_EQ(cores.count, 1);
    EXPECT_EQ(cores.kind[0], 1);
    EXPECT_LE(std::abs(cores.x[0] - 70), 2);
    EXPECT_LE(std::abs(cores.y[0] - 90), 2);
    EXPECT_LE(circular(cores.direction[0], c.direction), 3);
  }
}

TEST(TypelineSingularPoints, FindsADelta) {
  const int w = 160, h = 160;
  const Bytes map = singular_field(w, h, 80, 80, false);
  CoreList cores{};
  get_core_points(&cores, map.data(), w, h);
  ASSERT_EQ(cores.count, 1);
  EXPECT_EQ(cores.kind[0], 0);
  EXPECT_EQ(cores.direction[0], 255);
  EXPECT_LE(std::abs(cores.x[0] - 80), 2);
  EXPECT_LE(std::abs(cores.y[0] - 80), 2);
  EXPECT_EQ(get_orient_core(80, 80, map.data(), w, h), -2);
}

TEST(TypelineSingularPoints, GapsFacingTheImageCentreRejectACandidate) {
  const int w = 160, h = 160;
  const Bytes clean = singular_field(w, h, 60, 80, true);
  const int direction = get_orient_core(60, 80, clean.data(), w, h);
  ASSERT_GE(direction, 0);
  auto with_gap = [&](int gx, int gy) {
    Bytes map = clean;
    for (int y = gy - 3; y <= gy + 3; ++y)
      for (int x = gx - 3; x <= gx + 3; ++x) map[static_cast<std::size_t>(y) * w + x] = 255;
    return get_orient_core(60, 80, map.data(), w, h);
  };
  // The centre (80, 80) lies in direction 0: a gap 30 pixels that way cuts
  // the profile where the print goes on.
  EXPECT_EQ(with_gap(90, 80), -1);
  // On the far side the samples fall back to a quarter of the radius.
  EXPECT_EQ(with_gap(30, 80), direction);
  // A gap there too cuts the profile.
  Bytes map = clean;
  for (int x = 20; x <= 55; ++x) map[80 * w + x] = 255;
  EXPECT_EQ(get_orient_core(60, 80, map.data(), w, h), -1);
}

TEST(TypelineSingularPoints, ParallelRidgesHaveNoSingularPoint) {
  const int w = 96, h = 96;
  Bytes map(static_cast<std::size_t>(w) * h, 40);
  CoreList cores{};
  cores.count = 3;
  get_core_points(&cores, map.data(), w, h);
  EXPECT_EQ(cores.count, 0);
  int n = 0;
  std::int16_t blocks[64];
  std::uint8_t kinds[64];
  get_singular_block(map.data(), w, h, &n, blocks, kinds);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(get_orient_core(48, 48, map.data(), w, h), -1);  // a flat profile
}

TEST(TypelineSingularPoints, SingularBlocksNextToBackgroundAddTheirOpenNeighbour) {
  const int w = 160, h = 160;
  Bytes map = singular_field(w, h, 76, 76, true);
  // Background from column 96 on: block column 12 and beyond.
  for (int y = 0; y < h; ++y)
    for (int x = 96; x < w; ++x) map[static_cast<std::size_t>(y) * w + x] = 255;
  int n = 0;
  std::int16_t blocks[64];
  std::uint8_t kinds[64];
  get_singular_block(map.data(), w, h, &n, blocks, kinds);
  ASSERT_GT(n, 0);
  bool east_neighbour = false;
  for (int i = 0; i + 1 < n; ++i)
    if (blocks[i + 1] == blocks[i] + 1 && kinds[i] == kinds[i + 1]) east_neighbour = true;
  EXPECT_TRUE(east_neighbour);
  EXPECT_LE(n, 64);
}

TEST(TypelineSingularPoints, DeviationAveragesTheClippedWindow) {
  const int w = 40, h = 40;
  Bytes map(1600, 100);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) map[y * w + x] = 30;
  map[0] = 0;
  // 143 pixels differ by 30 from the centre value 0, nothing else counts.
  EXPECT_EQ(get_deviation(0, 0, 12, map.data(), w, h), 143 * 30 / 144);
  // Differences above 60 fold back: 0 against 100 counts as 20.
  EXPECT_EQ(get_deviation(20, 20, 1, map.data(), w, h), 0);
  EXPECT_EQ(get_deviation(0, 0, 0, map.data(), w, h), -1);  // empty window
  EXPECT_EQ(get_deviation(40, 0, 3, map.data(), w, h), -1);  // outside
}

TEST(TypelineSingularPoints, CandidatesMergeWithinFifteenPixels) {
  std::int16_t xs[10], ys[10], scores[10];
  int m = 0;
  check_core_cand(50, 50, 20, xs, ys, scores, &m);
  check_core_cand(60, 60, 30, xs, ys, scores, &m);  // 200 away: replaces (higher score)
  EXPECT_EQ(m, 1);
  EXPECT_EQ(xs[0], 60);
  EXPECT_EQ(scores[0], 30);
  check_core_cand(60, 75, 99, xs, ys, scores, &m);  // 225 away: a new candidate
  EXPECT_EQ(m, 2);
  check_core_cand(61, 61, 10, xs, ys, scores, &m);  // near the first, lower: kept as is
  EXPECT_EQ(m, 2);
  EXPECT_EQ(xs[0], 60);
  for (int k = 0; k < 20; ++k) check_core_cand(100 * k, 0, 11, xs, ys, scores, &m);
  EXPECT_EQ(m, 10);  // the list holds 10
}

TEST(TypelineSingularPoints, OutOfPointNearBordersAndUndefinedAreas) {
  const int w = 60, h = 60;
  Bytes map(3600, 30);
  map[50 * w + 50] = 127;
  struct Case {
    int x, y, expected;
  };
  for (const Case c : {Case{30, 30, 0}, Case{14, 30, 1}, Case{15, 30, 0}, Case{45, 30, 1}, Case{30, 44, 0},
                       Case{35, 35, 1}, Case{34, 35, 0}}) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(check_outof_point(c.x, c.y, 15, map.data(), w, h), c.expected);
  }
}

TEST(TypelineSingularPoints, DirectionRefinement) {
  std::int32_t S[240] = {};
  struct Case {
    int kmin, valley, expected;
  };
  // Two peaks: the mean of the minimum and the valley on the short arc.
  for (const Case c : {Case{10, 50, 30}, Case{230, 10, 0}, Case{10, 230, 0}, Case{100, 151, -1}, Case{100, 150, 125}}) {
    SCOPED_TRACE(c.kmin);
    EXPECT_EQ(correct_orient_core(c.kmin, S, 0, 0, 2, c.valley), c.expected);
  }
  // One peak: centred between the first samples above 80 on each side.
  for (int k = 0; k < 240; ++k) S[k] = 0;
  S[5] = 81;    // 15 to the left of 20
  S[45] = 81;   // 25 to the right
  EXPECT_EQ(correct_orient_core(20, S, 0, 0, 1, -1), 25);
  S[45] = 0;
  EXPECT_EQ(correct_orient_core(20, S, 0, 0, 1, -1), 20);
}

TEST(TypelineSingularPoints, CopyIntoTheRecord) {
  CoreList cores{};
  cores.count = 2;
  cores.x[0] = 40, cores.y[0] = 50, cores.direction[0] = 200, cores.kind[0] = 1;
  cores.x[1] = 90, cores.y[1] = 120, cores.direction[1] = 255, cores.kind[1] = 0;
  TypelineRecord record{};
  copy_core(&cores, &record);
  ASSERT_EQ(record.singular.count, 2);
  EXPECT_EQ(record.singular.points[0].x, 40);
  EXPECT_EQ(record.singular.points[0].direction, 200);
  EXPECT_EQ(record.singular.points[0].kind, 1);
  EXPECT_EQ(record.singular.points[1].y, 120);
  EXPECT_EQ(record.singular.points[1].direction, 255);
  EXPECT_EQ(record.singular.points[1].kind, 0);
  cores.count = 9;  // never more than the record holds
  copy_core(&cores, &record);
  EXPECT_EQ(record.singular.count, 4);
}

TEST(TypelineTypeLines, WithoutCoresNothingIsTraced) {
  const int w = 96, h = 96;
  Bytes map(static_cast<std::size_t>(w) * h, 30), work(map.size());
  TypelineRecord record{};
  for (int k = 0; k < 8; ++k) record.typeLines[k] = 77;
  CoreList cores{};
  cores.count = 1;
  cores.x[0] = 40, cores.y[0] = 40, cores.direction[0] = 255, cores.kind[0] = 0;  // a delta only
  const CoreList before = cores;
  EXPECT_EQ(get_type_line(&record, &cores, map.data(), work.data(), w, h), 10);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(record.typeLines[k], 0);
  EXPECT_EQ(std::memcmp(&cores, &before, sizeof cores), 0);
}

TEST(TypelineTypeLines, TwoCloseCoresAreOneClass) {
  const int w = 96, h = 96;
  Bytes map(static_cast<std::size_t>(w) * h, 30), work(map.size(), 9);
  TypelineRecord record{};
  CoreList cores{};
  cores.count = 2;
  cores.x[0] = 30, cores.y[0] = 40, cores.direction[0] = 10, cores.kind[0] = 1;
  cores.x[1] = 70, cores.y[1] = 40, cores.direction[1] = 130, cores.kind[1] = 1;
  EXPECT_EQ(get_type_line(&record, &cores, map.data(), work.data(), w, h), 1);
  EXPECT_EQ(work[0], 9);  // nothing traced
}

TEST(TypelineTypeLines, TracesBothSidesOfACore) {
  const int w = 160, h = 160;
  const Bytes map = singular_field(w, h, 70, 90, true);
  CoreList cores{};
  get_core_points(&cores, map.data(), w, h);
  ASSERT_EQ(cores.count, 1);
  Bytes work(map.size());
  TypelineRecord record{};
  const int type = get_type_line(&record, &cores, map.data(), work.data(), w, h);
  EXPECT_LE(type, 10);
  // Both lines of the core were traced and labelled 1 and 2; lines 3 and 4
  // (no second core) stay empty.
  EXPECT_GT(std::count(work.begin(), work.end(), 1), 10);
  EXPECT_GT(std::count(work.begin(), work.end(), 2), 10);
  EXPECT_EQ(std::count(work.begin(), work.end(), 3), 0);
  EXPECT_TRUE(record.typeLines[0] != 0 || record.typeLines[4] != 0);
  EXPECT_EQ(record.typeLines[2], 0);
  EXPECT_EQ(record.typeLines[7], 0);
  for (int k = 0; k < 8; ++k) EXPECT_LT(record.typeLines[k], 160);
}

TEST(TypelineTypeLines, SideOfPointsAgainstALine) {
  const std::int16_t right[] = {10, 12, 15}, below[] = {5, 6, 7};
  const std::int16_t mixed_x[] = {10, -10}, mixed_y[] = {5, 5};
  const std::int16_t on_x[] = {3, 7}, on_y[] = {0, 0};
  // Line from (0, 0) to (20, 0): s = -20 y.
  EXPECT_EQ(check_line_lr(0, 0, 20, 0, right, below, 3), -1);
  EXPECT_EQ(check_line_lr(20, 0, 0, 0, right, below, 3), 1);
  EXPECT_EQ(check_line_lr(0, 0, 0, 20, mixed_x, mixed_y, 2), 0);
  EXPECT_EQ(check_line_lr(0, 0, 20, 0, on_x, on_y, 2), 0);
  EXPECT_EQ(check_line_lr(0, 0, 20, 0, right, below, 0), 0);
}

TEST(TypelineTypeLines, DistancesToTracedLines) {
  TypeLineSet lines{};
  lines.count[0] = 3;
  lines.x[0][0] = 10, lines.y[0][0] = 10;
  lines.x[0][1] = 20, lines.y[0][1] = 10;
  lines.x[0][2] = 30, lines.y[0][2] = 10;
  EXPECT_EQ(get_distance_to_line(&lines, 20, 14, 0), 4);
  EXPECT_EQ(get_distance_to_line(&lines, 20, 200, 0), 100);  // nothing within 100
  EXPECT_EQ(get_distance_to_line(&lines, 0, 0, 1), 100);     // an empty line
  // Line 1 runs straight at line 0 and past it.
  lines.count[1] = 20;
  for (int i = 0; i < 20; ++i) {
    lines.x[1][i] = static_cast<std::int16_t>(20);
    lines.y[1][i] = static_cast<std::int16_t>(60 - 4 * i);
  }
  EXPECT_EQ(check_near_line(&lines, 0, 15), 10);  // (20, 20), 10 from line 0
  EXPECT_EQ(check_near_line(&lines, 0, 3), 12);   // (20, 12)
  EXPECT_EQ(check_near_line(&lines, 0, 1), 1000);
}

TEST(TypelineTypeLines, ArchWhenTheDeltaSitsOnALine) {
  TypeLineSet lines{};
  for (int L = 0; L < 2; ++L) {
    lines.count[L] = 30;
    for (int i = 0; i < 30; ++i) {
      lines.x[L][i] = static_cast<std::int16_t>(L ? 50 + 2 * i : 50 - 2 * i);
      lines.y[L][i] = 50;
    }
  }
  const TypelinePoint core{50, 50};
  const TypelinePoint on_line{80, 60}, far{80, 120};
  EXPECT_EQ(check_arch(&lines, &core, &on_line), 1);  // (78, 50) lies 10.2 away: 104 <= 214
  EXPECT_EQ(check_arch(&lines, &core, &far), 0);
}

// Horizontal ridges everywhere and one core at (200, 100) pointing down:
// its two type lines leave the start point (200, 97) along the rows, one
// pixel a step, to the right from x = 206 and to the left from x = 194.
struct StraightLines {
  static constexpr int w = 400, h = 200;
  Bytes map = Bytes(static_cast<std::size_t>(w) * h, 0);
  Bytes work = Bytes(map.size());
  CoreList cores{};
  TypelineRecord record{};
  StraightLines() {
    cores.count = 1;
    cores.x[0] = 200, cores.y[0] = 100, cores.direction[0] = 60, cores.kind[0] = 1;
  }
  int run() { return get_type_line(&record, &cores, map.data(), work.data(), w, h); }
};

TEST(TypelineTypeLines, LinesStopAt96Points) {
  StraightLines f;
  const int type = f.run();
  const std::int16_t expected[8] = {206 + 95, 194 - 95, 0, 0, 97, 97, 0, 0};
  for (int k = 0; k < 8; ++k) EXPECT_EQ(f.record.typeLines[k], expected[k]) << k;
  EXPECT_EQ(std::count(f.work.begin(), f.work.end(), 1), 95);  // the 96th point is not labelled
  // Points 30 of both lines lie level with the start point: their midpoint
  // is the start point itself, seen in direction 180.
  EXPECT_EQ(f.cores.direction[0], 180);
  EXPECT_EQ(type, 4);
}

TEST(TypelineTypeLines, ALineEndingInTheBackgroundSetsTheCoreDirection) {
  StraightLines f;
  for (int y = 0; y < f.h; ++y)
    for (int x = 236; x < f.w; ++x) f.map[static_cast<std::size_t>(y) * f.w + x] = 255;
  f.run();
  EXPECT_EQ(f.record.typeLines[0], 235);  // 30 points: 206 .. 235
  EXPECT_EQ(f.record.typeLines[1], 194 - 95);
  // The shorter count is 30: the midpoint of the points 29, (235, 97) and
  // (165, 97), is the start point again.
  EXPECT_EQ(f.cores.direction[0], 180);
  EXPECT_EQ(std::count(f.work.begin(), f.work.end(), 1), 30);
}

}  // namespace
