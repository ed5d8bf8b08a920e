// Graph lines of the test and sample templates and the preparation of a
// match side.
#include "api/graph_lines.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <new>

#include "api/match_data.h"
#include "common/guarded_call.h"
#include "api/xw_context.h"
#include "zylscan/geometry.h"
#include "zylscan/graph_matcher.h"
#include "extract/geometry.h"

namespace zyl::api {
namespace {

// ComputeDistance answers this for coordinates too far apart for its table;
// no counting array needs more entries than one past it.
constexpr std::int32_t kOutOfRangeLength = 8193;

std::int32_t distance(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
  const auto span = [](std::int32_t a, std::int32_t b) {
    const std::int64_t d = std::llabs(std::int64_t{a} - b);
    return static_cast<std::int32_t>(std::min<std::int64_t>(d, kOutOfRangeLength));
  };
  return zyl::extract::ComputeDistance(span(x0, x1), span(y0, y1));
}

}  // namespace

std::int32_t span_length(std::int64_t dx, std::int64_t dy) {
  constexpr std::int64_t kMaxComponent = kOutOfRangeLength - 1;
  if (dx < 0 || dy < 0 || dx > kMaxComponent || dy > kMaxComponent) return kOutOfRangeLength;
  const std::int64_t squared = dx * dx + dy * dy;
  if (squared >= kMaxComponent * kMaxComponent) return kOutOfRangeLength;
  // The square root in double of an integer below 2^26 is correctly rounded
  // and lies at least 2^-14 below the next integer when it is not one, so
  // its truncation is the integer root.
  return static_cast<std::int32_t>(std::sqrt(static_cast<double>(squared))) | 1;
}

namespace {

// Lengths lo <= length < hi, decided on the squared span where that is
// enough. ComputeDistance grows with dx^2 + dy^2, so a pair whose squared
// span is at most that of a point below lo is too short, and one at least
// that of a point reaching hi is too long; only the pairs in between need
// the table search. Filled by probing (x, 0) spans, a few hundred calls.
class LengthWindow {
 public:
  // ComputeDistance(x, 0) for every x the window probes: one table for the
  // process instead of a table search per probe on every side prepared.
  static const std::array<std::int32_t, kOutOfRangeLength + 1>& axis_lengths() {
    static const auto table = [] {
      std::array<std::int32_t, kOutOfRangeLength + 1> t{};
      for (std::int32_t x = 0; x <= kOutOfRangeLength; ++x) t[x] = zyl::extract::ComputeDistance(x, 0);
      return t;
    }();
    return table;
  }

  LengthWindow(std::int32_t lo, std::int32_t hi) {
    const std::array<std::int32_t, kOutOfRangeLength + 1>& axis = axis_lengths();
    std::int32_t x = 0;
    while (x <= kOutOfRangeLength && axis[x] < lo) ++x;
    too_short_up_to_ = x == 0 ? -1 : std::int64_t{x - 1} * (x - 1);
    while (x <= kOutOfRangeLength && axis[x] < hi) ++x;
    too_long_from_ = x <= kOutOfRangeLength ? std::int64_t{x} * x : INT64_MAX;
    lo_ = lo;
    hi_ = hi;
  }

  // The pair's length when it lies in the window, else -1.
  std::int32_t length(const FeatureRecord& f, std::int32_t j, std::int32_t k) const {
    const std::int64_t dx = span(f.minutiaX[j], f.minutiaX[k]);
    const std::int64_t dy = span(f.minutiaY[j], f.minutiaY[k]);
    const std::int64_t squared = dx * dx + dy * dy;
    if (squared <= too_short_up_to_ || squared >= too_long_from_) return -1;
    const std::int32_t len = span_length(dx, dy);
    return len >= lo_ && len < hi_ ? len : -1;
  }

