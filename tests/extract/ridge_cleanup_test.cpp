#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "extract/skeleton_canvas.h"
#include "zylscan/extract_minutiae.h"
#include "zylscan/extract_ridges.h"
#include "zylscan/extract_thinning.h"

namespace {

using zyl::test::Canvas;

TEST(RidgeLine, DrawsTheStraightWalkAndItsEnd) {
  Canvas img(8, 4);
  Line(0, 0, 5, 2, img.get());
  // Slope 40 hundredths: the row moves when the error passes 50.
  EXPECT_EQ(img.text(), (std::vector<std::string>{"##......", "..##....", "....##..", "........"}));
  Canvas none(4, 4);
  Line(2, 2, 2, 2, none.get());
  EXPECT_EQ(none.ridge_count(), 0);
}

TEST(RidgeDirection, EndingDirectionNeedsTwentyCleanSteps) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> ridge;  // stroke from the ending on
    int expected;
  };
  const Case cases[] = {
      {"east", {{5, 20}, {35, 20}}, 0},
      {"south", {{20, 5}, {20, 35}}, 60},
      {"west", {{35, 20}, {5, 20}}, 120},
      {"north-east", {{5, 35}, {35, 5}}, 210},
      {"too short", {{5, 20}, {20, 20}}, -20},
  };
  for (const Case& c : cases) {
    Canvas img(40, 40);
    Line(c.ridge[0].first, c.ridge[0].second, c.ridge[1].first, c.ridge[1].second, img.get());
    const auto before = img.text();
    EXPECT_EQ(ComputeEndDirection(40, 40, img.get(), c.ridge[0].second, c.ridge[0].first), c.expected)
        << c.name;
    EXPECT_EQ(img.text(), before) << c.name << ": the traced pixels are restored";
  }
  // A ridge that meets a junction before 20 steps.
  Canvas junction(40, 40);
  junction.stroke({{5, 20}, {35, 20}}).stroke({{15, 20}, {15, 35}});
  EXPECT_EQ(ComputeEndDirection(40, 40, junction.get(), 20, 5), ZYL_MINUTIA_NO_DIRECTION);
}

TEST(RidgeDirection, BifurcationPointsBetweenItsClosestBranches) {
  // Stem to the west, arms to the north-east and south-east: the arms
  // diverge least and the result points east between them.
  Canvas y(60, 60);
  y.stroke({{5, 30}, {30, 30}}).stroke({{30, 30}, {50, 10}}).stroke({{30, 30}, {50, 50}});
  const auto before = y.text();
  EXPECT_EQ(ComputeBranchDirection(60, 60, y.get(), 30, 30), 0);
  EXPECT_EQ(y.text(), before);

  // Branches north (180), west (120) and south-east (30): north and west
  // are closest, the mean lies between them.
  Canvas corner(60, 60);
  corner.stroke({{5, 30}, {30, 30}}).stroke({{30, 30}, {30, 5}}).stroke({{30, 30}, {50, 50}});
  EXPECT_EQ(ComputeBranchDirection(60, 60, corner.get(), 30, 30), 150);

  // Branches that leave north, east and south but all bend eastwards: they
  // do not spread (largest difference below 60).
  Canvas fan(60, 60);
  fan.stroke({{10, 30}, {10, 28}, {13, 25}, {45, 25}})
      .stroke({{10, 30}, {45, 30}})
      .stroke({{10, 30}, {10, 32}, {13, 35}, {45, 35}});
  EXPECT_EQ(ComputeBranchDirection(60, 60, fan.get(), 30, 10), ZYL_MINUTIA_NO_DIRECTION);

  // A branch shorter than ten steps.
  Canvas stub(60, 60);
  stub.stroke({{5, 30}, {50, 30}}).stroke({{30, 30}, {30, 36}});
  EXPECT_EQ(ComputeBranchDirection(60, 60, stub.get(), 30, 30), ZYL_MINUTIA_NO_BRANCH);
}

TEST(RidgeJunction, GetNodeTracesTheBranchesOfATJunction) {
  Canvas img(60, 60);
  img.stroke({{10, 20}, {50, 20}}).stroke({{30, 20}, {30, 32}});
  const auto before = img.text();
  NodeRecord node;
  ASSERT_EQ(GetNode(img.get(), 60, 60, 30, 20, &node, 1), 3);
  EXPECT_EQ(img.text(), before) << "keep 1 leaves every traced pixel ridge";
  EXPECT_EQ(node.startX, 30);
  EXPECT_EQ(node.startY, 20);
  // Walk order: east first, then south, then west.
  struct Expect {
    int count, end_kind, direction, last_x, last_y;
  };
  const Expect want[3] = {{21, 0, 0, 50, 20}, {13, 0, 60, 30, 32}, {21, 0, 120, 10, 20}};
  for (int b = 0; b < 3; ++b) {
    const NodeBranch& br = node.branches[b];
    EXPECT_EQ(br.count, want[b].count) << b;
    EXPECT_EQ(br.endKind, want[b].end_kind) << b;
    EXPECT_EQ(br.direction, want[b].direction) << b;
    EXPECT_EQ(br.x[br.count - 1], want[b].last_x) << b;
    EXPECT_EQ(br.y[br.count - 1], want[b].last_y) << b;
    EXPECT_EQ(br.x[0], 30);
  }
  EXPECT_EQ(node.angleDiff[0], 60);
  EXPECT_EQ(node.angleDiff[1], 60);
  EXPECT_EQ(node.angleDiff[2], 120);
  EXPECT_EQ(NodeType(&node), 1);

  ASSERT_EQ(GetNode(img.get(), 60, 60, 30, 20, &node, 0), 3);
  EXPECT_EQ(img.ridge_count(), 0) << "keep 0 erases every traced pixel";
}

