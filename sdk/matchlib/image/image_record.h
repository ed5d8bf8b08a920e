// Internal face of the stored image record: bounded readers of the record
// and of its source-window part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "matchlib/core/ref.h"
#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
uint32_t image_write(uint8_t* out, const GrayImage* image);
uint32_t image_read_bounded(const uint8_t* in, uint32_t available, GrayImage** out);

// Reads one image record from the front of `in`. Answers the bytes
// consumed: 2 for a record of no image; 0 with `out` empty for a version of
// 2 or more, a record that does not fit in `in`, a mask plane of another
// size than the image, or a memory failure.
std::size_t read_image(std::span<const std::uint8_t> in, Ref<GrayImage>& out);

}  // namespace zyl::matchlib
