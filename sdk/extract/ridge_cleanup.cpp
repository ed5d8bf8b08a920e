// Ridge tracing on the skeleton: ending and bifurcation directions, gap
// joining, junction description and loop removal.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "extract/skeleton_walk.h"
#include "zylscan/extract_ridges.h"
#include "zylscan/extract_thinning.h"
#include "zylscan/geometry.h"
#include "extract/geometry.h"
#include "extract/ridge_cleanup.h"
#include "extract/thinning.h"

namespace zyl::extract {
namespace {

constexpr std::uint8_t kRidge = 0;
constexpr std::uint8_t kBackground = 255;

struct Pixel {
  int x = 0;
  int y = 0;
  bool operator==(const Pixel&) const = default;
};

// A short list of traced pixels; the traces here are bounded (at most 20
// steps plus a 15-pixel bridge), so no allocation is needed.
class PixelList {
 public:
  void push(Pixel p) {
    if (size_ < static_cast<int>(items_.size())) items_[size_++] = p;
  }
  void clear() { size_ = 0; }
  int size() const { return size_; }
  const Pixel* begin() const { return items_.data(); }
  const Pixel* end() const { return items_.data() + size_; }
  void paint(ByteImage image, std::uint8_t value) const {
    for (const Pixel& p : *this) image[p.y][p.x] = value;
  }

 private:
  std::array<Pixel, 64> items_{};
  int size_ = 0;
};

// Angle difference of two directions folded into 0..120.
int FoldedDifference(int a, int b) {
  int d = std::abs(a - b);
  return d > 120 ? 240 - d : d;
}

bool StrictlyInside(Pixel p, int width, int height) {
  return p.x > 0 && p.y > 0 && p.x < width - 1 && p.y < height - 1;
}

// One step of the shared ridge walk: to the first ridge neighbour in the
// order N, E, S, W, NE, SE, SW, NW; no move when there is none.
Pixel StepAlongRidge(ByteImage image, Pixel p) {
  constexpr int kOrder[8] = {0, 2, 4, 6, 1, 3, 5, 7};
  for (int k : kOrder) {
    const int x = p.x + kNeighbourDx[k];
    const int y = p.y + kNeighbourDy[k];
    if (image[y][x] == kRidge) return {x, y};
  }
  return p;
}

// Walks from an ending while fewer than max_steps were taken, the position is
// strictly inside and it still looks like an ending (the pixel behind is
// erased). Traced pixels are erased and appended to trace; returns the steps
// taken and leaves the position reached in reached.
int TraceEnding(ByteImage image, int width, int height, Pixel start, int max_steps,
                PixelList& trace, Pixel& reached) {
  Pixel pos = start;
  int steps = 0;
  while (steps < max_steps && StrictlyInside(pos, width, height) &&
         RingTransitions(image, pos.y, pos.x) == 1) {
    image[pos.y][pos.x] = kBackground;
    trace.push(pos);
    pos = StepAlongRidge(image, pos);
    ++steps;
  }
  reached = pos;
  return steps;
}

// The two orthogonal neighbours of a junction that lie across the first step
// of a branch are erased for its first two steps, so the trace cannot turn
// back into a neighbouring branch.
class CrossGuard {
 public:
  void erase_across(ByteImage image, Pixel centre, Pixel first) {
    if (first.x == centre.x && first.y != centre.y) {
      a_ = {centre.x - 1, centre.y};
      b_ = {centre.x + 1, centre.y};
    } else if (first.y == centre.y && first.x != centre.x) {
      a_ = {centre.x, centre.y - 1};
      b_ = {centre.x, centre.y + 1};
    } else {
      return;  // a diagonal step has no neighbours across it
    }
    saved_a_ = image[a_.y][a_.x];
    saved_b_ = image[b_.y][b_.x];
    image[a_.y][a_.x] = kBackground;
    image[b_.y][b_.x] = kBackground;
    active_ = true;
  }
  void put_back(ByteImage image) {
    if (!active_) return;
    image[a_.y][a_.x] = saved_a_;
    image[b_.y][b_.x] = saved_b_;
    active_ = false;
  }

