// Byte rows derived from an image row by row (a deviation, a mark), made on
// demand in increasing row order and kept for the most recent rows, so that
// a window of byte sums can take them as it takes the rows of an image.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zyl::extract {

// make(y, out) writes the `width` bytes of row y into out. rows[y] makes
// every row up to y that is not made yet; the `capacity` most recent rows
// stay readable (ring_rows(radius, 0, height) for advance_bytes).
template <typename Make>
class DerivedRows {
 public:
  DerivedRows(int width, int height, int capacity, Make make)
      : width_(std::max(width, 0)),
        capacity_(std::clamp(capacity, 1, std::max(height, 1))),
        // Left uninitialised: every row is made before it is read.
        buffer_(new std::uint8_t[static_cast<std::size_t>(capacity_) * static_cast<std::size_t>(width_)]),
        make_(make) {}

  const std::uint8_t* operator[](int y) {
    while (made_ < y) {
      ++made_;
      make_(made_, slot(made_));
    }
    return slot(y);
  }

 private:
  std::uint8_t* slot(int y) {
    return buffer_.get() + static_cast<std::size_t>(y % capacity_) * static_cast<std::size_t>(width_);
  }

  int width_;
  int capacity_;
  int made_ = -1;
  std::unique_ptr<std::uint8_t[]> buffer_;
  Make make_;
};

}  // namespace zyl::extract
