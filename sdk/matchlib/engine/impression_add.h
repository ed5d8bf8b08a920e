// The functions of impression add that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_accum.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int accum_add_image(ImpressionAccumulator* acc, MatchContext* ctx, GrayImage* image);
int accum_add_images_progress(ImpressionAccumulator* acc, MatchContext* ctx,
                              GrayImage* const* images, int n, AccumProgress progress, void* user);
int accum_add_images(ImpressionAccumulator* acc, MatchContext* ctx, GrayImage* const* images,
                     int n);
int accum_band_filter(const uint8_t* pixels, int height, int width, int resolution, uint8_t* out);

}  // namespace zyl::matchlib
