// Type 0x4: per 4 x 4 cell of a turned 22 x 22 patch, which 3-bit
// neighbour comparison codes occur at least twice. Type 0x8: 128 unturned
// pairs on a band-filtered image; all-zero bytes mark a point outside.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/keypoint/descriptor_compute.h"
#include "matchlib/keypoint/descriptor_patterns.h"
#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_window.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/image/border_extend.h"

namespace zyl::matchlib {
namespace {

constexpr int kBytes = 16;
constexpr int kMargin4 = 16;
constexpr int kPatch = 22;
// A 4-bit comparison code and its cell bin: the code halved, so the
// right-neighbour comparison never changes the bin.
constexpr std::uint8_t kCodeBin[16] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7};

int texture_code(BlockRecord* record, int extension, const std::uint8_t* pixels, int height,
                 int width) {
  std::uint8_t* out = descriptor_array(record, extension);
  if (!record || (!out && record->point_count > 0) || !pixels || height <= 0 || width <= 0)
    return ML_BAD_ARGUMENT;
  const int A = height + 2 * kMargin4, B = width + 2 * kMargin4;
  std::vector<std::uint8_t> p(static_cast<std::size_t>(A) * B);
  if (const int st = zyl::matchlib::img_pad_extend_u8(pixels, height, width, A, B, kMargin4,
                                                      kMargin4, p.data()))
    return st;
  std::uint8_t patch[kPatch][kPatch];
  std::uint8_t counter[128];
  for (int i = 0; i < record->point_count; ++i) {
    std::uint8_t* d = out + static_cast<std::size_t>(kBytes) * i;
    std::memset(d, 0, kBytes);
    const KeyPoint& kp = record->points[i];
    const long X = (kp.x + kMargin4) * 128L, Y = (kp.y + kMargin4) * 128L;
    const long c = (zyl::matchlib::fx_cos256_alt(kp.angle) + 64) >> 7,
               s = (zyl::matchlib::fx_sin256_alt(kp.angle) + 64) >> 7;
    for (int pr = 0; pr < kPatch; ++pr)
      for (int pc = 0; pc < kPatch; ++pc) {
        const long col = X + (pc - 11) * c - (pr - 11) * s;
        const long row = Y + (pc - 11) * s + (pr - 11) * c;
        const long ic = col >> 7, ir = row >> 7, fc = col & 127, fr = row & 127;
        if (ir < 0 || ic < 0 || ir + 1 >= A || ic + 1 >= B) {
          patch[pr][pc] = 128;
          continue;
        }
        const std::uint8_t* r0 = p.data() + ir * B + ic;
        const std::uint8_t* r1 = r0 + B;
        patch[pr][pc] = static_cast<std::uint8_t>(
            ((r0[0] * (128 - fc) + r0[1] * fc) * (128 - fr) + (r1[0] * (128 - fc) + r1[1] * fc) * fr +
             8192) >>
            14);
      }
    std::memset(counter, 0, sizeof counter);
    for (int cr = 0; cr < 4; ++cr)
      for (int cc = 0; cc < 4; ++cc)
        for (int y = 3 + 4 * cr; y <= 6 + 4 * cr; ++y)
          for (int x = 3 + 4 * cc; x <= 6 + 4 * cc; ++x) {
            const int v = patch[y][x];
            const int code = 8 * (patch[y - 3][x] > v) + 4 * (patch[y][x - 3] > v) +
                             2 * (patch[y + 3][x] > v) + (patch[y][x + 3] > v);
            ++counter[32 * cr + 8 * cc + kCodeBin[code]];
          }
    for (int b = 0; b < 128; ++b) set_bit(d, b, counter[b] >= 2);
  }
  return ML_OK;
}

int fixed_pairs(BlockRecord* record, int extension, const std::uint8_t* pixels, int height,
                int width) {
  std::uint8_t* out = descriptor_array(record, extension);
  if (!record || (!out && record->point_count > 0) || !pixels || height <= 0 || width <= 0)
    return ML_BAD_ARGUMENT;
  std::vector<std::uint8_t> work(static_cast<std::size_t>(height) * width);
  if (const int st = zyl::matchlib::fftfilt_radial_u8(pixels, height, width, record->resolution_y,
                                                      0, 0, 1280, 156, 0, work.data()))
    return st;
  // An offset leaving the image is mirrored about the point; on images
  // narrower than the pattern the mirror can leave it too, and it is then
  // held at the edge.
  auto place = [](long v, long d, long size) {
    long p = v + d;
    if (p < 0 || p >= size) p = v - d;
    return std::clamp(p, 0L, size - 1);
  };
  for (int i = 0; i < record->point_count; ++i) {
    std::uint8_t* d = out + static_cast<std::size_t>(kBytes) * i;
    std::memset(d, 0, kBytes);
    const KeyPoint& kp = record->points[i];
    if (kp.x < 0 || kp.x >= width || kp.y < 0 || kp.y >= height) continue;
    for (int k = 0; k < 128; ++k) {
      const std::int8_t* q = kPattern8 + 4 * k;
      const long c1 = place(kp.x, q[0], width), r1 = place(kp.y, q[1], height);
      const long c2 = place(kp.x, q[2], width), r2 = place(kp.y, q[3], height);
      set_bit(d, k, work[r1 * width + c1] <= work[r2 * width + c2]);
    }
  }
  return ML_OK;
}

}  // namespace

int compute_texture_code(BlockRecord* record, int extension, const std::uint8_t* pixels,
                         const std::uint8_t*, int height, int width) {
  return GuardedCall(ML_NO_MEMORY,
                     [&] { return texture_code(record, extension, pixels, height, width); });
}

int compute_fixed_pairs(BlockRecord* record, int extension, const std::uint8_t* pixels,
                        const std::uint8_t*, int height, int width) {
  return GuardedCall(ML_NO_MEMORY,
                     [&] { return fixed_pairs(record, extension, pixels, height, width); });
}

}  // namespace zyl::matchlib
