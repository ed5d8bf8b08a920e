// Minutia tracing on thinned bit planes: line neighbours are counted into
// a 4-bit map, branch candidates are collected (adjacent three-neighbour
// pixels settled to one, four-neighbour pixels reduced to three), and a
// candidate with three long enough arms becomes a minutia whose direction
// bisects the two arms that run closest together.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/extract/bitplane_trace.h"
#include "matchlib/extract/minutiae_validate.h"
#include "matchlib/image/cell_map_expand.h"

namespace zyl::matchlib {
namespace {

// Step codes 1..8: (column step, row step).
constexpr std::array<int, 9> kDx{0, 0, 0, -1, 1, -1, 1, -1, 1};
constexpr std::array<int, 9> kDy{0, -1, 1, 0, 0, -1, -1, 1, 1};
constexpr int kUp = 1, kDown = 2, kLeft = 3, kRight = 4, kUpLeft = 5, kUpRight = 6, kDownLeft = 7, kDownRight = 8;
constexpr std::array<std::array<int, 5>, 9> kPreference{{
    {0, 0, 0, 0, 0},
    {kUp, kUpLeft, kUpRight, 0, 0},
    {kDown, kDownLeft, kDownRight, 0, 0},
    {kLeft, kUpLeft, kDownLeft, 0, 0},
    {kRight, kUpRight, kDownRight, 0, 0},
    // Diagonals: the two straight neighbours, the diagonal, then the two
    // other diagonals that still lead forward.
    {kUp, kLeft, kUpLeft, kUpRight, kDownLeft},
    {kUp, kRight, kUpRight, kUpLeft, kDownRight},
    {kLeft, kDown, kDownLeft, kUpLeft, kDownRight},
    {kRight, kDown, kDownRight, kUpRight, kDownLeft},
}};
constexpr std::array<int, 8> kNeighbourOrder{kUpLeft, kUp, kUpRight, kLeft, kRight, kDownLeft, kDown, kDownRight};

class Plane {
 public:
  Plane(const std::uint8_t* bits, int rows, int width) : bits_(bits), rows_(rows), width_(width), stride_((width + 7) / 8) {}
  bool line(int c, int r) const {
    if (r < 0 || c < 0 || r >= rows_ || c >= width_) return false;
    return !((bits_[std::size_t(r) * stride_ + c / 8] >> (c % 8)) & 1);
  }
  int neighbours(int c, int r) const {
    int n = 0;
    for (int code = 1; code <= 8; ++code) n += line(c + kDx[code], r + kDy[code]);
    return n;
  }
  int rows() const { return rows_; }
  int width() const { return width_; }
  int stride() const { return stride_; }
  const std::uint8_t* row_bytes(int r) const { return bits_ + std::size_t(r) * stride_; }

 private:
  const std::uint8_t* bits_;
  int rows_, width_, stride_;
};

class Counts {
 public:
  Counts(std::uint8_t* map, int width) : map_(map), stride_((width + 1) / 2) {}
  int get(int c, int r) const {
    const std::uint8_t b = map_[std::size_t(r) * stride_ + c / 2];
    return (c & 1) ? b >> 4 : b & 15;
  }
  void set(int c, int r, int v) {
    std::uint8_t& b = map_[std::size_t(r) * stride_ + c / 2];
    b = (c & 1) ? static_cast<std::uint8_t>((b & 0x0F) | (v << 4)) : static_cast<std::uint8_t>((b & 0xF0) | (v & 15));
  }