 private:
  Pixel a_, b_;
  std::uint8_t saved_a_ = 0, saved_b_ = 0;
  bool active_ = false;
};

Pixel LastPixel(const NodeBranch& b) { return {b.x[b.count - 1], b.y[b.count - 1]}; }

void PaintBranch(ByteImage image, const NodeBranch& b, std::uint8_t value, int from = 0,
                 int to = -1) {
  if (to < 0) to = b.count;
  for (int i = from; i < to; ++i) image[b.y[i]][b.x[i]] = value;
}

// The two branches other than b, in the order 0-1-2.
std::array<int, 2> Others(int b) {
  return b == 0 ? std::array<int, 2>{1, 2} : b == 1 ? std::array<int, 2>{0, 2}
                                                    : std::array<int, 2>{0, 1};
}

int TraceNode(ByteImage image, int width, int height, Pixel start, NodeRecord& node, bool keep) {
  std::memset(&node, 0, sizeof node);
  node.startX = start.x;
  node.startY = start.y;
  const auto in_bounds = [&](Pixel p) {
    return p.x >= 2 && p.y >= 2 && p.x <= width - 3 && p.y <= height - 3;
  };
  int branches = 0;
  for (; branches < 3; ++branches) {
    NodeBranch& br = node.branches[branches];
    br.endKind = -1;  // stopped by the image bounds unless set below
    Pixel pos = start;
    CrossGuard guard;
    bool no_branch = !in_bounds(pos);
    bool stopped = false;
    while (!no_branch && br.count < ZYL_NODE_MAX_PIXELS && in_bounds(pos)) {
      const int tc = RingTransitions(image, pos.y, pos.x);
      if (tc == 0 && br.count == 0) {
        no_branch = true;
        break;
      }
      br.x[br.count] = pos.x;
      br.y[br.count] = pos.y;
      ++br.count;
      bool met_earlier = false;
      for (int e = 0; e < branches && !met_earlier; ++e) {
        const NodeBranch& other = node.branches[e];
        for (int i = 2; i < other.count; ++i) {
          if (other.x[i] == pos.x && other.y[i] == pos.y) {
            met_earlier = true;
            break;
          }
        }
      }
      if (met_earlier) {
        image[pos.y][pos.x] = kBackground;
        br.endKind = 2;
        stopped = true;
        break;
      }
      if (tc != 1 && br.count > 2) {
        br.endKind = tc == 0 ? 0 : tc == 2 ? 2 : -1;
        stopped = true;
        break;
      }
      image[pos.y][pos.x] = kBackground;
      const Pixel next = StepAlongRidge(image, pos);
      if (br.count == 1) {
        // Two adjacent orthogonal neighbours of the junction both ridge: the
        // trace could slip into the other one on its second step.
        const auto ridge = [&](int k) {
          return image[start.y + kNeighbourDy[k]][start.x + kNeighbourDx[k]] == kRidge;
        };
        if ((ridge(0) && ridge(2)) || (ridge(2) && ridge(4)) || (ridge(4) && ridge(6)) ||
            (ridge(6) && ridge(0))) {
          guard.erase_across(image, start, next);
        }
      } else if (br.count == 2) {
        guard.put_back(image);
      }
      pos = next;
    }
    guard.put_back(image);
    if (no_branch) break;
    if (!stopped && br.count == ZYL_NODE_MAX_PIXELS) br.endKind = 1;
  }
  node.branchCount = branches;
  for (int b = 0; b < branches; ++b) {
    NodeBranch& br = node.branches[b];
    PaintBranch(image, br, keep ? kRidge : kBackground);
    const Pixel last = LastPixel(br);
    br.direction = zyl::extract::ComputeLineDirection(start.x, start.y, last.x, last.y);
  }
  for (int i = 0; i < 3; ++i) node.angleDiff[i] = 255;
  if (branches == 3) {
    const NodeBranch* br = node.branches;
    node.angleDiff[0] = FoldedDifference(br[0].direction, br[1].direction);
    node.angleDiff[1] = FoldedDifference(br[1].direction, br[2].direction);
    node.angleDiff[2] = FoldedDifference(br[0].direction, br[2].direction);
  }
  return branches;
}

// Closes the gap in front of the ending e, if a facing ending lies within 15
// pixels; restores e's own ridge in any case.
void JoinEnding(ByteImage image, int width, int height, Pixel e) {
  PixelList trace;
  Pixel reached;
  if (TraceEnding(image, width, height, e, 10, trace, reached) < 4) {
    trace.paint(image, kRidge);
    return;
  }
  const int d1 = zyl::extract::ComputeLineDirection(e.x, e.y, reached.x, reached.y);
  const int y_end = std::min(height - 2, e.y + 15);
  const int x_end = std::min(width - 2, e.x + 15);
  for (int qy = std::max(1, e.y - 15); qy <= y_end; ++qy) {
    for (int qx = std::max(1, e.x - 15); qx <= x_end; ++qx) {
      if (image[qy][qx] != kRidge || RingTransitions(image, qy, qx) != 1) continue;
      const int c = zyl::extract::ComputeLineDirection(e.x, e.y, qx, qy);
      if (FoldedDifference(c, d1) < 110) continue;
      if (zyl::extract::PixelOnLine(e.x, e.y, qx, qy, image)) continue;
      PixelList q_trace;
      Pixel q_reached;
      const int q_steps = TraceEnding(image, width, height, {qx, qy}, 10, q_trace, q_reached);
      q_trace.paint(image, kRidge);
      if (q_steps < 4) continue;
      const int d2 = zyl::extract::ComputeLineDirection(qx, qy, q_reached.x, q_reached.y);
      const int back = c + 120 >= 240 ? c - 120 : c + 120;
      if (FoldedDifference(d2, back) < 110) continue;
      WalkStraight(e.x, e.y, qx, qy, [&](int x, int y) {
        trace.push({x, y});
        return false;
      });
      trace.paint(image, kRidge);
      return;
    }
  }
  trace.paint(image, kRidge);
}

}  // namespace
}  // namespace zyl::extract

