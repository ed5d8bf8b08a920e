// Ridge-trace flow statistics: every ridge of a thinned image is followed
// from a free end, a window slides along each long ridge and measures how
// far the ridge bulges from its chord, and the bulges of the whole finger
// are condensed into four bytes (mean direction, direction spread, mean
// magnitude, magnitude spread): the record's trace value.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/allocation.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/extract/ridge_trace.h"

namespace zyl::matchlib::ridgetrace {
namespace {

struct Bulge {
  std::int16_t a, b;
  std::uint8_t magnitude, flag;
};

constexpr std::uint8_t kNoTrace[4] = {0x00, 0x80, 0x00, 0xFF};

// Lists grow by 100 entries at a time.
template <class T>
void push(std::vector<T>& list, const T& item) {
  if (list.size() == list.capacity()) list.reserve(list.capacity() + 100);
  list.push_back(item);
}

class Image {
 public:
  Image(std::uint8_t* px, int h, int w) : px_(px), h_(h), w_(w) {}
  bool skeleton(int r, int c) const { return r >= 0 && c >= 0 && r < h_ && c < w_ && px_[r * w_ + c] == 0; }
  std::uint8_t& at(int r, int c) { return px_[r * w_ + c]; }
  int skeleton_neighbours(int r, int c) const {
    int n = 0;
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) n += (dr || dc) && skeleton(r + dr, c + dc);
    return n;
  }

 private:
  std::uint8_t* px_;
  int h_, w_;
};

bool excluded_by(int m, int row, int column, const std::uint8_t* blocks, int block, int h, int w) {
  if (m >= column || column >= w - m - 1 || m >= row || row >= h - m - 1) return true;
  if (!blocks || block <= 0) return false;
  const int per_row = w / block;
  auto background = [&](int r, int c) { return blocks[(r / block) * per_row + c / block] == 0; };
  return background(row, column - m) || background(row, column + m) || background(row - m, column) ||
         background(row + m, column);
}

}  // namespace

bool excluded(int row, int column, const std::uint8_t* blocks, int block, int margin, int h, int w, int s) {
  return excluded_by(margin / s, row, column, blocks, block, h, w);
}

bool excluded_wide(int row, int column, const std::uint8_t* blocks, int block, int margin, int h, int w,
                   int s) {
  return excluded_by(margin / s + 4, row, column, blocks, block, h, w);
}

void follow(std::uint8_t* image, int height, int width, int row, int column, PointList& list) {
  static constexpr int kRow[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  static constexpr int kCol[8] = {0, 1, 1, 1, 0, -1, -1, -1};
  Image img(image, height, width);
  for (;;) {
    push(list, RidgePoint{static_cast<std::int16_t>(row), static_cast<std::int16_t>(column), 0, 5});
    img.at(row, column) = 255;
    if (row > 0 && column > 0 && img.skeleton_neighbours(row, column) > 1) {
      // A branch: the trace stops here. (Appending one further neighbour
      // of the branch first is left out; the branch point itself is not
      // appended either.) The last two points become skeleton again so
      // other traces can still reach the branch.
      list.back().last = 4;
      if (list.size() >= 2)
        for (std::size_t i = list.size() - 2; i < list.size(); ++i) img.at(list[i].row, list[i].column) = 0;
      return;
    }
    int d = 0;
    while (d < 8 && !img.skeleton(row + kRow[d], column + kCol[d])) ++d;
    if (d == 8) return;
    row += kRow[d];
    column += kCol[d];
  }
}

SegmentList& list_of_kind(SegmentLists& lists, std::uint8_t kind) {
  for (SegmentList& l : lists)
    if (l.kind == kind) return l;
  lists.push_back(SegmentList{kind, {}});
  return lists.back();
}

Segment& add_segment(SegmentList& list, PointList points) {
  std::uint8_t direction = 0;
  if (!points.empty()) {
    const RidgePoint& f = points.front();
    const RidgePoint& l = points.back();
    direction = static_cast<std::uint8_t>(zyl::matchlib::fx_atan2(f.row - l.row, l.column - f.column));
  }
  list.segments.push_back(Segment{direction, std::move(points)});
  return list.segments.back();
}

PointList join_first_reversed(const PointList& first, const PointList& second) {
  PointList joined(first.rbegin(), first.rend());
  joined.insert(joined.end(), second.begin(), second.end());
  return joined;
}

namespace {

// 10 a straight step, 14 a diagonal one; a repeated point (where two arms
// join at their branch) adds nothing.
long step_length(const RidgePoint& a, const RidgePoint& b) {
  const bool rows = a.row != b.row, columns = a.column != b.column;
  return rows && columns ? 14 : (rows || columns) ? 10 : 0;
}

}  // namespace

long path_length(const PointList& points) {
  long length = 0;
  for (std::size_t i = 1; i < points.size(); ++i) length += step_length(points[i - 1], points[i]);
  return length;
}

std::size_t point_at_length(const PointList& points, long length) {
  long walked = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i > 0) walked += step_length(points[i - 1], points[i]);
    if (walked >= length) return i;
  }
  return points.empty() ? 0 : points.size() - 1;
}

