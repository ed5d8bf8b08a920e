// Internal helpers shared by the operations that derive images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "matchlib/image/grey_image.h"

namespace zyl::matchlib {

// A header copy of `src` (image_copy_header) resized to height x width
// with an own pixel buffer of that size (uninitialised); null on failure.
GrayImage* derive_with_pixels(const GrayImage* src, int height, int width);

// A new own image of the size, resolutions and impression type of `src`
// holding a copy of `pixels` (image_create_general, own copy).
GrayImage* create_like(const GrayImage* src, const std::uint8_t* pixels);

}  // namespace zyl::matchlib
