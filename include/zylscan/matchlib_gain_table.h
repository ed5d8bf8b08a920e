/* Matcher library radial band-pass gain tables for frequency-domain
 * filters. GainTable64: 64 rows x 33 columns of bytes laid out like the
 * half spectrum of a 64 x 64 tile (row r is vertical frequency r for r <=
 * 32 and r - 64 above, column c horizontal frequency c), 255 passing a
 * coefficient and 0 removing it. GainTable256F: 256 rows x 129 floats laid
 * out the same way for a 256 x 256 frame, 1.0 passing. Frequencies are
 * given in 1/256 cycle per millimetre: low cut b (the S edge's centre, or
 * with c = 0 the Gaussian high-pass's deviation), low-edge half-width c,
 * high cut d (none when d <= 0) and high-edge half-width e; the resolution
 * r in dots per inch. */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

enum { GAIN_TABLE64_ROWS = 64, GAIN_TABLE64_COLUMNS = 33, GAIN_TABLE256F_ROWS = 256,
       GAIN_TABLE256F_COLUMNS = 129 };

/* New tables that the caller frees with free(); null when memory runs out
 * or the resolution is not positive. */
ZYL_API uint8_t* fftfilt_gain_table_u8(int resolution, int b, int c, int d, int e);
ZYL_API float* fftfilt_gain_table_float(int resolution, int b, int c, int d, int e);

/* The ready table whose nominal resolution (250, 339, 374, 397, 508, 547,
 * 594, 667, 1000 dpi, tested in this order) lies within 16 dpi of the
 * resolution; null when none does. Read-only, never freed. */
ZYL_API const uint8_t* fftfilt_gain_table_ready_u8(int resolution);

ZYL_EXTERN_C_END
