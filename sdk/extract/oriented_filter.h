// The functions of oriented filter that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/oriented_filter.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

void DirectSmoothImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D);
std::int32_t DirFilterImage(std::int32_t width, std::int32_t height, ByteImage G, std::int32_t radius,
                            std::int32_t passes);
std::int32_t ComputeDirImageF(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D, ByteImage S,
                              const SingularPointList* singular_points, std::int32_t radius, std::int32_t cap,
                              std::int32_t base, std::int32_t start, std::int32_t factor);
void FilterImage(std::int32_t width, std::int32_t height, ByteImage G, ByteImage D, ByteImage S);

}  // namespace zyl::extract
