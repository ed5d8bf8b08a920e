// Rotation and translation histograms of the graph matcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "api/histograms.h"
#include "api/match_data.h"
#include "zylscan/graph_matcher.h"

namespace {

using Bins = std::array<std::int32_t, 240>;
using Flags = std::array<std::uint8_t, 240>;

Flags all_allowed() {
  Flags f;
  f.fill(1);
  return f;
}

// Flags of a rotation limit L: bins 0..L-1 and 240-L..239.
Flags limited_to(int limit) {
  Flags f{};
  for (int b = 0; b < limit; ++b) f[b] = f[239 - b] = 1;
  return f;
}

std::int32_t rotation_of(Bins bins, const Flags& flags) {
  return RotationHistogramProcessing(bins.data(), flags.data(), 0, nullptr, nullptr, nullptr, 0,
                                     nullptr, 0, 0);
}

TEST(RotationHistogram, FindsTheCentreOfThePeak) {
  struct Case {
    std::vector<std::pair<int, int>> votes;  // bin, votes
    Flags flags;
    std::int32_t rotation;
  };
  const Case cases[] = {
      {{}, all_allowed(), 230},                  // nothing voted
      {{{10, 100}}, all_allowed(), 10},
      {{{2, 100}}, all_allowed(), 2},            // smoothing wraps round 0
      {{{238, 100}}, all_allowed(), 238},
      {{{100, 100}}, all_allowed(), 100},
      {{{10, 100}, {11, 100}}, all_allowed(), 11},  // centre 10.5 rounds up
      {{{100, 500}, {5, 200}}, limited_to(20), 5},  // 100 is not an allowed rotation
      {{{100, 500}}, limited_to(20), 230},          // nothing allowed weighs
      {{{10, 20}}, all_allowed(), 230},             // 20 votes weigh nothing
      {{{10, 21}}, all_allowed(), 10},
  };
  for (const Case& k : cases) {
    Bins bins{};
    for (auto [bin, votes] : k.votes) bins[bin] = votes;
    EXPECT_EQ(rotation_of(bins, k.flags), k.rotation) << "first bin " << (k.votes.empty() ? -1 : k.votes[0].first);
  }
}

// The peak as a running search finds it: the first allowed bin holding a
// value above the largest so far, starting from 0.
std::int32_t running_peak(const Bins& bins, const Flags& flags, std::int32_t& max) {
  max = 0;
  std::int32_t peak = 0;
  for (int b = 0; b < 240; ++b)
    if (flags[b] == 1 && bins[b] > max) {
      max = bins[b];
      peak = b;
    }
  return peak;
}

TEST(RotationHistogram, PeakIsTheRunningSearchs) {
  std::mt19937 rng(17);
  const std::int32_t extremes[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
  for (int round = 0; round < 4000; ++round) {
    Bins bins{};
    Flags flags{};
    const int kind = round % 4;
    for (int b = 0; b < 240; ++b) {
      // Few distinct values so that ties are common; extremes; negatives only.
      bins[b] = kind == 0   ? static_cast<std::int32_t>(rng() % 5)
                : kind == 1 ? extremes[rng() % 5]
                : kind == 2 ? -static_cast<std::int32_t>(rng() % 100)
                            : static_cast<std::int32_t>(rng());
      // Flags 0, 1 and other bytes (only 1 allows a bin); every so often none.
      flags[b] = round % 50 == 0 ? 0 : static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() % 4 : 1);
    }
    std::int32_t want_max = -1, got_max = -1;
    const std::int32_t want = running_peak(bins, flags, want_max);
    ASSERT_EQ(zyl::api::rotation_peak(bins.data(), flags.data(), got_max), want) << "round " << round;
    ASSERT_EQ(got_max, want_max) << "round " << round;
  }
}

TEST(RotationHistogram, LeavesTheSmoothedHistogram) {
  Bins bins{};
  bins[0] = 9;
  rotation_of(bins, all_allowed());  // copy: the original stays
  Bins smoothed = bins;
  RotationHistogramProcessing(smoothed.data(), all_allowed().data(), 0, nullptr, nullptr, nullptr,
                              0, nullptr, 0, 0);
  for (int b = 0; b < 240; ++b) {
    const bool near = b <= 4 || b >= 236;
    EXPECT_EQ(smoothed[b], near ? 9 : 0) << b;
  }
}

TEST(RotationHistogram, TurnsTheSampleAboutItsCentre) {
  struct Case {
    int peak;           // rotation voted for
    std::int32_t x, y;  // a minutia, centre (100, 100)
    std::int32_t angle;
    std::int32_t rx, ry, rangle;
  };
  const Case cases[] = {
      {60, 110, 100, 0, 100, 110, 60},     // quarter turn: +x goes to +y (rows down)
      {60, 100, 90, 200, 110, 100, 20},
      {120, 103, 100, 5, 97, 100, 125},    // half turn
      {180, 110, 100, 239, 100, 90, 179},  // three quarters
      {0, 137, 52, 17, 137, 52, 17},       // no turn
      {20, 200, 100, 0, 187, 150, 20},     // 30 degrees: 100 cos 30 = 86.6, sin 30 = 50
  };
  for (const Case& k : cases) {
    Bins bins{};
    bins[k.peak] = 100;
    std::int32_t xs[] = {k.x}, ys[] = {k.y}, as[] = {k.angle};
    GraphLine lines[2] = {{50, 10, 0, 0, 0, 0}, {50, 100, 0, 0, 0, 0}};
    const std::int32_t r = RotationHistogramProcessing(bins.data(), all_allowed().data(), 1, xs, ys,
                                                       as, 2, lines, 100, 100);
    EXPECT_EQ(r, k.peak);
    EXPECT_EQ(xs[0], k.rx) << "rotation " << k.peak;
    EXPECT_EQ(ys[0], k.ry) << "rotation " << k.peak;
    EXPECT_EQ(as[0], k.rangle) << "rotation " << k.peak;
    EXPECT_EQ(lines[0].orientation, (10 + k.peak) % 240 % 120);
    EXPECT_EQ(lines[1].orientation, (100 + k.peak) % 240 % 120);
  }
}

struct Endpoints {
  std::int32_t tx[2], ty[2], sx[2], sy[2];
};
const GraphLine kLine{0, 0, 0, 0, 0, 1};

TEST(TranslationHistogram, VotesOnlyWhenBothEndpointsAgree) {
  struct Case {
    Endpoints e;
    std::int32_t weight;
    int bin_x, bin_y;  // -1: no vote
  };
  const Case cases[] = {
      {{{10, 50}, {20, 20}, {0, 40}, {0, 0}}, 7, 1024 + 10, 1024 + 20},
      {{{10, 50}, {20, 20}, {0, 40}, {0, 0}}, 0, -1, -1},          // weight 0
      {{{0, 50}, {0, 20}, {0, 38}, {0, 20}}, 5, 1024 + 6, 1024},   // ex 0 and 12: mean 6
      {{{0, 50}, {0, 20}, {0, 37}, {0, 20}}, 5, -1, -1},           // difference 13 is not below
      {{{0, 50}, {0, 20}, {0, 36}, {0, 20}}, 5, -1, -1},
      {{{0, 0}, {-7, -9}, {3, 4}, {0, 0}}, 1, 1024 - 3, 1024 - 8}, // -7 / 2 truncates to -3
      {{{1023, 1023}, {0, 0}, {0, 0}, {0, 0}}, 1, 2047, 1024},
      {{{1024, 1024}, {0, 0}, {0, 0}, {0, 0}}, 1, -1, -1},          // outside the histogram
      {{{0, 0}, {-1024, -1024}, {0, 0}, {0, 0}}, 1, -1, -1},
  };
  for (const Case& k : cases) {
    std::vector<std::int32_t> hx(2048), hy(2048);
    AddTranslationHistogramValue(k.e.tx, k.e.ty, k.e.sx, k.e.sy, hx.data(), hy.data(), 1024, 1024,
                                 &kLine, &kLine, k.weight, 13);
    if (k.bin_x < 0) {
      EXPECT_EQ(std::count(hx.begin(), hx.end(), 0), 2048);
      EXPECT_EQ(std::count(hy.begin(), hy.end(), 0), 2048);
      continue;
    }
    EXPECT_EQ(hx[k.bin_x], k.weight);
    EXPECT_EQ(hy[k.bin_y], k.weight);
    EXPECT_EQ(std::count(hx.begin(), hx.end(), 0), 2047);
  }
}

TEST(TranslationHistogram, FindsAndAppliesTheShift) {
  struct Case {
    std::vector<std::pair<int, int>> x_votes, y_votes;
    std::int32_t dx, dy;
  };
  const Case cases[] = {
      {{}, {}, 0, 0},                                        // nothing voted
      {{{1034, 12}}, {{1044, 12}}, 10, 20},
      {{{1014, 12}}, {{1024, 5}}, -10, 0},
      {{{1034, 12}, {1036, 12}}, {{1024, 1}}, 11, 0},       // two votes: the middle
      {{{1034, 30}, {1060, 10}}, {{1024, 1}}, 10, 0},       // a far weak vote is ignored
      {{{3, 9}}, {{2046, 9}}, 6 - 1024, 2042 - 1024},        // windows clipped at the ends
      {{{1, 9}}, {{2047, 9}}, 5 - 1024, 0},                  // beyond the summed bins
  };
  for (const Case& k : cases) {
    std::vector<std::int32_t> hx(2048), hy(2048), scratch(2048);
    for (auto [bin, v] : k.x_votes) hx[bin] = v;
    for (auto [bin, v] : k.y_votes) hy[bin] = v;
    std::int32_t xs[] = {100, 5}, ys[] = {200, 7};
    std::int32_t dx = -1, dy = -1;
    TranslationHistogramProcessing(hx.data(), hy.data(), scratch.data(), 2048, 2048, xs, ys, 2, &dx, &dy);
    EXPECT_EQ(dx, k.dx);
    EXPECT_EQ(dy, k.dy);
    EXPECT_EQ(xs[0], 100 + k.dx);
    EXPECT_EQ(xs[1], 5 + k.dx);
    EXPECT_EQ(ys[0], 200 + k.dy);
    EXPECT_EQ(ys[1], 7 + k.dy);
  }
}

// The matcher's shift from the voted bins alone is the shift of the whole
// histogram, near both ends and in histograms shorter than the smoothing
// window too, and leaves the votes as they are.
TEST(TranslationHistogram, ShiftFromVotedBinsEqualsTheWholeHistogramsShift) {
  std::mt19937 random(7);
  for (const std::int32_t size : {1, 10, 11, 12, 16, 40, 2048}) {
    for (int round = 0; round < 200; ++round) {
      std::vector<std::int32_t> votes(static_cast<std::size_t>(size)), scratch(votes.size());
      std::int32_t lo = INT32_MAX, hi = -1;
      const int count = static_cast<int>(random() % 12);
      // Clusters of votes at random places, some at either end.
      const auto centre = static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(size));
      for (int v = 0; v < count; ++v) {
        std::int32_t bin = centre + static_cast<std::int32_t>(random() % 25) - 12;
        if (round % 4 == 1) bin = static_cast<std::int32_t>(random() % 8);
        if (round % 4 == 2) bin = size - 1 - static_cast<std::int32_t>(random() % 8);
        bin = std::clamp(bin, 0, size - 1);
        votes[static_cast<std::size_t>(bin)] += 1 + static_cast<std::int32_t>(random() % 254);
        lo = std::min(lo, bin);
        hi = std::max(hi, bin);
      }
      const std::vector<std::int32_t> voted = votes;
      const std::int32_t shift = zyl::api::shift_from_votes(votes.data(), scratch.data(), size, lo, hi);
      EXPECT_EQ(votes, voted);
      std::vector<std::int32_t> hx = voted, hy(votes.size()), whole_scratch(votes.size());
      std::int32_t dx = -1, dy = -1;
      TranslationHistogramProcessing(hx.data(), hy.data(), whole_scratch.data(), size, size, nullptr, nullptr, 0, &dx,
                                     &dy);
      ASSERT_EQ(shift, dx) << "size " << size << " round " << round;
    }
  }
}