 private:
  static std::int64_t span(std::int32_t a, std::int32_t b) {
    return std::min<std::int64_t>(std::llabs(std::int64_t{a} - b), kOutOfRangeLength);
  }
  std::int64_t too_short_up_to_ = -1;
  std::int64_t too_long_from_ = INT64_MAX;
  std::int32_t lo_ = 0;
  std::int32_t hi_ = 0;
};

void clear_bins(MatchSide& side) { std::fill(std::begin(side.binCounts), std::end(side.binCounts), 0); }

// Collects the pairs j < k with shortest <= length < longest, in the order
// found. Returns how many were collected (fewer when memory ran out).
std::int32_t collect_pairs(const FeatureRecord& f, PairSorter& sorter, std::int32_t longest,
                           std::int32_t shortest) {
  const std::int32_t n = minutia_count(f);
  const LengthWindow window(shortest, longest);
  std::int32_t count = 0;
  for (std::int32_t j = 0; j < n; ++j) {
    for (std::int32_t k = j + 1; k < n; ++k) {
      const std::int32_t len = window.length(f, j, k);
      if (len < 0) continue;
      if (!reserve_one_more(sorter.pairs, sorter.pairCapacity, count, kListGrowth)) return count;
      sorter.pairs[count++] = {static_cast<std::uint16_t>(len), static_cast<std::uint16_t>(j),
                               static_cast<std::uint16_t>(k)};
    }
  }
  return count;
}

// Orders the pointer array by length, shortest first, pairs of equal length
// in the reverse of the order found (a counting sort filled from the back).
void sort_pairs_by_length(PairSorter& sorter, GraphPair* pairs, std::int32_t count) {
  std::int32_t* slots = sorter.counts;
  std::fill(slots, slots + sorter.countSize, 0);
  for (std::int32_t p = 0; p < count; ++p) ++slots[pairs[p].length];
  for (std::int32_t len = 1; len < sorter.countSize; ++len) slots[len] += slots[len - 1];
  for (std::int32_t p = 0; p < count; ++p) sorter.pointers[--slots[pairs[p].length]] = &pairs[p];
}

// The part of FillLineData after the direction of the line from its first
// minutia to its second. Inline: the line builders call it for every line.
inline void set_line_angles(GraphLine& line, std::int32_t direction, const std::int32_t* angles) {
  line.orientation = direction >= 120 ? direction - 120 : direction;
  // A full modulo rather than one correction, so that an angle outside
  // 0..239 in a damaged record cannot give a bin outside the table.
  line.firstAngle = wrap240(direction - angles[line.first]);
  line.secondAngle = wrap240(wrap240(direction + 120) - angles[line.second]);
}

// Lengths never exceed the out-of-range answer of ComputeDistance, so the
// counting array needs no more entries than that whatever the setting. Grows
// it to the longest length and answers the lengths it can count: one past
// the longest line the test side may keep.
std::int32_t usable_longest(PairSorter& sorter, std::int32_t longest) {
  const std::int32_t wanted = std::min(longest, kOutOfRangeLength + 1);
  if (sorter.countSize >= wanted) return wanted;
  void* grown = std::realloc(sorter.counts, static_cast<std::size_t>(wanted) * sizeof(std::int32_t));
  if (!grown) return sorter.countSize;  // sort only the lengths it can count
  sorter.counts = static_cast<std::int32_t*>(grown);
  sorter.countSize = wanted;
  return wanted;
}

// The test side's lines from the pairs found (count of them, in the order
// found): the shortest budget / 2 pairs, each in both directions. Directions
// come from `directions` (one per pair) when given, else from the record.
std::int32_t build_test_lines(MatchSide& side, PairSorter& sorter, std::int32_t budget, GraphPair* pairs,
                              const std::uint8_t* directions, std::int32_t count) {
  // The line table holds two lines per kept pair.
  const std::int32_t half = std::clamp(budget, 0, ZYL_GRAPH_LINES) / 2;
  std::int32_t kept = count;
  bool sorted = false;
  if (count >= half) {
    kept = half;
    if (sorter.pointerCapacity < count) {
      void* grown = std::realloc(sorter.pointers, static_cast<std::size_t>(count) * sizeof(GraphPair*));
      if (grown) {
        sorter.pointers = static_cast<GraphPair**>(grown);
        sorter.pointerCapacity = count;
      }
    }
    // Without memory to sort, the first pairs found are kept instead.
    if (sorter.pointerCapacity >= count) {
      sort_pairs_by_length(sorter, pairs, count);
      sorted = true;
    }
  }

  clear_bins(side);
  const FeatureRecord& f = side.features;
  for (std::int32_t t = 0; t < kept; ++t) {
    const GraphPair& pair = sorted ? *sorter.pointers[t] : pairs[t];
    GraphLine& forward = side.lines[2 * t];
    forward.length = pair.length;
    forward.first = pair.first;
    forward.second = pair.second;
    if (directions)
      set_line_angles(forward, directions[&pair - pairs], f.minutiaAngle);
    else
      zyl::api::FillLineData(&forward, f.minutiaX, f.minutiaY, f.minutiaAngle);
    if (forward.length > side.lengthBound) side.lengthBound = forward.length + 1;
    add_to_bin(side, &forward);

    GraphLine& reverse = side.lines[2 * t + 1];
    reverse.length = pair.length;
    reverse.first = pair.second;
    reverse.second = pair.first;
    zyl::api::FillLineData1(&reverse, &forward);
    add_to_bin(side, &reverse);
  }
  return 2 * kept;
}

// The sample side's centre: the middle of its minutiae's bounding box.
void set_sample_centre(MatchSide& side) {
  const FeatureRecord& f = side.features;
  const std::int32_t n = minutia_count(f);
  std::int32_t min_x = 10000, max_x = 0, min_y = 10000, max_y = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    min_x = std::min(min_x, f.minutiaX[i]);
    max_x = std::max(max_x, f.minutiaX[i]);
    min_y = std::min(min_y, f.minutiaY[i]);
    max_y = std::max(max_y, f.minutiaY[i]);
  }
  side.centreX = (min_x + max_x) / 2;
  side.centreY = (min_y + max_y) / 2;
}

// The lengths of the sample side's lines: strictly longer than the shortest
// length on this side, shorter than the test side's bound.
std::int32_t sample_shortest(std::int32_t shortest) { return shortest < INT32_MAX ? shortest + 1 : shortest; }

void fill_core_distances(MatchSide& side) {
  const FeatureRecord& f = side.features;
  side.coreIndex = zyl::api::GetTheOnlyCore(&f);
  side.hasCore = side.coreIndex != -1 ? 1 : 0;
  if (!side.hasCore) return;
  const std::int32_t cx = f.singularX[side.coreIndex];
  const std::int32_t cy = f.singularY[side.coreIndex];
  const std::int32_t n = minutia_count(f);
  for (std::int32_t i = 0; i < n; ++i) side.coreDistances[i] = distance(cx, cy, f.minutiaX[i], f.minutiaY[i]);
}

}  // namespace

