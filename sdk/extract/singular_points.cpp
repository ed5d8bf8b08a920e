// Singular points: Poincare index on the block direction image, grouping of
// neighbouring candidates, and placement and direction of each point on the
// pixel orientation image.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"
#include "zylscan/direction_image.h"
#include "zylscan/geometry.h"
#include "zylscan/singular_points.h"
#include "extract/geometry.h"
#include "extract/singular_points.h"

namespace zyl::extract {
namespace {

constexpr int kBlock = ZYL_BLOCK_SIZE;
constexpr int kMaxPoints = ZYL_MAX_SINGULAR_POINTS;

int clamped_count(const SingularPointList& list) { return std::clamp(list.count, 0, kMaxPoints); }

// Distance on the 240-step circle, as the index walk defines it.
int circle_distance(int a, int b) {
  const int d = std::abs(a - b);
  return d > 120 ? 240 - d : d;
}

int poincare_index(int n, const std::int32_t* ring) {
  int previous = ring[n - 1];
  int sum = 0;
  for (int i = 0; i < n; ++i) {
    int c = ring[i];
    const int plain = circle_distance(previous, c);
    const int turned = circle_distance(previous, c + 120);
    if (plain == turned) return 0;  // 90 degrees apart: no sense of turn
    if (turned < plain) c += 120;
    int step = c - previous;
    if (step > 120) step -= 240;
    if (step < -120) step += 240;
    previous = c;
    sum += step;
  }
  return sum / 120;
}

constexpr std::array<std::array<int, 2>, 8> kRing8 = {
    {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}}};
constexpr std::array<std::array<int, 2>, 12> kRing12 = {{{-1, -2},
                                                         {0, -2},
                                                         {1, -2},
                                                         {2, -1},
                                                         {2, 0},
                                                         {2, 1},
                                                         {1, 2},
                                                         {0, 2},
                                                         {-1, 2},
                                                         {-2, 1},
                                                         {-2, 0},
                                                         {-2, -1}}};

template <std::size_t N>
int ring_index(ByteImage directions, int x, int y, const std::array<std::array<int, 2>, N>& offsets,
               bool& complete) {
  std::array<std::int32_t, N> ring;
  for (std::size_t i = 0; i < N; ++i) {
    ring[i] = directions[y + offsets[i][1]][x + offsets[i][0]];
    if (ring[i] == kNoOrientation) complete = false;
  }
  return poincare_index(static_cast<int>(N), ring.data());
}

void extract_singular_points(int columns, int rows, ByteImage directions, SingularPointList& list) {
  list.count = 0;
  for (int y = 2; y <= rows - 3; ++y)
    for (int x = 2; x <= columns - 3; ++x) {
      bool complete = true;
      const int i8 = ring_index(directions, x, y, kRing8, complete);
      const int i12 = ring_index(directions, x, y, kRing12, complete);
      if (!complete) continue;
      int kind = i8;
      if (i8 != i12) kind = i12 * i8 <= 0 ? 0 : i12;
      if (kind == 0) continue;
      list.x[list.count] = x;
      list.y[list.count] = y;
      list.angle[list.count] = -1;
      list.kind[list.count] = kind;
      if (++list.count == kMaxPoints) return;
    }
}

bool is_near(const SingularPointList& list, std::int64_t y, std::int64_t x, std::int64_t radius) {
  const int n = clamped_count(list);
  const std::int64_t reach = radius < 0 ? -radius : radius;
  for (int i = 0; i < n; ++i) {
    const std::int64_t dx = list.x[i] - x, dy = list.y[i] - y;
    // A point a radius or more away along either axis is not near; the test
    // keeps the squares below 2^62 whatever coordinates the list holds.
    if (dx <= -reach || dx >= reach || dy <= -reach || dy >= reach) continue;
    if (dx * dx + dy * dy < reach * reach) return true;
  }
  return false;
}

int curvature(ByteImage D, int row, int column) {
  const int o = D[row][column];
  if (o == kFlatOrientation) return 0;
  int sum = 0;
  for (int y = row - 2; y <= row + 2; ++y)
    for (int x = column - 2; x <= column + 2; ++x) {
      const int v = D[y][x];
      if (v == kFlatOrientation) continue;
      const int d = std::abs(v - o);
      sum += d <= 60 ? d : 120 - d;
    }
  return sum;
}

// Mean folded difference between the radius's orientation and the pixel
// orientations along the digital line from a ring point (j, i) to the point
// (column, row), the point itself excluded; 60 when no pixel lies inside.
int radius_disagreement(int width, int height, ByteImage D, int row, int column, int j, int i, int o) {
  const int dx = column - j, dy = row - i;
  int sum = 0, count = 0;
  auto visit = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    int t = std::abs((D[y][x] & 0x7F) - o);
    if (t > 60) t = 120 - t;
    sum += t;
    ++count;
  };
  // Walk along the longer axis one pixel per step; the shorter coordinate
  // follows through an accumulator in hundredths of a pixel.
  const bool along_x = std::abs(dy) < std::abs(dx);
  const int slope = along_x ? dy * 100 / std::abs(dx) : dx * 100 / std::abs(dy);
  int acc = 0, x = j, y = i;
  int& major = along_x ? x : y;
  int& minor = along_x ? y : x;
  const int target = along_x ? column : row;
  const int major_step = target > major ? 1 : -1;
  while (major != target) {
    visit(x, y);
    acc += slope;
    if (acc > 49) {
      acc -= 100;
      minor += 1;
    }
    if (acc < -49) {
      acc += 100;
      minor -= 1;
    }
    major += major_step;
  }
  return count == 0 ? 60 : sum / count;
}

