/* Matcher library operations on 0/1 byte images (one byte per pixel) and
 * their bit-packed forms: frames, the joint smoothing of a complementary
 * pair, closing, and packing. Packed form A (frames and the binarisers'
 * planes): bit p of a row is bit p % 8 of byte p / 8. Packed form B (pack
 * and unpack): pixel x is bit 7 - x % 8 of byte x / 8. Rows of packed
 * images are (row width + 7) / 8 bytes. Results: 0, 2 bad argument, 9 out
 * of memory. (Isolated-pixel removal, majority, erosion, dilation and
 * opening are declared in zylscan/matchlib_filter_kernels.h.) */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Sets to 1 the first top and last bottom rows and, on the rows between,
 * the first left and last right pixels; a frame wider than the image
 * covers all of it. */
ZYL_API int bilevel_set_border(uint8_t* image, int height, int width, int left, int right,
                               int top, int bottom);

/* The same frame in bits of a form-A image of rows row_bits wide, and in
 * addition every padding bit past row_bits in each row's last byte. */
ZYL_API int bilevel_bits_set_border(uint8_t* packed, int rows, int row_bits, int left,
                                    int right, int top, int bottom);

/* Forward then backward sweep over the inner pixels whose quality byte
 * exceeds 15: a pixel of the first image that differs from 3 or 4 of its
 * edge neighbours is flipped in both images. */
ZYL_API int bilevel_smooth_pair(uint8_t* first, uint8_t* second, const uint8_t* quality,
                                int height, int width);

/* 3x3 dilation into the destination, then erosion in place. */
ZYL_API int bilevel_close3x3(const uint8_t* src, int height, int width, uint8_t* dst);

/* Packs a 0/1 image into form B (padding bits 0) and back. */
ZYL_API int bilevel_pack_bits(const uint8_t* image, int height, int width, uint8_t* packed);
ZYL_API int bilevel_unpack_bits(const uint8_t* packed, int height, int width, uint8_t* image);

ZYL_EXTERN_C_END
