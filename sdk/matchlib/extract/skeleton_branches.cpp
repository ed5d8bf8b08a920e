// Skeleton walking and branch-point minutiae: the three-branch points of a
// one-pixel ridge or valley skeleton become minutiae after spurs and
// branches that cross the ridge flow are erased; their quality falls with
// the length of their shortest branch.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/extract/skeleton_branches.h"

namespace zyl::matchlib {
namespace {

// Step codes 1..8: (row step, column step).
constexpr std::array<int, 9> kRow{0, -1, 1, 0, 0, -1, -1, 1, 1};
constexpr std::array<int, 9> kCol{0, 0, 0, -1, 1, -1, 1, -1, 1};
constexpr int kUp = 1, kDown = 2, kLeft = 3, kRight = 4, kUpLeft = 5, kUpRight = 6,
              kDownLeft = 7, kDownRight = 8;

constexpr std::array<std::array<int, 5>, 9> kPreference{{
    {0, 0, 0, 0, 0},
    {kUp, kUpLeft, kUpRight, 0, 0},
    {kDown, kDownLeft, kDownRight, 0, 0},
    {kLeft, kUpLeft, kDownLeft, 0, 0},
    {kRight, kUpRight, kDownRight, 0, 0},
    {kUp, kLeft, kUpLeft, kUpRight, kDownLeft},
    {kUp, kRight, kUpLeft, kUpRight, kDownRight},
    {kLeft, kDown, kUpLeft, kDownLeft, kDownRight},
    {kRight, kDown, kUpRight, kDownLeft, kDownRight},
}};

constexpr std::array<int, 8> kBranchOrder{kUpLeft, kUp, kUpRight, kLeft, kRight, kDownLeft, kDown, kDownRight};

int offset(int code, int w) { return kRow[code] * w + kCol[code]; }

int line_neighbours(const std::uint8_t* s, int w, int p) {
  int n = 0;
  for (int code = 1; code <= 8; ++code) n += s[p + offset(code, w)] == 0;
  return n;
}

struct Quality {
  int t, c, u;
};
Quality quality_class(int q) {
  if (q < 16) return {256, 10, 100};
  if (q <= 40) return {225, 9, 81};
  if (q <= 60) return {81, 3, 9};
  return {64, 2, 4};
}

int dist2(int p, int q, int w) {
  const int dy = p / w - q / w, dx = p % w - q % w;
  return dx * dx + dy * dy;
}

class Detector {
 public:
  Detector(std::uint8_t* s, std::uint8_t* counts, const std::uint8_t* orientation, int h, int w,
           int f)
      : s_(s), n_(counts), o_(orientation), h_(h), w_(w), f_(f) {}

  void count_and_list() {
    const int w = w_;
    for (int y = 1; y < h_ - 1; ++y)
      for (int x = 1; x < w - 1; ++x) {
        const int p = y * w + x;
        if (s_[p] != 0) continue;
        const int c = line_neighbours(s_, w, p);
        n_[p] = static_cast<std::uint8_t>(c);
        if (c == 3)
          settle_three(p);
        else if (c == 4)
          settle_four(p);
      }
  }

  void remove_spurs() {
    const int limit = 3 / f_;
    for (int cand : candidates_) {
      if (n_[cand] < 3) continue;
      int starts[8], codes[8];
      const int k = zyl::matchlib::skeleton_branch_starts(s_, w_, cand, starts, codes);
      for (int b = 0; b < k; ++b) {
        std::vector<int> path{starts[b]};
        int pos = starts[b], code = codes[b];
        bool spur = false;
        for (int step = 0;; ++step) {
          if (n_[pos] == 1) {
            spur = true;
            break;
          }
          if (n_[pos] != 2 || step == limit) break;
          if (!zyl::matchlib::skeleton_step(s_, w_, &code, &pos)) break;
          path.push_back(pos);
        }
        if (!spur) continue;
        n_[cand] = 2;
        for (int p : path) {
          s_[p] = 1;
          n_[p] = 0;
        }
        break;
      }
    }
  }