TEST(RidgeJunction, GetNodeStopsLongBranchesAtThirtyPixels) {
  Canvas img(80, 80);
  img.stroke({{2, 40}, {77, 40}}).stroke({{40, 40}, {40, 77}});
  NodeRecord node;
  ASSERT_EQ(GetNode(img.get(), 80, 80, 40, 40, &node, 1), 3);
  for (int b = 0; b < 3; ++b) {
    EXPECT_EQ(node.branches[b].count, 30);
    EXPECT_EQ(node.branches[b].endKind, 1);
  }
  // A lone ridge end has a single branch, and no differences.
  Canvas end(40, 40);
  end.stroke({{5, 20}, {30, 20}});
  ASSERT_EQ(GetNode(end.get(), 40, 40, 5, 20, &node, 1), 1);
  EXPECT_EQ(node.angleDiff[0], 255);
}

TEST(RidgeJunction, NodeTypeSortsTAndYShapes) {
  struct Case {
    int d01, d12, d02, expected;
  };
  const Case cases[] = {
      {60, 60, 120, 1},   // T: a straight ridge and a square stem
      {111, 51, 69, 1},   // limits of the T test, largest first
      {110, 60, 60, 2},   // largest not above 110: no T, but a Y
      {80, 80, 80, -1},   // evenly spread: the largest is at most 93
      {93, 60, 60, -1},
      {94, 31, 92, 2},    // Y limits
      {94, 30, 92, -1},
      {94, 31, 93, -1},
      {100, 100, 10, -1}, // largest first of equals: the others are 100 and 10
  };
  for (const Case& c : cases) {
    NodeRecord node{};
    node.angleDiff[0] = c.d01;
    node.angleDiff[1] = c.d12;
    node.angleDiff[2] = c.d02;
    node.branchCount = 3;
    EXPECT_EQ(NodeType(&node), c.expected) << c.d01 << " " << c.d12 << " " << c.d02;
  }
}

TEST(RidgeGaps, JoinsFacingEndingsOnlyAcrossACleanGap) {
  struct Case {
    const char* name;
    void (*draw)(Canvas&);
    bool joined;
  };
  const Case cases[] = {
      {"collinear endings 10 pixels apart",
       [](Canvas& c) { c.stroke({{5, 30}, {30, 30}}).stroke({{41, 30}, {70, 30}}); }, true},
      {"slightly offset endings",
       [](Canvas& c) { c.stroke({{5, 30}, {30, 30}}).stroke({{41, 31}, {70, 31}}); }, true},
      {"parallel ridges ending side by side",
       [](Canvas& c) { c.stroke({{5, 30}, {30, 30}}).stroke({{5, 34}, {30, 34}}); }, false},
      {"a third ridge across the gap",
       [](Canvas& c) {
         c.stroke({{5, 30}, {30, 30}}).stroke({{41, 30}, {70, 30}}).stroke({{35, 12}, {35, 50}});
       },
       false},
      {"own ridge shorter than 4 pixels",
       [](Canvas& c) { c.stroke({{28, 30}, {30, 30}}).stroke({{41, 30}, {70, 30}}); }, false},
      {"endings further than 15 pixels apart",
       [](Canvas& c) { c.stroke({{5, 30}, {30, 30}}).stroke({{46, 30}, {70, 30}}); }, false},
  };
  for (const Case& c : cases) {
    Canvas img(76, 60);
    c.draw(img);
    const int before = img.ridge_count();
    auto d = zyl::test::GoodDirections(76, 60);
    EliminateLines(76, 60, img.get(), d.get());
    bool bridged = true;
    for (int x = 31; x <= 40; ++x) bridged &= img.ridge(x, 30) || img.ridge(x, 31);
    EXPECT_EQ(bridged, c.joined) << c.name;
    if (!c.joined) {
      EXPECT_EQ(img.ridge_count(), before) << c.name << ": nothing else changes";
    }
  }
}

