// The functions of stretch that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_stretch.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

void hist_percentile_range(const int32_t* hist, int percent, uint8_t* low, uint8_t* high);
void imgstat_percentile_range(const uint8_t* pixels, int height, int width, int percent,
                              uint8_t* low, uint8_t* high);
int imgproc_stretch_percentile(const uint8_t* pixels, int height, int width, int percent,
                               uint8_t* out);
int imgproc_stretch_percentile_below(const uint8_t* pixels, int height, int width, int percent,
                                     int cutoff, uint8_t* out);
int imgproc_stretch_percentile_masked(const uint8_t* pixels, int height, int width, int percent,
                                      const uint8_t* block_mask, int block_rows, int block_columns,
                                      int block, uint8_t* out);
int imgproc_stretch_range(const uint8_t* pixels, int height, int width, int low, int high, int fill,
                          int top, uint8_t* out);
int imgproc_equalize_recursive(const uint8_t* pixels, int height, int width, uint8_t* out);

}  // namespace zyl::matchlib
