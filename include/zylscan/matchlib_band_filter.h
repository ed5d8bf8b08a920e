/* Matcher library table-driven frequency-domain filters and the band-pass
 * preprocessing stage. The 8-bit filters run the tiled driver over 64 x 64
 * tiles (margin 32, padding 4) with a gain table of 64 x 33 bytes; the
 * 16-bit ones run the 256 x 256 float frame with a float table. Source and
 * destination may be the same buffer. Results: 0, 1 when no gain table can
 * be built (or a 16-bit image above 256 x 256), else the driver's status
 * (2 bad argument, 9 out of memory, a callback's non-zero status). */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_context.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* The ready table within 16 dpi of the resolution, else one built with the
 * fallback settings (201, 0, 1280, 512); the inverted form always builds
 * that table and complements it. */
ZYL_API int fftfilt_band_by_resolution_u8(const uint8_t* src, int height, int width,
                                          int resolution, uint8_t* dst);
ZYL_API int fftfilt_band_default_inverted_u8(const uint8_t* src, int height, int width,
                                             int resolution, uint8_t* dst);

/* A table built from (resolution, b, c, d, e); a non-zero zero_frequency
 * lets the zero frequency pass (after the complement in the inverted
 * forms, so those remove the band and keep the mean). */
ZYL_API int fftfilt_radial_u8(const uint8_t* src, int height, int width, int resolution, int b,
                              int c, int d, int e, int zero_frequency, uint8_t* dst);
ZYL_API int fftfilt_radial_inverted_u8(const uint8_t* src, int height, int width, int resolution,
                                       int b, int c, int d, int e, int zero_frequency,
                                       uint8_t* dst);
ZYL_API int fftfilt_radial_u16(const uint16_t* src, int height, int width, int resolution, int b,
                               int c, int d, int e, int zero_frequency, uint16_t* dst);
ZYL_API int fftfilt_radial_inverted_u16(const uint16_t* src, int height, int width,
                                        int resolution, int b, int c, int d, int e,
                                        int zero_frequency, uint16_t* dst);

/* Percentages of the dominant-direction filter: the inner and outer radii
 * cut these shares of the radial energy, and the passing run of direction
 * sectors holds more than the kept share of the directional energy. */
typedef struct DominantDirectionParams {
  int inner_percent;
  int outer_percent;
  int kept_percent;
} DominantDirectionParams;

/* Tile callback (user: DominantDirectionParams) that keeps the ring and the
 * run of directions holding a tile's dominant energy. */
ZYL_API int fftfilt_dominant_direction_cb(int32_t* re, int32_t* im, int n, void* work,
                                          int work_size, void* user);
ZYL_API int fftfilt_dominant_direction_u8(const uint8_t* src, int height, int width,
                                          int unused, const DominantDirectionParams* params,
                                          uint8_t* dst);

/* Callbacks that do nothing and answer 1, and their entries, which so end
 * with status 1 at the first tile. */
ZYL_API int fftfilt_unset_cb_a(int32_t* re, int32_t* im, int n, void* work, int work_size,
                               void* user);
ZYL_API int fftfilt_unset_cb_b(int32_t* re, int32_t* im, int n, void* work, int work_size,
                               void* user);
ZYL_API int fftfilt_run_unset_a_u8(const uint8_t* src, int height, int width, int unused,
                                   int value, uint8_t* dst);
ZYL_API int fftfilt_run_unset_b_u8(const uint8_t* src, int height, int width, int unused,
                                   int value, uint8_t* dst);

/* Prepares a raw sensor image in one call: row and column offsets removed,
 * contrast stretched, single-column outliers pulled back, band-pass
 * filtered with the context's settings, stretched again; the foreground
 * map (255 foreground, 0 background) is a new height x width buffer the
 * caller frees, null on any failure. Height, width and resolution count
 * as 16-bit values; out must not overlap src. */
ZYL_API int imgproc_preprocess_bandpass(const MatchContext* ctx, const uint8_t* src,
                                        uint32_t src_size, int height, int width, int resolution,
                                        int reserved, uint8_t* out, uint8_t** foreground);

ZYL_EXTERN_C_END
