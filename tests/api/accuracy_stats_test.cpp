// The accuracy program's statistics on hand-made score lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "../../bench/accuracy_stats.h"

namespace {

using Scores = std::vector<std::int32_t>;

TEST(AccuracyStatistics, ErrorRatesOfHandMadeScoreLists) {
  struct Case {
    const char* what;
    Scores genuine, impostor;
    double eer, fmr100, fmr1000;
  };
  Scores one_high_impostor(99, 0);
  one_high_impostor.push_back(70);
  const Case cases[] = {
      {"separated", {50, 60, 70, 80}, {10, 20, 30, 40}, 0, 0, 0},
      // At 40 both rates are 1/5.
      {"crossing", {10, 40, 60, 80, 90}, {5, 15, 20, 30, 50}, 0.2, 0.4, 0.4},
      // The rates never meet: at 40 FMR 1/2 and FNMR 1/3, at 50 FMR 1/4 and
      // FNMR 1/3; the tighter interval is the second.
      {"interval", {20, 50, 60}, {10, 30, 40, 55}, (0.25 + 1.0 / 3) / 2, 2.0 / 3, 2.0 / 3},
      // One impostor in a hundred may pass at FMR100, none at FMR1000.
      {"fmr100 only", {50, 60, 80, 90}, one_high_impostor, 0.01 / 2, 0, 0.5},
  };
  for (const Case& c : cases) {
    const zyl::test::AccuracyFigures f = zyl::test::accuracy(c.genuine, c.impostor);
    EXPECT_NEAR(f.eer, c.eer, 1e-9) << c.what;
    EXPECT_NEAR(f.fmr100, c.fmr100, 1e-9) << c.what;
    EXPECT_NEAR(f.fmr1000, c.fmr1000, 1e-9) << c.what;
    EXPECT_EQ(f.genuine, c.genuine.size());
    EXPECT_EQ(f.impostor, c.impostor.size());
  }
}

TEST(AccuracyStatistics, MedianOfOddEvenAndEmptyLists) {
  EXPECT_EQ(zyl::test::median({3, 1, 2}), 2);
  EXPECT_EQ(zyl::test::median({4, 1, 3, 2}), 2.5);
  EXPECT_EQ(zyl::test::median({}), 0);
}

}  // namespace