void list_template_pairs(const FeatureRecord& f, std::int32_t shortest, std::int32_t longest, TemplatePairs& out) {
  out.valid = false;
  out.shortest = shortest;
  out.longest = std::min(longest, kOutOfRangeLength + 1);
  out.pairs.clear();
  out.directions.clear();
  const std::int32_t n = minutia_count(f);
  const LengthWindow window(out.shortest, out.longest);
  // A list that cannot be had leaves `valid` false: the sides then find
  // their pairs afresh.
  const int failed = zyl::GuardedCall(1, [&] {
    const auto all_pairs = static_cast<std::size_t>(n) * static_cast<std::size_t>(std::max(n - 1, 0)) / 2;
    out.pairs.reserve(all_pairs);
    out.directions.reserve(all_pairs);
    for (std::int32_t j = 0; j < n; ++j) {
      for (std::int32_t k = j + 1; k < n; ++k) {
        const std::int32_t len = window.length(f, j, k);
        if (len < 0) continue;
        out.pairs.push_back({static_cast<std::uint16_t>(len), static_cast<std::uint16_t>(j),
                             static_cast<std::uint16_t>(k)});
        out.directions.push_back(static_cast<std::uint8_t>(
            zyl::extract::ComputeLineDirection(f.minutiaX[j], f.minutiaY[j], f.minutiaX[k], f.minutiaY[k])));
      }
    }
    return 0;
  });
  if (failed) return;
  out.valid = true;
}