TEST(LineLocation, IsSimilarWhenAllFourDifferencesAreBelowTheTolerance) {
  struct Case {
    Endpoints e;
    std::int32_t similar;
  };
  const Case cases[] = {
      {{{10, 50}, {20, 20}, {10, 50}, {20, 20}}, 1},
      {{{10, 50}, {20, 20}, {22, 50}, {20, 20}}, 1},  // 12 < 13
      {{{10, 50}, {20, 20}, {23, 50}, {20, 20}}, 0},  // 13 is not below
      {{{10, 50}, {20, 20}, {10, 37}, {20, 20}}, 0},
      {{{10, 50}, {20, 20}, {10, 50}, {33, 20}}, 0},
      {{{10, 50}, {20, 20}, {10, 50}, {20, 7}}, 0},
      {{{10, 50}, {20, 20}, {-2, 38}, {8, 8}}, 1},
  };
  for (const Case& k : cases)
    EXPECT_EQ(LineLocationSimilarity(k.e.tx, k.e.ty, k.e.sx, k.e.sy, &kLine, &kLine, 13), k.similar);
}

TEST(HistogramArguments, MissingArraysAreRefusedWithoutTouchingAnything) {
  Bins bins{};
  bins[10] = 100;
  const Flags flags = all_allowed();
  std::int32_t xs[] = {5}, ys[] = {6}, as[] = {7};
  GraphLine line{50, 10, 0, 0, 0, 0};
  EXPECT_EQ(RotationHistogramProcessing(nullptr, flags.data(), 1, xs, ys, as, 1, &line, 0, 0), -4);
  EXPECT_EQ(RotationHistogramProcessing(bins.data(), nullptr, 1, xs, ys, as, 1, &line, 0, 0), -4);
  EXPECT_EQ(RotationHistogramProcessing(bins.data(), flags.data(), 1, nullptr, ys, as, 1, &line, 0, 0), -4);
  EXPECT_EQ(RotationHistogramProcessing(bins.data(), flags.data(), 1, xs, ys, as, 1, nullptr, 0, 0), -4);
  EXPECT_EQ(bins[10], 100);  // not smoothed
  EXPECT_EQ(xs[0], 5);

  std::vector<std::int32_t> hx(2048), hy(2048), scratch(2048);
  hx[1034] = 9;
  std::int32_t dx = -1;
  TranslationHistogramProcessing(hx.data(), hy.data(), nullptr, 2048, 2048, xs, ys, 1, &dx, nullptr);
  EXPECT_EQ(dx, -1);
  EXPECT_EQ(hx[1034], 9);
  const std::int32_t p[] = {0, 0};
  AddTranslationHistogramValue(p, p, nullptr, p, hx.data(), hy.data(), 1024, 1024, &kLine, &kLine, 3, 13);
  EXPECT_EQ(hx[1024], 0);
  EXPECT_EQ(LineLocationSimilarity(p, p, p, p, nullptr, &kLine, 13), 0);
  FillLineData(nullptr, p, p, p);
  FillLineData1(&line, nullptr);
  EXPECT_EQ(line.orientation, 10);
}

}  // namespace

namespace {

// Every turn gives every line the orientation (o + rotation) modulo 120,
// orientations of built lines (0..119) and out-of-range ones alike.
TEST(RotationHistogram, TurnsEveryOrientationModulo120) {
  const std::int32_t orientations[] = {0, 1, 59, 60, 119, 120, 239, 240, 500, -1, -119, -120, -500};
  for (std::int32_t peak = 0; peak < 240; ++peak) {
    Bins bins{};
    bins[peak] = 100;
    GraphLine lines[std::size(orientations)];
    for (std::size_t i = 0; i < std::size(orientations); ++i) lines[i] = {50, orientations[i], 0, 0, 0, 0};
    const std::int32_t r = RotationHistogramProcessing(bins.data(), all_allowed().data(), 0, nullptr, nullptr,
                                                       nullptr, static_cast<std::int32_t>(std::size(lines)), lines, 0, 0);
    ASSERT_EQ(r, peak);
    for (std::size_t i = 0; i < std::size(orientations); ++i)
      ASSERT_EQ(lines[i].orientation, ((orientations[i] + peak) % 120 + 120) % 120) << orientations[i] << " " << peak;
  }
}

}  // namespace
