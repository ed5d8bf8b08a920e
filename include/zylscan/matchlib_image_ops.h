/* Matcher library image operations on raw 8-bit images (height rows of
 * width bytes): guarded wrappers and selectors over the enhancement
 * kernels, the local-variance foreground segmentation and vote filters, and
 * a few small pixel and map operations. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Table form of an image operation: (context, pixels, ignored, height,
 * width, resolution, ignored, output); height, width and resolution are
 * taken as 16-bit values. */
typedef int (*ImageOperation)(MatchContext* ctx, const uint8_t* pixels, const void* unused1,
                              int height, int width, int resolution, const void* unused2,
                              uint8_t* out);

/* Checker removal, parameter-driven stripe correction, local
 * normalisation, binomial smoothing, band filter by resolution. */
ZYL_API extern const ImageOperation image_operation_table[5];

/* ---- guarded wrappers: 2 for null pixels or output, or a 16-bit height,
 * width or (where used) resolution of 0; else the kernel's status ---- */
ZYL_API int imgop_remove_checker(MatchContext* ctx, const uint8_t* pixels, const void* unused1,
                                 int height, int width, int resolution, const void* unused2,
                                 uint8_t* out);
ZYL_API int imgop_destripe_by_params(MatchContext* ctx, const uint8_t* pixels,
                                     const void* unused1, int height, int width, int resolution,
                                     const void* unused2, uint8_t* out);
ZYL_API int imgop_normalize_local(MatchContext* ctx, const uint8_t* pixels, const void* unused1,
                                  int height, int width, int resolution, const void* unused2,
                                  uint8_t* out);
ZYL_API int imgop_smooth_binomial(MatchContext* ctx, const uint8_t* pixels, const void* unused1,
                                  int height, int width, int resolution, const void* unused2,
                                  uint8_t* out);
ZYL_API int imgop_band_filter(MatchContext* ctx, const uint8_t* pixels, const void* unused1,
                              int height, int width, int resolution, const void* unused2,
                              uint8_t* out);
ZYL_API int img_remove_checker_guarded(const uint8_t* pixels, int height, int width,
                                       int resolution, uint8_t* out);
ZYL_API int img_destripe_guarded(const uint8_t* pixels, int height, int width, int resolution,
                                 int mode, int strip, uint8_t* out);
ZYL_API int imgproc_normalize_local_dpi(const uint8_t* pixels, int height, int width,
                                        int resolution, uint8_t* out);
ZYL_API int img_smooth_binomial_guarded(const uint8_t* pixels, int height, int width,
                                        int resolution, uint8_t* out);
ZYL_API int img_band_filter_guarded(const uint8_t* pixels, int height, int width,
                                    int resolution, uint8_t* out);

/* ---- further guarded routines ---- */
/* 2 unless 0 < to < from and height, width and out are given. */
ZYL_API int img_scaled_pixel_count(int height, int width, int from_resolution,
                                   int to_resolution, uint32_t* out_count);
/* Resizes into output (capacity bytes) at the lower resolution: 2 unless
 * every argument is given, to < from and the output holds the result. */
ZYL_API int img_downscale_into(const uint8_t* pixels, int from_resolution, int height, int width,
                               uint8_t* output, int to_resolution, int* out_height,
                               int* out_width, uint32_t output_capacity);
ZYL_API int img_quality_guarded(const uint8_t* pixels, int height, int width,
                                uint8_t* out_quality, uint32_t* out_foreground,
                                uint8_t* out_bright);
ZYL_API int img_block_contrast_guarded(const uint8_t* pixels, int height, int width,
                                       int resolution, uint8_t* out);

/* ---- selectors: 1 for another type code, else the chosen kernel's
 * status ---- */
ZYL_API int imgproc_normalize_by_type(const uint8_t* pixels, int height, int width,
                                      int resolution, int type, uint8_t* out);
ZYL_API int imgproc_destripe_by_type(const uint8_t* pixels, int height, int width, int type,
                                     int strip, uint8_t* out);
ZYL_API int img_smooth_by_type(const uint8_t* pixels, int height, int width, int resolution,
                               int type, int strength, uint8_t* out);
ZYL_API int img_sharpen_by_type(const uint8_t* pixels, int height, int width, int resolution,
                                int type, int amount, uint8_t* out);
ZYL_API int img_band_filter(const uint8_t* pixels, int height, int width, int resolution,
                            uint8_t* out);

/* ---- segmentation and maps (0, 2 for bad arguments, 9 when memory runs
 * out) ---- */
/* 255 where more than `percent` % of the clipped 17 x 17 window has a
 * local variance (9 x 9) of at least the threshold, else 0. */
ZYL_API int imgproc_segment_local_variance(const uint8_t* pixels, int height, int width,
                                           int threshold, int percent, uint8_t* out);
/* 255 where count x 100 > percent x clipped window area over the non-zero
 * map cells of the (2r+1)^2 window, else 0; may work in place. */
ZYL_API int filter_vote_percent_u8(const uint8_t* map, int height, int width, int radius,
                                   int percent, uint8_t* out);
ZYL_API int img_binarize_u16_vote(const uint16_t* values, int height, int width, int radius,
                                  int threshold, int percent, uint8_t* out);
ZYL_API int hist_threshold_iterative(const uint8_t* pixels, int height, int width, int start);
ZYL_API int img_distance_in_mask(int height, int width, const uint8_t* mask, int rounds,
                                 uint8_t* out);
ZYL_API int img_smooth_foreground(const uint8_t* pixels, int height, int width, uint8_t* out);
ZYL_API void img_clear_outside_rect(uint8_t* map, int height, int width, int first_row,
                                    int last_row, int first_column, int last_column);
/* Flag 2: a non-zero cell on the edge or next to a zero 4-neighbour; flag
 * 4: a zero cell next to a non-zero 4-neighbour; else 0. */
ZYL_API int img_is_region_border(const uint8_t* map, int height, int width, int row,
                                 int column, int flags);
ZYL_API void img_mark_region_border(uint8_t* map, int height, int width);
/* The largest disc, centred on a grid of step 2 within the search radius of
 * the given centre (0: the image centre), whose rings (radius step 2 from
 * the minimum) change their texture no more than their running mean plus
 * the threshold; with a map, 1 strictly inside the disc and 0 elsewhere.
 * 0, or 2 for bad arguments. */
ZYL_API int img_fit_disc(const uint8_t* pixels, int height, int width, int min_radius,
                         int max_radius, int centre_column, int centre_row, int search_radius,
                         int threshold, uint8_t* out_map, int* out_column, int* out_row,
                         int* out_radius);

/* ---- small pixel operations (out may be the source) ---- */
ZYL_API void img_transpose_square(const uint8_t* pixels, int n, uint8_t* out);
ZYL_API void img_mirror_rows(const uint8_t* pixels, int height, int width, uint8_t* out);
ZYL_API void img_reverse_rows(const uint8_t* pixels, int height, int width, uint8_t* out);
ZYL_API void img_gain_saturate(const uint8_t* pixels, int height, int width, int factor,
                               uint8_t* out);
ZYL_API void img_divide(const uint8_t* pixels, int height, int width, int divisor,
                        uint8_t* out);

ZYL_EXTERN_C_END