void release_lists(SegmentLists& lists) { SegmentLists().swap(lists); }

namespace {

void windows(const std::vector<RidgePoint>& p, int window, int step, std::vector<Bulge>& bulges) {
  const int count = static_cast<int>(p.size());
  const int u = 1800 / window;
  for (int i = 0; i <= count - window; i += step) {
    long sy = 0, sx = 0;
    for (int k = i; k < i + window; ++k) {
      sy += p[k].row;
      sx += p[k].column;
    }
    const RidgePoint& m = p[i + window / 2];
    const RidgePoint& f = p[i];
    const RidgePoint& l = p[i + window - 1];
    const int xl = l.column == f.column ? f.column + 1 : l.column;
    const long v = u * sx / window - long(m.column) * u;
    const long w = sy * u / window - long(m.row) * u;
    const int a = static_cast<int>(zyl::matchlib::fx_isqrt30_round(
        static_cast<std::uint32_t>(std::min<long>(v * v + w * w, 0x3FFFFFFF))));
    const int dx = f.column - xl, dy = l.row - f.row;
    const int chord = static_cast<int>(
        zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(dx * dx + dy * dy)));
    if (a >= 256 || chord <= (step == 1 ? 18 : 36)) continue;
    const int cs = dy * 100 / dx;
    const int d = zyl::matchlib::fx_atan2(static_cast<int>(w), static_cast<int>(v));
    const int e = zyl::matchlib::fx_atan2(100, cs), fn = zyl::matchlib::fx_atan2(-100, -cs);
    const int normal = std::abs(static_cast<std::int8_t>(e - d)) < std::abs(static_cast<std::int8_t>(fn - d)) ? e : fn;
    push(bulges, Bulge{static_cast<std::int16_t>((a * zyl::matchlib::fx_sin256_alt(normal)) >> 14),
                       static_cast<std::int16_t>((a * zyl::matchlib::fx_cos256_alt(normal)) >> 14),
                       static_cast<std::uint8_t>(a), 5});
  }
}

void condense(const std::vector<Bulge>& bulges, std::uint8_t* value) {
  const long n = static_cast<long>(bulges.size());
  if (n == 0) {
    std::copy(kNoTrace, kNoTrace + 4, value);
    return;
  }
  // The components are summed as unsigned 16-bit values: stored trace
  // values of peers are compared with ones made this way.
  long sa = 0, sb = 0, sm = 0;
  for (const Bulge& b : bulges) {
    sa += static_cast<std::uint16_t>(b.a);
    sb += static_cast<std::uint16_t>(b.b);
    sm += b.magnitude;
  }
  const int direction =
      (sa == 0 && sb == 0)
          ? 0
          : zyl::matchlib::fx_atan2(static_cast<int>(sa), static_cast<int>(sb)) & 255;
  const int mean = static_cast<int>(sm / n);
  long spread = 0, magnitude_spread = 0;
  for (const Bulge& b : bulges) {
    int diff = direction;
    if (b.a || b.b)
      diff = static_cast<std::int8_t>(direction -
                                      zyl::matchlib::fx_atan2(static_cast<std::uint16_t>(b.a),
                                                              static_cast<std::uint16_t>(b.b)));
    spread += long(diff) * diff;
    magnitude_spread += long(mean - b.magnitude) * (mean - b.magnitude);
  }
  value[0] = static_cast<std::uint8_t>(direction);
  value[1] = static_cast<std::uint8_t>(
      zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(spread / n)));
  value[2] = static_cast<std::uint8_t>(mean);
  value[3] = static_cast<std::uint8_t>(
      zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(magnitude_spread / n)));
}

