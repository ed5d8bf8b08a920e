// The functions of pixel direction that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/direction_image.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void ComputeDirImageSimple(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r, int32_t contrast);
void CDI_Dir(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r, int32_t, int32_t squares);
void CDI_Noise(int32_t width, int32_t height, ByteImage W, int32_t r, int32_t contrast, int32_t);
void ComputeDirImage(int32_t width, int32_t height, ByteImage W, ByteImage D, int32_t r_dir, int32_t r_noise,
                     int32_t contrast, int32_t squares);

}  // namespace zyl::extract
