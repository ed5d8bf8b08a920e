// The functions of binarisation that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_filters.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void BinarizeImage(int32_t width, int32_t height, ByteImage image, int32_t r);
void BinarizeImageTwo(int32_t width, int32_t height, ByteImage grey, ByteImage out, int32_t r1, int32_t r2);
void BinarizeImageA(int32_t width, int32_t height, ByteImage grey, ByteImage density, int32_t high, int32_t low,
                    int32_t r_small, int32_t r_middle, int32_t r_large);
int32_t BSmoothImage(int32_t width, int32_t height, ByteImage image);

// BinarizeImageTwo(grey, out, r_small, r_large) and the first half of
// BinarizeImageA(grey, ..., r_small, r_middle, r_large) in one pass: grey
// then holds, per pixel, which window means it was at or above (the choice
// bits). BinarizeImageByChoices(choices, density, high, low) finishes the
// adaptive binarisation; together they give BinarizeImageA's image.
void BinarizeImageTwoWithChoices(int32_t width, int32_t height, ByteImage grey, ByteImage out, int32_t r_small,
                                 int32_t r_middle, int32_t r_large);
void BinarizeImageByChoices(int32_t width, int32_t height, ByteImage choices, ByteImage density, int32_t high,
                            int32_t low);

}  // namespace zyl::extract