 private:
  std::uint8_t* map_;
  int stride_;
};

void set_background(std::uint8_t* plane, int width, int c, int r) {
  plane[std::size_t(r) * ((width + 7) / 8) + c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
}

struct Class {
  int min4, full, base;
};
Class quality_class(int q) {
  if (q < 16) return {100, 256, 10};
  if (q <= 40) return {81, 225, 9};
  if (q <= 60) return {9, 81, 3};
  return {4, 64, 2};
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::bilevel_bits_line_neighbours(const uint8_t* plane, int width, int rows,
                                                 int column, int row, int* codes, int* column_steps,
                                                 int* row_steps, int* count) {
  const Plane p(plane, rows, width);
  int n = 0;
  for (int code : kNeighbourOrder)
    if (p.line(column + kDx[code], row + kDy[code])) {
      codes[n] = code;
      column_steps[n] = kDx[code];
      row_steps[n] = kDy[code];
      ++n;
    }
  *count = n;
}

int zyl::matchlib::bilevel_bits_step(const uint8_t* plane, int width, int rows, int* code,
                                     int* column, int* row) {
  if (*code < 1 || *code > 8) return 0;
  const Plane p(plane, rows, width);
  for (int next : kPreference[*code]) {
    if (next == 0) break;
    if (p.line(*column + kDx[next], *row + kDy[next])) {
      *column += kDx[next];
      *row += kDy[next];
      *code = next;
      return 1;
    }
  }
  return 0;
}

void zyl::matchlib::bilevel_bits_take_pixel(uint8_t* plane, uint8_t* counts, int width, int rows,
                                            int row, int column) {
  set_background(plane, width, column, row);
  Counts n(counts, width);
  n.set(column, row, 0);
  const Plane p(plane, rows, width);
  for (int code = 1; code <= 8; ++code) {
    const int c = column + kDx[code], r = row + kDy[code];
    if (!p.line(c, r) || n.get(c, r) == 0) continue;  // not counted yet
    if (n.get(c, r) == 2)
      n.set(c, r, p.neighbours(c, r));
    else
      n.set(c, r, n.get(c, r) - 1);
  }
}

static void bilevel_bits_trace_minutiae_unguarded(uint8_t* plane, int rows, int width, int kind,
                                                  const uint8_t* quality, MinutiaEntry* minutiae,
                                                  uint8_t* count, uint8_t* counts, int s1, int s2) {
  const int stride = (width + 1) / 2;
  std::memset(counts, 0, std::size_t(rows) * stride);
  if (rows < 3 || !plane || !quality || !minutiae || !count) return;
  const Plane p(plane, rows, width);
  Counts n(counts, width);
  std::vector<std::array<int, 2>> candidates;  // (column, row)
  auto list = [&](int c, int r) {
    if (candidates.size() < 255) candidates.push_back({c, r});
  };
  auto take = [&](int c, int r) {
    zyl::matchlib::bilevel_bits_take_pixel(plane, counts, width, rows, r, c);
  };
  for (int r = 1; r <= rows - 2; ++r) {
    const std::uint8_t* bytes = p.row_bytes(r);
    for (int c = 0; c < width; ++c) {
      if (c % 8 == 0 && bytes[c / 8] == 0xFF) {
        c += 7;
        continue;
      }
      if (!p.line(c, r)) continue;
      const int k = p.neighbours(c, r);
      n.set(c, r, k);
      if (k == 3) {
        const int l = n.get(std::max(c - 1, 0), r), ul = c > 0 ? n.get(c - 1, r - 1) : 0, u = n.get(c, r - 1),
                  ur = c + 1 < width ? n.get(c + 1, r - 1) : 0;
        if (c > 0 && l == 3 && ul == 3) {
          n.set(c, r, 2);
          n.set(c - 1, r - 1, 2);
        } else if (u != 3) {
          list(c, r);
        } else if (ur == 3) {
          n.set(c, r, 2);
          n.set(c + 1, r - 1, 2);
        } else if (ul == 3) {
          n.set(c, r, 2);
          n.set(c - 1, r - 1, 2);
        } else {
          if (c > 0 && l == 3) {
            n.set(c - 1, r, 2);
            n.set(c, r - 1, 2);
            if (!candidates.empty()) candidates.pop_back();
          }
          list(c, r);
        }
      } else if (k == 4) {
        const bool ul = p.line(c - 1, r - 1), u = p.line(c, r - 1), ur = p.line(c + 1, r - 1), l = p.line(c - 1, r),
                   rt = p.line(c + 1, r), dl = p.line(c - 1, r + 1), d = p.line(c, r + 1), dr = p.line(c + 1, r + 1);
        if (!ul) {
          if (dl && d && dr) {
            take(c, r + 1);
            list(c, r);
          } else if (ur && rt && dr) {
            take(c + 1, r);
            list(c, r);
          }
        } else if (!u || !ur) {
          if (dl && d && dr) {
            take(c, r + 1);
            list(c, r);
          } else if (!dl || !l) {
            if (ur && rt && dr) {
              take(c + 1, r);
              list(c, r);
            }
          } else {
            take(c - 1, r);
            list(c, r);
          }
        } else {
          take(c, r - 1);
          list(c, r);
        }
      }
    }
  }
  const int qstride = width / std::max(s2, 1);
  for (const auto& [c, r] : candidates) {
    if (n.get(c, r) <= 2) continue;
    if (*count >= MINREC_MAX_MINUTIAE) return;
    const int q = quality[std::size_t(r / s2) * qstride + c / s2];
    const Class cls = quality_class(q);
    int codes[8], dxs[8], dys[8], k = 0;
    zyl::matchlib::bilevel_bits_line_neighbours(plane, width, rows, c, r, codes, dxs, dys, &k);
    if (k < 3) continue;
    std::array<int, 3> dir{};
    int shortest = INT32_MAX;
    bool rejected = false;
    for (int a = 0; a < 3 && !rejected; ++a) {
      int ac = c + dxs[a], ar = r + dys[a], code = codes[a];
      // c and r are copied in: clang 14 cannot capture structured bindings.
      auto m_of = [&, c = c, r = r] { return (ac - c) * (ac - c) + (ar - r) * (ar - r); };
      if (n.get(ac, ar) == 2) {
        for (int counter = 2; counter <= 40; counter += s1) {
          if (!zyl::matchlib::bilevel_bits_step(plane, width, rows, &code, &ac, &ar)) break;
          if (n.get(ac, ar) != 2) break;
          if (counter >= 22 && m_of() * 4 > 900) break;
        }
      }
      const int m = m_of();
      if (m * 4 < cls.min4) {
        rejected = true;
        break;
      }
      dir[a] = zyl::matchlib::fx_atan2(r - ar, ac - c);
      shortest = std::min(shortest, m);
    }
    if (rejected) continue;
    const int d01 = zyl::matchlib::fx_dir_absdiff_alt(dir[0], dir[1]),
              d02 = zyl::matchlib::fx_dir_absdiff_alt(dir[0], dir[2]),
              d12 = zyl::matchlib::fx_dir_absdiff_alt(dir[1], dir[2]);
    int direction = zyl::matchlib::fx_dir_mean_alt(dir[0], dir[1]);
    if (d02 < d01 || d12 < d01)
      direction = d12 < d02 ? zyl::matchlib::fx_dir_mean_alt(dir[1], dir[2])
                            : zyl::matchlib::fx_dir_mean_alt(dir[0], dir[2]);
    MinutiaEntry& e = minutiae[*count];
    e = MinutiaEntry{};
    e.y = static_cast<std::uint16_t>(r);
    e.x = static_cast<std::uint16_t>(c);
    e.direction = static_cast<std::uint8_t>(direction);
    e.type = kind ? 1 : 2;
    int value = q;
    if (shortest * 4 < cls.full) {
      const int root = static_cast<int>(
          zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(4 * shortest)));
      value = (100 / (cls.base - root + 7)) * value / 100;
    }
    e.quality = static_cast<std::uint8_t>(value);
    if (value > 9) ++*count;
  }
}

void zyl::matchlib::bilevel_bits_trace_minutiae(uint8_t* plane, int rows, int width, int kind,
                                                const uint8_t* quality, MinutiaEntry* minutiae,
                                                uint8_t* count, uint8_t* counts, int s1, int s2) {
  zyl::GuardedCall([&] {
    bilevel_bits_trace_minutiae_unguarded(plane, rows, width, kind, quality, minutiae, count,
                                          counts, s1, s2);
  });
}

static int bilevel_bits_check_endings_unguarded(MinutiaEntry* minutiae, int count,
                                                const uint8_t* plane, const uint8_t* counts,
                                                const uint8_t* block_frequency, int rows, int width,
                                                int scale, int cell) {
  if (!minutiae || count <= 0) return 0;
  if (!plane || !counts || !block_frequency || rows <= 0 || width <= 0 || cell <= 0) return count;
  // The ending validation of the byte skeletons, run on the plane itself:
  // the plane and its counts unpacked, the block ridge periods sampled at
  // every plane pixel. Distances are plane pixels, where the plane doubles
  // the frame; the periods stay in frame pixels, which keeps the side search
  // (3 to 3 x period / scale) and the trial steps at their frame extent.
  (void)scale;
  const Plane p(plane, rows, width);
  const Counts n(const_cast<uint8_t*>(counts), width);
  std::vector<std::uint8_t> skeleton(std::size_t(rows) * width), bytes(skeleton.size()), period(skeleton.size());
  const int map_rows = (rows + cell - 1) / cell, map_columns = (width + cell - 1) / cell;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < width; ++c) {
      const std::size_t i = std::size_t(r) * width + c;
      skeleton[i] = p.line(c, r) ? 0 : 1;
      bytes[i] = static_cast<std::uint8_t>(n.get(c, r));
      period[i] =
          zyl::matchlib::img_sample_bilinear_u8(c, r, block_frequency, map_rows, map_columns, cell);
    }
  return zyl::matchlib::minutiae_validate_endings(minutiae, count, skeleton.data(), bytes.data(),
                                                  period.data(), rows, width, 1, 1);
}

int zyl::matchlib::bilevel_bits_check_endings(MinutiaEntry* minutiae, int count,
                                              const uint8_t* plane, const uint8_t* counts,
                                              const uint8_t* block_frequency, int rows, int width,
                                              int scale, int cell) {
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    return bilevel_bits_check_endings_unguarded(minutiae, count, plane, counts, block_frequency,
                                                rows, width, scale, cell);
  });
}

