// The functions of thinning that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include <cstdint>

#include "zylscan/extract_thinning.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void SkeletonizeImage(std::int32_t width, std::int32_t height, ByteImage image, std::int32_t passes);
std::int32_t GetTransitionCount(ByteImage image, std::int32_t y, std::int32_t x);
std::int32_t PixelOnLine(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, ByteImage image);

// Ridge bits of an image row, 64 pixels to a word: bit i of word k is set
// when pixel 64 k + i is ridge (0). Bits beyond the width are clear.
using RidgeWord = std::uint64_t;
void pack_ridge_row(const std::uint8_t* pixels, int width, RidgeWord* out);
// The same without vector instructions (pack_ridge_row's fallback).
void pack_ridge_row_plain(const std::uint8_t* pixels, int width, RidgeWord* out);

}  // namespace zyl::extract
