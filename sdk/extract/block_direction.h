// The functions of block direction that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/direction_image.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void ComputeBlockDirImage(int32_t width, int32_t height, ByteImage image, int32_t block_columns, int32_t block_rows,
                          ByteImage directions, ByteImage noise, int32_t contrast);
void CleanupBlockDirImage(int32_t block_columns, int32_t block_rows, ByteImage directions, ByteImage noise,
                          int32_t limit);

}  // namespace zyl::extract
