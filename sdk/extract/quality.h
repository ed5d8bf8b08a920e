// The functions of quality that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/image_quality.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

int32_t ZylImgQsize(const uint8_t* pixels, int32_t width, int32_t height);
int32_t ZylEx_GetQuality(int32_t width, int32_t height, const uint8_t* pixels);
int32_t DevAlgImgQualitynew164(int32_t width, int32_t height, const uint8_t* pixels, uint8_t* percent,
                               int32_t* mean_variance, int32_t values[4]);
int32_t otsu(const uint8_t* pixels, int32_t stride, int32_t height, int32_t x0, int32_t y0, int32_t width,
             int32_t region_height);
int32_t myThreshold(uint8_t* pixels, int32_t threshold, int32_t width, int32_t height);

}  // namespace zyl::extract
