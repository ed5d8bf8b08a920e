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
constexpr bool fits_narrow(std::int32_t v) { return v >= -kNarrowLimit && v <= kNarrowLimit; }

// Bit k (k = 0..7) set when sample line at + k passes the candidate tests
// against a test line of these values (all three within kNarrowLimit, as
// are the columns' values): both relative angles within the angle
// tolerance (on the turn of 240) and the lengths within the length
// tolerance. The columns must be readable for eight entries from `at`;
// lanes past the caller's range are the caller's to drop.
std::uint32_t tolerance_mask(const NarrowColumns& s, std::size_t at, std::int32_t t_length, std::int32_t t_first,
                             std::int32_t t_second, std::int32_t angle_tolerance, std::int32_t length_tolerance);
// The same without SSE2 (the form used where SSE2 is missing).
std::uint32_t tolerance_mask_plain(const NarrowColumns& s, std::size_t at, std::int32_t t_length,
                                   std::int32_t t_first, std::int32_t t_second, std::int32_t angle_tolerance,
                                   std::int32_t length_tolerance);

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
