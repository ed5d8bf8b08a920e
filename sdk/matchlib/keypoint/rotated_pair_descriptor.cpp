// Type 0x10: 64 pairs turned to the point's direction, rounded to whole
// pixels, scaled by the resolution and compared on a smoothed copy grown
// by a 4-pixel margin; pairs on excluded mask pixels keep their seed bits.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/keypoint/descriptor_compute.h"
#include "matchlib/keypoint/descriptor_patterns.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/border_extend.h"

namespace zyl::matchlib {
namespace {

constexpr int kMargin = 4;
constexpr int kPairs = 64;
constexpr int kBytes = 8;

int compute(BlockRecord* record, int extension, const std::uint8_t* pixels,
            const std::uint8_t* mask, int height, int width) {
  std::uint8_t* out = descriptor_array(record, extension);
  if (!record || (!out && record->point_count > 0) || !pixels || height <= 0 || width <= 0)
    return ML_BAD_ARGUMENT;
  const long r = record->resolution_y;
  const int W = width + 2 * kMargin, H = height + 2 * kMargin;
  const std::size_t n = static_cast<std::size_t>(H) * W;
  std::vector<std::uint8_t> b(n);
  if (const int st =
          zyl::matchlib::img_pad_extend_u8(pixels, height, width, H, W, kMargin, kMargin, b.data()))
    return st;
  for (int i = 0; i < 3; ++i)
    if (const int st = zyl::matchlib::binomial3x3<std::uint8_t>(b.data(), H, W, b.data()))
      return st;
  const int seed = seed_sum(b.data(), n, (static_cast<long>(H) * W + W) / 2, W);
  auto inside = [](long v, long lo, long hi) { return v >= lo && v <= hi; };
  for (int i = 0; i < record->point_count; ++i) {
    std::uint8_t* d = out + static_cast<std::size_t>(kBytes) * i;
    std::memcpy(d, kSeedRotated + (seed + i) % 128, kBytes);
    const KeyPoint& kp = record->points[i];
    const long c = zyl::matchlib::fx_cos256_alt(kp.angle),
               s = zyl::matchlib::fx_sin256_alt(kp.angle);
    for (int k = 0; k < kPairs; ++k) {
      const std::int8_t* q = kPattern10 + 4 * k;
      long u[4] = {round_div(c * q[0] - s * q[1], 16384), round_div(s * q[0] + c * q[1], 16384),
                   round_div(c * q[2] - s * q[3], 16384), round_div(s * q[2] + c * q[3], 16384)};
      if (r != 500)
        for (long& v : u) v = round_div(v * r, 500);
      const long col1 = kp.x + kMargin + u[0], row1 = kp.y + kMargin + u[1];
      const long col2 = kp.x + kMargin + u[2], row2 = kp.y + kMargin + u[3];
      if (!inside(col1, 0, W - 1) || !inside(row1, 0, H - 1) || !inside(col2, 0, W - 1) ||
          !inside(row2, 0, H - 1))
        continue;
      if (mask) {
        auto usable = [&](long col, long row) {
          return inside(col, kMargin, W - kMargin - 1) && inside(row, kMargin, H - kMargin - 1) &&
                 mask[(row - kMargin) * width + (col - kMargin)] != 0;
        };
        if (!usable(col1, row1) || !usable(col2, row2)) continue;
      }
      set_bit(d, k, b[row1 * W + col1] <= b[row2 * W + col2]);
    }
  }
  return ML_OK;
}

}  // namespace

int compute_rotated_pairs(BlockRecord* record, int extension, const std::uint8_t* pixels,
                          const std::uint8_t* mask, int height, int width) {
  return GuardedCall(ML_NO_MEMORY,
                     [&] { return compute(record, extension, pixels, mask, height, width); });
}

}  // namespace zyl::matchlib
