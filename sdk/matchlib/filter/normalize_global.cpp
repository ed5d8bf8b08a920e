// Global contrast normalisation: one mean and one variance from the image
// histogram, one gain for the whole image.
#include <algorithm>
#include <cstdint>

#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_object.h"

namespace zyl::matchlib {
namespace {

std::uint64_t isqrt64(std::uint64_t a) {
  std::uint64_t r = 0, bit = std::uint64_t{1} << 62;
  while (bit > a) bit >>= 2;
  while (bit) {
    if (a >= r + bit) {
      a -= r + bit;
      r = (r >> 1) + bit;
    } else {
      r >>= 1;
    }
    bit >>= 2;
  }
  return r;
}

// Gain (32 = 1.0) of about 32*sqrt(D/V) from the squared target deviation
// and the variance; the shifts keep the root's argument in range. Shifted
// arguments are formed in 64 bits so that a tiny variance cannot wrap them.
std::int64_t gain(std::uint32_t d, std::uint32_t v) {
  if (v == 0) return 0;
  const std::uint64_t m = std::uint64_t{d} * 256 / v;
  if (m < 65536) return static_cast<std::int64_t>(isqrt64(m << 16) >> 7);
  if (m > 1048575) return static_cast<std::int64_t>((isqrt64(m << 8) >> 7) << 4);
  return static_cast<std::int64_t>((isqrt64(m << 12) >> 7) << 2);
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" {

ZYL_API int imgproc_normalize_global(const uint8_t* src, int height, int width,
                                     int target_mean, int target_deviation, uint8_t* dst) {
  if (!src || !dst || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  int32_t hist[256];
  hist_build_u8(src, height, width, hist);
  const int c = hist_mean(hist);
  const std::uint32_t v = static_cast<uint16_t>(hist_variance(hist, static_cast<uint8_t>(c)));
  const int t = (static_cast<uint8_t>(target_mean) + c) >> 1;
  const std::uint32_t d =
      static_cast<std::uint32_t>(target_deviation) * static_cast<std::uint32_t>(target_deviation) &
      0xFFFFFFu;
  const std::int64_t g = gain(d, v);
  const std::size_t cells = static_cast<std::size_t>(height) * width;
  for (std::size_t k = 0; k < cells; ++k) {
    const int x = src[k];
    std::int64_t out;
    if (x > c) out = std::min<std::int64_t>(255, t + g * (x - c) / 32);
    else out = std::max<std::int64_t>(0, t - g * (c - x) / 32);
    dst[k] = static_cast<uint8_t>(out);
  }
  return ML_OK;
}

}  // extern "C"