  void erase_cross_flow() {
    for (int cand : candidates_) {
      if (n_[cand] != 3) continue;
      int starts[8], codes[8];
      const int k = zyl::matchlib::skeleton_branch_starts(s_, w_, cand, starts, codes);
      for (int b = 0; b < k; ++b) {
        std::vector<int> recorded;
        int pos = starts[b], code = codes[b];
        for (int step = 0;; ++step) {
          if (pos == cand || n_[pos] == 0) break;
          if (n_[pos] != 2) {
            cross_check(cand, pos, recorded);
            break;
          }
          if (step >= 19) break;
          if (recorded.size() < 20) recorded.push_back(pos);
          if (!zyl::matchlib::skeleton_step(s_, w_, &code, &pos)) break;
        }
      }
    }
  }

  void evaluate(int kind, const std::uint8_t* quality, MinutiaEntry* minutiae, std::uint8_t* count) {
    const int f2 = f_ * f_;
    for (int cand : candidates_) {
      if (n_[cand] <= 2) continue;
      const int q = quality[cand];
      const Quality cls = quality_class(q);
      int starts[8], codes[8];
      const int k = zyl::matchlib::skeleton_branch_starts(s_, w_, cand, starts, codes);
      if (k < 3) continue;
      std::array<int, 3> dir{};
      int dmin = INT32_MAX;
      bool dropped = false;
      for (int b = 0; b < 3 && !dropped; ++b) {
        int pos = starts[b], code = codes[b], total = 0;
        while (n_[pos] == 2 && total <= 39) {
          if (total > 20 && dist2(cand, pos, w_) * f2 > 900) break;
          if (!zyl::matchlib::skeleton_step(s_, w_, &code, &pos)) break;
          total += f_;
        }
        const int d2 = dist2(cand, pos, w_);
        if (d2 * f2 < cls.u) {
          dropped = true;
          break;
        }
        dir[b] = zyl::matchlib::fx_atan2(cand / w_ - pos / w_, pos % w_ - cand % w_);
        dmin = std::min(dmin, d2);
      }
      if (dropped || *count >= MINREC_MAX_MINUTIAE) continue;
      MinutiaEntry& m = minutiae[*count];
      m = MinutiaEntry{};
      m.direction = static_cast<std::uint8_t>(branch_direction(dir));
      m.x = static_cast<std::uint16_t>(cand % w_);
      m.y = static_cast<std::uint16_t>(cand / w_);
      m.type = kind ? 1 : 2;
      int value = q;
      if (dmin * f2 < cls.t) {
        const int root = static_cast<int>(
            zyl::matchlib::fx_isqrt30_round(static_cast<std::uint32_t>(dmin * f2)));
        value = (100 / (cls.c - root + 7)) * value / 100;
      }
      m.quality = static_cast<std::uint8_t>(value);
      if (value > 9) ++*count;
    }
  }

 private:
  void list(int p) {
    if (candidates_.size() < 255) candidates_.push_back(p);
  }

  void settle_three(int p) {
    const int w = w_;
    const int l = p - 1, ul = p - w - 1, u = p - w, ur = p - w + 1;
    if (n_[l] == 3 && n_[ul] == 3) {
      n_[p] = n_[ul] = 2;
    } else if (n_[u] == 3) {
      if (n_[ur] == 3) {
        n_[p] = n_[ur] = 2;
      } else if (n_[ul] == 3) {
        n_[p] = n_[ul] = 2;
      } else if (n_[l] == 3) {
        n_[l] = n_[u] = 2;
        if (!candidates_.empty()) candidates_.pop_back();
        list(p);
      } else {
        list(p);
      }
    } else {
      list(p);
    }
  }

  bool line(int p) const { return s_[p] == 0; }

  void erase_and_list(int p, int victim) {
    zyl::matchlib::skeleton_erase_pixel(s_, n_, w_, victim / w_, victim % w_);
    list(p);
  }

  void rule_a(int p) {
    const int w = w_;
    if (line(p - w + 1) && line(p + 1) && line(p + w + 1)) erase_and_list(p, p + 1);
  }
  void rule_b(int p) {
    if (line(p - 1))
      erase_and_list(p, p - 1);
    else
      rule_a(p);
  }
  void step_x(int p) {
    const int w = w_;
    if (!line(p + w + 1)) {
      if (!line(p - w - 1))
        rule_a(p);
      else
        rule_b(p);
    } else {
      erase_and_list(p, p + w);
    }
  }