int run(MinutiaeWorkInfo* work, std::uint8_t* thinned, const std::uint8_t* blocks, int block, int margin,
        MinutiaeRecord* record) {
  const int h = work->height, w = work->width;
  const int window = std::min(w / 2, h / 2);
  if (window <= 1) {
    std::copy(kNoTrace, kNoTrace + 4, record->trace_value);
    return ML_OK;
  }
  const int s = (record->options & MINX_HALF) ? 2 : 1;
  const int step = (record->options & MINX_HALF) ? 1 : 2;
  Image img(thinned, h, w);
  std::vector<Bulge> bulges;
  PointList points;
  auto visit = [&](int r, int c) {
    if (excluded(r, c, blocks, block, margin, h, w, s)) {
      img.at(r, c) = 255;
      return;
    }
    if (!img.skeleton(r, c) || img.skeleton_neighbours(r, c) != 1) return;
    points.clear();
    follow(thinned, h, w, r, c, points);
    windows(points, window, step, bulges);
  };
  for (int k = 1; k < window; ++k) {
    for (int r = k; r <= h - 1 - k; ++r) visit(r, k);
    for (int r = k; r <= h - 1 - k; ++r) visit(r, w - 1 - k);
    for (int c = k + 1; c <= w - 2 - k; ++c) visit(k, c);
    for (int c = k + 1; c <= w - 2 - k; ++c) visit(h - 1 - k, c);
  }
  condense(bulges, record->trace_value);
  return ML_OK;
}

// Segment statistics: every ridge followed from a free end becomes a
// segment of its kind; two arms that reach the same branch are joined into
// one segment through it.
constexpr int kSlotBytes = 7;  // per segment: direction, length, middle row and column

