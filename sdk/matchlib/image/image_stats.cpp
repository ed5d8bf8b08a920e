// Whole-image reductions in four pixel types (mean, variance, minimum and
// maximum) and the dominant period of a one-dimensional profile.
#include <cstdint>
#include <limits>
#include <type_traits>

#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/core/fixed_math.h"
#include "matchlib/image/image_stats.h"

namespace zyl::matchlib {
namespace {

// Sums are 64-bit throughout: they equal the narrower accumulators wherever
// those cannot overflow, and stay exact on larger images.
template <class P>
using Wide = std::conditional_t<std::is_signed_v<P>, std::int64_t, std::uint64_t>;

template <class P>
Wide<P> pixel_count(int height, int width) {
  if (height <= 0 || width <= 0) return 0;
  return static_cast<Wide<P>>(static_cast<std::int64_t>(height) * width);
}

template <class P>
Wide<P> wide_mean(const P* pixels, int height, int width) {
  const Wide<P> n = pixel_count<P>(height, width);
  if (n == 0 || !pixels) return 0;
  Wide<P> sum = 0;
  for (Wide<P> k = 0; k < n; ++k) sum += pixels[k];
  return sum / n;  // truncates toward zero for the signed members
}

// (Q - S*(S/n))/n: the subtracted term uses the truncated mean.
template <class P>
Wide<P> wide_variance(const P* pixels, int height, int width) {
  const Wide<P> n = pixel_count<P>(height, width);
  if (n == 0 || !pixels) return 0;
  Wide<P> s = 0, q = 0;
  for (Wide<P> k = 0; k < n; ++k) {
    const Wide<P> v = pixels[k];
    s += v;
    q += v * v;
  }
  return (q - s * (s / n)) / n;
}

}  // namespace

template <class P>
int image_mean(const P* pixels, int height, int width) {
  return static_cast<int>(wide_mean<P>(pixels, height, width));
}

template <class P>
VarianceOf<P> image_variance(const P* pixels, int height, int width) {
  return static_cast<VarianceOf<P>>(wide_variance<P>(pixels, height, width));
}

template <class P>
int image_minmax(const P* pixels, int height, int width, P* min_out, P* max_out) {
  P lo = std::numeric_limits<P>::max(), hi = std::numeric_limits<P>::min();
  if (pixels && height > 0 && width > 0) {
    const std::size_t n = static_cast<std::size_t>(height) * width;
    for (std::size_t k = 0; k < n; ++k) {
      if (pixels[k] < lo) lo = pixels[k];
      if (pixels[k] > hi) hi = pixels[k];
    }
  }
  if (min_out) *min_out = lo;
  if (max_out) *max_out = hi;
  return ML_OK;
}

}  // namespace zyl::matchlib

using namespace zyl::matchlib;

#define ZYL_IMAGE_REDUCTIONS(suffix, P)                                                            \
  template int zyl::matchlib::image_mean<P>(const P*, int, int);                                   \
  template VarianceOf<P> zyl::matchlib::image_variance<P>(const P*, int, int);                     \
  template int zyl::matchlib::image_minmax<P>(const P*, int, int, P*, P*);                         \
  extern "C" ZYL_API int img_mean_##suffix(const P* pixels, int height, int width) {               \
    return image_mean<P>(pixels, height, width);                                                   \
  }                                                                                                \
  extern "C" ZYL_API VarianceOf<P> img_variance_##suffix(const P* pixels, int height, int width) { \
    return image_variance<P>(pixels, height, width);                                               \
  }                                                                                                \
  extern "C" ZYL_API int img_minmax_##suffix(const P* pixels, int height, int width, P* min_out,   \
                                             P* max_out) {                                         \
    return image_minmax<P>(pixels, height, width, min_out, max_out);                               \
  }
ZYL_IMAGE_REDUCTIONS(u8, uint8_t)
ZYL_IMAGE_REDUCTIONS(s8, int8_t)
ZYL_IMAGE_REDUCTIONS(u16, uint16_t)
ZYL_IMAGE_REDUCTIONS(s16, int16_t)
#undef ZYL_IMAGE_REDUCTIONS

int zyl::matchlib::profile_dominant_period(const uint8_t* profile, int kmin, int kmax, int n) {
  if (!profile || n <= 0 || kmin > kmax) return 0;
  // Frequency 0 has no period; starting at 1 keeps the division defined.
  if (kmin < 1) kmin = 1;
  constexpr std::int64_t kTurn = 411774;  // two pi in 16.16 radians
  std::int64_t best_power = 0;
  int best_k = 0;
  for (int k = kmin; k <= kmax; ++k) {
    // The phase is accumulated in 64 bits (a 32-bit running product wraps
    // once i*k passes 5215) and reduced by whole turns, which changes no
    // sine or cosine.
    std::int64_t phase = 0, c = 0, s = 0;
    for (int i = 0; i < n; ++i) {
      const int angle = static_cast<int>((-(phase / n)) % kTurn);
      c += std::int64_t{profile[i]} * static_cast<int16_t>(zyl::matchlib::fx_cos_rad(angle));
      s += std::int64_t{profile[i]} * static_cast<int16_t>(zyl::matchlib::fx_sin_rad(angle));
      phase += std::int64_t{k} * kTurn;
    }
    // Power in 64 bits stays exact for any profile of bytes.
    const std::int64_t cs = c >> 8, ss = s >> 8;
    const std::int64_t power = cs * cs + ss * ss;
    if (power > best_power) {
      best_power = power;
      best_k = k;
    }
  }
  if (best_k == 0) return 0;
  return static_cast<int>(std::int64_t{n} * 256 / best_k);
}

extern "C" {

ZYL_API int profile_dominant_period(const uint8_t* profile, int kmin, int kmax, int n) {
  return zyl::matchlib::profile_dominant_period(profile, kmin, kmax, n);
}

}  // extern "C"
