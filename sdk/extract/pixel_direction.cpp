// The pixel direction image and the per-pixel noise image: the
// four-direction estimate over a square window around every pixel.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "extract/orientation_estimate.h"
#include "extract/window_sums.h"
#include "zylscan/direction_image.h"
#include "extract/pixel_direction.h"

namespace zyl::extract {
namespace {

// contrast x (2r + 1)^2 x 2, saturated: a window that large can never reach
// the limit with its sums, so saturating does not change any answer.
std::int64_t contrast_limit(int contrast, int radius) {
  const std::int64_t side = 2 * static_cast<std::int64_t>(std::max(radius, 0)) + 1;
  std::int64_t area = 0, limit = 0;
  if (__builtin_mul_overflow(side, side, &area) ||
      __builtin_mul_overflow(area, 2 * static_cast<std::int64_t>(contrast), &limit))
    return contrast < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  return limit;
}

std::uint8_t with_bad_bit(int orientation, std::uint8_t old) {
  return static_cast<std::uint8_t>(orientation | (old & kBadBit));
}

// One windowed pass over W: orientations into D when D is given, noise over
// W when write_noise is set (which is why W is read through a row ring).
template <DifferenceKind kKind>
void estimate_pass(int width, int height, ByteImage W, ByteImage D, bool write_noise, int radius, int contrast) {
  const int r = effective_radius(radius, width, height);
  const std::int64_t limit = contrast_limit(contrast, radius);
  RowRing rows(W, width, height, ring_rows(r, 1, height));
  const bool narrow = kKind == DifferenceKind::Absolute && direction_sum_fits(width, height);
  with_sum_type(narrow, [&](auto zero) {
    DirectionWindow<kKind, RowRing, decltype(zero)> window(rows, width, height, r);
    for (int y = 0; y < height; ++y) {
      window.advance();
      rows.load_through(y);
      std::uint8_t* dir = D ? D[y] : nullptr;
      std::uint8_t* noise = W[y];
      for (int x = 0; x < width; ++x) {
        const OrientationEstimate e = window.estimate(x);
        if (dir) dir[x] = with_bad_bit(e.orientation, dir[x]);
        if (write_noise) noise[x] = static_cast<std::uint8_t>(limit >= e.peak ? kUnreliableNoise : e.noise);
      }
    }
  });
}

bool valid_pair(int width, int height, ByteImage W, ByteImage D) { return valid_image(width, height, W) && D; }

}  // namespace
}  // namespace zyl::extract

using namespace zyl::extract;

void zyl::extract::ComputeDirImageSimple(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r,
                                         int32_t contrast) {
  if (valid_pair(width, height, W, D))
    estimate_pass<DifferenceKind::Absolute>(width, height, W, D, true, r, contrast);
}

void zyl::extract::CDI_Dir(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r, int32_t /*contrast*/,
                           int32_t squares) {
  if (!valid_pair(width, height, W, D)) return;
  if (squares)
    estimate_pass<DifferenceKind::Squares>(width, height, W, D, false, r, 0);
  else
    estimate_pass<DifferenceKind::Absolute>(width, height, W, D, false, r, 0);
}

void zyl::extract::CDI_Noise(int32_t width, int32_t height, ByteImage W, int32_t r, int32_t contrast,
                             int32_t /*squares*/) {
  if (valid_image(width, height, W))
    estimate_pass<DifferenceKind::Absolute>(width, height, W, nullptr, true, r, contrast);
}

void zyl::extract::ComputeDirImage(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r_dir,
                                   int32_t r_noise, int32_t contrast, int32_t squares) {
  if (r_dir == r_noise && squares == 0) {
    zyl::extract::ComputeDirImageSimple(width, height, W, D, r_dir, contrast);
  } else {
    zyl::extract::CDI_Dir(width, height, W, D, r_dir, contrast, squares);
    zyl::extract::CDI_Noise(width, height, W, r_noise, contrast, squares);
  }
}

extern "C" {

ZYL_API void ComputeDirImageSimple(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r,
                                   int32_t contrast) {
  zyl::extract::ComputeDirImageSimple(width, height, W, D, r, contrast);
}
ZYL_API void CDI_Dir(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r, int32_t arg5,
                     int32_t squares) {
  zyl::extract::CDI_Dir(width, height, W, D, r, arg5, squares);
}
ZYL_API void CDI_Noise(int32_t width, int32_t height, ByteImage W, int32_t r, int32_t contrast, int32_t arg5) {
  zyl::extract::CDI_Noise(width, height, W, r, contrast, arg5);
}
ZYL_API void ComputeDirImage(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r_dir, int32_t r_noise,
                             int32_t contrast, int32_t squares) {
  zyl::extract::ComputeDirImage(width, height, W, D, r_dir, r_noise, contrast, squares);
}

}  // extern "C"