TEST(RidgeGaps, LeavesEndingsInBadAreasAlone) {
  Canvas img(76, 60);
  img.stroke({{5, 30}, {30, 30}}).stroke({{41, 30}, {70, 30}});
  auto d = zyl::test::GoodDirections(76, 60);
  d[30][30] |= 0x80;
  d[30][41] |= 0x80;
  const auto before = img.text();
  EliminateLines(76, 60, img.get(), d.get());
  EXPECT_EQ(img.text(), before);
}

TEST(RidgeLoops, OpensASmallLoopOnItsLongerSide) {
  // A ridge splits at (25, 30) into two arcs that meet again at (43, 30).
  // The upper arc (28 steps) is longer than the lower one (18 steps).
  Canvas img(80, 60);
  img.stroke({{5, 30}, {25, 30}})
      .stroke({{25, 30}, {26, 29}, {26, 24}, {42, 24}, {42, 29}, {43, 30}})
      .stroke({{25, 30}, {27, 32}, {41, 32}, {43, 30}})
      .stroke({{43, 30}, {70, 30}});
  auto d = zyl::test::GoodDirections(80, 60);
  EliminateEyes(80, 60, img.get(), d.get());
  for (int x = 27; x <= 41; ++x) EXPECT_FALSE(img.ridge(x, 24)) << "upper arc at " << x;
  for (int x = 27; x <= 41; ++x) EXPECT_TRUE(img.ridge(x, 32)) << "lower arc at " << x;
  for (int x = 5; x <= 25; ++x) EXPECT_TRUE(img.ridge(x, 30)) << "stem at " << x;
  for (int x = 43; x <= 70; ++x) EXPECT_TRUE(img.ridge(x, 30)) << "continuation at " << x;
}

TEST(RidgeLoops, CutsAShortBridgeBetweenTwoYJunctions) {
  // Two Y-shaped junctions, each with arms 97.5 degrees either side of the
  // bridge, joined by an 11-pixel bridge: a crossing split in two.
  Canvas img(80, 70);
  img.stroke({{30, 30}, {27, 5}}).stroke({{30, 30}, {27, 55}})
      .stroke({{30, 30}, {40, 30}})
      .stroke({{40, 30}, {43, 5}}).stroke({{40, 30}, {43, 55}});
  NodeRecord j, k;
  ASSERT_EQ(GetNode(img.get(), 80, 70, 30, 30, &j, 1), 3);
  ASSERT_EQ(GetNode(img.get(), 80, 70, 40, 30, &k, 1), 3);
  ASSERT_EQ(NodeType(&j), 2);
  ASSERT_EQ(NodeType(&k), 2);
  const int before = img.ridge_count();
  auto d = zyl::test::GoodDirections(80, 70);
  EliminateEyes(80, 70, img.get(), d.get());
  for (int x = 31; x <= 39; ++x) EXPECT_FALSE(img.ridge(x, 30)) << "bridge at " << x;
  EXPECT_TRUE(img.ridge(30, 30));
  EXPECT_TRUE(img.ridge(40, 30));
  EXPECT_EQ(img.ridge_count(), before - 9) << "only the bridge goes";
}

TEST(RidgeLoops, IgnoresJunctionsNearTheBorder) {
  // The same loop with both junctions on row 15, closer than 21 pixels to
  // the top edge.
  Canvas img(80, 60);
  img.stroke({{5, 15}, {25, 15}})
      .stroke({{25, 15}, {26, 14}, {26, 9}, {42, 9}, {42, 14}, {43, 15}})
      .stroke({{25, 15}, {27, 17}, {41, 17}, {43, 15}})
      .stroke({{43, 15}, {70, 15}});
  const auto before = img.text();
  auto d = zyl::test::GoodDirections(80, 60);
  EliminateEyes(80, 60, img.get(), d.get());
  EXPECT_EQ(img.text(), before);
}

TEST(RidgeLoops, PositionsAtTheBorderAndEmptyImagesAreHarmless) {
  Canvas img(30, 30);
  img.stroke({{0, 0}, {29, 29}}).stroke({{0, 29}, {29, 0}});
  const auto before = img.text();
  NodeRecord node;
  for (auto [x, y] : {std::pair{0, 0}, std::pair{29, 29}, std::pair{1, 1}, std::pair{-3, 40}}) {
    EliminateEye(30, 30, img.get(), x, y);
    EXPECT_EQ(GetNode(img.get(), 30, 30, x, y, &node, 1), 0) << x << "," << y;
    EXPECT_EQ(ComputeBranchDirection(30, 30, img.get(), std::clamp(y, 0, 29), std::clamp(x, 0, 29)), ZYL_MINUTIA_NO_BRANCH);
  }
  EXPECT_EQ(img.text(), before);
  EliminateLines(30, 30, nullptr, nullptr);
  EliminateEyes(30, 30, img.get(), nullptr);
  EliminateLines(2, 2, img.get(), img.get());
  EXPECT_EQ(img.text(), before);
}

}  // namespace