std::int32_t fill_test_side(XWContext& c, MatchData& md, MatchSide& side, TemplatePairs& pairs) {
  side.lengthBound = 0;
  const std::int32_t longest = usable_longest(md.sorter, c.longestLine);
  // A list made for other lengths (or for a counting array that could not
  // grow) is not the test side's pair set: the pairs are found afresh.
  if (pairs.valid && pairs.shortest == c.shortestLine && pairs.longest == longest) {
    side.lineCount = build_test_lines(side, md.sorter, c.testLineBudget, pairs.pairs.data(), pairs.directions.data(),
                                      static_cast<std::int32_t>(pairs.pairs.size()));
  } else {
    const std::int32_t count = collect_pairs(side.features, md.sorter, longest, c.shortestLine);
    side.lineCount = build_test_lines(side, md.sorter, c.testLineBudget, md.sorter.pairs, nullptr, count);
  }
  side.hasCore = 0;
  if (c.coreOption) fill_core_distances(side);
  return side.lineCount;
}

std::int32_t fill_sample_side(XWContext& c, MatchSide& side, std::int32_t length_bound, std::int32_t core_flag,
                              const TemplatePairs& pairs) {
  const std::int32_t shortest = sample_shortest(c.shortestLine);
  // The list holds every pair of the window when it starts no later and ends
  // no earlier (or at the longest length there is).
  if (pairs.valid && pairs.shortest <= shortest &&
      (pairs.longest >= length_bound || pairs.longest == kOutOfRangeLength + 1)) {
    clear_bins(side);
    const std::int32_t limit = std::min(c.sampleLineBudget, ZYL_GRAPH_LINES);
    std::int32_t i = 0;
    const auto count = static_cast<std::int32_t>(pairs.pairs.size());
    for (std::int32_t p = 0; p < count && i < limit; ++p) {
      const GraphPair& pair = pairs.pairs[static_cast<std::size_t>(p)];
      if (pair.length < shortest || pair.length >= length_bound) continue;
      GraphLine& line = side.lines[i++];
      line.length = pair.length;
      line.first = pair.first;
      line.second = pair.second;
      set_line_angles(line, pairs.directions[static_cast<std::size_t>(p)], side.features.minutiaAngle);
      add_to_bin(side, &line);
    }
    side.lineCount = i;
  } else {
    side.lineCount = zyl::api::SampleFingerprintGraphLines(&side, c.sampleLineBudget, length_bound, c.shortestLine);
  }
  side.hasCore = 0;
  if (core_flag) fill_core_distances(side);
  set_sample_centre(side);
  return side.lineCount;
}

}  // namespace zyl::api

using namespace zyl::api;

void zyl::api::FillLineData(GraphLine* line, const int32_t* xs, const int32_t* ys, const int32_t* angles) {
  if (!line || !xs || !ys || !angles) return;
  const std::int32_t j = line->first;
  const std::int32_t k = line->second;
  set_line_angles(*line, zyl::extract::ComputeLineDirection(xs[j], ys[j], xs[k], ys[k]), angles);
}

void zyl::api::FillLineData1(GraphLine* line, const GraphLine* previous) {
  if (!line || !previous) return;
  line->orientation = previous->orientation;
  line->firstAngle = previous->secondAngle;
  line->secondAngle = previous->firstAngle;
}

int32_t zyl::api::GetTheOnlyCore(const FeatureRecord* features) {
  if (!features) return -1;
  const std::int32_t n = std::clamp(features->singularCount, 0, ZYL_MAX_SINGULAR_POINTS);
  std::int32_t found = -1;
  for (std::int32_t i = 0; i < n; ++i) {
    if (features->singularKind[i] != 1) continue;
    if (found != -1) return -1;
    found = i;
  }
  return found;
}

