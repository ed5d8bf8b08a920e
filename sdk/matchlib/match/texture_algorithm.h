// The functions of texture algorithm that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_texture_algorithm.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

GrayImage* texture_image_wrap(const uint8_t* pixels, int height, int width, int resolution);
int texture_gridmap_of(const DataBlob* blob, TextureGridMap* out);
void texture_gridmap_free(TextureGridMap* map);

}  // namespace zyl::matchlib
