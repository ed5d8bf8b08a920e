#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <algorithm>
#include <vector>

#include "extract/byte_image.h"
#include "zylscan/extract_minutiae.h"

namespace {

using zyl::extract::OwnedByteImage;

OwnedByteImage filled(int w, int h, std::uint8_t v) {
  OwnedByteImage img(w, h);
  for (int y = 0; y < h; ++y) std::memset(img[y], v, static_cast<size_t>(w));
  return img;
}

// A blank skeleton (all background) and a direction image that is good
// everywhere with orientation 0.
struct Scene {
  int w, h;
  OwnedByteImage skeleton, D;
  Scene(int width, int height) : w(width), h(height), skeleton(filled(width, height, 255)), D(filled(width, height, 0)) {}
  // Ridge pixels from (x, y) in steps of (dx, dy), n pixels.
  void ray(int x, int y, int dx, int dy, int n) {
    for (int i = 0; i < n; ++i) skeleton[y + i * dy][x + i * dx] = 0;
  }
};

struct Minutia {
  int x, y, angle, type;
  bool operator==(const Minutia&) const = default;
};

std::vector<Minutia> minutiae_of(const FeatureRecord& r) {
  std::vector<Minutia> out;
  for (int i = 0; i < r.minutiaCount; ++i)
    out.push_back({r.minutiaX[i], r.minutiaY[i], r.minutiaAngle[i], r.minutiaType[i]});
  return out;
}

void PrintTo(const Minutia& m, std::ostream* os) {
  *os << "(" << m.x << "," << m.y << " a" << m.angle << " t" << m.type << ")";
}

std::unique_ptr<FeatureRecord> record_of(const std::vector<Minutia>& ms) {
  auto r = std::make_unique<FeatureRecord>();
  std::memset(r.get(), 0, sizeof(FeatureRecord));
  r->minutiaCount = static_cast<int>(ms.size());
  for (size_t i = 0; i < ms.size(); ++i) {
    r->minutiaX[i] = ms[i].x;
    r->minutiaY[i] = ms[i].y;
    r->minutiaAngle[i] = ms[i].angle;
    r->minutiaType[i] = ms[i].type;
    r->minutiaCurvature[i] = static_cast<int>(i);
  }
  return r;
}

TEST(ExtractMinutiae, FindsBothEndsOfAStraightRidge) {
  Scene s(100, 100);
  s.ray(30, 50, 1, 0, 41);  // x 30..70
  auto r = std::make_unique<FeatureRecord>();
  ExtractMinutiae(s.w, s.h, s.skeleton.get(), s.D.get(), r.get());
  // The left end's ridge leaves to the right (direction 0), the right end's
  // to the left (120); both are endings; a uniform field has no curvature.
  EXPECT_EQ(minutiae_of(*r), (std::vector<Minutia>{{30, 50, 0, 0}, {70, 50, 120, 0}}));
  EXPECT_EQ(r->minutiaCurvature[0], 0);
  EXPECT_EQ(r->minutiaCurvature[1], 0);
}

TEST(ExtractMinutiae, FindsABifurcationPointingBetweenItsCloseBranches) {
  Scene s(100, 100);
  s.ray(20, 50, 1, 0, 30);   // stem x 20..49
  s.ray(50, 50, 1, -1, 25);  // up-right branch from the junction
  s.ray(51, 51, 1, 1, 24);   // down-right branch
  auto r = std::make_unique<FeatureRecord>();
  ExtractMinutiae(s.w, s.h, s.skeleton.get(), s.D.get(), r.get());
  // Rows from the top: the upper branch's end, the stem's end and the
  // junction, then the lower branch's end.
  EXPECT_EQ(minutiae_of(*r), (std::vector<Minutia>{{74, 26, 90, 0},
                                                    {20, 50, 0, 0},
                                                    {50, 50, 0, 1},
                                                    {74, 74, 150, 0}}));
}

TEST(ExtractMinutiae, SkipsBadPixelsAndTheTwoPixelFrame) {
  Scene s(60, 60);
  s.ray(1, 10, 1, 0, 40);   // left end in column 1: outside the scanned area
  s.ray(10, 30, 1, 0, 40);  // both ends inside, right end on a bad pixel
  s.D[30][49] |= 0x80;
  auto r = std::make_unique<FeatureRecord>();
  ExtractMinutiae(s.w, s.h, s.skeleton.get(), s.D.get(), r.get());
  ASSERT_EQ(r->minutiaCount, 2);
  EXPECT_EQ(minutiae_of(*r)[0], (Minutia{40, 10, 120, 0}));
  EXPECT_EQ(minutiae_of(*r)[1], (Minutia{10, 30, 0, 0}));
}

TEST(ExtractMinutiae, KeepsTheFirst1024InRowOrderIncludingUndirectedOnes) {
  // Short vertical dashes: every dash end is an ending too short to get a
  // direction, and there are far more than 1024 of them.
  Scene s(200, 200);
  std::vector<Minutia> expected;
  for (int y = 2; y + 2 < 198; y += 5)
    for (int x = 2; x < 198; x += 3) s.ray(x, y, 0, 1, 3);
  for (int y = 2; y < 198 && expected.size() < 1024; ++y)
    for (int x = 2; x < 198 && expected.size() < 1024; ++x)
      if (s.skeleton[y][x] == 0 && (s.skeleton[y - 1][x] != 0 || s.skeleton[y + 1][x] != 0))
        expected.push_back({x, y, ZYL_MINUTIA_NO_DIRECTION, 0});
  auto r = std::make_unique<FeatureRecord>();
  ExtractMinutiae(s.w, s.h, s.skeleton.get(), s.D.get(), r.get());
  EXPECT_EQ(r->minutiaCount, 1024);
  EXPECT_EQ(minutiae_of(*r), expected);
}

TEST(ComputeCurvature, MeasuresTheMeanFoldedOrientationChange) {
  OwnedByteImage D = filled(40, 40, 10);
  EXPECT_EQ(ComputeCurvature(40, 40, D.get(), 20, 20, 10), 0);
  // Everything but the centre at a right angle: 440 of 441 pixels differ by
  // 60 -> 440 * 60 * 255 / (441 * 60).
  D = filled(40, 40, 70 | 0x80);  // bad pixels count too
  D[20][20] = 10;
  EXPECT_EQ(ComputeCurvature(40, 40, D.get(), 20, 20, 10), 440 * 255 / 441);
  // Differences above 60 fold: 110 against 10 is 20 apart.
  D = filled(40, 40, 110);
  D[0][0] = 10;
  D[0][1] = 127;  // no orientation: not counted
  EXPECT_EQ(ComputeCurvature(40, 40, D.get(), 0, 0, 1), 2 * 20 * 255 / (3 * 60));
  D[0][0] = 127;
  EXPECT_EQ(ComputeCurvature(40, 40, D.get(), 0, 0, 1), 0);
}

// Selection on hand-made lists: a 100 x 100 good field, no grey image.
struct SelectionCase {
  const char* name;
  std::vector<Minutia> in;
  int pairing;
  std::vector<int> angles;  // expected angles after selection
};

TEST(SelectBadMinutiae, AppliesCrowdingFacingAndBorderRulesAtTheirLimits) {
  const SelectionCase cases[] = {
      // Six within distance 15 reject the centre; each ring point sees only
      // the centre and its two ring neighbours.
      {"six neighbours",
       {{50, 40, 0, 0}, {41, 45, 0, 0}, {59, 45, 0, 0}, {50, 50, 0, 0}, {41, 55, 0, 0}, {59, 55, 0, 0}, {50, 60, 0, 0}},
       0, {0, 0, 0, -15, 0, 0, 0}},
      {"five neighbours",
       {{50, 40, 0, 0}, {41, 45, 0, 0}, {59, 45, 0, 0}, {50, 50, 0, 0}, {41, 55, 0, 0}, {59, 55, 0, 0}},
       0, {0, 0, 0, 0, 0, 0}},
      {"endings 1 apart facing", {{50, 50, 0, 0}, {51, 50, 120, 0}}, 1, {-45, -45}},
      {"endings 1 apart, pairing off", {{50, 50, 0, 0}, {51, 50, 120, 0}}, 0, {0, 120}},
      {"endings 3 apart facing", {{50, 50, 0, 0}, {53, 50, 120, 0}}, 1, {0, 120}},
      {"bifurcations 3 apart facing", {{50, 50, 0, 1}, {53, 50, 120, 1}}, 1, {-45, -45}},
      {"bifurcations 5 apart facing", {{50, 50, 0, 1}, {50, 55, 120, 1}}, 1, {-45, -45}},
      {"bifurcations 6 apart facing", {{50, 50, 0, 1}, {56, 50, 120, 1}}, 1, {0, 120}},
      {"ending and bifurcation 3 apart", {{50, 50, 0, 0}, {53, 50, 120, 1}}, 1, {0, 120}},
      {"difference 102", {{50, 50, 0, 1}, {52, 50, 138, 1}}, 1, {-45, -45}},
      {"difference 101", {{50, 50, 0, 1}, {52, 50, 139, 1}}, 1, {0, 139}},
      {"difference 138", {{50, 50, 0, 1}, {52, 50, 102, 1}}, 1, {-45, -45}},
      {"difference 139", {{50, 50, 0, 1}, {52, 50, 101, 1}}, 1, {0, 101}},
      // The first partner takes the minutia; a third one facing it stays.
      {"first pair wins", {{50, 50, 0, 1}, {52, 50, 120, 1}, {50, 52, 120, 1}}, 1, {-45, -45, 120}},
      {"border limits", {{10, 50, 0, 0}, {9, 50, 0, 0}, {89, 50, 0, 0}, {90, 50, 0, 0},
                         {50, 10, 0, 0}, {50, 9, 0, 0}, {50, 89, 0, 0}, {50, 90, 0, 0}},
       0, {0, -25, 0, -25, 0, -25, 0, -25}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The list must be in row order, as the detector writes it.
    auto sorted = c.in;
    auto r = record_of(sorted);
    OwnedByteImage D = filled(100, 100, 0);
    SelectBadMinutiae(100, 100, nullptr, D.get(), r.get(), c.pairing, 0);
    std::vector<int> angles(r->minutiaAngle, r->minutiaAngle + r->minutiaCount);
    EXPECT_EQ(angles, c.angles);
  }
}

TEST(SelectBadMinutiae, RejectsMinutiaeWithABadPixelWithinTen) {
  for (const auto& [dx, dy, rejected] : std::vector<std::tuple<int, int, bool>>{
           {10, 10, true}, {-10, 0, true}, {0, -10, true}, {11, 0, false}, {0, 11, false}, {-11, -11, false}}) {
    OwnedByteImage D = filled(100, 100, 0);
    D[50 + dy][50 + dx] = 0x80 | 5;
    auto r = record_of({{50, 50, 30, 0}});
    SelectBadMinutiae(100, 100, nullptr, D.get(), r.get(), 1, 0);
    EXPECT_EQ(r->minutiaAngle[0], rejected ? ZYL_MINUTIA_REJECT_BORDER : 30) << dx << "," << dy;
  }
}

TEST(SelectBadMinutiae, CrowdingCountsNeighboursAlreadyRejected) {
  // Six neighbours, all with no direction: the centre is still crowded.
  auto r = record_of({{50, 40, -20, 0}, {41, 45, -20, 0}, {59, 45, -20, 0}, {50, 50, 7, 0},
                      {41, 55, -20, 0}, {59, 55, -20, 0}, {50, 60, -666, 1}});
  OwnedByteImage D = filled(100, 100, 0);
  SelectBadMinutiae(100, 100, nullptr, D.get(), r.get(), 0, 0);
  EXPECT_EQ(r->minutiaAngle[3], ZYL_MINUTIA_REJECT_CROWDED);
}

TEST(SelectBadMinutiae, GivesTheSameAnswerForAListOutOfRowOrder) {
  std::mt19937 rng(7);
  std::vector<Minutia> ms;
  for (int i = 0; i < 300; ++i)
    ms.push_back({10 + static_cast<int>(rng() % 180), 10 + static_cast<int>(rng() % 180),
                  static_cast<int>(rng() % 240), static_cast<int>(rng() % 2)});
  auto ordered = ms;
  std::stable_sort(ordered.begin(), ordered.end(), [](auto& a, auto& b) { return a.y < b.y; });
  // A shuffled list is scanned whole; the per-minutia answers of the
  // crowding rule must not depend on the order.
  OwnedByteImage D = filled(200, 200, 0);
  auto a = record_of(ordered), b = record_of(ms);
  SelectBadMinutiae(200, 200, nullptr, D.get(), a.get(), 0, 0);
  SelectBadMinutiae(200, 200, nullptr, D.get(), b.get(), 0, 0);
  std::map<std::pair<int, int>, std::multiset<int>> ka, kb;
  for (int i = 0; i < 300; ++i) {
    ka[{a->minutiaX[i], a->minutiaY[i]}].insert(a->minutiaAngle[i]);
    kb[{b->minutiaX[i], b->minutiaY[i]}].insert(b->minutiaAngle[i]);
  }
  EXPECT_EQ(ka, kb);
  EXPECT_GT(std::count(a->minutiaAngle, a->minutiaAngle + 300, ZYL_MINUTIA_REJECT_CROWDED), 0);
}

// Grey image with stripes of period 8 along x (vertical ridges) or y.
OwnedByteImage stripes(bool vary_in_x) {
  OwnedByteImage O(100, 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) O[y][x] = ((vary_in_x ? x : y) / 4) % 2 ? 230 : 20;
  return O;
}

TEST(SelectBadMinutiae, ContrastTestSamplesThePatchTurnedToTheMinutia) {
  struct Case {
    const char* name;
    OwnedByteImage O;
    int angle;
    int image_test;
    int expected;
  };
  Case cases[] = {
      {"uniform grey", filled(100, 100, 128), 0, 1, ZYL_MINUTIA_REJECT_CONTRAST},
      {"uniform grey, test off", filled(100, 100, 128), 0, 0, 0},
      {"ridges across the patch rows", stripes(false), 0, 1, 0},
      {"ridges along the patch rows", stripes(true), 0, 1, ZYL_MINUTIA_REJECT_CONTRAST},
      {"turned a quarter", stripes(true), 60, 1, 60},
      {"turned a half", stripes(false), 120, 1, 120},
      {"turned a quarter the other way", stripes(false), 60, 1, ZYL_MINUTIA_REJECT_CONTRAST},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedByteImage D = filled(100, 100, 0);
    auto r = record_of({{50, 50, c.angle, 0}});
    SelectBadMinutiae(100, 100, c.O.get(), D.get(), r.get(), 1, c.image_test);
    EXPECT_EQ(r->minutiaAngle[0], c.expected);
  }
}

TEST(GetFtrQuality, NeedsCappedContrastInEveryHalf) {
  struct Case {
    const char* name;
    int (*pixel)(int x, int y);
    int expected;
  };
  const Case cases[] = {
      // Rows alternate by 2: halves 200 (top), 186 (bottom, with the zero
      // last row), 193, 193; all at least 130 and 772 in sum.
      {"rows alternating by 2", [](int, int y) { return (y % 2) * 2; }, 0},
      {"rows alternating by 1", [](int, int y) { return y % 2; }, 1},
      // Two sharp edges (rows 4/5 and 19/20, columns 0..19): capped at twice
      // the mean difference (22) they fall short; uncapped every half would
      // pass.
      {"two sharp edges", [](int x, int y) { return x < 20 && y >= 5 && y < 20 ? 255 : 0; }, 1},
      {"contrast in the top half only", [](int, int y) { return y < 15 ? (y % 2) * 200 : 0; }, 1},
      {"contrast in the left half only", [](int x, int y) { return x < 15 ? (y % 2) * 200 : 0; }, 1},
      {"strong rows everywhere", [](int, int y) { return (y % 2) * 200; }, 0},
  };
  OwnedByteImage patch(30, 30), scratch(30, 30);
  for (const Case& c : cases) {
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 30; ++x) patch[y][x] = static_cast<std::uint8_t>(c.pixel(x, y));
    EXPECT_EQ(GetFtrQuality(0, 0, nullptr, patch.get(), scratch.get(), 30, nullptr, 0), c.expected) << c.name;
  }
  EXPECT_EQ(GetFtrQuality(0, 0, nullptr, patch.get(), scratch.get(), 1, nullptr, 0), 1);
}

TEST(Putty1FTR1, AveragesTheInsideAndRepeatsTheRing) {
  OwnedByteImage patch(5, 5), scratch(5, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      patch[y][x] = static_cast<std::uint8_t>(10 * (y * 5 + x));
      scratch[y][x] = 99;
    }
  Putty1FTR1(patch.get(), scratch.get(), 5, 5);
  // Interior means: 10 * (centre index) since the field is linear.
  const std::uint8_t expected[5][5] = {{60, 60, 70, 80, 80},
                                       {60, 60, 70, 80, 80},
                                       {110, 110, 120, 130, 130},
                                       {160, 160, 170, 180, 180},
                                       {160, 160, 170, 180, 180}};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(patch[y][x], expected[y][x]) << x << "," << y;
      EXPECT_EQ(scratch[y][x], 0);
    }
}

