// Graph lines: the bodies of the exported C functions, which only forward to
// them, and one template's pairs listed once and read in both of its roles.
#pragma once

#include <cstdint>
#include <vector>

#include "zylscan/graph_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

void FillLineData(GraphLine* line, const int32_t* xs, const int32_t* ys, const int32_t* angles);
void FillLineData1(GraphLine* line, const GraphLine* previous);
int32_t GetTheOnlyCore(const FeatureRecord* features);
int32_t TestFingerprintGraphLines(MatchSide* side, PairSorter* sorter, int32_t budget, int32_t longest,
                                  int32_t shortest);
int32_t SampleFingerprintGraphLines(MatchSide* side, int32_t budget, int32_t length_bound, int32_t shortest);
int32_t FillTestFeaturesMatchData(XWContext* context, MatchSide* side);
int32_t FillSampleFeaturesMatchData(XWContext* context, MatchSide* side, int32_t length_bound, int32_t core_flag);

}  // namespace zyl::api

namespace zyl::api {

// The minutia pairs j < k of one template whose lengths lie in
// shortest..longest-1, in the order j, k, each with the direction of its line
// from the first minutia to the second. A verification reads one template's
// list as the test side and, matching the other way, as the sample side: the
// lengths and directions are those the line builders compute, so the lines
// built from the list are the very lines built from the record.
struct TemplatePairs {
  std::vector<GraphPair> pairs;
  std::vector<std::uint8_t> directions;
  std::int32_t shortest = 0;
  std::int32_t longest = 0;  // exclusive, limited to one past the longest length there is
  bool valid = false;        // false: not listed (out of memory), build from the record
};

// ComputeDistance(dx, dy) computed in line: the integer square root of
// dx^2 + dy^2 with its lowest bit set, 8193 when a span lies outside
// 0..8192 or the sum reaches 8192^2.
std::int32_t span_length(std::int64_t dx, std::int64_t dy);

// Lists the pairs of the record (valid stays false when memory runs out).
void list_template_pairs(const FeatureRecord& f, std::int32_t shortest, std::int32_t longest, TemplatePairs& out);

// FillTestFeaturesMatchData and FillSampleFeaturesMatchData reading the
// side's pairs from a list made for its record with the context's shortest
// and longest lengths (a list not valid is ignored).
std::int32_t fill_test_side(XWContext& c, MatchData& md, MatchSide& side, TemplatePairs& pairs);
std::int32_t fill_sample_side(XWContext& c, MatchSide& side, std::int32_t length_bound, std::int32_t core_flag,
                              const TemplatePairs& pairs);

}  // namespace zyl::api
