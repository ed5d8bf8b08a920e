// The enhancement, quality and frequency-domain kernels that the image
// objects call. They belong to the filtering and quality part of the
// library, which is built separately; the image code refers to them weakly
// and answers "routine missing" (18) while a build carries none of them.
#pragma once

#include <cstdint>

#include "zylscan/matchlib_band_filter.h"
#include "zylscan/matchlib_checker.h"
#include "zylscan/matchlib_filter_kernels.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_quality.h"
#include "zylscan/matchlib_quality_stats.h"
#include "zylscan/matchlib_smoothing.h"
#include "zylscan/matchlib_stretch.h"
#include "zylscan/matchlib_stripe.h"
#include "zylscan/matchlib_object.h"

extern "C" {
__attribute__((weak)) int quality_from_pixel_coherence(const std::uint8_t* pixels, int height,
                                                       int width, const std::uint8_t* usable,
                                                       int radius, std::uint8_t* quality,
                                                       std::uint32_t* foreground,
                                                       std::uint8_t* kept_map);
__attribute__((weak)) int imgstat_block_contrast(const std::uint8_t* pixels, int height,
                                                 int width, int resolution,
                                                 std::uint8_t* contrast, std::uint8_t* first,
                                                 std::uint8_t* second, std::uint8_t* map_02,
                                                 std::uint8_t* map_04, std::uint8_t* map_08);
}

namespace zyl::matchlib {

// Calls a weakly referenced kernel, or answers 18 when the build has none.
template <class F, class... Args>
int call_kernel(F* kernel, Args... args) {
  return kernel ? kernel(args...) : ML_OUT_OF_LIMITS;
}

}  // namespace zyl::matchlib
