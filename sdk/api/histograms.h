// The functions of histograms that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include <cstdint>

#include "zylscan/graph_matcher.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::api {

int32_t RotationHistogramProcessing(int32_t* histogram, const uint8_t* flags, int32_t n, int32_t* xs, int32_t* ys,
                                    int32_t* angles, int32_t line_count, GraphLine* lines, int32_t cx, int32_t cy);
int32_t LineLocationSimilarity(const int32_t* txs, const int32_t* tys, const int32_t* sxs, const int32_t* sys,
                               const GraphLine* test_line, const GraphLine* sample_line, int32_t tolerance);

}  // namespace zyl::api

namespace zyl::api {

// The first of the bins whose flag is 1 holding the largest value of those
// bins, as a running search from bin 0 with a maximum starting at 0 finds
// it (bin 0 when none exceeds 0); `max` receives that maximum.
std::int32_t rotation_peak(const std::int32_t* histogram, const std::uint8_t* flags, std::int32_t& max);

}  // namespace zyl::api
