/* Matcher library statistics over one-dimensional arrays of bytes or
 * 32-bit ints: sums, rounded means, extremes, moments, Otsu's threshold,
 * circular moving windows, sorting and neighbourhood counts. None allocates. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

ZYL_API int array_sum_i32(const int32_t* a, int n);
ZYL_API int array_mean_i32(const int32_t* a, int n);
ZYL_API int array_mean_u8(const uint8_t* a, int n);
ZYL_API int array_mean_u8_alt(const uint8_t* a, int n);
ZYL_API int array_mean_u8_alt2(const uint8_t* a, int n);
ZYL_API int array_max_i32(const int32_t* a, int n);
ZYL_API int array_min_i32(const int32_t* a, int n);
ZYL_API int array_max_u8(const uint8_t* a, int n);
ZYL_API int array_min_u8(const uint8_t* a, int n);
ZYL_API int array_argmax_i32(const int32_t* a, int n);
ZYL_API int array_argmin_i32(const int32_t* a, int n);
ZYL_API int array_nearest_index_i32(int value, const int32_t* centres, int n);
ZYL_API void array_nearest_histogram_i32(const int32_t* values, int n, int32_t* counters,
                                         const int32_t* centres, int k);

ZYL_API int array_variance_i32(const int32_t* a, int n);
ZYL_API int array_variance_u8(const uint8_t* a, int n);
ZYL_API int array_kurtosis_u8(const uint8_t* a, int n);
ZYL_API int array_skewness_u8(const uint8_t* a, int n);

/* Circular windows of radius r; 2 without writing when r + 1 >= n, when the
 * output is the input, or for null arrays and a negative radius; else 0. */
ZYL_API int array_circular_mean_u8(const uint8_t* in, int n, int r, uint8_t* out);
ZYL_API int array_circular_detrend_u8(const uint8_t* in, int n, int r, uint8_t* out);

ZYL_API void array_sort_i32(int32_t* a, int n);
ZYL_API int array_median_i32(int32_t* a, int n);
ZYL_API void array_reverse_records(void* records, int n, int record_size);
ZYL_API void array_equalize_u8(uint8_t* a, int n);
/* Half the number of changes of the masked bits around the eight
 * neighbours of (row, column); 0 for a pixel on the first row or on the
 * first or last column, which has no full ring. */
ZYL_API int crossing_number8(const uint8_t* plane, int row_length, int row, int column, int mask);
ZYL_API int otsu_threshold_u8(const uint8_t* a, int n);

ZYL_EXTERN_C_END
