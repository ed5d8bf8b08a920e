// Type 0x2000: the magnitude spectrum of the 16 x 16 tile around the point
// at 250 dpi, compared at 128 pattern pairs turned to the point's
// direction.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/guarded_call.h"
#include "matchlib/keypoint/descriptor_compute.h"
#include "matchlib/keypoint/descriptor_patterns.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_frequency.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_sampling.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/core/subpixel.h"
#include "matchlib/image/rescale.h"
#include "matchlib/spectral/tile_spectra.h"

namespace zyl::matchlib {
namespace {

constexpr int kBytes = 16;
constexpr int kGrid = 17;
constexpr long kTargetDpi = 250;

int spectral(BlockRecord* record, int extension, const std::uint8_t* pixels, int height,
             int width) {
  std::uint8_t* out = descriptor_array(record, extension);
  if (!record || (!out && record->point_count > 0) || !pixels || height <= 0 || width <= 0)
    return ML_BAD_ARGUMENT;
  const long p = static_cast<long>(width) * (height + 1) / 2;
  const int seed = seed_sum(pixels, static_cast<std::size_t>(height) * width, p, width);
  // The resolution divides every size and coordinate: a record whose
  // resolution was never set cannot be brought to 250 dpi.
  const long r = record->resolution_x;
  if (r <= 0) return ML_BAD_ARGUMENT;
  const long h2 = height * kTargetDpi / r, w2 = width * kTargetDpi / r;
  std::vector<std::uint8_t> small(static_cast<std::size_t>(h2) * w2);
  if (const int st = zyl::matchlib::img_resize_u8(pixels, height, width, small.data(), h2, w2))
    return st;
  std::int32_t re[kGrid * kGrid], im[kGrid * kGrid];
  std::uint32_t mag[kGrid * kGrid];
  for (int i = 0; i < record->point_count; ++i) {
    const KeyPoint& kp = record->points[i];
    const int c = zyl::matchlib::fx_cos256_alt(kp.angle),
              s = zyl::matchlib::fx_sin256_alt(kp.angle);
    const long x2 = round_div(kp.x * kTargetDpi, r), y2 = round_div(kp.y * kTargetDpi, r);
    std::uint8_t* d = out + static_cast<std::size_t>(kBytes) * i;
    std::memcpy(d, kSeedSpectral + (seed + i) % 128, kBytes);
    std::memset(re, 0, sizeof re);
    std::memset(im, 0, sizeof im);
    std::memset(mag, 0, sizeof mag);
    if (const int st = zyl::matchlib::spectrum_tile16(
            small.data(), static_cast<int>(h2), static_cast<int>(w2), static_cast<int>(y2 - 8),
            static_cast<int>(x2 - 8), 1, re, im))
      return st;
    zyl::matchlib::spectrum_magnitude(re, im, 16, mag);
    const std::int32_t* m = reinterpret_cast<const std::int32_t*>(mag);
    constexpr int kCentre = 8 * 16384;
    for (int k = 0; k < 128; ++k) {
      const std::int8_t* q = kPattern2000 + 4 * k;
      const int x1 = kCentre + c * q[0] - s * q[1], y1 = kCentre + s * q[0] + c * q[1];
      const int xb = kCentre + c * q[2] - s * q[3], yb = kCentre + s * q[2] + c * q[3];
      if (zyl::matchlib::subpix_outside(x1, y1, kGrid, kGrid) ||
          zyl::matchlib::subpix_outside(xb, yb, kGrid, kGrid))
        continue;
      set_bit(d, k,
              zyl::matchlib::subpix_sample_s32(m, kGrid, kGrid, x1, y1) <=
                  zyl::matchlib::subpix_sample_s32(m, kGrid, kGrid, xb, yb));
    }
  }
  return ML_OK;
}

}  // namespace

int compute_spectral(BlockRecord* record, int extension, const std::uint8_t* pixels,
                     const std::uint8_t*, int height, int width) {
  return GuardedCall(ML_NO_MEMORY,
                     [&] { return spectral(record, extension, pixels, height, width); });
}

}  // namespace zyl::matchlib
