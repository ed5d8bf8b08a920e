// Segment statistics of the ridge trace: the helpers (wide exclusion, typed
// lists, joining, path lengths), the trace slots of drawn skeletons, and
// the monotonic clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "matchlib/extract/ridge_trace.h"
#include "support/allocation_sweep.h"
#include "zylscan/matchlib_minutiae.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {
namespace {

namespace rt = zyl::matchlib::ridgetrace;
using Bytes = std::vector<std::uint8_t>;

rt::PointList path(std::initializer_list<std::pair<int, int>> points) {
  rt::PointList list;
  for (auto [r, c] : points)
    list.push_back(rt::RidgePoint{static_cast<std::int16_t>(r), static_cast<std::int16_t>(c), 0, 5});
  return list;
}

TEST(RidgeTraceSegments, PathLengthCountsStraightAndDiagonalSteps) {
  // (0,0) right (0,1) diagonal (1,2) down (2,2) diagonal (3,1) repeated (3,1)
  const rt::PointList p = path({{0, 0}, {0, 1}, {1, 2}, {2, 2}, {3, 1}, {3, 1}});
  EXPECT_EQ(rt::path_length(p), 10 + 14 + 10 + 14);
  struct Case {
    long length;
    std::size_t index;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {10, 1}, {11, 2}, {24, 2}, {25, 3}, {34, 3}, {48, 4}, {49, 5}, {1000, 5}};
  for (const Case& c : cases) EXPECT_EQ(rt::point_at_length(p, c.length), c.index) << c.length;
  EXPECT_EQ(rt::point_at_length({}, 5), 0u);
  EXPECT_EQ(rt::path_length(path({{4, 4}})), 0);
}

TEST(RidgeTraceSegments, JoiningReversesTheFirstList) {
  const rt::PointList a = path({{5, 5}, {4, 4}, {3, 3}});
  const rt::PointList b = path({{5, 5}, {6, 5}});
  const rt::PointList joined = rt::join_first_reversed(a, b);
  const rt::PointList expected = path({{3, 3}, {4, 4}, {5, 5}, {5, 5}, {6, 5}});
  ASSERT_EQ(joined.size(), expected.size());
  for (std::size_t i = 0; i < joined.size(); ++i) {
    EXPECT_EQ(joined[i].row, expected[i].row) << i;
    EXPECT_EQ(joined[i].column, expected[i].column) << i;
  }
}

TEST(RidgeTraceSegments, TypedListsAndSegmentDirections) {
  rt::SegmentLists lists;
  rt::SegmentList& arms = rt::list_of_kind(lists, rt::kBranchArm);
  EXPECT_EQ(arms.kind, rt::kBranchArm);
  rt::list_of_kind(lists, rt::kFreeRidge);
  EXPECT_EQ(&rt::list_of_kind(lists, rt::kBranchArm), &lists[0]) << "found, not added again";
  EXPECT_EQ(lists.size(), 2u);
  // Directions of the end-to-end vector, 256 steps, rows counted upward.
  struct Case {
    int dr, dc;
    int direction;
  };
  const Case cases[] = {{0, 9, 0}, {-9, 9, 32}, {-9, 0, 64}, {0, -9, 128}, {9, 0, 192}, {9, 9, 224}};
  rt::SegmentList& free = rt::list_of_kind(lists, rt::kFreeRidge);
  for (const Case& c : cases) {
    const rt::Segment& s = rt::add_segment(free, path({{20, 20}, {20 + c.dr / 2, 20 + c.dc / 2}, {20 + c.dr, 20 + c.dc}}));
    EXPECT_EQ(s.direction, c.direction) << c.dr << " " << c.dc;
    EXPECT_EQ(s.points.size(), 3u);
  }
  EXPECT_EQ(free.segments.size(), std::size(cases));
  rt::release_lists(lists);
  EXPECT_TRUE(lists.empty());
}

TEST(RidgeTraceSegments, WideExclusionIsFourPixelsLarger) {
  const Bytes blocks(8 * 8, 1);
  struct Case {
    int row, column, margin, s;
    bool plain, wide;
  };
  const Case cases[] = {
      {5, 30, 4, 1, false, true},    // m = 4 plain, 8 wide
      {4, 30, 4, 1, true, true},
      {9, 30, 4, 1, false, false},   // beyond m + 1 of the frame in both
      {8, 30, 4, 1, false, true},
      {30, 55, 4, 1, false, true},   // 55 >= 64 - 8 - 1
      {30, 54, 4, 1, false, false},
      {30, 6, 4, 2, false, true},    // half resolution: m = 2 plain, 6 wide
      {30, 7, 4, 2, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rt::excluded(c.row, c.column, blocks.data(), 8, c.margin, 64, 64, c.s), c.plain)
        << c.row << "," << c.column << " s " << c.s;
    EXPECT_EQ(rt::excluded_wide(c.row, c.column, blocks.data(), 8, c.margin, 64, 64, c.s), c.wide)
        << c.row << "," << c.column << " s " << c.s;
  }
  Bytes holes = blocks;
  holes[3 * 8 + 5] = 0;  // block rows 24..31, columns 40..47
  EXPECT_FALSE(rt::excluded(28, 33, holes.data(), 8, 4, 64, 64, 1));
  EXPECT_TRUE(rt::excluded_wide(28, 33, holes.data(), 8, 4, 64, 64, 1)) << "column + 8 lies in the hole";
}

struct Frame {
  Bytes image = Bytes(64 * 64, 255);
  Bytes blocks = Bytes(8 * 8, 1);
  void set(int r, int c) { image[std::size_t(r) * 64 + c] = 0; }
};

Bytes slot_bytes(const MinutiaeRecord& r, int slot) {
  return Bytes(r.trace_slots[slot].data, r.trace_slots[slot].data + r.trace_slots[slot].length);
}

void free_slots(MinutiaeRecord& r) {
  for (auto& s : r.trace_slots) std::free(s.data);
}

TEST(RidgeTraceSegments, SlotsOfDrawnSkeletons) {
  MinutiaeWorkInfo work{};
  work.height = work.width = 64;
  {
    // A straight ridge between two free ends: one segment of kind 1 in slot
    // 28, from its left end (reached first by the ring walk): direction 0,
    // length 300, middle (30, 30).
    Frame f;
    for (int c = 15; c <= 45; ++c) f.set(30, c);
    MinutiaeRecord r{};
    r.options = MINX_FULL;
    ASSERT_EQ(ridgetrace_segments_run(&work, f.image.data(), f.blocks.data(), 8, 4, nullptr, &r, 28), ML_OK);
    EXPECT_EQ(slot_bytes(r, 28), (Bytes{0, 0x01, 0x2C, 0, 30, 0, 30}));
    EXPECT_EQ(r.trace_slots[29].length, 0u);
    EXPECT_EQ(r.trace_slots[30].length, 0u);
    for (std::uint8_t v : f.image) EXPECT_NE(v, 0) << "the ridge was followed";
    free_slots(r);
  }
  {
    // A Y: the two upper arms meet at the branch (30, 30) and are joined
    // into one segment of kind 3 from (15, 15) to (15, 45); the stem stays
    // an arm of kind 2, kept branch first: from (30, 30) down to (45, 30).
    Frame f;
    for (int k = 0; k <= 15; ++k) {
      f.set(15 + k, 15 + k);
      f.set(15 + k, 45 - k);
      f.set(30 + k, 30);
    }
    MinutiaeRecord r{};
    r.options = MINX_FULL;
    ASSERT_EQ(ridgetrace_segments_run(&work, f.image.data(), f.blocks.data(), 8, 4, nullptr, &r, 28), ML_OK);
    EXPECT_EQ(r.trace_slots[28].length, 0u);
    EXPECT_EQ(slot_bytes(r, 29), (Bytes{192, 0, 150, 0, 38, 0, 30}));
    EXPECT_EQ(slot_bytes(r, 30), (Bytes{0, 0x01, 0xA4, 0, 30, 0, 30}));
    free_slots(r);
  }
}

TEST(RidgeTraceSegments, NothingToTraceAndBadArguments) {
  MinutiaeWorkInfo work{};
  work.height = work.width = 64;
  MinutiaeRecord r{};
  std::uint8_t held[3] = {1, 2, 3};
  r.trace_slots[28] = {3, held};
  // The grey pipeline passes no image: nothing is traced, the slots stay.
  EXPECT_EQ(ridgetrace_segments_run(&work, nullptr, nullptr, 8, 4, nullptr, &r, 28), ML_OK);
  EXPECT_EQ(r.trace_slots[28].data, held);
  Frame f;  // an empty skeleton leaves the slots too
  EXPECT_EQ(ridgetrace_segments_run(&work, f.image.data(), f.blocks.data(), 8, 4, nullptr, &r, 28), ML_OK);
  EXPECT_EQ(r.trace_slots[28].data, held);
  work.height = work.width = 3;  // too small a frame
  Bytes tiny(9, 0);
  EXPECT_EQ(ridgetrace_segments_run(&work, tiny.data(), nullptr, 1, 4, nullptr, &r, 28), ML_OK);
  EXPECT_EQ(tiny, Bytes(9, 0));
  r.trace_slots[28] = {0, nullptr};
  struct Case {
    bool work, record;
    int extra;
  };
  for (const Case& c : {Case{false, true, 28}, Case{true, false, 28}, Case{true, true, -1}, Case{true, true, 55}})
    EXPECT_EQ(ridgetrace_segments_run(c.work ? &work : nullptr, tiny.data(), nullptr, 1, 4, nullptr,
                                      c.record ? &r : nullptr, c.extra),
              ML_BAD_ARGUMENT)
        << c.extra;
  work.height = work.width = 64;
  EXPECT_EQ(ridgetrace_segments_run(&work, f.image.data(), f.blocks.data(), 8, 4, nullptr, &r, 54), ML_OK);
}

TEST(RidgeTraceSegments, ANegativeMarginIsRefusedByBothRoutines) {
  // A negative margin would move the exclusion's block-map look-ups beyond
  // the frame, and so beyond the map: 32 x 32 pixels in blocks of 8 have a
  // map of exactly 16 bytes. Both routines refuse it and touch nothing.
  MinutiaeWorkInfo work{};
  work.height = work.width = 32;
  Bytes image(32 * 32, 255);
  for (int c = 6; c <= 26; ++c) image[std::size_t(16) * 32 + c] = 0;
  const Bytes untouched = image;
  const Bytes blocks(16, 1);
  for (int margin : {-40, -1}) {
    MinutiaeRecord r{};
    std::memset(r.trace_value, 7, 4);
    EXPECT_EQ(ridgetrace_run(&work, image.data(), blocks.data(), 8, margin, nullptr, &r, 0), ML_BAD_ARGUMENT)
        << margin;
    EXPECT_EQ(Bytes(r.trace_value, r.trace_value + 4), Bytes(4, 7)) << margin;
    EXPECT_EQ(ridgetrace_segments_run(&work, image.data(), blocks.data(), 8, margin, nullptr, &r, 28),
              ML_BAD_ARGUMENT)
        << margin;
    EXPECT_EQ(r.trace_slots[28].length, 0u) << margin;
    EXPECT_EQ(image, untouched) << margin;
  }
  // Margin 0 is the grey pipeline's, and traces the ridge.
  MinutiaeRecord r{};
  EXPECT_EQ(ridgetrace_segments_run(&work, image.data(), blocks.data(), 8, 0, nullptr, &r, 28), ML_OK);
  EXPECT_NE(image, untouched);
  free_slots(r);
}

TEST(RidgeTraceSegments, MemoryFailureLeavesTheSlotsAsTheyWere) {
  MinutiaeWorkInfo work{};
  work.height = work.width = 64;
  const int allocations = sweep_allocation_failures([&] {
    Frame f;  // a free ridge and a Y: slots 28 to 30 all get data
    for (int c = 12; c <= 50; ++c) f.set(12, c);
    for (int k = 0; k <= 15; ++k) {
      f.set(25 + k, 15 + k);
      f.set(25 + k, 45 - k);
      f.set(40 + k, 30);
    }
    MinutiaeRecord r{};
    r.options = MINX_FULL;
    auto* held = static_cast<std::uint8_t*>(std::malloc(2));  // slot data is malloc'd
    r.trace_slots[29] = {2, held};
    const int status = ridgetrace_segments_run(&work, f.image.data(), f.blocks.data(), 8, 4, nullptr, &r, 28);
    if (allocation_failed()) {
      EXPECT_EQ(status, ML_NO_MEMORY);
      EXPECT_EQ(r.trace_slots[28].data, nullptr);
      EXPECT_EQ(r.trace_slots[29].data, held);
      EXPECT_EQ(r.trace_slots[29].length, 2u);
      EXPECT_EQ(r.trace_slots[30].data, nullptr);
    } else {
      EXPECT_EQ(status, ML_OK);
      EXPECT_EQ(r.trace_slots[28].length, 7u);
      EXPECT_EQ(r.trace_slots[29].length, 7u);  // replaced, not appended to
      EXPECT_EQ(r.trace_slots[30].length, 7u);
    }
    free_slots(r);
  });
  EXPECT_EQ(allocations, 3);
}

TEST(ClockSeconds, IsMonotonic) {
  const float a = clock_seconds();
  float b = a;
  for (int i = 0; i < 1000; ++i) b = clock_seconds();
  EXPECT_GT(a, 0.0f);
  EXPECT_GE(b, a);
}

}  // namespace
}  // namespace zyl::test
