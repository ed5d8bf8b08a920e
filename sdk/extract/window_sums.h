// Running-sum machinery of the extractor's window filters.
//
// A window of radius r is the (2r + 1) x (2r + 1) square around a pixel,
// clipped to the image. WindowSums keeps one running sum per column and
// channel over the rows of the current window (the entering row is added,
// the leaving one subtracted) and slides a horizontal window over those
// column sums, so every output row costs the same whatever the radius.
//
// Filters that write their result over their input read the input through
// a RowRing: each row is copied into the ring before the output row that
// overwrites it is written, so every window sees only values from before
// the call.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "zylscan/feature_record.h"

namespace zyl::extract {

// The radius actually swept: a negative radius means the pixel alone, and a
// window wider than the image covers the same pixels as one just as wide.
inline int effective_radius(int radius, int width, int height) {
  return std::clamp(radius, 0, std::max(width, height));
}

// Rows of an image read directly (the image is not overwritten meanwhile).
class DirectRows {
 public:
  explicit DirectRows(ByteImage image) : image_(image) {}
  const std::uint8_t* operator[](int y) { return image_[y]; }

 private:
  ByteImage image_;
};

// Copies of the most recent `capacity` rows of an image, loaded on demand
// in increasing row order. A row is loaded together with every row above it
// that is not loaded yet; a filter calls load_through(y) before it writes
// output row y, so it always finds its input rows unchanged here.
class RowRing {
 public:
  RowRing(ByteImage image, int width, int height, int capacity)
      : image_(image),
        width_(width),
        capacity_(std::clamp(capacity, 1, std::max(height, 1))),
        buffer_(static_cast<std::size_t>(capacity_) * static_cast<std::size_t>(std::max(width, 0))) {}

  const std::uint8_t* operator[](int y) {
    load_through(y);
    return slot(y);
  }

  // A filter calls this before it writes output row y, so that row y is
  // copied even when no window has read it yet.
  void load_through(int y) {
    while (loaded_ < y) {
      ++loaded_;
      std::copy_n(image_[loaded_], width_, slot(loaded_));
    }
  }

 private:
  std::uint8_t* slot(int y) {
    return buffer_.data() + static_cast<std::size_t>(y % capacity_) * static_cast<std::size_t>(width_);
  }

  ByteImage image_;
  int width_;
  int capacity_;
  int loaded_ = -1;
  std::vector<std::uint8_t> buffer_;
};

// Ring capacity for a filter of radius r that also reads `halo` rows beyond
// the window on either side (1 for 3 x 3 differences).
inline int ring_rows(int radius, int halo, int height) {
  return std::min(2 * radius + 2 + 2 * halo, height);
}

// Window sums of K per-pixel channels. Call advance() once per output row,
// rows 0, 1, ... in order; `fill(y, out)` must write the channel values of
// image row y into out[k][0..width). Sums is wide enough for every window of
// the image (callers choose std::int64_t when a pixel value times the pixel
// count could pass 32 bits).
template <typename Sum, int K>
class WindowSums {
 public:
  WindowSums(int width, int height, int radius)
      : width_(width),
        height_(height),
        radius_(effective_radius(radius, width, height)),
        values_(static_cast<std::size_t>(K) * static_cast<std::size_t>(width)),
        columns_(static_cast<std::size_t>(K) * static_cast<std::size_t>(width)),
        sums_(static_cast<std::size_t>(K) * static_cast<std::size_t>(width)) {}

  template <typename Fill>
  void advance(Fill&& fill) {
    ++y_;
    if (y_ == 0) {
      for (int yy = 0; yy <= std::min(radius_, height_ - 1); ++yy) add_row(yy, 1, fill);
    } else {
      if (y_ - radius_ - 1 >= 0) add_row(y_ - radius_ - 1, -1, fill);
      if (y_ + radius_ < height_) add_row(y_ + radius_, 1, fill);
    }
    slide_rows();
  }

  int y() const { return y_; }
  const Sum* sums(int k) const { return sums_.data() + static_cast<std::size_t>(k) * width_; }
  // Rows and columns of the clipped window of the current row / of column x.
  int row_count() const { return std::min(height_ - 1, y_ + radius_) - std::max(0, y_ - radius_) + 1; }
  int column_count(int x) const { return std::min(width_ - 1, x + radius_) - std::max(0, x - radius_) + 1; }
  int pixel_count(int x) const { return row_count() * column_count(x); }

 private:
  template <typename Fill>
  void add_row(int yy, int sign, Fill& fill) {
    std::array<Sum*, K> out;
    for (int k = 0; k < K; ++k) out[k] = values_.data() + static_cast<std::size_t>(k) * width_;
    fill(yy, out);
    for (int k = 0; k < K; ++k) {
      Sum* col = columns_.data() + static_cast<std::size_t>(k) * width_;
      const Sum* v = out[k];
      if (sign > 0)
        for (int x = 0; x < width_; ++x) col[x] += v[x];
      else
        for (int x = 0; x < width_; ++x) col[x] -= v[x];
    }
  }

  void slide_rows() {
    const int first = std::min(radius_, width_ - 1);
    for (int k = 0; k < K; ++k) {
      const Sum* col = columns_.data() + static_cast<std::size_t>(k) * width_;
      Sum* out = sums_.data() + static_cast<std::size_t>(k) * width_;
      Sum s = 0;
      for (int x = 0; x <= first; ++x) s += col[x];
      out[0] = s;
      for (int x = 1; x < width_; ++x) {
        if (x + radius_ < width_) s += col[x + radius_];
        if (x - radius_ - 1 >= 0) s -= col[x - radius_ - 1];
        out[x] = s;
      }
    }
  }

  int width_;
  int height_;
  int radius_;
  int y_ = -1;
  std::vector<Sum> values_;
  std::vector<Sum> columns_;
  std::vector<Sum> sums_;
};

// Running means of the bytes of an image over windows of one radius, row
// after row.
template <typename Rows>
class MeanWindow {
 public:
  MeanWindow(Rows& rows, int width, int height, int radius) : rows_(rows), width_(width), sums_(width, height, radius) {}

  void advance() {
    sums_.advance([this](int y, const std::array<std::int64_t*, 1>& out) {
      const std::uint8_t* row = rows_[y];
      std::copy_n(row, width_, out[0]);
    });
  }
  int mean(int x) const { return static_cast<int>(sums_.sums(0)[x] / sums_.pixel_count(x)); }

 private:
  Rows& rows_;
  int width_;
  WindowSums<std::int64_t, 1> sums_;
};

// True when the arguments describe an image the filters can walk.
inline bool valid_image(int width, int height, ByteImage image) {
  return image != nullptr && width > 0 && height > 0;
}

}  // namespace zyl::extract
