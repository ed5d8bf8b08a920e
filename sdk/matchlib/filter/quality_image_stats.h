// The functions of quality image stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_quality_stats.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int imgstat_block_contrast(const uint8_t* pixels, int height, int width, int resolution,
                           uint8_t* contrast, uint8_t* mean_range, uint8_t* mean_spread,
                           uint8_t* ratio_map, uint8_t* range_map, uint8_t* spread_map);
int imgstat_bright_percent(const uint8_t* pixels, int height, int width, const uint8_t* mask,
                           uint8_t* percent);
int imgstat_bright_percent_blocks(const uint8_t* pixels, int height, int width, int block_rows,
                                  int block_columns, int block, const uint8_t* block_mask,
                                  uint8_t* percent);
int imgstat_laplacian_spread(const uint8_t* pixels, int height, int width, uint8_t* spread);
int imgstat_block_range_mean(const uint8_t* pixels, int height, int width, uint8_t* range);
int imgstat_has_ridges_scaled(const uint8_t* pixels, int height, int width, int scale, int* flag);
int imgstat_has_ridges(const uint8_t* pixels, int height, int width, int* flag);
int imgproc_normalize_preview(const uint8_t* pixels, int height, int width, int out_height,
                              int out_width, uint8_t* out);

}  // namespace zyl::matchlib
