// The crowding of the refined pair scorer's selected pairs, computed by a
// sweep over the pairs in order of x, against the comparison of every pair
// with every other that it replaces.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "matchlib/match/pair_matcher.h"

namespace {

std::vector<int64_t> reference(const std::vector<int16_t>& ax, const std::vector<int16_t>& ay,
                               const std::vector<int16_t>& bx, const std::vector<int16_t>& by) {
  const int c = static_cast<int>(ax.size());
  auto sq = [](int x1, int y1, int x2, int y2) {
    const int64_t dx = x1 - x2, dy = y1 - y2;
    return dx * dx + dy * dy;
  };
  std::vector<int64_t> crowd(c, 0);
  for (int p = 0; p < c; ++p)
    for (int q = 0; q < c; ++q) {
      if (q == p) continue;
      const int64_t s = sq(ax[p], ay[p], ax[q], ay[q]) + sq(bx[p], by[p], bx[q], by[q]);
      if (s <= 31) crowd[p] += 32 - s;
    }
  return crowd;
}

TEST(PairCrowding, SweepEqualsAllPairsComparison) {
  std::mt19937 rng(4601);
  for (int trial = 0; trial < 300; ++trial) {
    const int c = trial % 40 == 0 ? 0 : static_cast<int>(rng() % 200) + 1;
    // Dense clusters (many pairs within reach, repeated points, equal x),
    // sparse spreads, and coordinates near the 16-bit ends.
    const int spread = trial % 3 == 0 ? 8 : trial % 3 == 1 ? 40 : 400;
    const int base = trial % 7 == 0 ? 32000 : trial % 7 == 1 ? -32000 : 0;
    std::vector<int16_t> ax(c), ay(c), bx(c), by(c);
    for (int p = 0; p < c; ++p) {
      ax[p] = static_cast<int16_t>(base + static_cast<int>(rng() % spread) - spread / 2);
      ay[p] = static_cast<int16_t>(base + static_cast<int>(rng() % spread) - spread / 2);
      bx[p] = static_cast<int16_t>(static_cast<int>(rng() % spread));
      by[p] = static_cast<int16_t>(static_cast<int>(rng() % spread));
      if (p > 0 && rng() % 10 == 0) {  // a repeated pair
        ax[p] = ax[p - 1], ay[p] = ay[p - 1], bx[p] = bx[p - 1], by[p] = by[p - 1];
      }
    }
    std::vector<int64_t> got(c, -1);
    zyl::matchlib::pair_crowding(ax.data(), ay.data(), bx.data(), by.data(), c, got.data());
    ASSERT_EQ(got, reference(ax, ay, bx, by)) << "trial " << trial << " count " << c;
  }
}

}  // namespace
