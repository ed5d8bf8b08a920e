// The six 128-pair pattern descriptors: a pattern of offset pairs turned to
// the point's direction, sampled bilinearly on a smoothed copy, one bit per
// pair for "first not brighter than second". Also the shared helpers of the
// descriptor computations and the gradient maps of the family.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/keypoint/descriptor_compute.h"
#include "matchlib/keypoint/descriptor_patterns.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_sampling.h"
#include "zylscan/matchlib_smoothing.h"
#include "matchlib/core/crc32.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/subpixel.h"
#include "matchlib/image/gradient_variance.h"

namespace zyl::matchlib {

std::uint32_t pattern_crc(const std::int8_t* pattern, std::size_t bytes) {
  return zyl::matchlib::crc32_compute(pattern, static_cast<std::uint32_t>(bytes));
}

void scale_pattern(const std::int8_t* pattern, std::size_t bytes, int resolution,
                   std::int8_t* out) {
  if (resolution >= 493 && resolution <= 507) {
    std::memcpy(out, pattern, bytes);
    return;
  }
  const long f = static_cast<long>(resolution) * 256 / 500;
  for (std::size_t i = 0; i < bytes; ++i)
    out[i] = static_cast<std::int8_t>(pattern[i] * f / 256);
}

int seed_sum(const std::uint8_t* b, std::size_t n, long p, long w) {
  int s = 0;
  for (long i : {p, p + 4, p - 4, p + 4 * w, p - 4 * w})
    if (i >= 0 && static_cast<std::size_t>(i) < n) s += b[i];
  return s;
}

std::uint8_t* descriptor_array(BlockRecord* record, int extension) {
  if (!record || extension < 0 || extension >= record->extension_type_count ||
      extension >= BLOCKREC_MAX_EXTENSIONS)
    return nullptr;
  if (record->point_count < 0 || (record->point_count > 0 && !record->points)) return nullptr;
  std::uint8_t* a = record->extension_arrays[extension];
  return a || record->point_count == 0 ? a : nullptr;
}

namespace {

constexpr std::size_t kPatternBytes = 512;
constexpr int kPairs = 128;
constexpr int kBytes = 16;

int compute_pairs(const std::int8_t* pattern, int passes, BlockRecord* record, int extension,
                  const std::uint8_t* pixels, int height, int width) {
  std::uint8_t* out = descriptor_array(record, extension);
  if ((!out && record && record->point_count > 0) || !record || !pixels || height <= 0 ||
      width <= 0)
    return ML_BAD_ARGUMENT;
  const std::size_t n = static_cast<std::size_t>(height) * width;
  std::vector<std::uint8_t> work(pixels, pixels + n);
  for (int i = 0; i < passes; ++i)
    if (const int st =
            zyl::matchlib::binomial3x3<std::uint8_t>(work.data(), height, width, work.data()))
      return st;
  std::int8_t scaled[kPatternBytes];
  scale_pattern(pattern, kPatternBytes, record->resolution_y, scaled);
  const long p = (static_cast<long>(height) * width + width) / 2;
  const int seed = seed_sum(pixels, n, p, width);
  for (int i = 0; i < record->point_count; ++i) {
    std::uint8_t* d = out + static_cast<std::size_t>(kBytes) * i;
    std::memcpy(d, kSeedPairs + (seed + i) % 128, kBytes);
    const KeyPoint& kp = record->points[i];
    const int c = zyl::matchlib::fx_cos256_alt(kp.angle),
              s = zyl::matchlib::fx_sin256_alt(kp.angle);
    const int X = kp.x * 16384, Y = kp.y * 16384;
    for (int k = 0; k < kPairs; ++k) {
      const std::int8_t* q = scaled + 4 * k;
      const int x1 = X + c * q[0] - s * q[1], y1 = Y + s * q[0] + c * q[1];
      const int x2 = X + c * q[2] - s * q[3], y2 = Y + s * q[2] + c * q[3];
      if (zyl::matchlib::subpix_outside(x1, y1, height, width) ||
          zyl::matchlib::subpix_outside(x2, y2, height, width))
        continue;
      const int g1 = zyl::matchlib::subpix_sample_u8(work.data(), height, width, x1, y1);
      const int g2 = zyl::matchlib::subpix_sample_u8(work.data(), height, width, x2, y2);
      set_bit(d, k, g1 <= g2);
    }
  }
  return ML_OK;
}

}  // namespace

#define ZYL_PAIR_TYPE(name, pattern, passes)                                                    \
  int name(BlockRecord* r, int e, const std::uint8_t* px, const std::uint8_t*, int h, int w) { \
    return GuardedCall(ML_NO_MEMORY, [&] { return compute_pairs(pattern, passes, r, e, px, h, w); }); \
  }
ZYL_PAIR_TYPE(compute_pairs_2, kPattern2, 3)
ZYL_PAIR_TYPE(compute_pairs_20, kPattern20, 3)
ZYL_PAIR_TYPE(compute_pairs_200, kPattern200, 3)
ZYL_PAIR_TYPE(compute_pairs_1000, kPattern1000, 3)
ZYL_PAIR_TYPE(compute_pairs_400, kPattern400, 1)
ZYL_PAIR_TYPE(compute_pairs_800, kPattern800, 1)
#undef ZYL_PAIR_TYPE

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

// Direction (signed 8-bit angle) and magnitude of the Sobel gradient of
// every pixel.
ZYL_API int desc_gradient_maps(const uint8_t* pixels, int height, int width, uint8_t* direction,
                               uint8_t* magnitude) {
  if (!pixels || !direction || !magnitude || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  return zyl::GuardedCall(ML_NO_MEMORY, [&] {
    const std::size_t n = static_cast<std::size_t>(height) * width;
    std::vector<std::int8_t> g1(n), g2(n);
    if (const int st = zyl::matchlib::filter_sobel_s8(pixels, height, width, g1.data(), g2.data()))
      return st;
    for (std::size_t i = 0; i < n; ++i) {
      direction[i] = static_cast<uint8_t>(zyl::matchlib::fx_atan2(g2[i], g1[i]));
      magnitude[i] = static_cast<uint8_t>(
          zyl::matchlib::fx_isqrt30_round(static_cast<uint32_t>(g1[i] * g1[i] + g2[i] * g2[i])));
    }
    return int{ML_OK};
  });
}

}  // extern "C"