  void settle_four(int p) {
    const int w = w_;
    const bool ul = line(p - w - 1), u = line(p - w), ur = line(p - w + 1);
    const bool dl = line(p + w - 1), d = line(p + w);
    if (ul && u) {
      if (ur)
        erase_and_list(p, p - w);
      else if (!dl)
        return;
      else if (!d)
        rule_b(p);
      else
        step_x(p);
    } else if (!dl) {
      rule_a(p);
    } else if (!d) {
      if (!ul)
        rule_a(p);
      else
        rule_b(p);
    } else {
      step_x(p);
    }
  }

  void cross_check(int cand, int p, const std::vector<int>& recorded) {
    const int a = zyl::matchlib::fx_atan2(cand / w_ - p / w_, cand % w_ - p % w_);
    const int o = o_[cand];
    int ridge = (o + 64) & 255;
    if (zyl::matchlib::fx_dir_absdiff(ridge, a) > 64) ridge = (o - 64) & 255;
    if (zyl::matchlib::fx_dir_absdiff(ridge, a) <= 40) return;
    for (int q : recorded) zyl::matchlib::skeleton_erase_pixel(s_, n_, w_, q / w_, q % w_);
    if (n_[p] == 1) zyl::matchlib::skeleton_erase_pixel(s_, n_, w_, p / w_, p % w_);
  }

  static int branch_direction(const std::array<int, 3>& d) {
    const int a = zyl::matchlib::fx_dir_absdiff(d[0], d[1]),
              b = zyl::matchlib::fx_dir_absdiff(d[0], d[2]),
              c = zyl::matchlib::fx_dir_absdiff(d[1], d[2]);
    if (b < a)
      return c < b ? zyl::matchlib::fx_dir_mean(d[1], d[2])
                   : zyl::matchlib::fx_dir_mean(d[0], d[2]);
    if (c < a)
      return (a != b || c < b) ? zyl::matchlib::fx_dir_mean(d[1], d[2])
                               : zyl::matchlib::fx_dir_mean(d[0], d[2]);
    return zyl::matchlib::fx_dir_mean(d[0], d[1]);
  }

