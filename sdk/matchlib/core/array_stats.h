// The functions of array stats that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_array.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int array_sum_i32(const int32_t* a, int n);
int array_mean_i32(const int32_t* a, int n);
int array_mean_u8(const uint8_t* a, int n);
int array_max_u8(const uint8_t* a, int n);
int array_argmax_i32(const int32_t* a, int n);
int array_nearest_index_i32(int value, const int32_t* centres, int n);
int array_variance_i32(const int32_t* a, int n);
int array_variance_u8(const uint8_t* a, int n);
int array_kurtosis_u8(const uint8_t* a, int n);
int array_skewness_u8(const uint8_t* a, int n);
int array_circular_mean_u8(const uint8_t* in, int n, int r, uint8_t* out);
int array_circular_detrend_u8(const uint8_t* in, int n, int r, uint8_t* out);
void array_sort_i32(int32_t* a, int n);
int otsu_threshold_u8(const uint8_t* a, int n);

}  // namespace zyl::matchlib
