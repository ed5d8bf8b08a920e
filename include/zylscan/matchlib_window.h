/* Matcher library window operations on raw pixel buffers (height rows of
 * width pixels, row after row): window copies and crops, pastes into a
 * filled frame, border extensions into a larger frame, and the fitting of
 * an image to multiples of a block size. Results are matcher library
 * status codes (0 success, 1 size outside the allowed range, 2 bad
 * argument, 9 out of memory). */
#pragma once

#include <stdint.h>

#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

/* Copies the overlap of src with the window of window_height x
 * window_width at (row_offset, column_offset) in source coordinates into
 * dst (window-sized); dst pixels outside the overlap are not touched. */
ZYL_API int img_copy_window_u8(const uint8_t* src, uint32_t height, uint32_t width,
                               uint32_t window_height, uint32_t window_width, int32_t row_offset,
                               int32_t column_offset, uint8_t* dst);
ZYL_API int img_copy_window_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                uint32_t window_height, uint32_t window_width,
                                int32_t row_offset, int32_t column_offset, uint16_t* dst);

/* The window copy at offsets ((height - out_height) / 2, (width - out_width) / 2). */
ZYL_API int img_copy_centered_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                 uint32_t out_height, uint32_t out_width, uint8_t* dst);
ZYL_API int img_copy_centered_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                  uint32_t out_height, uint32_t out_width, uint16_t* dst);

/* Crops centred to the largest multiples of the block into a new buffer
 * that the caller frees; 2 when the smaller side is below one block. */
ZYL_API int img_crop_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width,
                                       uint32_t block, uint8_t** out, uint32_t* out_height,
                                       uint32_t* out_width, int32_t* row_offset,
                                       int32_t* column_offset);

/* Fills the frame with the fill byte and copies src in at (row, column);
 * 2 when the source does not fit there. */
ZYL_API int img_paste_fill(const uint8_t* src, uint32_t height, uint32_t width, uint8_t* frame,
                           uint32_t frame_height, uint32_t frame_width, int32_t row,
                           int32_t column, uint8_t fill);

/* Pixels that rounding both sides (plus 8 / divisor) down to the block adds
 * beyond height x width; 0 when it adds none, the block is 0 or the divisor 0. */
ZYL_API uint32_t img_block_padding_excess(uint32_t height, uint32_t width, uint32_t block,
                                          uint32_t divisor);

/* Box of the content inside bright (mean above 211) margin rows and
 * columns, widened by 16 each side. */
ZYL_API int img_find_white_margins_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t* out_height, uint32_t* out_width, uint32_t* top,
                                      uint32_t* left);

/* Writes at new_line the smoothed copy of the n values at line (1-2-1
 * thirds inside, pair means at the ends); the strided members step by
 * stride. Positions are element indices into buffer. */
ZYL_API void line_extend_u8(uint8_t* buffer, uint32_t n, uint32_t line, uint32_t new_line);
ZYL_API void line_extend_u16(uint16_t* buffer, uint32_t n, uint32_t line, uint32_t new_line);
ZYL_API void line_extend_strided_u8(uint8_t* buffer, uint32_t n, uint32_t line, uint32_t new_line,
                                    uint32_t stride);
ZYL_API void line_extend_strided_u16(uint16_t* buffer, uint32_t n, uint32_t line,
                                     uint32_t new_line, uint32_t stride);

/* Places src in the frame (out_height x out_width) at (row_offset,
 * column_offset) and grows it ring by ring to the frame's edges; 2 when it
 * does not fit the frame there. */
ZYL_API int img_pad_extend_u8(const uint8_t* src, uint32_t height, uint32_t width,
                              uint32_t out_height, uint32_t out_width, int32_t row_offset,
                              int32_t column_offset, uint8_t* frame);
ZYL_API int img_pad_extend_u16(const uint16_t* src, uint32_t height, uint32_t width,
                               uint32_t out_height, uint32_t out_width, int32_t row_offset,
                               int32_t column_offset, uint16_t* frame);

/* Places src in the frame and fills the margin from the maxima of the
 * image's outer eight rows and columns, then smooths the margin. */
ZYL_API int img_pad_profile_u8(const uint8_t* src, uint32_t height, uint32_t width,
                               uint32_t out_height, uint32_t out_width, int32_t row_offset,
                               int32_t column_offset, uint8_t* frame);

/* Continues the image's texture into the margin of an out_height x
 * out_width output through the spectrum: a checkerboard canvas 8 pixels
 * larger each side holds the source at (row_offset + 8, column_offset + 8),
 * is filtered tile by tile keeping each tile's dominant band and
 * directions, stretched to the source's range and blended back at the
 * source's rim. 1 when the canvas would be smaller than the source or more
 * than 32 larger, 2 when the source does not fit the canvas at the offset,
 * 9 when memory runs out, or the status of the tile filter. */
ZYL_API int img_pad_spectral_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                uint32_t out_height, uint32_t out_width, int32_t row_offset,
                                int32_t column_offset, uint8_t* out);

/* Makes both sides multiples of the block: a side is cropped centred when
 * its remainder is at most a quarter block (or in mode 2), else padded
 * centred (mode 0 ring extension, mode 1 profile fill). With *out null the
 * output is allocated and handed to the caller. The offsets are where the
 * kept window starts in the source (cropping) or minus where the source
 * lies in the output (padding). 2 when the smaller side is under three
 * blocks, or a side must be padded in a mode other than 0 and 1. */
ZYL_API int img_fit_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t block, int32_t mode, uint8_t** out,
                                      uint32_t* out_height, uint32_t* out_width,
                                      int32_t* row_offset, int32_t* column_offset);

/* Pads (never crops) every side that is not a multiple of the block into a
 * new buffer stored at *out; 2 in mode 2. */
ZYL_API int img_pad_to_block_multiple(const uint8_t* src, uint32_t height, uint32_t width,
                                      uint32_t block, int32_t mode, uint8_t** out,
                                      uint32_t* out_height, uint32_t* out_width,
                                      int32_t* row_offset, int32_t* column_offset);

/* Overwrites each run of group entries with its maximum. */
ZYL_API void bytes_group_max(uint8_t* array, int32_t length, int32_t group);

ZYL_EXTERN_C_END