using zyl::extract::FoldedDifference;
using zyl::extract::Pixel;

std::int32_t zyl::extract::ComputeEndDirection(std::int32_t width, std::int32_t height, ByteImage skeleton,
                                               std::int32_t y, std::int32_t x) {
  zyl::extract::PixelList trace;
  Pixel reached;
  const int steps = zyl::extract::TraceEnding(skeleton, width, height, {x, y}, 20, trace, reached);
  trace.paint(skeleton, zyl::extract::kRidge);
  return steps == 20 ? zyl::extract::ComputeLineDirection(x, y, reached.x, reached.y) : -20;
}

std::int32_t zyl::extract::ComputeBranchDirection(std::int32_t width, std::int32_t height, ByteImage skeleton,
                                                  std::int32_t y, std::int32_t x) {
  const Pixel centre{x, y};
  PixelList trace;
  int dir[3] = {-1, -1, -1};
  for (int b = 0; b < 3; ++b) {
    Pixel pos = centre;
    CrossGuard guard;
    int steps = 0;
    while (steps < 20 && StrictlyInside(pos, width, height)) {
      if (steps > 2 && RingTransitions(skeleton, pos.y, pos.x) != 1) break;
      skeleton[pos.y][pos.x] = kBackground;
      trace.push(pos);
      const Pixel next = StepAlongRidge(skeleton, pos);
      ++steps;
      if (steps == 1) guard.erase_across(skeleton, centre, next);
      if (steps == 2) guard.put_back(skeleton);
      pos = next;
    }
    guard.put_back(skeleton);
    if (steps < 10) {
      dir[b] = -10;
      break;
    }
    dir[b] = zyl::extract::ComputeLineDirection(x, y, pos.x, pos.y);
  }
  trace.paint(skeleton, kRidge);
  if (dir[0] < 0 || dir[1] < 0 || dir[2] < 0) return -666;

  constexpr int kPairs[3][2] = {{2, 1}, {1, 0}, {2, 0}};
  int largest = -1, smallest = 1000, closest = 0;
  for (int p = 0; p < 3; ++p) {
    const int d = FoldedDifference(dir[kPairs[p][0]], dir[kPairs[p][1]]);
    if (d > largest) largest = d;
    if (d < smallest) {
      smallest = d;
      closest = p;
    }
  }
  if (smallest == 0 || largest < 60) return -20;
  const int a = dir[kPairs[closest][0]];
  const int b = dir[kPairs[closest][1]];
  const int gap = std::abs(a - b);
  if (gap <= 120) return (a + b) / 2;
  int mean = (240 - gap) / 2 + (a <= 120 ? b : a);
  if (mean >= 240) mean -= 240;
  return mean;
}

