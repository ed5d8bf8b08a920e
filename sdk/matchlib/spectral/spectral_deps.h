// Routines of the image primitives that the spectral filters build on. They
// are declared weak so the spectral code links before the primitives land;
// a caller that finds one missing answers ML_OUT_OF_LIMITS ("a required
// routine missing") instead of calling through a null pointer.
#pragma once

#include <cstdint>

#include "zylscan/zyl_export.h"

extern "C" {
__attribute__((weak)) int img_copy_centered_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                               uint32_t out_height, uint32_t out_width,
                                               uint8_t* dst);
__attribute__((weak)) int img_copy_centered_u16(const uint16_t* src, uint32_t height,
                                                uint32_t width, uint32_t out_height,
                                                uint32_t out_width, uint16_t* dst);
__attribute__((weak)) int img_pad_extend_u8(const uint8_t* src, uint32_t height, uint32_t width,
                                            uint32_t out_height, uint32_t out_width,
                                            int32_t row_offset, int32_t column_offset,
                                            uint8_t* frame);
__attribute__((weak)) int img_pad_extend_u16(const uint16_t* src, uint32_t height, uint32_t width,
                                             uint32_t out_height, uint32_t out_width,
                                             int32_t row_offset, int32_t column_offset,
                                             uint16_t* frame);
}
