/* Matcher library spectrum utilities: magnitude bytes of a half spectrum,
 * windowed and centred spectra of one image tile (16, 32 and 64 points),
 * magnitude and phase of a centred spectrum, byte windows (255 about 1),
 * and a tile callback that keeps only the dominant ring and direction.
 *
 * A centred spectrum of side N is (N + 1) x (N + 1) int32 values: row i
 * holds vertical frequency i - N/2, column j horizontal frequency j - N/2. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* N x N magnitude bytes of a half spectrum, frequency 0 at (N/2, N/2). */
ZYL_API void spectrum_to_bytes(uint8_t* out, const int32_t* re, const int32_t* im, int n);

/* Window type 0 flat (128), 1 triangular, 2 Gaussian (any other: flat).
 * The tile's top-left corner may lie outside the image. 0, 2 or 9. */
ZYL_API int spectrum_tile16(const uint8_t* image, int height, int width, int top, int left,
                            int window_type, int32_t* out_re, int32_t* out_im);
ZYL_API int spectrum_tile32(const uint8_t* image, int height, int width, int top, int left,
                            int window_type, int32_t* out_re, int32_t* out_im);
ZYL_API int spectrum_tile64(const uint8_t* image, int height, int width, int top, int left,
                            int window_type, int32_t* out_re, int32_t* out_im);

ZYL_API void spectrum_magnitude(const int32_t* re, const int32_t* im, int n, uint32_t* out);
ZYL_API void spectrum_phase(const int32_t* re, const int32_t* im, int n, uint8_t* out);

ZYL_API void window_taper(uint8_t* out, int length, int a);
ZYL_API void window_gauss(uint8_t* out, int length, int a);

/* Tile callback for 32 x 32 tiles (1 for any other side). */
ZYL_API int fftfilt_keep_dominant_cb(int32_t* re, int32_t* im, int n, void* work,
                                     int work_size, void* user);

ZYL_EXTERN_C_END
