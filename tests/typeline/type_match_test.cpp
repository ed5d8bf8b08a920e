// Pattern-type compatibility of two records.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "zylscan/typeline_match.h"

namespace {

struct Point {
  int x, y, direction;
};

struct Rec {
  int type;
  int quality;  // mean minutia quality
  std::vector<Point> cores;
  std::vector<Point> deltas;
  std::array<int, 8> lines;  // x of type lines 1..4, then their y

  Rec(int t = 0, int q = 50, std::vector<Point> c = {}, std::vector<Point> d = {}, std::array<int, 8> l = {})
      : type(t), quality(q), cores(std::move(c)), deltas(std::move(d)), lines(l) {}

  TypelineRecord build() const {
    TypelineRecord r{};
    r.tag = TYPELINE_TAG;
    r.patternType = static_cast<std::uint8_t>(type);
    r.minutiae.meanQuality = static_cast<std::uint8_t>(quality);
    for (const Point& c : cores)
      r.singular.points[r.singular.count++] = {static_cast<std::int16_t>(c.x), static_cast<std::int16_t>(c.y),
                                               static_cast<std::uint8_t>(c.direction), 1};
    for (const Point& d : deltas)
      r.singular.points[r.singular.count++] = {static_cast<std::int16_t>(d.x), static_cast<std::int16_t>(d.y), 255, 0};
    for (int k = 0; k < 8; ++k) r.typeLines[k] = static_cast<std::int16_t>(lines[k]);
    return r;
  }
};

// A type-5 record whose core lies `distance` from the end of type line 1.
Rec loop_with_line_at(int distance) {
  Rec r{5, 50, {{100, 100, 0}}, {}, {}};
  r.lines = {100 + distance, 300, 0, 0, 100, 300, 0, 0};
  return r;
}

TEST(TypelineTypeMatch, TableOfPatternPairs) {
  struct Case {
    const char* name;
    Rec a, b;
    int expected;
  };
  const Rec two_cores_60{0, 50, {{100, 100, 0}, {160, 100, 0}}, {}, {}};
  const Case cases[] = {
      {"equal types", {7, 0}, {7, 0}, 1},
      {"no minutiae on one side", {4, 0}, {5, 50}, 0},
      {"4 against 6", {4, 50}, {6, 50}, 0},
      {"4 against 6, low qualities", {4, 30}, {6, 35}, 1},
      {"4 against 6, one quality 36", {4, 36}, {6, 39}, 0},
      {"3 against 0", {3, 50}, {0, 50}, 1},
      {"3 against 10", {10, 50}, {3, 50}, 1},
      {"4 against 5", {4, 50}, {5, 50}, 0},
      {"6 against 7", {7, 50}, {6, 50}, 0},
      {"8 against 9", {8, 50}, {9, 50}, 1},
      {"2 against 4", {2, 50}, {4, 50}, 1},
      {"2 against 6", {2, 50}, {6, 50}, 0},
      {"1 against 5, core 70 from its line", {1, 50}, loop_with_line_at(70), 1},
      {"1 against 5, core 71 from its line", loop_with_line_at(71), {1, 50}, 0},
      {"1 against 5 without a core to measure", {1, 50}, {5, 50}, 1},
      {"0 against 4, close type lines", {0, 50}, {4, 50, {}, {}, {100, 145, 0, 0, 100, 100, 0, 0}}, 1},
      {"0 against 4, spread type lines", {0, 50}, {4, 50, {}, {}, {100, 146, 0, 0, 100, 100, 0, 0}}, 0},
      {"core distances differ by 60, type 1 against one core", {1, 50, two_cores_60.cores}, {0, 50, {{9, 9, 0}}}, 1},
      {"core distances differ by 60, no single core", {1, 50, two_cores_60.cores}, {0, 50}, 0},
      {"core distances differ by 55", {1, 50, {{100, 100, 0}, {155, 100, 0}}}, {0, 50}, 1},
  };
  for (const Case& c : cases) {
    const TypelineRecord a = c.a.build(), b = c.b.build();
    EXPECT_EQ(type_matching(&a, &b), c.expected) << c.name;
  }
}

TEST(TypelineTypeMatch, DeltaSideDecidesBetweenLoopsAndType7) {
  // Core facing 0 with the delta below it: the delta lies at direction 60,
  // turned +60 from the core; facing 200 the turn is -140.
  struct Case {
    int core_direction, other_type, expected;
  };
  const Case cases[] = {{0, 4, 0}, {0, 5, 1}, {200, 4, 1}, {200, 5, 0}};
  for (const Case& c : cases) {
    const Rec seven{7, 50, {{100, 100, c.core_direction}}, {{100, 150, 0}}, {}};
    const TypelineRecord a = seven.build(), b = Rec{c.other_type, 50}.build();
    EXPECT_EQ(type_matching(&a, &b), c.expected);
    EXPECT_EQ(type_matching(&b, &a), c.expected);
  }
  // Two deltas, or a type-7 record without a core: the test does not apply.
  const TypelineRecord two = Rec{7, 50, {{100, 100, 0}}, {{100, 150, 0}, {50, 150, 0}}, {}}.build();
  const TypelineRecord coreless = Rec{7, 50, {}, {{100, 150, 0}}, {}}.build();
  const TypelineRecord loop = Rec{4, 50}.build();
  EXPECT_EQ(type_matching(&two, &loop), 1);
  EXPECT_EQ(type_matching(&coreless, &loop), 1);
}

TEST(TypelineTypeMatch, WhorlAgainstType8ComparesCoreSpacing) {
  // X: two cores 50 apart; Y: one core whose nearer type line ends G away,
  // the other one 10 and 20 pixels further on (a small spread).
  const auto y_with = [](int g) {
    Rec r{8, 50, {{100, 100, 0}}, {}, {}};
    r.lines = {100 + g, 110 + g, 0, 0, 100, 120, 0, 0};
    return r.build();
  };
  const TypelineRecord whorl1 = Rec{1, 50, {{100, 100, 0}, {150, 100, 0}}}.build();
  const TypelineRecord whorl0 = Rec{0, 50, {{100, 100, 0}, {150, 100, 0}}}.build();
  struct Case {
    const TypelineRecord* x;
    int g, expected;
  };
  const Case cases[] = {
      {&whorl1, 90, 1},  // 50 >= 90 - 40
      {&whorl1, 91, 0},
      {&whorl0, 86, 1},  // 50 >= 86 - 36, spread small
      {&whorl0, 87, 0},
  };
  for (const Case& c : cases) {
    const TypelineRecord y = y_with(c.g);
    EXPECT_EQ(type_matching(c.x, &y), c.expected) << c.g;
    EXPECT_EQ(type_matching(&y, c.x), c.expected) << c.g;
  }
}

TEST(TypelineTypeMatch, CoreToTypeLineDistance) {
  Rec r{5, 50, {{100, 100, 0}, {20, 20, 0}}, {}, {}};
  // Lines 1, 2 end 30 and 40 from core 0; lines 3, 4 end 5 and 50 from core 1.
  r.lines = {130, 100, 25, 20, 100, 140, 20, 70};
  const TypelineRecord rec = r.build();
  struct Case {
    int k, far, expected;
  };
  for (const Case& c : {Case{0, 0, 30}, Case{0, 1, 40}, Case{1, 0, 5}, Case{1, 7, 50}, Case{2, 0, 0}, Case{-1, 0, 0}})
    EXPECT_EQ(get_distance(&rec, c.k, c.far), c.expected) << c.k;
  // A core that is not there measures nothing.
  const TypelineRecord one = Rec{5, 50, {{100, 100, 0}}}.build();
  EXPECT_EQ(get_distance(&one, 1, 0), 0);
  EXPECT_EQ(get_distance(nullptr, 0, 0), 0);
}

}  // namespace
