// Steps of the graph matcher's scoring, shared with its tests.
#pragma once

#include <cstdint>
#include <vector>

#include "zylscan/xw.h"
#include "zylscan/graph_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t MatchFeatures(MatchSide* test_side, MatchSide* sample_side, int32_t threshold, MatchDetails* details,
                      XWContext* context);
void RotateRidgesOrientation(int32_t cx, int32_t cy, int32_t rotation, FeatureRecord* grid);
void TranslateRidgesOrientation(int32_t dx, int32_t dy, FeatureRecord* grid);
int32_t OrientationStructureComparison(const FeatureRecord* test_grid, const FeatureRecord* sample_grid,
                                       int32_t* weight);

}  // namespace zyl::api

struct XWContext;

namespace zyl::api {

// A candidate pair whose endpoints coincide after alignment: the indexes of
// its lines in the test and sample line tables, and its score.
struct LocatedCandidate {
  std::int32_t test_line;
  std::int32_t sample_line;
  std::int32_t score;
};

// ComputeDistance3D of three non-negative differences, from a table for
// small sums of squares.
std::int32_t pair_distance(std::int32_t a, std::int32_t b, std::int32_t c);

// The sample lines of a match as 16-bit columns, for the candidate scan's
// three tolerance tests eight lines at a time.
struct NarrowColumns {
  const std::int16_t* length;
  const std::int16_t* first;
  const std::int16_t* second;
};

// Values the 16-bit tests take: every difference of two of them and its
// negation fit in 16 bits, so the tests give what the 32-bit ones give.
constexpr std::int32_t kNarrowLimit = 16383;
// Whether a line's three values lie within -kNarrowLimit..kNarrowLimit,
// tested without a branch between them.
constexpr bool fits_narrow(std::int32_t a, std::int32_t b, std::int32_t c) {
  const auto fits = [](std::int32_t v) {
    return static_cast<std::uint32_t>(v) + kNarrowLimit <= 2u * kNarrowLimit;
  };
  return static_cast<bool>(static_cast<int>(fits(a)) & static_cast<int>(fits(b)) & static_cast<int>(fits(c)));
}

// One test line's values as the candidate scan compares them.
struct NarrowLine {
  std::int32_t length;
  std::int32_t first;
  std::int32_t second;
};

// The candidate scan's tests of one test line against a window of sample
// lines: both relative angles within the angle tolerance (on the turn of
// 240) and the lengths within the length tolerance.
class PassingLines {
 public:
  PassingLines(std::int32_t angle_tolerance, std::int32_t length_tolerance);

  // Lists, ascending, the positions first..last-1 of the columns whose
  // sample lines pass the tests against test line t (its values and the
  // columns' all within kNarrowLimit); with first_agrees, the caller knows
  // the first angles to agree and they are not tested. Returns how many it
  // listed in `out` (room for last - first). The columns must be readable
  // for seven entries past `last`. Eight lines a step in 16-bit lanes where
  // there is SSE2.
  std::int32_t list(const NarrowColumns& s, std::int32_t first, std::int32_t last, NarrowLine t, bool first_agrees,
                    std::int32_t* out) const;
  // The same one line at a time (the form used where SSE2 is missing).
  std::int32_t list_plain(const NarrowColumns& s, std::int32_t first, std::int32_t last, NarrowLine t,
                          bool first_agrees, std::int32_t* out) const;

 private:
  std::int32_t angle_tolerance_;
  std::int32_t length_tolerance_;
  std::int16_t narrow_angle_tolerance_;
  std::int16_t narrow_length_tolerance_;
};

// Sums the scores of groups of candidates linked by shared lines.
std::int64_t score_by_groups(const std::vector<LocatedCandidate>& candidates);

// The raw sum brought to the scale of a default-sized test side: limited by
// the line count (parameters 20012, 20013), else doubled.
std::int64_t scale_by_lines(const XWContext& context, std::int64_t raw, std::int32_t test_lines);

// Reduces v when the two templates' border densities differ by more than 14.
std::int64_t weigh_by_border_density(std::int64_t v, std::int32_t test_density, std::int32_t sample_density);

// Lists a (test, sample) minutia pair in long-form details once; pairs beyond
// the record's room are dropped.
void add_detail_pair(MatchDetails& details, std::int32_t test_index, std::int32_t sample_index);

}  // namespace zyl::api
