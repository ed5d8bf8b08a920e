// The functions of segmentation that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_image_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int imgproc_segment_local_variance(const uint8_t* pixels, int height, int width, int threshold,
                                   int percent, uint8_t* out);
int filter_vote_percent_u8(const uint8_t* map, int height, int width, int radius, int percent,
                           uint8_t* out);
int hist_threshold_iterative(const uint8_t* pixels, int height, int width, int start);
int img_distance_in_mask(int height, int width, const uint8_t* mask, int rounds, uint8_t* out);
int img_is_region_border(const uint8_t* map, int height, int width, int row, int column, int flags);
void img_mark_region_border(uint8_t* map, int height, int width);

}  // namespace zyl::matchlib
