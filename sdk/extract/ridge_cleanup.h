// The functions of ridge cleanup that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/extract_ridges.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::extract {

std::int32_t ComputeEndDirection(std::int32_t width, std::int32_t height, ByteImage skeleton, std::int32_t y,
                                 std::int32_t x);
std::int32_t ComputeBranchDirection(std::int32_t width, std::int32_t height, ByteImage skeleton, std::int32_t y,
                                    std::int32_t x);
void Line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, ByteImage skeleton);
void EliminateLines(std::int32_t width, std::int32_t height, ByteImage skeleton, ByteImage D);
std::int32_t NodeType(const NodeRecord* node);
void EliminateEye(std::int32_t width, std::int32_t height, ByteImage skeleton, std::int32_t x, std::int32_t y);
void EliminateEyes(std::int32_t width, std::int32_t height, ByteImage skeleton, ByteImage D);

}  // namespace zyl::extract
