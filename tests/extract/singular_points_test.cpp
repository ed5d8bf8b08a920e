// Singular points: Poincare rings, the candidate scan, grouping and
// placement on analytic loop, delta and whorl fields, and the cores and
// deltas of real prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <random>

#include "extract/field_images.h"
#include "extract/singular_point_list.h"
#include "extract/singular_points.h"
#include "zylscan/direction_image.h"
#include "zylscan/extract_filters.h"
#include "zylscan/singular_points.h"

namespace {

using zyl::test::Field;
using zyl::test::Grid;

TEST(PoincareIndex, Rings) {
  struct Case {
    const char* name;
    std::vector<int32_t> ring;
    int index;
  };
  const Case cases[] = {
      {"loop: half a turn anticlockwise", {0, 15, 30, 45, 60, 75, 90, 105}, 1},
      {"delta: half a turn the other way", {105, 90, 75, 60, 45, 30, 15, 0}, -1},
      {"whorl: a full turn", {0, 30, 60, 90, 0, 30, 60, 90}, 2},
      {"equal orientations", {40, 40, 40, 40, 40, 40, 40, 40}, 0},
      {"wobble without a turn", {10, 20, 10, 115, 5, 20, 10, 0}, 0},
      {"neighbours 60 steps apart stop the walk", {0, 15, 30, 90, 60, 75, 90, 105}, 0},
      {"twelve-ring loop", {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110}, 1},
      {"single element", {33}, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ComputePoincareIndex(static_cast<int32_t>(c.ring.size()), c.ring.data()), c.index) << c.name;
  EXPECT_EQ(ComputePoincareIndex(0, nullptr), 0);
  EXPECT_EQ(ComputePoincareIndex(-3, cases[0].ring.data()), 0);
}

TEST(SingularPoints, IsNearUsesStrictDistanceAndYBeforeX) {
  SingularPointList list{};
  list.count = 2;
  list.x[0] = 100, list.y[0] = 50;
  list.x[1] = 10, list.y[1] = 200;
  struct Case {
    int y, x, radius, near;
  };
  const Case cases[] = {
      {50, 115, 16, 1},   // 15 away
      {50, 116, 16, 0},   // exactly 16: not near
      {66, 100, 16, 0},   // exactly 16 below
      {200, 10, 1, 1},    // on the point
      {100, 50, 16, 0},   // x and y swapped is far from both
      {211, 20, 16, 1},   // 11^2 + 10^2 = 221 < 256
  };
  for (const Case& c : cases) EXPECT_EQ(IsSingularPointNear(&list, c.y, c.x, c.radius), c.near) << c.y << "," << c.x;
  list.count = 0;
  EXPECT_EQ(IsSingularPointNear(&list, 50, 100, 16), 0);
  EXPECT_EQ(IsSingularPointNear(nullptr, 50, 100, 16), 0);
}

// The row mask of the bad-area map against the point test it stands for,
// with points far outside the image and radii up to the int32 limits.
TEST(SingularPoints, NearRowMaskMatchesThePointTest) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> coord(-30, 90), radius(-20, 40);
  const int32_t extreme[] = {INT32_MIN, INT32_MIN + 1, -70000, 70000, INT32_MAX - 1, INT32_MAX};
  const int width = 64;
  std::vector<uint8_t> near(width);
  for (int trial = 0; trial < 200; ++trial) {
    SingularPointList list{};
    list.count = trial % 7 == 6 ? 99 : trial % 5;  // a count beyond the list is clamped
    for (int i = 0; i < std::min(list.count, ZYL_MAX_SINGULAR_POINTS); ++i) {
      list.x[i] = trial % 11 == 3 ? extreme[i % 6] : coord(rng);
      list.y[i] = trial % 13 == 4 ? extreme[(i + 2) % 6] : coord(rng);
    }
    const int32_t r = trial % 17 == 5 ? extreme[trial % 6] : radius(rng);
    for (int y = -5; y < 70; y += trial % 3 + 1) {
      zyl::extract::mark_singular_points_near_row(&list, y, width, r, near.data());
      for (int x = 0; x < width; ++x)
        ASSERT_EQ(near[x], IsSingularPointNear(&list, y, x, r)) << "trial " << trial << " y " << y << " x " << x;
    }
  }
  // Coordinates whose squared distance exceeds 64 bits are simply far.
  SingularPointList far{};
  far.count = 1;
  far.x[0] = INT32_MAX;
  far.y[0] = INT32_MIN;
  EXPECT_EQ(IsSingularPointNear(&far, INT32_MAX, INT32_MIN, 16), 0);
  EXPECT_EQ(IsSingularPointNear(&far, INT32_MAX, INT32_MIN, INT32_MAX), 0);
  EXPECT_EQ(IsSingularPointNear(&far, INT32_MIN, INT32_MAX, INT32_MIN), 1) << "the point itself";
  zyl::extract::mark_singular_points_near_row(nullptr, 0, width, 16, near.data());
  EXPECT_EQ(std::count(near.begin(), near.end(), 1), 0);
}

TEST(SingularPoints, CurvatureSumsFoldedDifferencesOfTheWindow) {
  Grid d(9, 9, 10);
  d.at(3, 3) = 40;    // differs by 30
  d.at(5, 5) = 100;   // differs by 90, folded to 30
  d.at(6, 4) = 127;   // no orientation: skipped
  d.at(8, 8) = 70;    // outside the window
  auto D = d.image();
  EXPECT_EQ(ComputeCurvatureSP(D.get(), 4, 4), 60);
  d.at(4, 4) = 127;
  auto flat = d.image();
  EXPECT_EQ(ComputeCurvatureSP(flat.get(), 4, 4), 0) << "the pixel has no orientation";
  EXPECT_EQ(ComputeCurvatureSP(D.get(), 1, 4), 0) << "window reaching above the image";
}

// Block image of an analytic field sampled at block centres.
Grid block_field(Field kind, int columns, int rows, double cx, double cy) {
  Grid g(columns, rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) g.at(x, y) = zyl::test::field_orientation(kind, x * 16 + 7.5, y * 16 + 7.5, cx, cy);
  return g;
}

Grid pixel_field(Field kind, int w, int h, double cx, double cy) {
  Grid g(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) g.at(x, y) = zyl::test::field_orientation(kind, x, y, cx, cy);
  return g;
}

// Plain reference of the candidate scan: every block two blocks inside the
// grid whose 20 ring blocks all have an orientation, its kind from the
// 8-ring and 12-ring indexes, the first 64 in row order.
SingularPointList scan_reference(const Grid& blocks) {
  SingularPointList list{};
  const int r8[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
  const int r12[12][2] = {{-1, -2}, {0, -2}, {1, -2}, {2, -1}, {2, 0},  {2, 1},
                          {1, 2},   {0, 2},  {-1, 2}, {-2, 1}, {-2, 0}, {-2, -1}};
  for (int y = 2; y + 2 < blocks.height; ++y)
    for (int x = 2; x + 2 < blocks.width; ++x) {
      int32_t a[8], b[12];
      bool complete = true;
      for (int i = 0; i < 8; ++i) complete &= (a[i] = blocks.at(x + r8[i][0], y + r8[i][1])) != 255;
      for (int i = 0; i < 12; ++i) complete &= (b[i] = blocks.at(x + r12[i][0], y + r12[i][1])) != 255;
      if (!complete) continue;
      const int i8 = ComputePoincareIndex(8, a), i12 = ComputePoincareIndex(12, b);
      const int kind = i8 == i12 ? i8 : (i8 * i12 <= 0 ? 0 : i12);
      if (kind == 0) continue;
      if (list.count == 64) return list;
      list.x[list.count] = x, list.y[list.count] = y, list.angle[list.count] = -1, list.kind[list.count] = kind;
      ++list.count;
    }
  return list;
}

void expect_same_list(const SingularPointList& a, const SingularPointList& b) {
  ASSERT_EQ(a.count, b.count);
  for (int i = 0; i < a.count; ++i) {
    EXPECT_EQ(a.x[i], b.x[i]) << i;
    EXPECT_EQ(a.y[i], b.y[i]) << i;
    EXPECT_EQ(a.angle[i], b.angle[i]) << i;
    EXPECT_EQ(a.kind[i], b.kind[i]) << i;
  }
}

// Cores and deltas in turn on a lattice three blocks apart: far more than
// 64 candidates.
Grid lattice_of_cores_and_deltas(int columns, int rows) {
  Grid g(columns, rows);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) {
      double deg = 0;
      for (int cy = 1; cy < rows; cy += 3)
        for (int cx = 1; cx < columns; cx += 3) {
          const int sign = ((cx + cy) / 3) % 2 ? 1 : -1;
          deg += sign * std::atan2(y - cy - 0.5, x - cx - 0.5) * 90.0 / M_PI;
        }
      g.at(x, y) = static_cast<int>(((std::lround(deg / 1.5) % 120) + 120) % 120);
    }
  return g;
}

TEST(SingularPoints, ScanMatchesReferenceAndStopsAtSixtyFour) {
  std::mt19937 rng(41);
  std::uniform_int_distribution<int> orientation(0, 119), side(1, 24);
  std::bernoulli_distribution none(0.05);
  int full_lists = 0;
  for (int trial = 0; trial < 30; ++trial) {
    Grid blocks(side(rng), side(rng));
    for (int& v : blocks.v) v = none(rng) ? 255 : orientation(rng);
    if (trial < 3) blocks = lattice_of_cores_and_deltas(30 + trial, 28);
    SingularPointList list{};
    list.count = 99;
    auto b = blocks.image();
    ExtractSingularPoints(blocks.width, blocks.height, b.get(), &list);
    expect_same_list(list, scan_reference(blocks));
    full_lists += list.count == 64;
  }
  EXPECT_GT(full_lists, 0) << "random fields should fill the list sometimes";
}

TEST(SingularPoints, AnalyticFieldsGiveTheirKindOnTheBlockGrid) {
  struct Case {
    Field field;
    int kind;
  };
  for (const Case& c : {Case{Field::Loop, 1}, Case{Field::Delta, -1}, Case{Field::Whorl, 2}}) {
    const Grid blocks = block_field(c.field, 12, 11, 6 * 16 + 3, 5 * 16 + 11);
    auto b = blocks.image();
    SingularPointList list{};
    ExtractSingularPoints(12, 11, b.get(), &list);
    ASSERT_GT(list.count, 0);
    for (int i = 0; i < list.count; ++i) {
      EXPECT_EQ(list.kind[i], c.kind);
      EXPECT_EQ(list.angle[i], -1);
      EXPECT_LE(std::abs(list.x[i] - 6), 1);
      EXPECT_LE(std::abs(list.y[i] - 5), 1);
    }
  }
  // Too small a grid, or a straight field, has none.
  const Grid small = block_field(Field::Loop, 12, 4, 6 * 16, 2 * 16);
  SingularPointList list{};
  ExtractSingularPoints(12, 4, small.image().get(), &list);
  EXPECT_EQ(list.count, 0);
  ExtractSingularPoints(12, 12, Grid(12, 12, 30).image().get(), &list);
  EXPECT_EQ(list.count, 0);
}

// The whole road from block candidates to placed points on an analytic
// field: one point of the field's kind near its true centre.
TEST(SingularPoints, GroupingPlacesOnePointNearTheTrueCentre) {
  struct Case {
    Field field;
    int kind;
    double cx, cy;
  };
  const Case cases[] = {{Field::Loop, 1, 101.3, 92.6}, {Field::Whorl, 2, 120.5, 80.5}, {Field::Delta, -1, 90, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    const int w = 224, h = 192;
    const Grid blocks = block_field(c.field, w / 16, h / 16, c.cx, c.cy);
    auto b = blocks.image();
    SingularPointList scratch{}, list{};
    ExtractSingularPoints(w / 16, h / 16, b.get(), &scratch);
    ASSERT_GT(scratch.count, 0);
    auto D = pixel_field(c.field, w, h, c.cx, c.cy).image();
    GroupSingularPoints(w, h, D.get(), &scratch, &list);
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(list.kind[0], c.kind);
    EXPECT_LE(std::abs(list.x[0] - c.cx), 3.0);
    EXPECT_LE(std::abs(list.y[0] - c.cy), 3.0);
    for (int i = 0; i < scratch.count; ++i) EXPECT_EQ(scratch.kind[i], 0) << "scratch entries are consumed";
    if (c.field == Field::Loop) {
      // The orientation of a loop field follows the radius along +x only.
      const int a = list.angle[0];
      EXPECT_LE(std::min(a, 240 - a), 4) << a;
    }
  }
}

TEST(SingularPoints, TouchingCandidatesOfDifferentKindsAreDroppedTogether) {
  const int w = 224, h = 192;
  auto D = pixel_field(Field::Loop, w, h, 100, 90).image();
  SingularPointList scratch{}, list{};
  const int entries[][3] = {{5, 5, 1}, {6, 6, -1}, {10, 8, 1}, {3, 9, 0}};  // x, y, kind
  for (const auto& e : entries) {
    const int i = scratch.count++;
    scratch.x[i] = e[0], scratch.y[i] = e[1], scratch.angle[i] = -1, scratch.kind[i] = e[2];
  }
  GroupSingularPoints(w, h, D.get(), &scratch, &list);
  ASSERT_EQ(list.count, 1) << "only the lone entry at block (10, 8) stays; an entry of kind 0 is taken";
  EXPECT_EQ(list.kind[0], 1);
  EXPECT_GE(list.x[0], 10 * 16 - 16);
  EXPECT_LT(list.x[0], 11 * 16 + 16);
}

TEST(SingularPoints, EntriesOffTheImageAreSkipped) {
  auto D = Grid(64, 64, 30).image();
  SingularPointList scratch{}, list{};
  scratch.count = 2;
  scratch.x[0] = 100, scratch.y[0] = 1, scratch.kind[0] = 1;
  scratch.x[1] = -7, scratch.y[1] = 50000, scratch.kind[1] = -1;
  GroupSingularPoints(64, 64, D.get(), &scratch, &list);
  EXPECT_EQ(list.count, 0);
}

TEST(SingularPoints, RecordListRoundTripAndBoundedCounts) {
  auto record = std::make_unique<FeatureRecord>();
  record->singularCount = 2;
  record->singularX[1] = 7, record->singularY[1] = 8, record->singularAngle[1] = 9, record->singularKind[1] = -1;
  const SingularPointList list = zyl::extract::singular_points_of(*record);
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list.kind[1], -1);
  auto copy = std::make_unique<FeatureRecord>();
  zyl::extract::store_singular_points(*copy, list);
  EXPECT_EQ(copy->singularCount, 2);
  EXPECT_EQ(copy->singularX[1], 7);
  EXPECT_EQ(copy->singularAngle[1], 9);

  record->singularCount = 1000;  // a corrupt count never reads past the columns
  EXPECT_EQ(zyl::extract::singular_points_of(*record).count, 64);
  record->singularCount = -5;
  EXPECT_EQ(zyl::extract::singular_points_of(*record).count, 0);
}

// Steps 2 to 9 of the extractor, enough to find the singular points.
SingularPointList singular_points_of(const zyl::test::GreyImage& image) {
  const int w = image.width, h = image.height;
  auto G = Grid::of(image).image();
  zyl::extract::OwnedByteImage W(w, h), D(w, h);
  PuttyImage(w, h, G.get());
  CopyByteImage(w, h, G.get(), W.get());
  SmoothImage(w, h, W.get(), 4);
  NormalizeImage(w, h, G.get(), W.get(), 128);
  PuttyImage(w, h, W.get());
  PuttyImage(w, h, W.get());
  int columns = 0, rows = 0;
  ComputeBlockedImageSize(w, h, &columns, &rows);
  zyl::extract::OwnedByteImage blocks(columns, rows), noise(columns, rows);
  ComputeBlockDirImage(w, h, W.get(), columns, rows, blocks.get(), noise.get(), 17);
  CleanupBlockDirImage(columns, rows, blocks.get(), noise.get(), 207);
  SingularPointList scratch{}, list{};
  ExtractSingularPoints(columns, rows, blocks.get(), &scratch);
  ComputeDirImage(w, h, W.get(), D.get(), 12, 12, 19, 0);
  GroupSingularPoints(w, h, D.get(), &scratch, &list);
  return list;
}

// Pinned after looking at the marks on the prints: the loop core and the
// delta below and right of it of 102_1, the core of 101_1.
TEST(SingularPoints, RealPrintsGiveTheirCoresAndDeltas) {
  struct Point {
    int x, y, angle, kind;
  };
  struct Case {
    const char* file;
    std::vector<Point> points;
  };
  const Case cases[] = {
      {"fvc2004_102_1.pgm", {{86, 194, 65, 1}, {211, 285, 174, -1}}},
      {"fvc2000_101_1.pgm", {{164, 175, 82, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const SingularPointList list = singular_points_of(zyl::test::read_pgm(zyl::test::test_data(c.file)));
    ASSERT_EQ(list.count, static_cast<int>(c.points.size()));
    for (int i = 0; i < list.count; ++i) {
      EXPECT_EQ(list.x[i], c.points[i].x) << i;
      EXPECT_EQ(list.y[i], c.points[i].y) << i;
      EXPECT_EQ(list.angle[i], c.points[i].angle) << i;
      EXPECT_EQ(list.kind[i], c.points[i].kind) << i;
    }
  }
}

}  // namespace
