// Internal helpers shared by the operations that derive images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "matchlib/image/grey_image.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mask.h"

namespace zyl::matchlib {

// Bodies of exported functions, called directly inside the library.
MaskPlane* mask_resize(const MaskPlane* plane, int height, int width);
MaskPlane* mask_window(const MaskPlane* plane, int height, int width, int row_offset,
                       int column_offset);
MaskPlane* mask_extend(const MaskPlane* plane, int height, int width);
GrayImage* image_resize(const GrayImage* image, int height, int width);
GrayImage* image_resize_with_resolution(const GrayImage* image, int height, int width,
                                        int resolution_y, int resolution_x);
GrayImage* image_resample_to_resolution(const GrayImage* image, int resolution_y, int resolution_x);
GrayImage* image_window(GrayImage* image, int height, int width, int row_offset, int column_offset);
GrayImage* image_crop_centred_out(GrayImage* image, int height, int width, int* out_row_offset,
                                  int* out_column_offset);
GrayImage* image_crop_centred(GrayImage* image, int height, int width);
GrayImage* image_crop_on_foreground(GrayImage* image, int height, int width, int threshold,
                                    int* out_row_offset, int* out_column_offset);
GrayImage* image_framed(GrayImage* image);
int image_source_height(const GrayImage* image);
int image_source_width(const GrayImage* image);
int image_offset_y(const GrayImage* image);
int image_offset_x(const GrayImage* image);

// A header copy of `src` (image_copy_header) resized to height x width
// with an own pixel buffer of that size (uninitialised); null on failure.
GrayImage* derive_with_pixels(const GrayImage* src, int height, int width);

// A new own image of the size, resolutions and impression type of `src`
// holding a copy of `pixels` (image_create_general, own copy).
GrayImage* create_like(const GrayImage* src, const std::uint8_t* pixels);

}  // namespace zyl::matchlib
