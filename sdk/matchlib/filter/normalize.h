// The functions of normalize that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_normalize.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int imgproc_normalize_global_masked(const uint8_t* pixels, int height, int width,
                                    const uint8_t* block_mask, int block, int block_rows,
                                    int block_columns, int target_mean, int target_deviation,
                                    uint8_t* out);
int imgproc_normalize_local(const uint8_t* pixels, int height, int width, const uint8_t* mask,
                            int radius, int target_mean, int target_deviation, uint8_t* out);
int imgproc_normalize_local_ring(const uint8_t* pixels, int height, int width, int radius,
                                 int target_mean, int target_deviation, uint8_t* out);
int imgproc_normalize_blocks_apply(const uint8_t* pixels, int width, const uint8_t* block_mask,
                                   int block, int block_rows, int block_columns, int target_mean,
                                   int target_deviation, const uint8_t* local_mean,
                                   const uint16_t* block_variance, uint8_t* out);
int imgproc_normalize_adaptive8(const uint8_t* pixels, int height, int width, int target_mean,
                                int low_deviation, int high_deviation, uint8_t* out);

}  // namespace zyl::matchlib