void zyl::extract::Line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, ByteImage skeleton) {
  if (x0 == x1 && y0 == y1) return;
  skeleton[y1][x1] = zyl::extract::kRidge;
  zyl::extract::WalkStraight(x0, y0, x1, y1, [&](int x, int y) {
    skeleton[y][x] = zyl::extract::kRidge;
    return false;
  });
}

void zyl::extract::EliminateLines(std::int32_t width, std::int32_t height, ByteImage skeleton, ByteImage D) {
  if (skeleton == nullptr || D == nullptr) return;
  for (int y = 1; y <= height - 2; ++y) {
    for (int x = 1; x <= width - 2; ++x) {
      x = zyl::extract::NextRidge(skeleton[y], x, width - 1);
      if (x > width - 2) break;
      if (skeleton[y][x] != zyl::extract::kRidge || (D[y][x] & 0x80) != 0) continue;
      if (zyl::extract::RingTransitions(skeleton, y, x) != 1) continue;
      zyl::extract::JoinEnding(skeleton, width, height, {x, y});
    }
  }
}

extern "C" ZYL_API std::int32_t GetNode(ByteImage skeleton, std::int32_t width, std::int32_t height, std::int32_t x,
                                        std::int32_t y, NodeRecord* node, std::int32_t keep) {
  if (skeleton == nullptr || node == nullptr) return 0;
  return zyl::extract::TraceNode(skeleton, width, height, {x, y}, *node, keep != 0);
}

std::int32_t zyl::extract::NodeType(const NodeRecord* node) {
  const std::int32_t* d = node->angleDiff;
  int m = 0;
  for (int i = 1; i < 3; ++i) {
    if (d[i] > d[m]) m = i;
  }
  const int u = d[m == 0 ? 1 : 0];
  const int v = d[m == 2 ? 1 : 2];
  if (d[m] > 110 && u > 50 && u < 70 && v > 50 && v < 70) return 1;
  if (d[m] <= 93) return -1;
  if (u > 30 && u <= 92 && v > 30 && v <= 92) return 2;
  return -1;
}

void zyl::extract::EliminateEye(std::int32_t width, std::int32_t height, ByteImage skeleton, std::int32_t x,
                                std::int32_t y) {
  if (skeleton == nullptr || x < 1 || y < 1 || x > width - 2 || y > height - 2) return;
  if (skeleton[y][x] != kRidge || RingTransitions(skeleton, y, x) != 3) return;
  const Pixel centre{x, y};
  NodeRecord j;
  TraceNode(skeleton, width, height, centre, j, false);
  const auto restore_all = [&](const NodeRecord& n) {
    for (int b = 0; b < n.branchCount; ++b) PaintBranch(skeleton, n.branches[b], kRidge);
  };
  bool reaches_junction = false;
  for (int b = 0; b < j.branchCount; ++b) reaches_junction |= j.branches[b].endKind == 2;
  if (j.branchCount < 3 || !reaches_junction) {
    restore_all(j);
    return;
  }

  // A closed loop: two branches that end on the same pixel. The longer side
  // stays erased, which opens the loop.
  int pair = -1;
  for (int b = 0; b < 3; ++b) {
    if (LastPixel(j.branches[b]) == LastPixel(j.branches[(b + 1) % 3])) pair = b;
  }
  if (pair >= 0) {
    const int next = (pair + 1) % 3;
    const int longer = j.branches[pair].count >= j.branches[next].count ? pair : next;
    for (int b = 0; b < 3; ++b) {
      if (b != longer) PaintBranch(skeleton, j.branches[b], kRidge);
    }
    return;
  }

  restore_all(j);
  int short_branches = 0;
  for (int b = 0; b < 3; ++b) short_branches += j.branches[b].count <= 10;
  for (int b = 0; b < 3; ++b) {
    const NodeBranch& bridge = j.branches[b];
    if (bridge.endKind != 2) continue;
    const Pixel far_end = LastPixel(bridge);
    NodeRecord k;
    if (TraceNode(skeleton, width, height, far_end, k, true) < 3) return;
    const std::array<int, 2> others = Others(b);

    if (short_branches >= 2) {
      // A triangle of short branches: replace it by three spokes from its
      // centroid.
      for (int o : others) {
        for (int c = 0; c < k.branchCount; ++c) {
          if (!(LastPixel(j.branches[o]) == LastPixel(k.branches[c]))) continue;
          PaintBranch(skeleton, bridge, kBackground);
          PaintBranch(skeleton, j.branches[o], kBackground);
          PaintBranch(skeleton, k.branches[c], kBackground);
          const Pixel a = far_end;
          const Pixel bb = LastPixel(j.branches[o]);
          const int cx = (a.x + bb.x + x) / 3;
          const int cy = (a.y + bb.y + y) / 3;
          zyl::extract::Line(cx, cy, a.x, a.y, skeleton);
          zyl::extract::Line(cx, cy, bb.x, bb.y, skeleton);
          zyl::extract::Line(cx, cy, x, y, skeleton);
          return;
        }
      }
    }

    // The branch of K that runs back along the bridge.
    const int mid = bridge.count / 2;
    int back = -1;
    for (int c = 0; c < k.branchCount && back < 0; ++c) {
      for (int i = 0; i < k.branches[c].count; ++i) {
        if (k.branches[c].x[i] == bridge.x[mid] && k.branches[c].y[i] == bridge.y[mid]) {
          back = c;
          break;
        }
      }
    }
    if (back < 0) back = 0;
    const std::array<int, 2> k_others = Others(back);
    const auto make_sides_whole = [&] {
      for (int o : others) {
        PaintBranch(skeleton, j.branches[o], kRidge, 0, std::min(j.branches[o].count, 3));
      }
      for (int c : k_others) PaintBranch(skeleton, k.branches[c], kRidge);
    };
    if (bridge.count < 15 && zyl::extract::NodeType(&j) == 2 && zyl::extract::NodeType(&k) == 2) {
      // A short bridge between two Y-shaped junctions.
      PaintBranch(skeleton, bridge, kBackground);
      make_sides_whole();
      return;
    }
    if (bridge.count < 6 &&
        FoldedDifference(j.branches[others[0]].direction, j.branches[others[1]].direction) < 41 &&
        FoldedDifference(k.branches[k_others[0]].direction, k.branches[k_others[1]].direction) <
            41) {
      PaintBranch(skeleton, bridge, kBackground, 1, bridge.count - 1);
      make_sides_whole();
      return;
    }
  }
}

