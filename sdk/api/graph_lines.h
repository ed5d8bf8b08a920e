// The functions of graph lines that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/graph_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

void FillLineData(GraphLine* line, const int32_t* xs, const int32_t* ys,
                          const int32_t* angles);
void FillLineData1(GraphLine* line, const GraphLine* previous);
int32_t GetTheOnlyCore(const FeatureRecord* features);
int32_t TestFingerprintGraphLines(MatchSide* side, PairSorter* sorter, int32_t budget,
                                          int32_t longest, int32_t shortest);
int32_t SampleFingerprintGraphLines(MatchSide* side, int32_t budget, int32_t length_bound,
                                            int32_t shortest);
int32_t FillTestFeaturesMatchData(XWContext* context, MatchSide* side);
int32_t FillSampleFeaturesMatchData(XWContext* context, MatchSide* side,
                                            int32_t length_bound, int32_t core_flag);

}  // namespace zyl::api
