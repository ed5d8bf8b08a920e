// Guarded wrappers and type selectors over the enhancement kernels, and the
// table of image operations built from the wrappers.
#include <cstdint>
#include <cstring>

#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_image_ops.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"
#include "matchlib/core/param_store.h"
#include "matchlib/filter/band_filter.h"
#include "matchlib/image/checker.h"
#include "matchlib/filter/enhancement_operations.h"
#include "matchlib/filter/normalize.h"
#include "matchlib/filter/normalize_global.h"
#include "matchlib/filter/quality_coherence.h"
#include "matchlib/filter/quality_image_stats.h"
#include "matchlib/image/smoothing3x3.h"
#include "matchlib/image/stretch.h"
#include "matchlib/filter/stripe.h"
#include "matchlib/image/filters3x3.h"
#include "matchlib/image/window_stats.h"

namespace zyl::matchlib {
namespace {

constexpr std::uint32_t kDestripeModeKey = 0x7001808b;
constexpr std::uint32_t kDestripeStripKey = 0x17e400f4;

// The wrappers take sizes as 16-bit values: a size that is 0 there (or
// that the record could not hold) is refused.
bool size16_ok(int v) { return static_cast<std::uint16_t>(v) != 0; }

bool guard(const std::uint8_t* pixels, const std::uint8_t* out, int height, int width) {
  return pixels && out && size16_ok(height) && size16_ok(width);
}

// Local normalisation radius: 0.175 mm in pixels, rounded (3 at 500 dpi).
int normalisation_radius(int resolution) { return (resolution * 7 + 508) / 1016; }

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

int zyl::matchlib::img_remove_checker_guarded(const uint8_t* pixels, int height, int width, int,
                                              uint8_t* out) {
  if (!guard(pixels, out, height, width)) return ML_BAD_ARGUMENT;
  return zyl::matchlib::imgproc_remove_checker(pixels, int{std::uint16_t(height)},
                                               int{std::uint16_t(width)}, out);
}

int zyl::matchlib::img_destripe_guarded(const uint8_t* pixels, int height, int width, int, int mode,
                                        int strip, uint8_t* out) {
  if (!guard(pixels, out, height, width)) return ML_BAD_ARGUMENT;
  if (mode < 0 || mode > 3) return ML_WRONG_KIND;
  return zyl::matchlib::imgproc_destripe_by_type(pixels, std::uint16_t(height),
                                                 std::uint16_t(width), mode + 1, strip, out);
}

int zyl::matchlib::imgproc_normalize_local_dpi(const uint8_t* pixels, int height, int width,
                                               int resolution, uint8_t* out) {
  if (!guard(pixels, out, height, width) || !size16_ok(resolution)) return ML_BAD_ARGUMENT;
  return zyl::matchlib::imgproc_normalize_local_ring(
      pixels, int{std::uint16_t(height)}, int{std::uint16_t(width)},
      normalisation_radius(std::uint16_t(resolution)), 128, 75, out);
}

int zyl::matchlib::img_smooth_binomial_guarded(const uint8_t* pixels, int height, int width, int,
                                               uint8_t* out) {
  if (!guard(pixels, out, height, width)) return ML_BAD_ARGUMENT;
  return zyl::matchlib::binomial3x3<std::uint8_t>(pixels, int{std::uint16_t(height)},
                                                  int{std::uint16_t(width)}, out);
}

int zyl::matchlib::img_band_filter_guarded(const uint8_t* pixels, int height, int width,
                                           int resolution, uint8_t* out) {
  if (!guard(pixels, out, height, width) || !size16_ok(resolution)) return ML_BAD_ARGUMENT;
  return zyl::matchlib::fftfilt_band_by_resolution_u8(pixels, int{std::uint16_t(height)},
                                                      int{std::uint16_t(width)},
                                                      int{std::uint16_t(resolution)}, out);
}

extern "C" ZYL_API int imgop_remove_checker(MatchContext*, const uint8_t* pixels, const void*,
                                            int height, int width, int resolution, const void*,
                                            uint8_t* out) {
  return zyl::matchlib::img_remove_checker_guarded(pixels, height, width, resolution, out);
}

extern "C" ZYL_API int imgop_destripe_by_params(MatchContext* ctx, const uint8_t* pixels,
                                                const void*, int height, int width, int resolution,
                                                const void*, uint8_t* out) {
  const int mode = zyl::matchlib::param_get(ctx, kDestripeModeKey, 0);
  const int strip = zyl::matchlib::param_get(ctx, kDestripeStripKey, 1);
  return zyl::matchlib::img_destripe_guarded(pixels, height, width, resolution, mode, strip, out);
}

extern "C" ZYL_API int imgop_normalize_local(MatchContext*, const uint8_t* pixels, const void*,
                                             int height, int width, int resolution, const void*,
                                             uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_local_dpi(pixels, height, width, resolution, out);
}

extern "C" ZYL_API int imgop_smooth_binomial(MatchContext*, const uint8_t* pixels, const void*,
                                             int height, int width, int resolution, const void*,
                                             uint8_t* out) {
  return zyl::matchlib::img_smooth_binomial_guarded(pixels, height, width, resolution, out);
}

extern "C" ZYL_API int imgop_band_filter(MatchContext*, const uint8_t* pixels, const void*,
                                         int height, int width, int resolution, const void*,
                                         uint8_t* out) {
  return zyl::matchlib::img_band_filter_guarded(pixels, height, width, resolution, out);
}

const ImageOperation image_operation_table[5] = {
    imgop_remove_checker, imgop_destripe_by_params, imgop_normalize_local,
    imgop_smooth_binomial, imgop_band_filter};

extern "C" ZYL_API int img_quality_guarded(const uint8_t* pixels, int height, int width,
                                           uint8_t* out_quality, uint32_t* out_foreground,
                                           uint8_t* out_bright) {
  if (!pixels || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  std::uint8_t q = 0, bright = 0;
  std::uint32_t fg = 0;
  const int st = zyl::matchlib::quality_assess_image(pixels, height, width, &q, &fg, &bright);
  if (out_quality) *out_quality = q;
  if (out_foreground) *out_foreground = fg;
  if (out_bright) *out_bright = bright;
  return st;
}

extern "C" ZYL_API int img_block_contrast_guarded(const uint8_t* pixels, int height, int width,
                                                  int resolution, uint8_t* out) {
  if (!pixels || !out || height <= 0 || width <= 0) return ML_BAD_ARGUMENT;
  *out = 0;
  std::uint8_t value = 0, first = 0, second = 0;
  const int st = zyl::matchlib::imgstat_block_contrast(
      pixels, height, width, resolution, &value, &first, &second,
      static_cast<std::uint8_t*>(nullptr), static_cast<std::uint8_t*>(nullptr),
      static_cast<std::uint8_t*>(nullptr));
  if (st == ML_OK) *out = value;
  return st;
}

int zyl::matchlib::imgproc_normalize_by_type(const uint8_t* pixels, int height, int width,
                                             int resolution, int type, uint8_t* out) {
  switch (type) {
    case 0:
      zyl::matchlib::imgproc_stretch_percentile(pixels, height, width, 1, out);
      return ML_OK;
    case 1:
      zyl::matchlib::imgproc_stretch_percentile_below(pixels, height, width, 1, 250, out);
      return ML_OK;
    case 2:
      return zyl::matchlib::imgproc_equalize_recursive(pixels, height, width, out);
    case 3:
      return zyl::matchlib::imgproc_normalize_global(pixels, height, width, 128, 75, out);
    case 4:
      return zyl::matchlib::imgproc_normalize_local(pixels, height, width,
                                                    static_cast<const std::uint8_t*>(nullptr),
                                                    normalisation_radius(resolution), 128, 75, out);
    default:
      return ML_WRONG_KIND;
  }
}

extern "C" ZYL_API int img_smooth_by_type(const uint8_t* pixels, int height, int width,
                                          int resolution, int type, int strength, uint8_t* out) {
  switch (type) {
    case 0:
      return zyl::matchlib::box3x3<std::uint8_t>(pixels, height, width, out);
    case 1:
      return zyl::matchlib::binomial3x3<std::uint8_t>(pixels, height, width, out);
    case 3:
      return zyl::matchlib::filter_adaptive_smooth_u8(pixels, height, width, -1, strength, out);
    case 4:
      return zyl::matchlib::fftfilt_radial_u8(pixels, height, width, resolution, 0, 0, strength,
                                              156, 0, out);
    default: return ML_WRONG_KIND;
  }
}

extern "C" ZYL_API int img_sharpen_by_type(const uint8_t* pixels, int height, int width,
                                           int resolution, int type, int amount, uint8_t* out) {
  switch (type) {
    case 0: {
      // The 3x3 filter takes a byte: an amount of a whole turn or more
      // would wrap, so it is held at 2.
      const auto strength = static_cast<std::uint8_t>(amount >= 256 ? 2 : amount);
      return zyl::matchlib::filter_sharpen3x3_u8(pixels, height, width, strength, out);
    }
    case 1:
      return zyl::matchlib::fftfilt_radial_u8(pixels, height, width, resolution, amount, 156, -1, 0,
                                              0, out);
    case 2:
      return zyl::matchlib::fftfilt_radial_u8(pixels, height, width, resolution, amount, 0, -1, 0,
                                              0, out);
    default:
      return ML_WRONG_KIND;
  }
}

extern "C" ZYL_API int img_band_filter(const uint8_t* pixels, int height, int width, int resolution,
                                       uint8_t* out) {
  return zyl::matchlib::fftfilt_band_by_resolution_u8(pixels, height, width, resolution, out);
}

extern "C" {

ZYL_API int img_remove_checker_guarded(const uint8_t* pixels, int height, int width, int arg3,
                                       uint8_t* out) {
  return zyl::matchlib::img_remove_checker_guarded(pixels, height, width, arg3, out);
}
ZYL_API int img_destripe_guarded(const uint8_t* pixels, int height, int width, int arg3, int mode,
                                 int strip, uint8_t* out) {
  return zyl::matchlib::img_destripe_guarded(pixels, height, width, arg3, mode, strip, out);
}
ZYL_API int imgproc_normalize_local_dpi(const uint8_t* pixels, int height, int width,
                                        int resolution, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_local_dpi(pixels, height, width, resolution, out);
}
ZYL_API int img_smooth_binomial_guarded(const uint8_t* pixels, int height, int width, int arg3,
                                        uint8_t* out) {
  return zyl::matchlib::img_smooth_binomial_guarded(pixels, height, width, arg3, out);
}
ZYL_API int img_band_filter_guarded(const uint8_t* pixels, int height, int width, int resolution,
                                    uint8_t* out) {
  return zyl::matchlib::img_band_filter_guarded(pixels, height, width, resolution, out);
}
ZYL_API int imgproc_normalize_by_type(const uint8_t* pixels, int height, int width, int resolution,
                                      int type, uint8_t* out) {
  return zyl::matchlib::imgproc_normalize_by_type(pixels, height, width, resolution, type, out);
}

}  // extern "C"
