// Contour thinning of bit-packed two-level planes (set bit = background,
// clear bit = line pixel, least significant bit first). Every object's
// outline is traced once as a chain code; each sweep peels the outlines
// with a deletion table, puts back pixels whose removal would cut a line
// with a restoration table, and traces the changed outlines again, until a
// sweep deletes nothing.
#include <array>
#include <cstdint>
#include <new>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/extract/thinning_tables.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/extract/bitplane_thin.h"

namespace zyl::matchlib {
namespace {

// Chain codes clockwise from up-left: (column step, row step).
constexpr std::array<int, 8> kDx{-1, 0, 1, 1, 1, 0, -1, -1};
constexpr std::array<int, 8> kDy{-1, -1, -1, 0, 1, 1, 1, 0};

struct Contour {
  std::size_t start_index = 0;
  std::uint32_t points = 0;
  int row = 0, column = 0;
  bool done = false;
  int start_direction = 0;
};

struct Step {
  std::int8_t dx, dy;
};

class Plane {
 public:
  Plane(std::uint8_t* bits, int rows, int width)
      : bits_(bits), rows_(rows), width_(width), stride_((width + 7) / 8) {}
  bool line(int r, int c) const {
    if (r < 0 || c < 0 || r >= rows_ || c >= width_) return false;
    return !((bits_[std::size_t(r) * stride_ + c / 8] >> (c % 8)) & 1);
  }
  void set_background(int r, int c) {
    bits_[std::size_t(r) * stride_ + c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
  }
  void set_line(int r, int c) {
    bits_[std::size_t(r) * stride_ + c / 8] &= static_cast<std::uint8_t>(~(1u << (c % 8)));
  }
  // Bit 0 down-left, 1 down, 2 down-right, 3 left, 4 right, 5 up-left, 6 up,
  // 7 up-right.
  int peel_pattern(int r, int c) const {
    return line(r + 1, c - 1) | line(r + 1, c) << 1 | line(r + 1, c + 1) << 2 |
           line(r, c - 1) << 3 | line(r, c + 1) << 4 | line(r - 1, c - 1) << 5 |
           line(r - 1, c) << 6 | line(r - 1, c + 1) << 7;
  }
  bool isolated(int r, int c) const {
    if (!line(r, c)) return false;
    for (int d = 0; d < 8; ++d)
      if (line(r + kDy[d], c + kDx[d])) return false;
    return true;
  }
  // First line neighbour clockwise from code `from`, or -1.
  int next_direction(int r, int c, int from) const {
    for (int i = 0; i < 8; ++i) {
      const int d = (from + i) & 7;
      if (line(r + kDy[d], c + kDx[d])) return d;
    }
    return -1;
  }
  int rows() const { return rows_; }
  int width() const { return width_; }

 private:
  std::uint8_t* bits_;
  int rows_, width_, stride_;
};

class Marks {
 public:
  explicit Marks(int rows, int width) : stride_((width + 7) / 8), bits_(std::size_t(rows) * stride_) {}
  bool get(int r, int c) const { return (bits_[std::size_t(r) * stride_ + c / 8] >> (c % 8)) & 1; }
  void set(int r, int c) { bits_[std::size_t(r) * stride_ + c / 8] |= static_cast<std::uint8_t>(1u << (c % 8)); }
  void clear(int r, int c) {
    bits_[std::size_t(r) * stride_ + c / 8] &= static_cast<std::uint8_t>(~(1u << (c % 8)));
  }

 private:
  int stride_;
  std::vector<std::uint8_t> bits_;
};

class Thinner {
 public:
  Thinner(Plane plane, std::size_t capacity)
      : plane_(plane), marks_(plane.rows(), plane.width()), chain_(capacity) {}

  // Traces one contour from (r, c) with the first search starting at
  // `from` (the first step of a fresh contour searches from code 0).
  void trace(Contour& k, int from) {
    k.start_index = used_;
    k.points = 0;
    if (used_ >= chain_.size()) {
      full_ = true;
      return;
    }
    marks_.set(k.row, k.column);
    chain_[used_++] = Step{0, 0};
    k.points = 1;
    const int first = plane_.next_direction(k.row, k.column, from);
    if (first < 0) return;
    int r = k.row, c = k.column, d = first;
    for (;;) {
      if (used_ >= chain_.size()) {
        full_ = true;
        return;
      }
      r += kDy[d];
      c += kDx[d];
      chain_[used_++] = Step{static_cast<std::int8_t>(kDx[d]), static_cast<std::int8_t>(kDy[d])};
      ++k.points;
      marks_.set(r, c);
      d = plane_.next_direction(r, c, (d - 1) & 6);
      if (d < 0 || (r == k.row && c == k.column && d == first)) return;
    }
  }