int32_t zyl::api::TestFingerprintGraphLines(MatchSide* side, PairSorter* sorter, int32_t budget, int32_t longest,
                                            int32_t shortest) {
  if (!side || !sorter) return 0;
  side->lengthBound = 0;
  const std::int32_t count = collect_pairs(side->features, *sorter, usable_longest(*sorter, longest), shortest);
  return build_test_lines(*side, *sorter, budget, sorter->pairs, nullptr, count);
}

int32_t zyl::api::SampleFingerprintGraphLines(MatchSide* side, int32_t budget, int32_t length_bound, int32_t shortest) {
  if (!side) return 0;
  clear_bins(*side);
  const std::int32_t limit = std::min(budget, ZYL_GRAPH_LINES);
  if (limit <= 0) return 0;
  const FeatureRecord& f = side->features;
  const std::int32_t n = minutia_count(f);
  const LengthWindow window(sample_shortest(shortest), length_bound);
  std::int32_t i = 0;
  for (std::int32_t j = 0; j < n; ++j) {
    for (std::int32_t k = j + 1; k < n; ++k) {
      const std::int32_t len = window.length(f, j, k);
      if (len < 0) continue;
      GraphLine& line = side->lines[i];
      line.length = len;
      line.first = j;
      line.second = k;
      zyl::api::FillLineData(&line, f.minutiaX, f.minutiaY, f.minutiaAngle);
      add_to_bin(*side, &line);
      if (++i == limit) return i;
    }
  }
  return i;
}

int32_t zyl::api::FillTestFeaturesMatchData(XWContext* context, MatchSide* side) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!side) return XW_ERR_NULL_ARGUMENT;
  MatchData* md = ensure_match_data(*c);
  if (!md) return XW_ERR_NO_MEMORY;
  TemplatePairs none;
  return fill_test_side(*c, *md, *side, none);
}

int32_t zyl::api::FillSampleFeaturesMatchData(XWContext* context, MatchSide* side, int32_t length_bound,
                                              int32_t core_flag) {
  XWContext* c = resolve_context(context);
  if (!c) return XW_ERR_NO_CONTEXT;
  if (!side) return XW_ERR_NULL_ARGUMENT;
  return fill_sample_side(*c, *side, length_bound, core_flag, TemplatePairs{});
}

extern "C" {

ZYL_API void FillLineData(GraphLine* line, const int32_t* xs, const int32_t* ys, const int32_t* angles) {
  zyl::api::FillLineData(line, xs, ys, angles);
}
ZYL_API void FillLineData1(GraphLine* line, const GraphLine* previous) { zyl::api::FillLineData1(line, previous); }
ZYL_API int32_t GetTheOnlyCore(const FeatureRecord* features) { return zyl::api::GetTheOnlyCore(features); }
ZYL_API int32_t TestFingerprintGraphLines(MatchSide* side, PairSorter* sorter, int32_t budget, int32_t longest,
                                          int32_t shortest) {
  return zyl::api::TestFingerprintGraphLines(side, sorter, budget, longest, shortest);
}
ZYL_API int32_t SampleFingerprintGraphLines(MatchSide* side, int32_t budget, int32_t length_bound, int32_t shortest) {
  return zyl::api::SampleFingerprintGraphLines(side, budget, length_bound, shortest);
}
ZYL_API int32_t FillTestFeaturesMatchData(XWContext* context, MatchSide* side) {
  return zyl::api::FillTestFeaturesMatchData(context, side);
}
ZYL_API int32_t FillSampleFeaturesMatchData(XWContext* context, MatchSide* side, int32_t length_bound,
                                            int32_t core_flag) {
  return zyl::api::FillSampleFeaturesMatchData(context, side, length_bound, core_flag);
}

}  // extern "C"
