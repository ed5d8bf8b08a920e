// Ridge-trace routines that the library and its tests call inside: the
// exported callbacks (ridgetrace_run, ridgetrace_segments_run) forward to
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_minutiae_ops.h"

namespace zyl::matchlib::ridgetrace {

struct RidgePoint {
  std::int16_t row, column;
  std::uint8_t first, last;  // last: 4 on the point where a trace met a branch, else 5
};
using PointList = std::vector<RidgePoint>;

// Kinds of traced segments, each kept in its own list.
enum SegmentKind : std::uint8_t {
  kFreeRidge = 1,      // a ridge between two free ends
  kBranchArm = 2,      // from a branch to a free end (stored branch first)
  kThroughBranch = 3,  // two arms of one branch joined: free end, branch, free end
};
constexpr int kSegmentKinds = 3;

struct Segment {
  std::uint8_t direction;  // fx_atan2 of the end-to-end vector, rows counted upward
  PointList points;
};
struct SegmentList {
  std::uint8_t kind;
  std::vector<Segment> segments;
};
using SegmentLists = std::vector<SegmentList>;  // a list of typed lists

// A pixel is excluded within m + 1 of the frame (m = margin / s) or when
// the block-map cell m pixels to either side, above or below is background.
bool excluded(int row, int column, const std::uint8_t* blocks, int block, int margin, int height,
              int width, int s);
// The same with a margin 4 pixels larger.
bool excluded_wide(int row, int column, const std::uint8_t* blocks, int block, int margin,
                   int height, int width, int s);

// Follows a ridge of the thinned image (0 = skeleton) from a free end; the
// visited pixels become 255.
void follow(std::uint8_t* image, int height, int width, int row, int column, PointList& list);

// The list of the given kind, appended (empty) when there is none yet.
SegmentList& list_of_kind(SegmentLists& lists, std::uint8_t kind);
// Appends a segment holding the points, its direction taken from the
// vector from its first to its last point.
Segment& add_segment(SegmentList& list, PointList points);
// The first list reversed, then the second.
PointList join_first_reversed(const PointList& first, const PointList& second);
// Path length counted as 10 per straight and 14 per diagonal step (0 for a
// point repeated where two arms were joined).
long path_length(const PointList& points);
// Index of the first point whose path length from the start reaches
// `length` (the last point when the path is shorter; 0 for an empty list).
std::size_t point_at_length(const PointList& points, long length);
// Empties a list of lists, releasing every segment's points.
void release_lists(SegmentLists& lists);

}  // namespace zyl::matchlib::ridgetrace
