// Reading and writing 8-bit binary PGM images for tests and tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zyl::test {

struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // row after row
  std::uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Reads a P5 file with maxval 255; throws std::runtime_error on failure.
GreyImage read_pgm(const std::string& path);
void write_pgm(const std::string& path, const GreyImage& image);

// The n x n centre of an image; the image itself when n is not positive or
// larger than either side.
GreyImage centre_crop(const GreyImage& in, int n);

// Path of a file in tests/data.
std::string test_data(const std::string& name);

}  // namespace zyl::test