TEST(EliminateBadMinutiae, CompactsInOrderAndLeavesACleanListAlone) {
  auto r = record_of({{1, 1, 5, 0}, {2, 2, -15, 1}, {3, 3, 6, 1}, {4, 4, -1, 0}, {5, 5, 0, 0}});
  EliminateBadMinutiae(r.get());
  EXPECT_EQ(minutiae_of(*r), (std::vector<Minutia>{{1, 1, 5, 0}, {3, 3, 6, 1}, {5, 5, 0, 0}}));
  EXPECT_EQ(r->minutiaCurvature[1], 2);  // columns move together
  auto before = minutiae_of(*r);
  EliminateBadMinutiae(r.get());
  EXPECT_EQ(minutiae_of(*r), before);
}

TEST(EnhanceGoodArea, MatchesABruteForceWindowTest) {
  std::mt19937 rng(3);
  for (int r : {0, 1, 5, 40}) {
    const int w = 37, h = 23;
    OwnedByteImage D(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) D[y][x] = static_cast<std::uint8_t>((rng() % 120) | (rng() % 16 ? 0x80 : 0));
    OwnedByteImage expected(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        bool good = false;
        for (int yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
          for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) good |= !(D[yy][xx] & 0x80);
        expected[y][x] = static_cast<std::uint8_t>((D[y][x] & 0x7F) | (good ? 0 : 0x80));
      }
    EnhanceGoodArea(w, h, D.get(), r);
    for (int y = 0; y < h; ++y) EXPECT_EQ(std::memcmp(D[y], expected[y], w), 0) << "r " << r << " row " << y;
  }
}

TEST(MapBadArea, BlanksOnlyBadPixels) {
  OwnedByteImage img = filled(4, 1, 0), D(4, 1);
  const std::uint8_t d[4] = {0x80, 0x7F, 0xFF, 3};
  std::memcpy(D[0], d, 4);
  MapBadArea(4, 1, img.get(), D.get());
  EXPECT_EQ(std::vector<int>(img[0], img[0] + 4), (std::vector<int>{255, 0, 255, 0}));
  EXPECT_EQ(WriteImageToDisc(), 0);
}

}  // namespace