void zyl::extract::EliminateEyes(std::int32_t width, std::int32_t height, ByteImage skeleton, ByteImage D) {
  if (skeleton == nullptr || D == nullptr) return;
  for (int y = 21; y <= height - 22; ++y) {
    for (int x = 21; x <= width - 22; ++x) {
      x = zyl::extract::NextRidge(skeleton[y], x, width - 21);
      if (x > width - 22) break;
      if (skeleton[y][x] == zyl::extract::kRidge && (D[y][x] & 0x80) == 0) {
        zyl::extract::EliminateEye(width, height, skeleton, x, y);
      }
    }
  }
}

extern "C" {

ZYL_API std::int32_t ComputeEndDirection(std::int32_t width, std::int32_t height, ByteImage skeleton, std::int32_t y,
                                         std::int32_t x) {
  return zyl::extract::ComputeEndDirection(width, height, skeleton, y, x);
}
ZYL_API std::int32_t ComputeBranchDirection(std::int32_t width, std::int32_t height, ByteImage skeleton, std::int32_t y,
                                            std::int32_t x) {
  return zyl::extract::ComputeBranchDirection(width, height, skeleton, y, x);
}
ZYL_API void Line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, ByteImage skeleton) {
  zyl::extract::Line(x0, y0, x1, y1, skeleton);
}
ZYL_API void EliminateLines(std::int32_t width, std::int32_t height, ByteImage skeleton, ByteImage D) {
  zyl::extract::EliminateLines(width, height, skeleton, D);
}
ZYL_API std::int32_t NodeType(const NodeRecord* node) { return zyl::extract::NodeType(node); }
ZYL_API void EliminateEye(std::int32_t width, std::int32_t height, ByteImage skeleton, std::int32_t x, std::int32_t y) {
  zyl::extract::EliminateEye(width, height, skeleton, x, y);
}
ZYL_API void EliminateEyes(std::int32_t width, std::int32_t height, ByteImage skeleton, ByteImage D) {
  zyl::extract::EliminateEyes(width, height, skeleton, D);
}

}  // extern "C"