extern "C" {

ZYL_API void bilevel_bits_line_neighbours(const uint8_t* plane, int width, int rows, int column,
                                          int row, int* codes, int* column_steps, int* row_steps,
                                          int* count) {
  zyl::matchlib::bilevel_bits_line_neighbours(plane, width, rows, column, row, codes, column_steps,
                                              row_steps, count);
}
ZYL_API int bilevel_bits_step(const uint8_t* plane, int width, int rows, int* code, int* column,
                              int* row) {
  return zyl::matchlib::bilevel_bits_step(plane, width, rows, code, column, row);
}
ZYL_API void bilevel_bits_take_pixel(uint8_t* plane, uint8_t* counts, int width, int rows, int row,
                                     int column) {
  zyl::matchlib::bilevel_bits_take_pixel(plane, counts, width, rows, row, column);
}
ZYL_API void bilevel_bits_trace_minutiae(uint8_t* plane, int rows, int width, int kind,
                                         const uint8_t* quality, MinutiaEntry* minutiae,
                                         uint8_t* count, uint8_t* counts, int s1, int s2) {
  zyl::matchlib::bilevel_bits_trace_minutiae(plane, rows, width, kind, quality, minutiae, count,
                                             counts, s1, s2);
}
ZYL_API int bilevel_bits_check_endings(MinutiaEntry* minutiae, int count, const uint8_t* plane,
                                       const uint8_t* counts, const uint8_t* block_frequency,
                                       int rows, int width, int scale, int cell) {
  return zyl::matchlib::bilevel_bits_check_endings(minutiae, count, plane, counts, block_frequency,
                                                   rows, width, scale, cell);
}

}  // extern "C"
