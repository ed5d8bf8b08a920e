// The functions of image stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include <cstdint>
#include <type_traits>

#include "zylscan/matchlib_image_stats.h"

namespace zyl::matchlib {

// Whole-image reductions, instantiated for uint8_t, int8_t, uint16_t and
// int16_t; sums are exact (64-bit) and an empty image or null pixels give 0.
// The variance is stored in 32 bits, unsigned for unsigned pixels.
template <class P>
using VarianceOf = std::conditional_t<std::is_signed_v<P>, std::int32_t, std::uint32_t>;

// Mean of the pixels, truncated toward zero.
template <class P>
int image_mean(const P* pixels, int height, int width);
// (Q - S*(S/n))/n over the pixel sum S and square sum Q: the subtracted term
// uses the truncated mean.
template <class P>
VarianceOf<P> image_variance(const P* pixels, int height, int width);
// Smallest and largest pixel into min_out and max_out (either may be null);
// an empty image gives the type's maximum and minimum.
template <class P>
int image_minmax(const P* pixels, int height, int width, P* min_out, P* max_out);

// Bodies of exported functions, called directly inside the library.
int profile_dominant_period(const uint8_t* profile, int kmin, int kmax, int n);

}  // namespace zyl::matchlib