int segments_run(MinutiaeWorkInfo* work, std::uint8_t* thinned, const std::uint8_t* blocks, int block,
                 int margin, MinutiaeRecord* record, int first_slot) {
  const int h = work->height, w = work->width;
  const int window = std::min(w / 2, h / 2);
  if (window <= 1) return ML_OK;
  const int s = (record->options & MINX_HALF) ? 2 : 1;
  Image img(thinned, h, w);
  SegmentLists lists;
  for (std::uint8_t kind = 1; kind <= kSegmentKinds; ++kind) list_of_kind(lists, kind);
  PointList points;
  // A trace that meets a branch gives its last two points back to the
  // skeleton so that other arms still reach the branch; a later trace that
  // starts on such a point only walks those leftovers again and makes no
  // segment of its own.
  std::vector<std::uint8_t> given_back(std::size_t(h) * w, 0);
  auto visit = [&](int r, int c) {
    if (excluded_wide(r, c, blocks, block, margin, h, w, s)) {
      img.at(r, c) = 255;
      return;
    }
    if (!img.skeleton(r, c) || img.skeleton_neighbours(r, c) != 1) return;
    points.clear();
    follow(thinned, h, w, r, c, points);
    const bool leftover = given_back[std::size_t(r) * w + c] != 0;
    if (points.back().last == 4 && points.size() >= 2)
      for (std::size_t i = points.size() - 2; i < points.size(); ++i)
        given_back[std::size_t(points[i].row) * w + points[i].column] = 1;
    if (leftover || points.size() < 2) return;
    if (points.back().last != 4) {
      add_segment(list_of_kind(lists, kFreeRidge), points);
      return;
    }
    // An arm is kept branch first, so that two arms of one branch start
    // side by side and join as the first reversed, then the second.
    PointList arm(points.rbegin(), points.rend());
    std::vector<Segment>& arms = list_of_kind(lists, kBranchArm).segments;
    for (auto other = arms.begin(); other != arms.end(); ++other) {
      const RidgePoint& a = other->points.front();
      if (std::abs(a.row - arm.front().row) > 2 || std::abs(a.column - arm.front().column) > 2) continue;
      PointList joined = join_first_reversed(other->points, arm);
      arms.erase(other);
      add_segment(list_of_kind(lists, kThroughBranch), std::move(joined));
      return;
    }
    add_segment(list_of_kind(lists, kBranchArm), std::move(arm));
  };
  for (int k = 1; k < window; ++k) {
    for (int r = k; r <= h - 1 - k; ++r) visit(r, k);
    for (int r = k; r <= h - 1 - k; ++r) visit(r, w - 1 - k);
    for (int c = k + 1; c <= w - 2 - k; ++c) visit(k, c);
    for (int c = k + 1; c <= w - 2 - k; ++c) visit(h - 1 - k, c);
  }
  // Every slot's bytes are made before any slot changes, so a memory
  // failure leaves the record as it was.
  struct Slot {
    int index;
    std::uint8_t* bytes;
    std::uint32_t length;
  };
  std::vector<Slot> made;
  made.reserve(lists.size());  // no allocation of its own once slot bytes exist
  auto drop = [&] {
    for (Slot& m : made) std::free(m.bytes);
  };
  for (const SegmentList& list : lists) {
    if (list.segments.empty()) continue;
    const std::size_t n = list.segments.size() * kSlotBytes;
    auto* bytes = static_cast<std::uint8_t*>(ml_malloc(n));
    if (!bytes) {
      drop();
      return ML_NO_MEMORY;
    }
    std::uint8_t* p = bytes;
    for (const Segment& seg : list.segments) {
      const long length = path_length(seg.points);
      const RidgePoint& middle = seg.points[point_at_length(seg.points, length / 2)];
      const auto len = static_cast<std::uint16_t>(std::min<long>(length, 0xFFFF));
      *p++ = seg.direction;
      *p++ = static_cast<std::uint8_t>(len >> 8);
      *p++ = static_cast<std::uint8_t>(len);
      *p++ = static_cast<std::uint8_t>(static_cast<std::uint16_t>(middle.row) >> 8);
      *p++ = static_cast<std::uint8_t>(middle.row);
      *p++ = static_cast<std::uint8_t>(static_cast<std::uint16_t>(middle.column) >> 8);
      *p++ = static_cast<std::uint8_t>(middle.column);
    }
    made.push_back(Slot{first_slot + list.kind - 1, bytes, static_cast<std::uint32_t>(n)});
  }
  release_lists(lists);
  for (const Slot& m : made) {
    auto& slot = record->trace_slots[m.index];
    std::free(slot.data);
    slot.data = m.bytes;
    slot.length = m.length;
  }
  return ML_OK;
}

}  // namespace
}  // namespace zyl::matchlib::ridgetrace

using namespace zyl::matchlib;
using namespace zyl::matchlib::ridgetrace;

ZYL_API int ridgetrace_run(MinutiaeWorkInfo* work, uint8_t* thinned, const uint8_t* block_map, int block,
                           int margin, const uint8_t* quality, MinutiaeRecord* record, int extra) {
  (void)quality;
  (void)extra;
  // The exclusion looks at the block map margin / s pixels around a pixel
  // that lies at least that far inside the frame; a negative margin would
  // let it look outside the frame and the map.
  if (!work || !record || margin < 0) return ML_BAD_ARGUMENT;
  if (!thinned) {
    std::copy(kNoTrace, kNoTrace + 4, record->trace_value);
    return ML_OK;
  }
  return zyl::GuardedCall(ML_NO_MEMORY, [&] { return run(work, thinned, block_map, block, margin, record); });
}

ZYL_API int ridgetrace_segments_run(MinutiaeWorkInfo* work, uint8_t* thinned, const uint8_t* block_map,
                                    int block, int margin, const uint8_t* quality, MinutiaeRecord* record,
                                    int extra) {
  (void)quality;
  // `extra` names the slot of the first kind; the three kinds' slots must
  // lie among the record's 57.
  // A negative margin would let the exclusion look outside the block map.
  if (!work || !record || margin < 0 || extra < 0 || extra + kSegmentKinds > 57) return ML_BAD_ARGUMENT;
  if (!thinned) return ML_OK;  // nothing to trace (the grey pipeline releases its valley image first)
  return zyl::GuardedCall(ML_NO_MEMORY,
                          [&] { return segments_run(work, thinned, block_map, block, margin, record, extra); });
}

ZYL_API float clock_seconds(void) {
  timespec t{};
  if (clock_gettime(CLOCK_MONOTONIC, &t) != 0) return 0.0f;
  return static_cast<float>(static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9);
}