int singular_point_direction(int width, int height, ByteImage D, int row, int column) {
  int best = 120, result = 0;
  for (int i = row - 40; i <= row + 40; ++i)
    for (int j = column - 40; j <= column + 40; ++j) {
      const int dx = column - j, dy = row - i;
      const int d2 = dx * dx + dy * dy;
      if (d2 < 1561 || d2 > 1639) continue;
      const int dir = zyl::extract::ComputeLineDirection(column, row, j, i);
      const int o = dir >= 120 ? dir - 120 : dir;
      const int mean = radius_disagreement(width, height, D, row, column, j, i, o);
      if (mean < best) {
        best = mean;
        result = dir;
      }
    }
  return result;
}

// Keeps the pixel of highest curvature; the 5 x 5 window must lie inside
// the image (always so for points found on the block grid).
struct Placement {
  int width, height;
  ByteImage D;
  int best = -1, row = -1, column = -1;

  void consider(int y, int x) {
    if (y < 2 || x < 2 || y > height - 3 || x > width - 3) return;
    const int v = curvature(D, y, x);
    if (v > best) best = v, row = y, column = x;
  }
};

void group_singular_points(int width, int height, ByteImage D, SingularPointList& scratch,
                           SingularPointList& list) {
  list.count = 0;
  const int n = clamped_count(scratch);
  // Entries of kind 0 are already taken; counting only the others keeps a
  // scratch list that holds some from looping for ever.
  int remaining = 0;
  for (int i = 0; i < n; ++i) remaining += scratch.kind[i] != 0;

  while (remaining > 0) {
    SingularPointList group{};
    bool added = true;
    while (added) {
      added = false;
      for (int i = 0; i < n; ++i) {
        if (scratch.kind[i] == 0) continue;
        if (group.count > 0 && !is_near(group, scratch.y[i], scratch.x[i], 2)) continue;
        group.x[group.count] = scratch.x[i];
        group.y[group.count] = scratch.y[i];
        group.kind[group.count] = scratch.kind[i];
        ++group.count;
        scratch.kind[i] = 0;
        --remaining;
        added = true;
      }
    }
    const int kind = group.kind[0];
    if (!std::all_of(group.kind, group.kind + group.count, [kind](int k) { return k == kind; })) continue;

    Placement place{width, height, D};
    for (int m = 0; m < group.count; ++m) {
      if (group.x[m] < 0 || group.y[m] < 0 || group.x[m] >= width / kBlock || group.y[m] >= height / kBlock)
        continue;  // a block off the image
      for (int y = kBlock * group.y[m]; y < kBlock * group.y[m] + kBlock; ++y)
        for (int x = kBlock * group.x[m]; x < kBlock * group.x[m] + kBlock; ++x) place.consider(y, x);
    }
    if (place.row < 0) continue;  // no member on the image
    const int r0 = place.row, c0 = place.column;
    for (int y = r0 - kBlock; y <= r0 + kBlock; ++y)
      for (int x = c0 - kBlock; x <= c0 + kBlock; ++x) place.consider(y, x);

    const int k = list.count++;
    list.x[k] = place.column;
    list.y[k] = place.row;
    list.angle[k] = singular_point_direction(width, height, D, place.row, place.column);
    list.kind[k] = kind;
  }
}

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

