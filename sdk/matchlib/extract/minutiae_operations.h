// The functions of minutiae operations that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_minutiae_ops.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

int minutiae_order_from_key(int32_t key);
int extract_fit_resolution(int target, int divisor, int ry, int rx, int height, int width,
                           int* out_ry, int* out_rx, int* out_height, int* out_width);
int minutiae_driver_grey(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                         uint16_t width, uint8_t finger_position, uint8_t impression_type,
                         const void* reserved, uint8_t min_count, uint8_t max_count,
                         uint8_t order_code, uint16_t options, uint8_t format, uint8_t** out,
                         uint32_t* out_size, RidgeTraceCallback ridge_trace,
                         RidgeTraceCallback second);
int minutiae_driver_bilevel(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                            uint16_t width, uint8_t finger_position, uint8_t impression_type,
                            const void* reserved, uint8_t min_count, uint8_t max_count,
                            uint8_t order_code, uint16_t options, uint8_t format, uint8_t** out,
                            uint32_t* out_size, RidgeTraceCallback callback, void* user);
int minutiae_driver_maps(const uint8_t* pixels, const uint8_t* mask, uint16_t height,
                         uint16_t width, uint8_t finger_position, uint8_t impression_type,
                         uint16_t options, uint8_t format, uint8_t** out, uint32_t* out_size);
void minutiae_buffer_free(uint8_t* buffer);
int extract_minutiae_grey(MatchContext* context, GrayImage* image, void* argument,
                          int32_t requested, DataBlob** out, int mode);
int extract_minutiae_grey_half(MatchContext* context, GrayImage* image, void* argument,
                               int32_t requested, DataBlob** out);
int extract_minutiae_grey_full(MatchContext* context, GrayImage* image, void* argument,
                               int32_t requested, DataBlob** out);
int extract_minutiae_grey_plain(MatchContext* context, GrayImage* image, void* argument,
                                int32_t requested, DataBlob** out);
int extract_minutiae_bilevel(MatchContext* context, GrayImage* image, void* argument,
                             int32_t requested, DataBlob** out);
int extract_block_maps(MatchContext* context, GrayImage* image, void* argument, int32_t requested,
                       DataBlob** out);

}  // namespace zyl::matchlib