  void find_contours() {
    const int rows = plane_.rows(), width = plane_.width();
    for (int row = 2; row < rows - 1; row += 2)
      for (int k = 1; k < width - 1; k += 2) {
        int start_column = -1;
        if (!plane_.line(row, k) && plane_.line(row, k + 1) && !marks_.get(row, k + 1))
          start_column = k + 1;
        else if (plane_.line(row, k) && !marks_.get(row, k) && !plane_.line(row, k - 1))
          start_column = k;
        if (start_column < 0) continue;
        Contour contour;
        contour.row = row;
        contour.column = start_column;
        trace(contour, 0);
        contours_.push_back(contour);
      }
  }

  // Points of a contour in walk order.
  void points_of(const Contour& k, std::vector<std::array<int, 2>>& pts) const {
    pts.clear();
    int r = k.row, c = k.column;
    for (std::uint32_t i = 0; i < k.points; ++i) {
      const Step s = chain_[k.start_index + i];
      r += s.dy;
      c += s.dx;
      pts.push_back({r, c});
    }
  }

  // One peeling sweep over the contours not yet done; answers the deletions.
  long sweep() {
    long total = 0;
    std::vector<std::array<int, 2>> pts;
    std::vector<std::uint8_t> value;
    for (auto it = contours_.rbegin(); it != contours_.rend(); ++it) {
      Contour& k = *it;
      if (k.done) continue;
      points_of(k, pts);
      const std::size_t n = pts.size();
      value.assign(n, 0);
      long deletions = 0;
      auto settle = [&](std::size_t i) {
        const auto [r, c] = pts[i];
        marks_.clear(r, c);
        if (value[i] && plane_.line(r, c)) {
          plane_.set_background(r, c);
          ++deletions;
        }
      };
      for (std::size_t i = 0; i < n; ++i) {
        value[i] = kPeelDelete[plane_.peel_pattern(pts[i][0], pts[i][1])];
        if (i >= 2) settle(i - 2);
      }
      for (std::size_t i = n >= 2 ? n - 2 : 0; i < n; ++i) settle(i);
      for (const auto& [r, c] : pts)
        if (!plane_.line(r, c) && kPeelRestore[plane_.peel_pattern(r, c)]) {
          plane_.set_line(r, c);
          marks_.clear(r, c);
          --deletions;
        }
      if (deletions <= 0) {
        k.done = true;
        continue;
      }
      k.done = !new_start(k, pts);
      total += deletions;
    }
    return total;
  }

  bool new_start(Contour& k, const std::vector<std::array<int, 2>>& pts) const {
    static constexpr std::array<std::array<int, 3>, 4> kCandidates{
        {{0, 1, 2}, {0, -1, 6}, {1, 0, 4}, {-1, 0, 0}}};  // row step, column step, direction
    for (const auto& [r, c] : pts) {
      if (plane_.line(r, c)) continue;
      for (const auto& [dy, dx, dir] : kCandidates) {
        const int y = r + dy, x = c + dx;
        if (plane_.line(y, x) && !plane_.isolated(y, x)) {
          k.row = y;
          k.column = x;
          k.start_direction = dir;
          return true;
        }
      }
    }
    return false;
  }

  void retrace() {
    used_ = 0;
    for (auto it = contours_.rbegin(); it != contours_.rend(); ++it)
      if (!it->done) trace(*it, (it->start_direction - 1) & 6);
  }

  bool full() const { return full_; }

 private:
  Plane plane_;
  Marks marks_;
  std::vector<Step> chain_;
  std::size_t used_ = 0;
  bool full_ = false;
  // In the order found; every walk goes from the back, newest first, as a
  // list that takes each new contour at its front would, without the cost
  // of inserting there.
  std::vector<Contour> contours_;
};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::bilevel_bits_thin(uint8_t* plane, int rows, int width, int divisor) {
  if (!plane || rows <= 0 || width <= 0 || divisor <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&]() -> int {
    const std::size_t capacity = std::size_t(rows) * width / divisor;
    Thinner thinner(Plane(plane, rows, width), capacity);
    thinner.find_contours();
    // A full chain buffer leaves outlines untraced, so their objects are
    // never thinned: that answers 17 rather than success, also when the
    // outlines that were traced no longer change.
    for (;;) {
      const long deleted = thinner.sweep();
      if (deleted == 0) return thinner.full() ? ML_CORRUPT : ML_OK;
      thinner.retrace();
      if (thinner.full()) return ML_CORRUPT;
    }
  });
}

extern "C" {

ZYL_API int bilevel_bits_thin(uint8_t* plane, int rows, int width, int divisor) {
  return zyl::matchlib::bilevel_bits_thin(plane, rows, width, divisor);
}

}  // extern "C"
