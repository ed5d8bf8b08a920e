// Compact card minutiae: unit conversions, conflict distances against a
// direct reading of the rule, and the reduction to a matcher's maximum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/template/card_minutiae.h"
#include "zylscan/matchlib_card.h"
#include "zylscan/matchlib_object.h"

namespace {

using namespace zyl::matchlib;

TEST(CardUnits, CoordinatesAndDirectionsConvertBothWays) {
  struct Case {
    int record, card, back;
  };
  const Case cases[] = {{0, 0, 0}, {197, 100, 197}, {492, 250, 493}, {1, 1, 2}, {98, 50, 99}};
  for (const Case& c : cases) {
    EXPECT_EQ(card_coordinate(c.record, 0), c.card) << c.record;
    EXPECT_EQ(record_coordinate(c.card), c.back) << c.card;
  }
  // The closed form equals ((v - shift) * 100 + 98) / 197 over the card span.
  for (int v = 0; v <= 492; ++v) ASSERT_EQ(card_coordinate(v + 40, 40), (v * 100 + 98) / 197) << v;

  struct Angle {
    int type_bits, direction;
    uint8_t byte;
    uint8_t direction_back;
  };
  const Angle angles[] = {{0x40, 253, 0x40 | 63, 252}, {0x80, 254, 0x80, 0}, {0, 255, 0, 0},
                          {0, 1, 0, 0},                {0, 2, 1, 4},         {0xC0, 128, 0xC0 | 32, 128}};
  for (const Angle& a : angles) {
    EXPECT_EQ(card_angle_byte(a.type_bits, a.direction), a.byte) << a.direction;
    EXPECT_EQ(record_direction(a.byte), a.direction_back) << a.direction;
  }
}

TEST(ConflictDistance, KnownPairs) {
  struct Case {
    const char* what;
    std::vector<CompactMinutia> m;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {"near-parallel, 5 apart; third far away",
       {{50, 50, 10, 0}, {53, 54, 12, 0}, {150, 150, 10, 0}},
       {25, 25, 255}},
      {"near-parallel but 8 apart", {{50, 50, 10, 0}, {58, 50, 12, 0}}, {255, 255}},
      {"directions 14 apart", {{50, 50, 10, 0}, {53, 54, 24, 0}}, {255, 255}},
      // Facing each other along the x axis: i points at j (direction 0, +x),
      // j points back (128): the step of r = 10 from i lands on j.
      {"opposite and facing", {{50, 50, 0, 0}, {60, 50, 128, 0}}, {10, 10}},
      {"opposite, side by side", {{50, 50, 0, 0}, {50, 60, 128, 0}}, {255, 255}},
      {"20 apart on one axis", {{50, 50, 0, 0}, {70, 50, 128, 0}}, {255, 255}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.m.size());
    ASSERT_EQ(::minutiae_conflict_distance(c.m.data(), c.m.size(), out.data()), ML_OK);
    EXPECT_EQ(out, c.expected) << c.what;
  }
  EXPECT_EQ(::minutiae_conflict_distance(nullptr, 0, nullptr), ML_OK);
  EXPECT_EQ(::minutiae_conflict_distance(nullptr, 1, nullptr), ML_BAD_ARGUMENT);
}

TEST(ConflictDistance, MinimumOverAllPartners) {
  // 0 and 1 are near-parallel 3 apart (23); 0 and 2 face each other at 10,
  // 1 and 2 at 7: each keeps its smallest.
  const std::vector<CompactMinutia> m = {{50, 50, 0, 0}, {53, 50, 2, 0}, {60, 50, 128, 0}};
  const auto d = conflict_distances(m);
  EXPECT_EQ(d[0], 10);
  EXPECT_EQ(d[1], 7);
  EXPECT_EQ(d[2], 7);
}

TEST(CompactReduction, LeavesListAloneWithinTheMaximum) {
  std::vector<CompactMinutia> m = {{1, 1, 0, 0}, {1, 1, 0, 0}, {53, 54, 12, 0}};
  const auto before = m;
  reduce_compact_minutiae(m, 3);
  ASSERT_EQ(m.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(m[i].x, before[i].x);
}

TEST(CompactReduction, DropsRepeatsThenOrdersFreeMinutiaeFirst) {
  // Five minutiae, maximum 4: the repeat of (10, 10) goes, which is enough;
  // then the conflicting pair (5 apart, distance 25) follows the free ones.
  std::vector<CompactMinutia> m = {
      {50, 50, 10, 1}, {10, 10, 0, 2}, {53, 54, 12, 3}, {10, 10, 99, 4}, {120, 120, 0, 5}};
  reduce_compact_minutiae(m, 4);
  std::vector<int> q;
  for (const auto& c : m) q.push_back(c.quality);
  EXPECT_EQ(q, (std::vector<int>{2, 5, 1, 3}));
}

TEST(CompactReduction, BandCutKeepsTheCentralColumns) {
  // 32 minutiae spread over x 0..248 in steps of 8, y = 10: the middle of the
  // x spread is (x[2] + x[29]) / 2 = (16 + 232) / 2 = 124, band 49..199.
  std::vector<CompactMinutia> m;
  for (int i = 0; i < 32; ++i) m.push_back({static_cast<uint8_t>(8 * i), 10, static_cast<uint8_t>(64 * (i % 2)), 0});
  reduce_compact_minutiae(m, 10);
  ASSERT_FALSE(m.empty());
  for (const auto& c : m) {
    EXPECT_GE(c.x, 49);
    EXPECT_LE(c.x, 199);
  }
  EXPECT_EQ(m.size(), 18u);  // x = 56, 64, .. 192
}

TEST(CompactReduction, RandomListsStayWithinTheirInput) {
  std::mt19937 rng(9);
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<CompactMinutia> m(2 + rng() % 127);
    for (auto& c : m) c = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), 0};
    const auto original = m;
    reduce_compact_minutiae(m, rng() % m.size());
    EXPECT_LE(m.size(), original.size());
    const auto d = conflict_distances(m);
    bool seen_conflict = false;
    for (size_t i = 0; i < m.size(); ++i) {
      if (d[i] != 255) seen_conflict = true;
      else EXPECT_FALSE(seen_conflict) << "free minutia after a conflicting one";
    }
  }
}

}  // namespace
