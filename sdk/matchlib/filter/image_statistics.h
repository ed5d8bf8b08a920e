// The functions of image statistics that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int image_quality(GrayImage* image);
int image_foreground_percent(GrayImage* image);
int image_block_contrast(GrayImage* image, int* out_first, int* out_second);
int image_compare_pixels(const GrayImage* a, const GrayImage* b, int threshold, int filter,
                         int* out_percent);
int sensor_size_class(int height, int width, int resolution_y, int resolution_x);

}  // namespace zyl::matchlib
