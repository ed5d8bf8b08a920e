// A small binary image for skeleton tests: drawn from text rows ('#' ridge,
// anything else background) or with straight strokes, compared as text.
#pragma once

#include <string>
#include <vector>

#include "extract/byte_image.h"
#include "zylscan/extract_ridges.h"

namespace zyl::test {

class Canvas {
 public:
  Canvas(int width, int height) : image_(width, height) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) image_[y][x] = 255;
  }
  explicit Canvas(const std::vector<std::string>& rows)
      : Canvas(static_cast<int>(rows.front().size()), static_cast<int>(rows.size())) {
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x)
        if (rows[y][x] == '#') image_[y][x] = 0;
  }

  // A one-pixel ridge through the given corner points, drawn with Line.
  Canvas& stroke(std::initializer_list<std::pair<int, int>> points) {
    const std::pair<int, int>* prev = nullptr;
    for (const auto& p : points) {
      if (prev) Line(prev->first, prev->second, p.first, p.second, image_.get());
      image_[p.second][p.first] = 0;
      prev = &p;
    }
    return *this;
  }

  ByteImage get() const { return image_.get(); }
  int width() const { return image_.width(); }
  int height() const { return image_.height(); }
  bool ridge(int x, int y) const { return image_[y][x] == 0; }
  std::uint8_t* operator[](int y) const { return image_[y]; }

  std::vector<std::string> text() const {
    std::vector<std::string> rows;
    for (int y = 0; y < height(); ++y) {
      std::string row;
      for (int x = 0; x < width(); ++x) row += image_[y][x] == 0 ? '#' : '.';
      rows.push_back(row);
    }
    return rows;
  }
  int ridge_count() const {
    int n = 0;
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x) n += ridge(x, y);
    return n;
  }

 private:
  zyl::extract::OwnedByteImage image_;
};

// A direction image with every pixel good (bit 7 clear).
inline zyl::extract::OwnedByteImage GoodDirections(int width, int height) {
  return zyl::extract::OwnedByteImage(width, height);
}

}  // namespace zyl::test
