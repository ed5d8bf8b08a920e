// The packed image record (format 71) of the template part of the library,
// which is built separately: the image code refers to its reader and
// writer weakly and answers "routine missing" (18) while a build carries
// none of them.
#pragma once

#include <cstdint>

extern "C" {
__attribute__((weak)) int packed_image_write(const std::uint8_t* pixels, int height, int width,
                                             int resolution_x, int resolution_y,
                                             int impression_type, std::uint8_t** out_record,
                                             std::uint32_t* out_length);
__attribute__((weak)) int packed_image_read(const std::uint8_t* record, std::uint32_t length,
                                            const std::uint8_t** out_pixels, int* out_height,
                                            int* out_width, int* out_resolution_x,
                                            int* out_resolution_y, int* out_impression_type);
}
