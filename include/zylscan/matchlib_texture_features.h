/* Matcher library texture features: the 190-value input vector of the
 * learned quality model, measured on an 8-bit grey image together with
 * the ridge map made from a copy of it (codes 0 outside, 1 foreground,
 * 3 ridge skeleton, 5 valley skeleton). The vector is stored in templates,
 * so its order and scaling are part of the stored format:
 *   0-35    rotation-invariant local binary patterns, radius 1
 *   36-71   the same at radius 2
 *   72-141  rotation-invariant local phase codes of 5 x 5 windows
 *   142-155 ridge profile: sample and difference sums, five wavelet detail
 *           levels (sum of details, sum of detail differences), the final
 *           approximation (sum, sum of differences), each divided by a
 *           sample count (see texture_features.cpp)
 *   156-165 ridge bright-spot variance histogram, per mille of spots
 *   166-174 ridge bright-spot spacing histogram, per mille of spots
 *   175     ridge bright spots per 40000 ridge samples
 *   176-189 valley profile, as 142-155
 * Histograms hold about 131072*c/N, saturating at 65535. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum {
  TEXTURE_FEATURE_COUNT = 190,
  TEXTURE_RIDGE_PROFILE = 142,
  TEXTURE_VALLEY_PROFILE = 176,
  WAVELET_LEVELS = 5,
  WAVELET_TAPS = 16
};

/* Profile statistics of one trace kind: sums[k] accumulates slot B + k,
 * counts[0] the samples and counts[i] the outputs of cascade level i. */
typedef struct TraceProfile {
  int64_t sums[14];
  int64_t counts[7];
  int32_t previous_sample;
  int32_t ring[WAVELET_LEVELS + 1][WAVELET_TAPS]; /* newest at head */
  uint8_t head[WAVELET_LEVELS + 1];
  uint8_t toggle[WAVELET_LEVELS];
  int32_t previous_detail[WAVELET_LEVELS];
  int32_t previous_approximation;
} TraceProfile;

/* Clears the output and fills all 190 values; consumes the ridge map's
 * skeleton bits. Allocates nothing. */
ZYL_API void texture_features_compute(const uint8_t* pixels, uint8_t* ridge_map, int height,
                                      int width, int32_t* out);
/* 36 rotation classes of the 8-neighbour binary pattern at radius 1 or 2
 * over the map's foreground. */
ZYL_API void lbp_histogram(int32_t* out, const uint8_t* pixels, const uint8_t* ridge_map,
                           int radius, int height, int width);
/* 70 rotation classes of the 5 x 5 local phase code. */
ZYL_API void phase_code_histogram(const uint8_t* pixels, const uint8_t* ridge_map, int height,
                                  int width, int32_t* out);
/* Slots 142-175 (ridges) and 176-189 (valleys) of the 190-value vector. */
ZYL_API void ridge_trace_features(const uint8_t* pixels, uint8_t* ridge_map, int height,
                                  int width, int32_t* vector);
ZYL_API void valley_trace_features(const uint8_t* pixels, uint8_t* ridge_map, int height,
                                   int width, int32_t* vector);
/* One tracing step over the pixels carrying the mask bit: from direction
 * (0, 0) the first marked 8-neighbour; moving with a column step the three
 * pixels of the next column; otherwise the three of the next row. 1 when
 * it moved (row, column and direction updated), 0 when the trace ends.
 * Positions outside the height x width map are never read. */
ZYL_API int trace_follow(const uint8_t* map, int height, int width, uint8_t mask, int* row,
                         int* column, int* row_step, int* column_step);
/* Adds one sample to the five-level wavelet cascade of the profile. */
ZYL_API void wavelet_cascade_push(TraceProfile* profile, int32_t sample);
/* The histogram scaling of the 36 binary-pattern classes of a folded
 * 256-bin histogram of `count` pixels. */
ZYL_API void lbp_normalize36(const int32_t* histogram, int32_t count, int32_t* out);

ZYL_EXTERN_C_END
