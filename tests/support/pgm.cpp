#include "support/pgm.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace zyl::test {

namespace {
// Skips white space and '#' comments between header fields.
void skip_space(std::istream& in) {
  for (;;) {
    int c = in.peek();
    if (c == '#') {
      std::string line;
      std::getline(in, line);
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      in.get();
    } else {
      return;
    }
  }
}
}  // namespace

GreyImage read_pgm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::string magic;
  in >> magic;
  if (magic != "P5") throw std::runtime_error("not a binary PGM: " + path);
  int w = 0, h = 0, maxval = 0;
  skip_space(in);
  in >> w;
  skip_space(in);
  in >> h;
  skip_space(in);
  in >> maxval;
  in.get();
  if (!in || w <= 0 || h <= 0 || maxval != 255) throw std::runtime_error("bad PGM header: " + path);
  GreyImage img;
  img.width = w;
  img.height = h;
  img.pixels.resize(static_cast<size_t>(w) * h);
  in.read(reinterpret_cast<char*>(img.pixels.data()), static_cast<std::streamsize>(img.pixels.size()));
  if (!in) throw std::runtime_error("short PGM: " + path);
  return img;
}

void write_pgm(const std::string& path, const GreyImage& image) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << image.width << " " << image.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(image.pixels.data()), static_cast<std::streamsize>(image.pixels.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string test_data(const std::string& name) {
  const char* dir = std::getenv("ZYL_TEST_DATA_DIR");
  return std::string(dir ? dir : ZYL_TEST_DATA_DIR) + "/" + name;
}

GreyImage centre_crop(const GreyImage& in, int n) {
  if (n <= 0 || n > in.width || n > in.height) return in;
  GreyImage out;
  out.width = out.height = n;
  out.pixels.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
  const int x0 = (in.width - n) / 2, y0 = (in.height - n) / 2;
  for (int y = 0; y < n; ++y)
    std::copy_n(&in.pixels[static_cast<std::size_t>(y + y0) * static_cast<std::size_t>(in.width) +
                           static_cast<std::size_t>(x0)],
                n, &out.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(n)]);
  return out;
}

}  // namespace zyl::test
