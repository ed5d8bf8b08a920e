// Helpers shared by the stages of the type-line extractor.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/guarded_call.h"
#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_math.h"
#include "typeline/tables.h"

namespace zyl::typeline {

inline constexpr int kMaxSide = TYPELINE_MAX_IMAGE_SIDE;
inline constexpr std::uint8_t kBackground = 255;
inline constexpr std::uint8_t kFlat = 127;

// Every exported stage refuses null images and sides outside 1..400: the
// stages' fixed scratch (profiles of 100 entries, 16-bit labels) is sized
// for that bound.
inline bool image_ok(const void* p, int w, int h) {
  return p != nullptr && w >= 1 && h >= 1 && w <= kMaxSide && h <= kMaxSide;
}

// Stages take their scratch from the heap: a failed allocation happens
// before any output is written, leaves the outputs as they were and must
// not cross the C boundary as an exception.
template <typename F>
void run_stage(F&& stage) noexcept {
  GuardedCall(stage);
}

inline std::size_t pixels(int w, int h) { return static_cast<std::size_t>(w) * static_cast<std::size_t>(h); }

// x / n through the reciprocal tables (n = 1..511); 64-bit so that large
// sums times the multiplier cannot wrap.
inline int table_divide(std::int64_t x, int n) {
  return static_cast<int>((x * kDivisionMultiplier[n]) >> kDivisionShift[n]);
}

// Steps of length k along direction d (Q14 tables, arithmetic shift).
inline int step_x(int d, int k) { return (kCosQ14[d] * k) >> 14; }
inline int step_y(int d, int k) { return (kSinQ14[d] * k) >> 14; }

// Squared distance, saturated: positions handed in by callers may lie
// anywhere in the int range and their squares must not wrap. Differences
// beyond 2^20 already saturate.
inline int squared_distance(int x0, int y0, int x1, int y1) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 20;
  const std::int64_t dx = std::clamp<std::int64_t>(std::int64_t{x0} - x1, -kLimit, kLimit);
  const std::int64_t dy = std::clamp<std::int64_t>(std::int64_t{y0} - y1, -kLimit, kLimit);
  const std::int64_t d = dx * dx + dy * dy;
  return d > INT32_MAX ? INT32_MAX : static_cast<int>(d);
}

inline int wrap_direction(int d) {
  d %= 240;
  return d < 0 ? d + 240 : d;
}

// Sums of clipped (2r + 1) x (2r + 1) windows by a summed-area table:
// emit(x, y, sum, rows, columns) once per pixel, rows before columns.
template <typename Emit>
void for_each_window_sum(const std::uint8_t* image, int w, int h, int r, Emit emit) {
  const int W = w + 1;
  std::vector<std::int32_t> sat(static_cast<std::size_t>(W) * (h + 1), 0);
  for (int y = 0; y < h; ++y) {
    std::int32_t row = 0;
    for (int x = 0; x < w; ++x) {
      row += image[static_cast<std::size_t>(y) * w + x];
      sat[static_cast<std::size_t>(y + 1) * W + x + 1] = sat[static_cast<std::size_t>(y) * W + x + 1] + row;
    }
  }
  for (int y = 0; y < h; ++y) {
    const int y0 = std::max(0, y - r), y1 = std::min(h - 1, y + r);
    for (int x = 0; x < w; ++x) {
      const int x0 = std::max(0, x - r), x1 = std::min(w - 1, x + r);
      const std::int32_t s = sat[static_cast<std::size_t>(y1 + 1) * W + x1 + 1] -
                             sat[static_cast<std::size_t>(y0) * W + x1 + 1] -
                             sat[static_cast<std::size_t>(y1 + 1) * W + x0] + sat[static_cast<std::size_t>(y0) * W + x0];
      emit(x, y, s, y1 - y0 + 1, x1 - x0 + 1);
    }
  }
}

}  // namespace zyl::typeline
