// Global contrast normalisation: one mean and one variance from the image
// histogram, one gain for the whole image.
#include <algorithm>
#include <cstdint>

#include "matchlib/filter/normalize_gain.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_histogram.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/filter/normalize_global.h"
#include "matchlib/image/histogram.h"

using namespace zyl::matchlib;

int zyl::matchlib::imgproc_normalize_global(const uint8_t* src, int height, int width,
                                            int target_mean, int target_deviation, uint8_t* dst) {
  if (!src || !dst || height < 0 || width < 0) return ML_BAD_ARGUMENT;
  int32_t hist[256];
  zyl::matchlib::hist_build_u8(src, height, width, hist);
  const int c = zyl::matchlib::hist_mean(hist);
  const std::uint32_t v =
      static_cast<uint16_t>(zyl::matchlib::hist_variance(hist, static_cast<uint8_t>(c)));
  const int t = (static_cast<uint8_t>(target_mean) + c) >> 1;
  const std::uint32_t d =
      static_cast<std::uint32_t>(target_deviation) * static_cast<std::uint32_t>(target_deviation) &
      0xFFFFFFu;
  const std::int64_t g = normalize_gain(d, v);
  const std::size_t cells = static_cast<std::size_t>(height) * width;
  for (std::size_t k = 0; k < cells; ++k) {
    dst[k] = normalize_map(src[k], c, t, g);
  }
  return ML_OK;
}

extern "C" {

ZYL_API int imgproc_normalize_global(const uint8_t* src, int height, int width, int target_mean,
                                     int target_deviation, uint8_t* dst) {
  return zyl::matchlib::imgproc_normalize_global(src, height, width, target_mean, target_deviation,
                                                 dst);
}

}  // extern "C"