extern "C" ZYL_API int32_t ComputePoincareIndex(int32_t n, const int32_t* ring) {
  return n < 1 || !ring ? 0 : poincare_index(n, ring);
}

void zyl::extract::ExtractSingularPoints(int32_t block_columns, int32_t block_rows, ByteImage directions,
                                         SingularPointList* list) {
  if (!list) return;
  list->count = 0;
  if (valid_image(block_columns, block_rows, directions))
    extract_singular_points(block_columns, block_rows, directions, *list);
}

int32_t zyl::extract::IsSingularPointNear(const SingularPointList* list, int32_t y, int32_t x, int32_t radius) {
  return list && is_near(*list, y, x, radius) ? 1 : 0;
}

void zyl::extract::mark_singular_points_near_row(const SingularPointList* list, int32_t y, int32_t width,
                                                 int32_t radius, uint8_t* near) {
  std::fill_n(near, std::max(width, 0), std::uint8_t{0});
  if (!list) return;
  const std::int64_t r = std::abs(static_cast<std::int64_t>(radius));
  for (int i = 0, n = clamped_count(*list); i < n; ++i) {
    const std::int64_t dy = list->y[i] - static_cast<std::int64_t>(y);
    if (dy <= -r || dy >= r) continue;
    const std::int64_t room = r * r - dy * dy;  // dx x dx < room, room >= 1
    // reach = the largest d with d x d < room: the square root's estimate
    // corrected by whole steps.
    auto reach = static_cast<std::int64_t>(std::sqrt(static_cast<double>(room)));
    while (reach * reach >= room) --reach;
    while ((reach + 1) * (reach + 1) < room) ++reach;
    const std::int64_t from = std::max<std::int64_t>(list->x[i] - reach, 0);
    const std::int64_t to = std::min<std::int64_t>(list->x[i] + reach, static_cast<std::int64_t>(width) - 1);
    for (std::int64_t x = from; x <= to; ++x) near[x] = 1;
  }
}

extern "C" ZYL_API int32_t ComputeCurvatureSP(ByteImage orientations, int32_t row, int32_t column) {
  if (!orientations || row < 2 || column < 2) return 0;
  return curvature(orientations, row, column);
}

extern "C" ZYL_API int32_t ComputeSingularPointDirection(int32_t width, int32_t height, ByteImage orientations,
                                                         int32_t row, int32_t column) {
  if (!valid_image(width, height, orientations) || row < 0 || column < 0 || row >= height || column >= width)
    return 0;
  return singular_point_direction(width, height, orientations, row, column);
}

void zyl::extract::GroupSingularPoints(int32_t width, int32_t height, ByteImage orientations,
                                       SingularPointList* scratch, SingularPointList* list) {
  if (!list) return;
  list->count = 0;
  if (valid_image(width, height, orientations) && scratch)
    group_singular_points(width, height, orientations, *scratch, *list);
}

extern "C" {

ZYL_API void ExtractSingularPoints(int32_t block_columns, int32_t block_rows, ByteImage directions,
                                   SingularPointList* list) {
  zyl::extract::ExtractSingularPoints(block_columns, block_rows, directions, list);
}
ZYL_API int32_t IsSingularPointNear(const SingularPointList* list, int32_t y, int32_t x, int32_t radius) {
  return zyl::extract::IsSingularPointNear(list, y, x, radius);
}
ZYL_API void GroupSingularPoints(int32_t width, int32_t height, ByteImage orientations, SingularPointList* scratch,
                                 SingularPointList* list) {
  zyl::extract::GroupSingularPoints(width, height, orientations, scratch, list);
}

}  // extern "C"