  std::uint8_t* s_;
  std::uint8_t* n_;
  const std::uint8_t* o_;
  int h_, w_, f_;
  std::vector<int> candidates_;
};

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

void zyl::matchlib::skeleton_erase_pixel(uint8_t* skeleton, uint8_t* counts, int width, int row,
                                         int column) {
  const int p = row * width + column;
  skeleton[p] = 1;
  counts[p] = 0;
  for (int code = 1; code <= 8; ++code) {
    const int q = p + offset(code, width);
    if (skeleton[q] != 0 || counts[q] == 0) continue;
    if (counts[q] != 2)
      --counts[q];
    else
      counts[q] = static_cast<std::uint8_t>(line_neighbours(skeleton, width, q));
  }
}

int zyl::matchlib::skeleton_branch_starts(const uint8_t* skeleton, int width, int position,
                                          int* out_positions, int* out_codes) {
  int n = 0;
  for (int code : kBranchOrder) {
    const int q = position + offset(code, width);
    if (skeleton[q] != 0) continue;
    out_positions[n] = q;
    out_codes[n] = code;
    ++n;
  }
  return n;
}

int zyl::matchlib::skeleton_step(const uint8_t* skeleton, int width, int* code, int* position) {
  if (*code < 1 || *code > 8) return 0;
  for (int next : kPreference[*code]) {
    if (next == 0) break;
    const int q = *position + offset(next, width);
    if (skeleton[q] == 0) {
      *position = q;
      *code = next;
      return 1;
    }
  }
  return 0;
}

namespace {

// Every pixel of the outer rows and columns is background (non-zero).
bool background_frame(const std::uint8_t* skeleton, int height, int width) {
  const std::size_t w = static_cast<std::size_t>(width);
  for (std::size_t x = 0; x < w; ++x)
    if (skeleton[x] == 0 || skeleton[(height - 1) * w + x] == 0) return false;
  for (int y = 0; y < height; ++y)
    if (skeleton[y * w] == 0 || skeleton[y * w + w - 1] == 0) return false;
  return true;
}

}  // namespace

int zyl::matchlib::minutiae_detect_branches(uint8_t* skeleton, const uint8_t* orientation,
                                            int height, int width, int kind, const uint8_t* quality,
                                            MinutiaEntry* minutiae, uint8_t* count, uint8_t* counts,
                                            int scale, int map_step) {
  (void)map_step;
  if (!skeleton || !orientation || !quality || !minutiae || !count || !counts || height <= 0 ||
      width <= 0 || (scale != 1 && scale != 2))
    return ML_BAD_ARGUMENT;
  if (height <= 3 || width < 3) {
    std::memset(counts, 0, std::size_t(height) * width);
    return ML_OK;
  }
  // Walks and neighbour counts run without bounds tests: a line pixel on the
  // outer rows or columns would lead them off both buffers.
  if (!background_frame(skeleton, height, width)) return ML_BAD_ARGUMENT;
  std::memset(counts, 0, std::size_t(height) * width);
  Detector d(skeleton, counts, orientation, height, width, scale);
  d.count_and_list();
  d.remove_spurs();
  if (scale == 1) d.erase_cross_flow();
  d.evaluate(kind, quality, minutiae, count);
  return ML_OK;
}

int zyl::matchlib::minutiae_merge_close_pairs(MinutiaEntry* m, int count, int scale) {
  if (!m || count <= 0) return 0;
  int first_other = 1;
  while (first_other < count && m[first_other].type == m[0].type) ++first_other;
  if (first_other >= count) return count;
  const int f2 = scale * scale;
  int k = first_other;
  while (k < count) {
    bool merged = false;
    for (int p = 0; p < first_other; ++p) {
      const int dx = int(m[k].x) - m[p].x, dy = int(m[k].y) - m[p].y;
      if (zyl::matchlib::fx_dir_absdiff(m[k].direction, m[p].direction) > 13 ||
          f2 * (dx * dx + dy * dy) >= 64)
        continue;
      m[p].x = static_cast<std::uint16_t>((int(m[k].x) + m[p].x) / 2);
      m[p].y = static_cast<std::uint16_t>((int(m[k].y) + m[p].y) / 2);
      m[p].direction =
          static_cast<std::uint8_t>(zyl::matchlib::fx_dir_mean(m[p].direction, m[k].direction));
      m[p].type = 2;
      std::memmove(m + k, m + k + 1, sizeof(MinutiaEntry) * std::size_t(count - k - 1));
      --count;
      merged = true;
      break;
    }
    if (!merged) ++k;
  }
  return count;
}

extern "C" ZYL_API int minutiae_keep_in_map(MinutiaEntry* minutiae, int count, const uint8_t* map,
                                            int width) {
  if (!minutiae || !map || count <= 0) return 0;
  int kept = 0;
  for (int i = 0; i < count; ++i)
    if (map[std::size_t(minutiae[i].y) * width + minutiae[i].x] != 0) minutiae[kept++] = minutiae[i];
  return kept;
}

extern "C" {

ZYL_API void skeleton_erase_pixel(uint8_t* skeleton, uint8_t* counts, int width, int row,
                                  int column) {
  zyl::matchlib::skeleton_erase_pixel(skeleton, counts, width, row, column);
}
ZYL_API int skeleton_branch_starts(const uint8_t* skeleton, int width, int position,
                                   int* out_positions, int* out_codes) {
  return zyl::matchlib::skeleton_branch_starts(skeleton, width, position, out_positions, out_codes);
}
ZYL_API int skeleton_step(const uint8_t* skeleton, int width, int* code, int* position) {
  return zyl::matchlib::skeleton_step(skeleton, width, code, position);
}
ZYL_API int minutiae_detect_branches(uint8_t* skeleton, const uint8_t* orientation, int height,
                                     int width, int kind, const uint8_t* quality,
                                     MinutiaEntry* minutiae, uint8_t* count, uint8_t* counts,
                                     int scale, int map_step) {
  return zyl::matchlib::minutiae_detect_branches(skeleton, orientation, height, width, kind,
                                                 quality, minutiae, count, counts, scale, map_step);
}
ZYL_API int minutiae_merge_close_pairs(MinutiaEntry* m, int count, int scale) {
  return zyl::matchlib::minutiae_merge_close_pairs(m, count, scale);
}

}  // extern "C"
