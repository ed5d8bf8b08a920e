// Accuracy check of algorithm modes 3 and 4 on the crops of tests/data:
// each mode extracts through the device road (DevAlgExtract) and compares
// through DevAlgVerify; genuine pairs (impressions of one finger) must score
// above impostor pairs (first impressions of two fingers).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/devalg.h"
#include "zylscan/zylfpscan_feature.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Print {
  std::string finger;  // set and finger number
  int impression;
  Bytes tmpl;
};


// The 160 x 160 crops: set, finger, impression.
const struct {
  const char* set;
  int finger, impression;
} kCrops[] = {{"fvc2002", 101, 1}, {"fvc2002", 101, 2}, {"fvc2002", 101, 3}, {"fvc2002", 101, 4},
              {"fvc2002", 101, 5}, {"fvc2002", 101, 6}, {"fvc2002", 101, 7}, {"fvc2002", 101, 8},
              {"fvc2002", 102, 1}, {"fvc2002", 103, 1}, {"fvc2002", 104, 1}, {"fvc2002", 105, 1},
              {"fvc2004", 102, 1}, {"fvc2004", 102, 5}, {"fvc2004", 103, 1}, {"fvc2000", 102, 1},
              {"fvc2000", 102, 2}};

struct Scores {
  std::vector<int> genuine, impostor;
};

Scores Measure(int mode, int side) {
  const std::int32_t saved = AlgMode;
  setAlgMode(mode);
  std::vector<Print> prints;
  for (const auto& c : kCrops) {
    const std::string name = std::string(c.set) + "_" + std::to_string(c.finger) + "_" +
                             std::to_string(c.impression) + "_160.pgm";
    zyl::test::GreyImage img = zyl::test::read_pgm(zyl::test::test_data(name));
    if (side != img.width) img = zyl::test::centre_crop(img, side);
    Bytes t(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
    std::int32_t length = 0;
    EXPECT_EQ(DevAlgExtract(side, side, img.pixels.data(), 500, t.data(), &length, nullptr), 0) << name;
    prints.push_back({std::string(c.set) + "_" + std::to_string(c.finger), c.impression, std::move(t)});
  }
  Scores s;
  for (std::size_t i = 0; i < prints.size(); ++i)
    for (std::size_t j = i + 1; j < prints.size(); ++j) {
      const bool same = prints[i].finger == prints[j].finger;
      const bool firsts = prints[i].impression == 1 && prints[j].impression == 1;
      if (!same && !firsts) continue;
      const int score = DevAlgVerify(prints[i].tmpl.data(), prints[j].tmpl.data(), nullptr);
      EXPECT_GE(score, 0);
      (same ? s.genuine : s.impostor).push_back(score);
    }
  setAlgMode(saved);
  return s;
}

double Mean(const std::vector<int>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size()); }

// Share of (genuine, impostor) pairings in which the genuine pair scores
// higher, ties counting half: 0.5 is chance, 1 a perfect ranking.
double RankedAbove(const Scores& s) {
  double above = 0;
  for (int g : s.genuine)
    for (int i : s.impostor) above += g > i ? 1.0 : g == i ? 0.5 : 0.0;
  return above / static_cast<double>(s.genuine.size() * s.impostor.size());
}

void Report(const char* what, const Scores& s) {
  std::printf("[ info ] %s: %zu genuine pairs (min %d, mean %.1f), %zu impostor pairs (max %d, mean %.1f), "
              "ranked above %.3f\n",
              what, s.genuine.size(), *std::min_element(s.genuine.begin(), s.genuine.end()), Mean(s.genuine),
              s.impostor.size(), *std::max_element(s.impostor.begin(), s.impostor.end()), Mean(s.impostor),
              RankedAbove(s));
}

}  // namespace

TEST(QuentaAccuracy, Mode3GenuineAboveImpostor) {
  const Scores s = Measure(3, 160);
  ASSERT_FALSE(s.genuine.empty());
  ASSERT_FALSE(s.impostor.empty());
  Report("mode 3, 160 x 160", s);
  EXPECT_GT(Mean(s.genuine), Mean(s.impostor));
  EXPECT_GT(RankedAbove(s), 0.75);
}

TEST(QuentaAccuracy, Mode4GenuineAboveImpostorOn96Crops) {
  const Scores s = Measure(4, 96);
  ASSERT_FALSE(s.genuine.empty());
  ASSERT_FALSE(s.impostor.empty());
  Report("mode 4, 96 x 96", s);
  EXPECT_GT(Mean(s.genuine), Mean(s.impostor));
  EXPECT_GT(RankedAbove(s), 0.7);
}
